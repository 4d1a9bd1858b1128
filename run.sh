#!/usr/bin/env bash
# Builds if needed and runs ombrel-render. With no arguments it renders the built-in test
# chart's contact sheet into out/contact-sheet.png; with arguments it passes them on.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/ensure-deps.sh
ombrel_ensure_deps

[ -f build/build.ninja ] || cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target ombrel-render >/dev/null

if [ $# -gt 0 ]; then
    exec build/ombrel-render "$@"
fi
mkdir -p out
exec build/ombrel-render --contact-sheet out/contact-sheet.png
