# The macOS bundle's files besides its binary: Info.plist, PkgInfo and the resource file holding
# the PiPL. The Apple branch of ombrel_add_effect_module copies them into the bundle it builds;
# elsewhere ombrel_add_mac_bundle_tree lays the bundle out without a binary, so every build
# checks what it can of it.
#
# Bundle layout: <name>.plugin/Contents/{Info.plist, PkgInfo, MacOS/<name>,
# Resources/<name>.rsrc}. The host opens the resource file named after the bundle's executable.

set(OMBREL_BUNDLE_PACKAGE_TYPE "eFKT") # an effect
set(OMBREL_BUNDLE_SIGNATURE "FXTC")
set(OMBREL_BUNDLE_ID_PREFIX "org.ombrel")

# The architectures the PiPL names an entry point for ("mi64" and "ma64", OmbrelPiPL.h): the
# bundle's binary may hold slices for these and no others, since the host refuses a slice whose
# architecture the PiPL does not name.
set(OMBREL_BUNDLE_ARCHITECTURES x86_64 arm64)

# Stops the configure step unless every architecture of `archs` is one the PiPL names.
function(ombrel_check_bundle_architectures name archs)
  if(NOT archs)
    message(FATAL_ERROR "${name}.plugin: CMAKE_OSX_ARCHITECTURES is empty; give "
      "'${OMBREL_BUNDLE_ARCHITECTURES}' or one of them")
  endif()
  foreach(arch IN LISTS archs)
    if(NOT arch IN_LIST OMBREL_BUNDLE_ARCHITECTURES)
      message(FATAL_ERROR "${name}.plugin: CMAKE_OSX_ARCHITECTURES has '${arch}', which its PiPL "
        "names no entry point for (it names '${OMBREL_BUNDLE_ARCHITECTURES}'; the list is "
        "'${archs}')")
    endif()
  endforeach()
endfunction()

# Writes <name>'s Info.plist and PkgInfo into <dir> at configure time and sets, in the caller's
# scope, <name>_BUNDLE_INFO_PLIST and <name>_BUNDLE_PKGINFO to their paths.
function(ombrel_configure_bundle_files name dir)
  set(OMBREL_BUNDLE_EXECUTABLE "${name}")
  set(OMBREL_BUNDLE_NAME "${name}")
  set(OMBREL_BUNDLE_IDENTIFIER "${OMBREL_BUNDLE_ID_PREFIX}.${name}")
  set(OMBREL_BUNDLE_VERSION "${PROJECT_VERSION}")
  set(OMBREL_BUNDLE_MINIMUM_MACOS "${CMAKE_OSX_DEPLOYMENT_TARGET}")
  configure_file("${PROJECT_SOURCE_DIR}/Mac/Info.plist.in" "${dir}/Info.plist" @ONLY)
  # Exactly eight bytes, no line end.
  file(CONFIGURE OUTPUT "${dir}/PkgInfo"
    CONTENT "${OMBREL_BUNDLE_PACKAGE_TYPE}${OMBREL_BUNDLE_SIGNATURE}")
  set(${name}_BUNDLE_INFO_PLIST "${dir}/Info.plist" PARENT_SCOPE)
  set(${name}_BUNDLE_PKGINFO "${dir}/PkgInfo" PARENT_SCOPE)
endfunction()

# ombrel-write-rsrc: the build-time program that writes the resource file from OmbrelPiPL.h. It
# runs on the build machine, so it is not made when cross-compiling.
function(ombrel_add_resource_writer)
  if(TARGET ombrel-write-rsrc)
    return()
  endif()
  add_executable(ombrel-write-rsrc
    "${PROJECT_SOURCE_DIR}/Mac/WriteResourceFile.cpp"
    "${PROJECT_SOURCE_DIR}/Mac/ResourceFileWriter.cpp")
  target_include_directories(ombrel-write-rsrc PRIVATE "${PROJECT_SOURCE_DIR}")
  target_compile_features(ombrel-write-rsrc PRIVATE cxx_std_17)
  # The bundle's version strings come from the project version; the PiPL's must agree.
  target_compile_definitions(ombrel-write-rsrc PRIVATE
    OMBREL_PROJECT_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
    OMBREL_PROJECT_VERSION_MINOR=${PROJECT_VERSION_MINOR}
    OMBREL_PROJECT_VERSION_PATCH=${PROJECT_VERSION_PATCH})
  set_target_properties(ombrel-write-rsrc PROPERTIES CXX_EXTENSIONS OFF)
  if(APPLE)
    # Built for the machine it runs on, not for the bundle's architecture.
    set_target_properties(ombrel-write-rsrc PROPERTIES OSX_ARCHITECTURES "${CMAKE_HOST_SYSTEM_PROCESSOR}")
  endif()
  ombrel_target_warnings(ombrel-write-rsrc)
endfunction()

# Adds a build rule writing <name>'s resource file to <path>.
function(ombrel_add_resource_file path)
  ombrel_add_resource_writer()
  get_filename_component(dir "${path}" DIRECTORY)
  add_custom_command(OUTPUT "${path}"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${dir}"
    COMMAND ombrel-write-rsrc "${path}"
    DEPENDS ombrel-write-rsrc
    COMMENT "Writing the PiPL resource file ${path}"
    VERBATIM)
endfunction()

# Lays out <dir>/<name>.plugin without its binary, as part of the default build (target
# <name>_mac_bundle).
function(ombrel_add_mac_bundle_tree name dir)
  set(staging "${CMAKE_CURRENT_BINARY_DIR}/${name}-mac")
  ombrel_configure_bundle_files(${name} "${staging}")
  set(contents "${dir}/${name}.plugin/Contents")
  set(rsrc "${contents}/Resources/${name}.rsrc")
  ombrel_add_resource_file("${rsrc}")
  add_custom_command(OUTPUT "${contents}/Info.plist" "${contents}/PkgInfo"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${contents}/MacOS"
    COMMAND "${CMAKE_COMMAND}" -E copy_if_different
      "${${name}_BUNDLE_INFO_PLIST}" "${${name}_BUNDLE_PKGINFO}" "${contents}"
    DEPENDS "${${name}_BUNDLE_INFO_PLIST}" "${${name}_BUNDLE_PKGINFO}"
    COMMENT "Laying out ${name}.plugin without its binary"
    VERBATIM)
  add_custom_target(${name}_mac_bundle ALL
    DEPENDS "${contents}/Info.plist" "${contents}/PkgInfo" "${rsrc}")
endfunction()
