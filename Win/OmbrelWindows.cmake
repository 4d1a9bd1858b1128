# What only the Windows build needs: the PiPL resource of effect modules, and, when cross
# compiling, running this build's programs under wine in a prefix of the build's own.

# Set before any target is made: each target takes its emulator when it is created.
if(CMAKE_CROSSCOMPILING AND OMBREL_WINE AND CMAKE_CROSSCOMPILING_EMULATOR STREQUAL OMBREL_WINE)
  set(OMBREL_WINE_PREFIX "${CMAKE_BINARY_DIR}/wine-prefix" CACHE PATH
    "The wine prefix in which this build's programs and tests run")
  configure_file("${CMAKE_CURRENT_LIST_DIR}/wine-run.in" "${CMAKE_BINARY_DIR}/wine-run" @ONLY
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
      WORLD_EXECUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_BINARY_DIR}/wine-run")
endif()
if(CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  message(FATAL_ERROR "The Windows build runs a program of its own while building (the PiPL "
    "resource writer): install wine, or name a runner in CMAKE_CROSSCOMPILING_EMULATOR.")
endif()

# ombrel_add_pipl_resource(<module target> WRITER <executable target> [ARGS <arguments...>])
#
# Runs WRITER at build time (through the cross-compiling emulator, if any) to write the
# module's PiPL resource script, and compiles that script into the module. WRITER is called with
# ARGS and then the script's file name, in the current binary folder (see
# Win/PiPLResourceWriter.h).
function(ombrel_add_pipl_resource target)
  cmake_parse_arguments(ARG "" "WRITER" "ARGS" ${ARGN})
  if(NOT ARG_WRITER)
    message(FATAL_ERROR "ombrel_add_pipl_resource(${target}): WRITER is required")
  endif()
  set(script "${target}.pipl.rc")
  add_custom_command(
    OUTPUT "${CMAKE_CURRENT_BINARY_DIR}/${script}"
    COMMAND ${ARG_WRITER} ${ARG_ARGS} "${script}"
    WORKING_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}"
    DEPENDS ${ARG_WRITER}
    COMMENT "Writing the PiPL resource script of ${target}"
    VERBATIM)
  target_sources(${target} PRIVATE "${CMAKE_CURRENT_BINARY_DIR}/${script}")
endfunction()

# The effect's PiPL resource writer, built for the target and run on the build machine.
add_executable(ombrel-pipl-resource "${CMAKE_CURRENT_LIST_DIR}/PiPLResourceWriter.cpp")
target_include_directories(ombrel-pipl-resource PRIVATE "${PROJECT_SOURCE_DIR}")
target_compile_features(ombrel-pipl-resource PRIVATE cxx_std_17)
set_target_properties(ombrel-pipl-resource PROPERTIES CXX_EXTENSIONS OFF)
ombrel_target_warnings(ombrel-pipl-resource)
