#!/usr/bin/env bash
# Installs what is missing, builds everything with warnings as errors, checks formatting and
# runs every test, as CI does: the Linux build in build/, then the Windows build (mingw-w64
# cross build in build-win/, its tests under wine) and the checks that compare the two.
#
#   ./test.sh           everything
#   ./test.sh --quick   only the in-process unit tests and the simulated-host tests (labels
#                       `unit` and `host`) of the Linux build, for the edit-build-test loop
#
# Then the sanitizer and fuzz builds, in build-asan, build-tsan and build-fuzz:
#   AddressSanitizer + UndefinedBehaviorSanitizer (a report fails the test): the effect, the
#     host and every test of theirs (ombrel-render's tests run in the release build only);
#   ThreadSanitizer: the frame, worker pool and concurrency tests (tests/render, tests/host),
#     without the image library, which is not instrumented;
#   libFuzzer: each target of fuzz/ for OMBREL_FUZZ_SECONDS (default 30) on its seed corpus.
set -euo pipefail
cd "$(dirname "$0")"

quick=0
for arg in "$@"; do
    case "$arg" in
    --quick) quick=1 ;;
    -h | --help)
        sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'
        exit 0
        ;;
    *)
        echo "test.sh: unknown argument '$arg' (try --help)" >&2
        exit 2
        ;;
    esac
done

source scripts/ensure-deps.sh
ombrel_ensure_deps test

jobs="$(nproc)"
cmake --preset release -DOMBREL_WERROR=ON -DOMBREL_BUILD_TESTS=ON -DOMBREL_BUILD_BENCH=ON \
    -DOMBREL_TEST_AREAS= >/dev/null
cmake --build build

if [ "$quick" -eq 1 ]; then
    ctest --test-dir build --output-on-failure -j "$jobs" -L '^(unit|host)$'
    exit 0
fi

echo "Checking formatting"
git ls-files -z -- '*.h' '*.cpp' 2>/dev/null | xargs -0 -r clang-format --dry-run --Werror

ctest --test-dir build --output-on-failure -j "$jobs" -LE '^windows$'

# The same conversion tests on a build without the vector kernels: only what they need.
echo "Scalar-only build (OMBREL_SIMD=OFF)"
cmake -S . -B build-scalar -G Ninja -DCMAKE_BUILD_TYPE=Release -DOMBREL_WERROR=ON -DOMBREL_SIMD=OFF \
    -DOMBREL_BUILD_HOST=OFF -DOMBREL_BUILD_BENCH=OFF -DOMBREL_TEST_AREAS=render >/dev/null
cmake --build build-scalar --target render_unit_tests kernel_equality_tests
ctest --test-dir build-scalar --output-on-failure -j "$jobs" -L '^unit$'

echo "Windows build"
windows_start=$SECONDS
cmake --preset win -DOMBREL_WERROR=ON >/dev/null
# One wine prefix for the build's programs and tests, made once (the first start is slow).
wine_prefix="$PWD/build-win/wine-prefix"
if [ ! -f "$wine_prefix/system.reg" ]; then
    build-win/wine-run wineboot --init >build-win/wineboot.log 2>&1 ||
        { cat build-win/wineboot.log >&2; exit 1; }
fi
cmake --build build-win
ctest --preset win -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs" -L '^windows$'
# wine's server stays a few seconds after its last program; let it end before we do.
WINEPREFIX="$wine_prefix" wineserver -w
echo "Windows build and tests: $((SECONDS - windows_start)) s"

# ---- Sanitizers and fuzzing --------------------------------------------------------------------

started=$SECONDS
report() { echo "$1: $((SECONDS - $2)) s"; }

export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export ASAN_OPTIONS="detect_leaks=1:strict_init_order=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"

t=$SECONDS
echo "AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset asan >/dev/null
cmake --build build-asan
ctest --test-dir build-asan --output-on-failure -j "$jobs"
report "AddressSanitizer and UndefinedBehaviorSanitizer" "$t"

t=$SECONDS
echo "ThreadSanitizer"
cmake --preset tsan >/dev/null
cmake --build build-tsan
ctest --test-dir build-tsan --output-on-failure -j "$jobs"
report "ThreadSanitizer" "$t"

t=$SECONDS
echo "Fuzzing"
cmake --preset fuzz -DOMBREL_FUZZ_SECONDS="${OMBREL_FUZZ_SECONDS:-30}" >/dev/null
cmake --build build-fuzz
ctest --test-dir build-fuzz --output-on-failure -j "$jobs" -L '^fuzz$'
report "Fuzzing" "$t"

python3 scripts/check-tests.py build build-asan build-tsan build-fuzz
report "Sanitizers and fuzzing" "$started"
