# Checks the include rules that keep the layers apart (docs/ARCHITECTURE.md):
#   cmake -DROOT=<source dir> -P CheckLayering.cmake
# Fails with one line per include a unit may not make. A quoted include without a folder is
# the unit's own folder and always allowed; system and library headers in angle brackets are
# allowed except OpenImageIO, which only the tool's image I/O unit may see.

# Rules, most specific first: a file pattern, then the comma-separated folders (or files) its
# quoted includes may name. The tool sees one header of the effect's: the dependency-free rule
# that picks the conversion kernels, so that --info can say which path the module runs.
set(rules
  "^Ombrel/(OmbrelGeneral|OmbrelColorsys)\\."  "HostInterface/,Ombrel/OmbrelGeneral.h,Ombrel/OmbrelColorsys.h"
  "^Util/"                                     "HostInterface/,Util/"
  "^Ombrel/"                                   "HostInterface/,Util/,Ombrel/"
  "^Ombrel[A-Za-z]*\\.(h|cpp)$"                "HostInterface/,Util/,Ombrel/,OmbrelPiPL.h,OmbrelPlugin.h"
  "^(Win|Mac)/"                                "HostInterface/,OmbrelPiPL.h,Host/,Win/,Mac/"
  "^Host/"                                     "HostInterface/,Host/"
  "^Tools/"                                    "HostInterface/,Host/,Tools/,Ombrel/Filter/Kernels/KernelPath.h"
  "^HostInterface/"                            "HostInterface/"
)
set(oiio_allowed "Tools/ombrel-render/ImageFiles.cpp")

# Symbolic links are not followed (a wine prefix in build-win links to the whole file system),
# and build folders are not walked at all.
cmake_policy(SET CMP0009 NEW)
file(GLOB top RELATIVE "${ROOT}" "${ROOT}/*")
list(FILTER top EXCLUDE REGEX "^(build[^/]*|tests|bench|fuzz|out|\\..*)$")
set(sources "")
foreach(entry IN LISTS top)
  if(IS_DIRECTORY "${ROOT}/${entry}")
    file(GLOB_RECURSE found RELATIVE "${ROOT}"
      "${ROOT}/${entry}/*.h" "${ROOT}/${entry}/*.cpp" "${ROOT}/${entry}/*.c")
  else()
    set(found "")
    if(entry MATCHES "\\.(h|cpp|c)$")
      set(found "${entry}")
    endif()
  endif()
  list(APPEND sources ${found})
endforeach()

set(faults "")
set(checked 0)
foreach(src IN LISTS sources)
  set(allowed "")
  set(matched FALSE)
  list(LENGTH rules n)
  math(EXPR last "${n} - 1")
  foreach(i RANGE 0 ${last} 2)
    math(EXPR j "${i} + 1")
    list(GET rules ${i} pattern)
    if(src MATCHES "${pattern}")
      list(GET rules ${j} allowed)
      set(matched TRUE)
      break()
    endif()
  endforeach()
  if(NOT matched)
    continue()
  endif()
  math(EXPR checked "${checked} + 1")
  string(REPLACE "," "|" allowed_re "${allowed}")
  string(REPLACE "." "\\." allowed_re "${allowed_re}")
  file(STRINGS "${ROOT}/${src}" lines REGEX "^[ \t]*#[ \t]*include")
  foreach(line IN LISTS lines)
    if(line MATCHES "include[ \t]*\"([^\"]+)\"")
      set(inc "${CMAKE_MATCH_1}")
      if(inc MATCHES "/" AND NOT inc MATCHES "^(${allowed_re})")
        string(APPEND faults "${src}: may not include \"${inc}\"\n")
      endif()
    elseif(line MATCHES "include[ \t]*<(OpenImageIO/[^>]+)>")
      if(NOT src STREQUAL oiio_allowed)
        string(APPEND faults "${src}: only ${oiio_allowed} may include <${CMAKE_MATCH_1}>\n")
      endif()
    endif()
  endforeach()
endforeach()

if(checked LESS 20)
  message(FATAL_ERROR "layering: only ${checked} sources found under ${ROOT}")
endif()
if(faults)
  message(FATAL_ERROR "layering rules broken:\n${faults}")
endif()
message(STATUS "layering: ${checked} sources keep their include rules")
