#!/usr/bin/env bash
# Installs, with apt-get, the Debian packages the build and the tests need and the machine lacks.
# Sourced by run.sh and test.sh; uses sudo when not run as root.
ombrel_ensure_deps() {
    local wanted=(cmake ninja-build g++ pkg-config
        libopenimageio-dev openimageio-tools
        libgtest-dev libgmock-dev libbenchmark-dev libopencv-dev
        clang-format)
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
