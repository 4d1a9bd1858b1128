# The conversion filter's vector kernels: one unit per instruction set, each with its own flags
# (never -mfma, never -march=native). On x86-64 the path is chosen at run time from CPUID; on
# AArch64 the NEON unit needs no flag and no check. With OMBREL_SIMD off, or on another processor,
# no kernel is built and every path is the scalar one; OMBREL_SIMD_OFF tells the sources,
# ombrel-render's --info included, so.
#
# A universal macOS build compiles every unit for each architecture: each unit keeps only the
# code of its own (the sources test the compiler's target) and the x86 flags go to the x86_64
# compilations alone (-Xarch_x86_64).
string(TOLOWER "${CMAKE_SYSTEM_PROCESSOR}" _ombrel_cpu)
set(_x86 OFF)
set(_neon OFF)
set(_xarch "")
if(APPLE AND CMAKE_OSX_ARCHITECTURES)
  if("x86_64" IN_LIST CMAKE_OSX_ARCHITECTURES)
    set(_x86 ON)
  endif()
  if("arm64" IN_LIST CMAKE_OSX_ARCHITECTURES)
    set(_neon ON)
  endif()
  if(_x86 AND _neon)
    set(_xarch "-Xarch_x86_64")
  endif()
elseif(_ombrel_cpu MATCHES "^(x86_64|amd64|x64)$")
  set(_x86 ON)
elseif(_ombrel_cpu MATCHES "^(aarch64|arm64)$")
  set(_neon ON)
endif()

set(_kernels "${CMAKE_CURRENT_SOURCE_DIR}/Ombrel/Filter/Kernels")
if(OMBREL_SIMD AND _neon)
  list(APPEND OMBREL_PLUGIN_SOURCES "${_kernels}/KernelsNeon.cpp")
endif()
if(OMBREL_SIMD AND _x86)
  list(APPEND OMBREL_PLUGIN_SOURCES
    "${_kernels}/KernelsSse2.cpp" "${_kernels}/KernelsSse41.cpp" "${_kernels}/KernelsAvx2.cpp"
    "${_kernels}/KernelsAvx512.cpp")
  if(MSVC)
    # SSE2 is the x64 baseline and SSE4.1 intrinsics need no flag.
    set_source_files_properties("${_kernels}/KernelsAvx2.cpp" PROPERTIES COMPILE_OPTIONS "/arch:AVX2")
    set_source_files_properties("${_kernels}/KernelsAvx512.cpp" PROPERTIES COMPILE_OPTIONS "/arch:AVX512")
  else()
    set(_sse2 -msse2)
    set(_sse41 -msse4.1)
    set(_avx2 -mavx2)
    set(_avx512 -mavx2 -mavx512f -mavx512bw -mavx512dq -mavx512vl)
    if(MINGW)
      # GCC does not align the Windows stack to 32 or 64 bytes for spilled AVX registers; let the
      # assembler make those moves unaligned.
      list(APPEND _avx2 -Wa,-muse-unaligned-vector-move)
      list(APPEND _avx512 -Wa,-muse-unaligned-vector-move)
    endif()
    if(_xarch)
      # SHELL: keeps the repeated -Xarch_x86_64 from being merged away.
      foreach(_unit sse2 sse41 avx2 avx512)
        list(TRANSFORM _${_unit} PREPEND "SHELL:${_xarch} ")
      endforeach()
    endif()
    set_source_files_properties("${_kernels}/KernelsSse2.cpp" PROPERTIES COMPILE_OPTIONS "${_sse2}")
    set_source_files_properties("${_kernels}/KernelsSse41.cpp" PROPERTIES COMPILE_OPTIONS "${_sse41}")
    set_source_files_properties("${_kernels}/KernelsAvx2.cpp" PROPERTIES COMPILE_OPTIONS "${_avx2}")
    set_source_files_properties("${_kernels}/KernelsAvx512.cpp" PROPERTIES COMPILE_OPTIONS "${_avx512}")
  endif()
endif()
if(NOT OMBREL_SIMD OR NOT (_x86 OR _neon))
  add_compile_definitions(OMBREL_SIMD_OFF=1)
endif()
