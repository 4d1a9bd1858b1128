#!/usr/bin/env bash
# Builds if needed and runs ombrel-render. With no arguments it renders the built-in test
# chart's contact sheet into out/contact-sheet.png; with arguments it passes them on.
# Installs only what the tool needs; ./test.sh installs the rest.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/ensure-deps.sh
ombrel_ensure_deps tool

# A fresh build folder gets only the module and the tool; ./test.sh turns the rest on.
[ -f build/build.ninja ] || cmake --preset release -DOMBREL_BUILD_TESTS=OFF \
    -DOMBREL_BUILD_BENCH=OFF >/dev/null
cmake --build build --target ombrel-render >/dev/null

if [ $# -gt 0 ]; then
    exec build/ombrel-render "$@"
fi
mkdir -p out
exec build/ombrel-render --contact-sheet out/contact-sheet.png
