#!/usr/bin/env bash
# The deep check to run before resolving anything that touches threads, parsers or buffers:
#   1. every test suite built with AddressSanitizer + UndefinedBehaviorSanitizer (build-asan/),
#   2. every test suite built with ThreadSanitizer (build-tsan/), with tests/tsan.supp,
#   3. a short run of every fuzz target (scripts/fuzz.sh, CHECK_FUZZ_SECONDS each, default 30).
# Any sanitizer report fails the test it happens in; the script stops at the first failing step
# and prints how long each step took.
#
#   scripts/check.sh [asan|tsan|fuzz ...]     the steps to run, all by default
#
# Environment: CHECK_JOBS (build and test jobs, default nproc), CHECK_FUZZ_SECONDS.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

steps=("$@")
[ ${#steps[@]} -gt 0 ] || steps=(asan tsan fuzz)
jobs=${CHECK_JOBS:-$(nproc)}
fuzz_seconds=${CHECK_FUZZ_SECONDS:-30}

scripts/install-deps.sh

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi

# build DIR SANITIZERS: configures once, then builds the program, the tool and the tests.
build() {
  local dir=$1 sanitize=$2
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSIVO_SANITIZE="$sanitize" \
      -DTESSIVO_BENCH=OFF "${launcher[@]}" >/dev/null
  fi
  cmake --build "$dir" -- -j"$jobs"
}

# Sanitized code runs several times slower: the per-test limit is wider than the normal run's.
run_tests() {
  ctest --test-dir "$1" --output-on-failure -j"$jobs" --timeout 900
}

step_asan() {
  build build-asan address,undefined
  # Leaks are reported for our code; the few that the system's uninstrumented libraries keep
  # until exit are listed in tests/lsan.supp.
  # ALSA and Firebird unload their plugins (the sound server's, the rate converters, the embedded
  # engine, the character sets) when a stream or a connection closes; what their globals still
  # held then shows as leaked, from a module that is gone and so cannot be named in a
  # suppression. Loaded ahead, they stay until the process ends.
  local plugins
  plugins=$(ls /usr/lib/*/alsa-lib/libasound_module_*.so /usr/lib/*/firebird/3.0/plugins/lib*.so \
    /usr/lib/*/firebird/3.0/intl/lib*.so 2>/dev/null | tr '\n' ':')
  # X's keyboard library hands strndup a bounded buffer without a terminator, which is legal but
  # reported under strict string checks: that one interceptor is off.
  LD_PRELOAD="$plugins" \
  ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:intercept_strndup=0:detect_stack_use_after_return=1:verify_asan_link_order=0" \
  LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0" \
  UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" \
    run_tests build-asan
}

step_tsan() {
  build build-tsan thread
  TSAN_OPTIONS="suppressions=$root/tests/tsan.supp:halt_on_error=1:second_deadlock_stack=1" \
    run_tests build-tsan
}

step_fuzz() {
  scripts/fuzz.sh "$fuzz_seconds"
}

for step in "${steps[@]}"; do
  case "$step" in
    asan | tsan | fuzz) ;;
    *) echo "usage: scripts/check.sh [asan|tsan|fuzz ...]" >&2; exit 2 ;;
  esac
  started=$(date +%s)
  echo "== $step"
  "step_$step"
  echo "== $step passed in $(( $(date +%s) - started )) s"
done
