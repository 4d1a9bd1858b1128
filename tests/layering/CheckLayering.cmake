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

file(GLOB_RECURSE sources RELATIVE "${ROOT}"
  "${ROOT}/*.h" "${ROOT}/*.cpp" "${ROOT}/*.c")
list(FILTER sources EXCLUDE REGEX "^(build[^/]*|tests|bench|fuzz|out)/")

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
