#!/usr/bin/env bash
# Builds and runs the whole test suite:
#   1. the plain build and all unit tests (ctest),
#   2. the AddressSanitizer + UndefinedBehaviorSanitizer build and all unit tests,
#   3. the ThreadSanitizer build and the tests labelled "threaded",
#   4. the Debian package: built, checked by lintian, extracted and used,
#   5. every libFuzzer target for a bounded time (FUZZ_SECONDS, default 60;
#      fuzz/options/NAME may add a fuzzer's own flags, a shorter time too).
# Build folders go under build/ (override with BUILD_ROOT).
case "${1:-}" in -h|--help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0;; -?*) echo "${0##*/}: unknown option '$1' (see --help)" >&2; exit 2;; esac
[ $# -eq 0 ] || { echo "run_tests.sh: takes no arguments (see --help)" >&2; exit 2; }
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD_ROOT=${BUILD_ROOT:-$ROOT/build}
FUZZ_SECONDS=${FUZZ_SECONDS:-60}
JOBS=${JOBS:-$(nproc)}
export CTEST_OUTPUT_ON_FAILURE=1

PASSED=0
FAILED=0
# Runs ctest in a build folder (extra arguments go to ctest) and adds up its counts.
run_ctest() {
  local dir=$1; shift
  local out
  out=$(mktemp)
  local status=0
  (cd "$dir" && ctest -j "$JOBS" --timeout 300 "$@") 2>&1 | tee "$out" || status=$?
  local total failed
  total=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$out" | tail -n 1)
  failed=$(sed -n 's/.* \([0-9]*\) tests failed out of.*/\1/p' "$out" | tail -n 1)
  rm -f "$out"
  PASSED=$((PASSED + ${total:-0} - ${failed:-0}))
  FAILED=$((FAILED + ${failed:-0}))
  return $status
}

configure() {  # folder, extra cmake args...
  local dir=$1; shift
  cmake -S "$ROOT" -B "$dir" -G Ninja "$@" >/dev/null
}

echo "== plain build"
configure "$BUILD_ROOT/plain" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVO_BENCHMARKS=ON
cmake --build "$BUILD_ROOT/plain" -j "$JOBS"
run_ctest "$BUILD_ROOT/plain"

echo "== CMake's default generator builds the interface reference"
cmake -S "$ROOT" -B "$BUILD_ROOT/make" -DCMAKE_BUILD_TYPE=Release -DTARVO_CLIENT=OFF -DTARVO_TESTS=OFF \
  -DTARVO_BENCHMARKS=OFF >/dev/null
cmake --build "$BUILD_ROOT/make" --target tarvo_reference -j "$JOBS" >/dev/null
test -s "$BUILD_ROOT/make/docs/tarvo-reference.md"
PASSED=$((PASSED + 1))

echo "== address + undefined behaviour sanitizers"
configure "$BUILD_ROOT/asan" -DCMAKE_BUILD_TYPE=Debug -DTARVO_SANITIZER=address -DTARVO_BENCHMARKS=OFF
cmake --build "$BUILD_ROOT/asan" -j "$JOBS"
# intercept_tls_get_addr=0: this toolchain's leak checker now and then reads a
# bogus dynamic TLS range of the main thread at exit (the component is loaded
# with dlopen) and dies with "Tracer caught signal 11" after the tests passed.
ASAN_OPTIONS=detect_leaks=1:intercept_tls_get_addr=0 UBSAN_OPTIONS=print_stacktrace=1 run_ctest "$BUILD_ROOT/asan"

echo "== thread sanitizer (threaded tests)"
# The client has no threads of its own (driver events reach it as posted
# events), so the ThreadSanitizer build leaves it out.
configure "$BUILD_ROOT/tsan" -DCMAKE_BUILD_TYPE=Debug -DTARVO_SANITIZER=thread -DTARVO_BENCHMARKS=OFF -DTARVO_CLIENT=OFF
cmake --build "$BUILD_ROOT/tsan" -j "$JOBS"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" run_ctest "$BUILD_ROOT/tsan" -L threaded

echo "== Debian package (build, lintian, the extracted package at work)"
bash tools/build_package.sh "$BUILD_ROOT/package"
PASSED=$((PASSED + 1))

echo "== fuzzers (${FUZZ_SECONDS}s each)"
CC=clang CXX=clang++ configure "$BUILD_ROOT/fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTARVO_SANITIZER=address -DTARVO_FUZZERS=ON -DTARVO_TESTS=OFF -DTARVO_BENCHMARKS=OFF -DTARVO_CLIENT=OFF \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link"
cmake --build "$BUILD_ROOT/fuzz" -j "$JOBS"
fuzzers=$(find "$BUILD_ROOT/fuzz/fuzz" -maxdepth 2 -type f -executable -name 'fuzz_*' | sort)
ran=0
for f in $fuzzers; do
  name=$(basename "$f")
  corpus="$BUILD_ROOT/fuzz/corpus-$name"
  mkdir -p "$corpus"
  seeds="$ROOT/fuzz/seeds/$name"
  echo "-- $name"
  args=("$corpus")
  [ -d "$seeds" ] && args+=("$seeds")
  # A fuzzer's own flags: the SECS-I line keeps state from input to input,
  # which libFuzzer would otherwise take for a leak and scan for every time;
  # its inputs stay under 1 KiB, where its 64 steps fit (longer ones ran
  # slower and reached fewer features in 5 minutes).
  options=()
  [ -f "$ROOT/fuzz/options/$name" ] && read -r -a options < "$ROOT/fuzz/options/$name"
  (cd "$BUILD_ROOT/fuzz" && "$f" -max_total_time="$FUZZ_SECONDS" -rss_limit_mb=2048 \
     -print_final_stats=0 "${options[@]}" "${args[@]}" 2>&1 | tail -n 3)
  ran=$((ran + 1))
done
echo "fuzzers run: $ran"
echo "== all tests passed"
echo "tests: $PASSED passed, $FAILED failed"
