# Compiler settings shared by every target.
#
# Colour arithmetic must be bit-exact single precision, one rounding per operation: no fused
# multiply-add (GCC contracts a*b+c into FMA whenever FMA is enabled, whatever the -std) and no
# fast-math. This applies to every translation unit, the tests' own reference arithmetic too.
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  add_compile_options(-ffp-contract=off -fno-fast-math)
elseif(MSVC)
  add_compile_options(/fp:precise)
endif()

# A sanitizer report must fail the test that made it: address and undefined-behaviour checks
# stop the process at the first report instead of printing it and carrying on.
if(OMBREL_SANITIZE)
  add_compile_options(-fsanitize=${OMBREL_SANITIZE} -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=${OMBREL_SANITIZE})
  if(OMBREL_SANITIZE MATCHES "address|undefined")
    add_compile_options(-fno-sanitize-recover=all)
    add_link_options(-fno-sanitize-recover=all)
  endif()
endif()

# ombrel_target_warnings(<target> [STRICT])
#   STRICT adds implicit narrowing conversions (sign conversions too under clang), shadowed
#   names and float-to-double promotions: the effect's own code is held to it, so every such
#   conversion there is written out.
function(ombrel_target_warnings target)
  cmake_parse_arguments(ARG "STRICT" "" "" ${ARGN})
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
    if(ARG_STRICT)
      target_compile_options(${target} PRIVATE -Wconversion -Wshadow -Wdouble-promotion)
    endif()
    if(OMBREL_WERROR)
      target_compile_options(${target} PRIVATE -Werror)
    endif()
  elseif(MSVC)
    target_compile_options(${target} PRIVATE /W4)
    if(OMBREL_WERROR)
      target_compile_options(${target} PRIVATE /WX)
    endif()
  endif()
endfunction()
