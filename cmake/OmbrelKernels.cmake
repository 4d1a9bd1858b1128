# The conversion filter's vector kernels: one unit per instruction set, each with its own flags
# (never -mfma, never -march=native); the path is chosen at run time from CPUID. With OMBREL_SIMD
# off, or on a processor other than x86-64, no kernel is built and every path is the scalar one;
# OMBREL_SIMD_OFF tells the sources, ombrel-render's --info included, so.
string(TOLOWER "${CMAKE_SYSTEM_PROCESSOR}" _ombrel_cpu)
if(OMBREL_SIMD AND _ombrel_cpu MATCHES "^(x86_64|amd64|x64)$")
  set(_kernels "${CMAKE_CURRENT_SOURCE_DIR}/Ombrel/Filter/Kernels")
  list(APPEND OMBREL_PLUGIN_SOURCES
    "${_kernels}/KernelsSse2.cpp" "${_kernels}/KernelsSse41.cpp" "${_kernels}/KernelsAvx2.cpp"
    "${_kernels}/KernelsAvx512.cpp")
  if(MSVC)
    # SSE2 is the x64 baseline and SSE4.1 intrinsics need no flag.
    set_source_files_properties("${_kernels}/KernelsAvx2.cpp" PROPERTIES COMPILE_OPTIONS "/arch:AVX2")
    set_source_files_properties("${_kernels}/KernelsAvx512.cpp" PROPERTIES COMPILE_OPTIONS "/arch:AVX512")
  else()
    set_source_files_properties("${_kernels}/KernelsSse2.cpp" PROPERTIES COMPILE_OPTIONS "-msse2")
    set_source_files_properties("${_kernels}/KernelsSse41.cpp" PROPERTIES COMPILE_OPTIONS "-msse4.1")
    set(_avx2 -mavx2)
    set(_avx512 -mavx2 -mavx512f -mavx512bw -mavx512dq -mavx512vl)
    if(MINGW)
      # GCC does not align the Windows stack to 32 or 64 bytes for spilled AVX registers; let the
      # assembler make those moves unaligned.
      list(APPEND _avx2 -Wa,-muse-unaligned-vector-move)
      list(APPEND _avx512 -Wa,-muse-unaligned-vector-move)
    endif()
    set_source_files_properties("${_kernels}/KernelsAvx2.cpp" PROPERTIES COMPILE_OPTIONS "${_avx2}")
    set_source_files_properties("${_kernels}/KernelsAvx512.cpp" PROPERTIES COMPILE_OPTIONS "${_avx512}")
  endif()
else()
  add_compile_definitions(OMBREL_SIMD_OFF=1)
endif()
