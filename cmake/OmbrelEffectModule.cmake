# ombrel_add_effect_module(<name> OBJECTS <object libraries...> PIPL_SOURCE <file>)
#
# Makes the loadable effect module the host opens: a MODULE library without the "lib" prefix,
# hidden visibility, and EntryPointFunc as its only exported symbol. PIPL_SOURCE is the unit that
# places the PiPL bytes in an ELF module; a Windows module gets them as its "PIPL" resource,
# written at build time by ombrel-pipl-resource (Win/OmbrelWindows.cmake).
#
# On macOS the module is the bundle <name>.plugin, its PiPL in Resources/<name>.rsrc
# (OmbrelMacBundle.cmake). It is built for CMAKE_OSX_ARCHITECTURES, which CMakeLists.txt sets to
# x86_64 and arm64 for every target (the module links the same objects as the tests).
include(OmbrelMacBundle)

function(ombrel_add_effect_module name)
  cmake_parse_arguments(ARG "" "PIPL_SOURCE" "OBJECTS" ${ARGN})
  set(objects)
  foreach(lib IN LISTS ARG_OBJECTS)
    list(APPEND objects $<TARGET_OBJECTS:${lib}>)
  endforeach()

  add_library(${name} MODULE ${objects} ${ARG_PIPL_SOURCE})
  target_include_directories(${name} PRIVATE "${PROJECT_SOURCE_DIR}")
  target_compile_features(${name} PRIVATE cxx_std_17)
  set_target_properties(${name} PROPERTIES
    PREFIX ""
    CXX_EXTENSIONS OFF
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    LIBRARY_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}"
    RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}")
  ombrel_target_warnings(${name} STRICT)

  if(WIN32)
    # The host loads an .aex; carry the C++ runtime inside it so it needs no compiler DLLs.
    set_target_properties(${name} PROPERTIES SUFFIX ".aex")
    ombrel_add_pipl_resource(${name} WRITER ombrel-pipl-resource)
    if(MINGW)
      target_link_options(${name} PRIVATE -static-libgcc -static-libstdc++ -static)
      # Release modules ship without the static runtime's debug sections (about 500 KB of the
      # module's 740 KB); exports and resources are untouched.
      target_link_options(${name} PRIVATE $<$<CONFIG:Release,MinSizeRel>:-s>)
    endif()
  elseif(APPLE)
    ombrel_check_bundle_architectures(${name} "${CMAKE_OSX_ARCHITECTURES}")
    ombrel_configure_bundle_files(${name} "${CMAKE_CURRENT_BINARY_DIR}/${name}-mac")
    set(rsrc "${CMAKE_CURRENT_BINARY_DIR}/${name}-mac/${name}.rsrc")
    ombrel_add_resource_file("${rsrc}")
    add_custom_target(${name}_rsrc DEPENDS "${rsrc}")
    add_dependencies(${name} ${name}_rsrc)
    set_target_properties(${name} PROPERTIES
      BUNDLE TRUE
      BUNDLE_EXTENSION plugin
      MACOSX_BUNDLE_INFO_PLIST "${${name}_BUNDLE_INFO_PLIST}")
    set(exports "${CMAKE_CURRENT_BINARY_DIR}/${name}.exports")
    file(WRITE "${exports}" "_EntryPointFunc\n")
    target_link_options(${name} PRIVATE "LINKER:-exported_symbols_list,${exports}")
    set(contents "$<TARGET_BUNDLE_CONTENT_DIR:${name}>")
    add_custom_command(TARGET ${name} POST_BUILD
      COMMAND "${CMAKE_COMMAND}" -E copy_if_different "${${name}_BUNDLE_PKGINFO}" "${contents}/PkgInfo"
      COMMAND "${CMAKE_COMMAND}" -E make_directory "${contents}/Resources"
      COMMAND "${CMAKE_COMMAND}" -E copy_if_different "${rsrc}" "${contents}/Resources/${name}.rsrc"
      VERBATIM)
  else()
    set(map "${PROJECT_SOURCE_DIR}/cmake/OmbrelEffectModule.map")
    set_target_properties(${name} PROPERTIES SUFFIX ".so" LINK_DEPENDS "${map}")
    target_link_options(${name} PRIVATE "LINKER:--version-script=${map}")
    # Clang links the sanitizer runtimes into executables only: a sanitized module leaves their
    # symbols to the program that loads it.
    if(NOT (OMBREL_SANITIZE AND CMAKE_CXX_COMPILER_ID MATCHES "Clang"))
      target_link_options(${name} PRIVATE "LINKER:--no-undefined")
    endif()
  endif()
endfunction()
