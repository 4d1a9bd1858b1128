# Cross build for 64-bit Windows with mingw-w64 (Debian: g++-mingw-w64-x86-64-posix), tests run
# under wine:
#
#   cmake --preset win && cmake --build --preset win && ctest --preset win
#
# The posix thread model (the "-posix" compilers): the simulated host and the tools use
# std::thread and std::jthread, which GCC's win32 thread model lacks.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(OMBREL_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${OMBREL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OMBREL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${OMBREL_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${OMBREL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program and module carries the compiler's runtime (libstdc++, libgcc, winpthreads)
# inside it, so each runs with Windows' own DLLs only: nothing to copy beside it, nothing to
# put on wine's path.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# Programs built here run under wine; Win/OmbrelWindows.cmake gives them a prefix of the build's
# own.
find_program(OMBREL_WINE NAMES wine)
if(OMBREL_WINE AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${OMBREL_WINE}")
endif()
