# cmake -DROOT=<source dir> -DARCHS=<a,b,...> -P CheckArchitectures.cmake: the bundle's configure-time
# check of CMAKE_OSX_ARCHITECTURES, run on one list; prints "accepted" or stops with its error.
cmake_minimum_required(VERSION 3.25)
include("${ROOT}/cmake/OmbrelMacBundle.cmake")
string(REPLACE "," ";" archs "${ARCHS}")
ombrel_check_bundle_architectures(OmbrelColorSpaceConversion "${archs}")
message(STATUS "accepted")
