#!/usr/bin/env bash
# Installs what is missing, builds everything with warnings as errors, checks formatting and
# runs every test, as CI does: the Linux build in build/, then the Windows build (mingw-w64
# cross build in build-win/, its tests under wine), the 64-bit ARM build (aarch64 cross build in
# build-arm64/, its tests under qemu, and once more with signed char in build-arm64-schar/), and
# the checks that compare each with the Linux build.
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

ctest --test-dir build --output-on-failure -j "$jobs" -LE '^(windows|arm64)$'

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

# Every test of the aarch64 build runs in full under qemu, all 2^24 8-bit colours on the neon
# path included (emulated: its timings say nothing about ARM's speed).
echo "ARM64 build"
arm64_start=$SECONDS
cmake --preset arm64 -DOMBREL_WERROR=ON >/dev/null
cmake --build build-arm64
ctest --preset arm64 -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs" -L '^arm64$'
# char is unsigned on Linux AArch64 and signed on Apple's arm64: the module and the tests that
# handle bytes and text (setup commands, whole frames, the kernels without the 2^24 colours,
# which the build above runs) built once more with signed char.
cmake -S . -B build-arm64-schar -G Ninja --toolchain cmake/aarch64-linux-gnu.cmake \
    -DCMAKE_BUILD_TYPE=Release -DOMBREL_WERROR=ON -DCMAKE_CXX_FLAGS=-fsigned-char \
    -DCMAKE_C_FLAGS=-fsigned-char -DOMBREL_BUILD_TOOLS=OFF -DOMBREL_BUILD_BENCH=OFF \
    -DOMBREL_TEST_AREAS="plugin;render;host" >/dev/null
cmake --build build-arm64-schar --target plugin_tests frame_tests kernel_equality_tests \
    host_module_test
ctest --test-dir build-arm64-schar --output-on-failure -j "$jobs" \
    -R '^(plugin_tests|frame_tests|host_module_test)$'
qemu-aarch64 -L /usr/aarch64-linux-gnu build-arm64-schar/tests/render/kernel_equality_tests \
    --gtest_brief=1 --gtest_filter='-*AllEightBitColours*'
echo "ARM64 build and tests: $((SECONDS - arm64_start)) s"

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

python3 scripts/check-tests.py build build-arm64 build-asan build-tsan build-fuzz
report "Sanitizers and fuzzing" "$started"
