# Cross build for 64-bit ARM Linux (Debian: g++-aarch64-linux-gnu), programs and tests run under
# qemu's user-mode emulation (Debian: qemu-user):
#
#   cmake --preset arm64 && cmake --build --preset arm64 && ctest --preset arm64
#
# It proves the NEON kernels and the aarch64 build of the same sources; emulated timings say
# nothing about an ARM processor's speed.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(OMBREL_ARM64_TRIPLE aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${OMBREL_ARM64_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${OMBREL_ARM64_TRIPLE}-g++)

set(OMBREL_ARM64_SYSROOT /usr/${OMBREL_ARM64_TRIPLE})
set(CMAKE_FIND_ROOT_PATH ${OMBREL_ARM64_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# qemu finds the target's loader and libraries (libstdc++ included) under -L.
find_program(OMBREL_QEMU_AARCH64 NAMES qemu-aarch64 qemu-aarch64-static)
if(OMBREL_QEMU_AARCH64 AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${OMBREL_QEMU_AARCH64};-L;${OMBREL_ARM64_SYSROOT}")
endif()
