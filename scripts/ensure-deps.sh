#!/usr/bin/env bash
# Installs, with apt-get, the Debian packages the machine lacks. Sourced by run.sh and test.sh;
# uses sudo when not run as root.
#
#   ombrel_ensure_deps tool   what building and running ombrel-render needs
#   ombrel_ensure_deps test   that, plus the tests', benchmarks' and checks' packages, and the
#                             Windows cross build's (compiler, GoogleTest sources, wine) and the
#                             aarch64 cross build's (compiler, qemu)
# Extra package names may follow the group.

# Building the module and ombrel-render.
OMBREL_DEPS_TOOL=(cmake ninja-build g++ pkg-config libopenimageio-dev)
# Tests, benchmarks, formatting check (OpenCV is for the benchmark only; Python reads the macOS
# bundle's Info.plist and lists the tests' properties; clang and its runtimes build the fuzz
# targets).
OMBREL_DEPS_TEST=(libgtest-dev libgmock-dev libbenchmark-dev libopencv-dev openimageio-tools
    clang-format python3 clang libclang-rt-dev)
# The Windows module and its tests: mingw-w64 with the posix thread model, GoogleTest built from
# source for it, and wine to run what it builds.
OMBREL_DEPS_WINDOWS=(g++-mingw-w64-x86-64-posix googletest wine wine64)
# The 64-bit ARM Linux module and its tests: the cross compiler (with the target's C and C++
# libraries under /usr/aarch64-linux-gnu) and qemu's user-mode emulation to run what it builds.
OMBREL_DEPS_ARM64=(g++-aarch64-linux-gnu qemu-user)

ombrel_ensure_deps() {
    local group="${1:-test}"
    shift || true
    local wanted=("${OMBREL_DEPS_TOOL[@]}")
    case "$group" in
    tool) ;;
    test) wanted+=("${OMBREL_DEPS_TEST[@]}" "${OMBREL_DEPS_WINDOWS[@]}" "${OMBREL_DEPS_ARM64[@]}") ;;
    *)
        echo "ombrel_ensure_deps: unknown group '$group'" >&2
        return 2
        ;;
    esac
    wanted+=("$@")
    local missing=()
    local p
    for p in "${wanted[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0

    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    echo "Installing: ${missing[*]}" >&2
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq ||
        echo "warning: apt-get update failed; trying the install anyway" >&2
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >&2
}
