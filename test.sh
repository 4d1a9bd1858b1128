#!/usr/bin/env bash
# Installs what is missing, builds everything with warnings as errors, checks formatting and
# runs every test.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/ensure-deps.sh
ombrel_ensure_deps

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DOMBREL_WERROR=ON
cmake --build build

echo "Checking formatting"
git ls-files -z -- '*.h' '*.cpp' 2>/dev/null | xargs -0 -r clang-format --dry-run --Werror

ctest --test-dir build --output-on-failure -j "$(nproc)"
