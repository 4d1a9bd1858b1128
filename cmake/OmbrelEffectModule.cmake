# ombrel_add_effect_module(<name> OBJECTS <object libraries...> PIPL_SOURCE <file>)
#
# Makes the loadable effect module the host opens: a MODULE library without the "lib" prefix,
# hidden visibility, and EntryPointFunc as its only exported symbol. PIPL_SOURCE is the unit that
# places the PiPL bytes where the platform's host looks for them.
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
    if(MINGW)
      target_link_options(${name} PRIVATE -static-libgcc -static-libstdc++ -static)
    endif()
  elseif(APPLE)
    set(exports "${CMAKE_CURRENT_BINARY_DIR}/${name}.exports")
    file(WRITE "${exports}" "_EntryPointFunc\n")
    target_link_options(${name} PRIVATE "LINKER:-exported_symbols_list,${exports}")
  else()
    set(map "${PROJECT_SOURCE_DIR}/cmake/OmbrelEffectModule.map")
    set_target_properties(${name} PROPERTIES SUFFIX ".so" LINK_DEPENDS "${map}")
    target_link_options(${name} PRIVATE "LINKER:--version-script=${map}" "LINKER:--no-undefined")
  endif()
endfunction()
