#!/usr/bin/env bash
# Builds the core and engine test suites twice more, under AddressSanitizer with
# UndefinedBehaviorSanitizer and under ThreadSanitizer, and runs them so that any sanitizer
# report fails the run. The window and panel suites need the GUI app and are left out.
#
#   scripts/test-sanitizers.sh [address|thread|all]      (default all)
#
# Build folders: $VFU_ASAN_BUILD_DIR (build-asan) and $VFU_TSAN_BUILD_DIR (build-tsan).
set -euo pipefail
cd "$(dirname "$0")/.."
repo="$(pwd)"

which="${1:-all}"
asan_dir="${VFU_ASAN_BUILD_DIR:-build-asan}"
tsan_dir="${VFU_TSAN_BUILD_DIR:-build-tsan}"
jobs="${VFU_JOBS:-2}"

# Graphviz for the definition graph tests among the suites below, a D-Bus daemon with
# python3-dbusmock's logind for the power hold tests.
bash scripts/install-deps.sh graphviz dbus python3-dbusmock

launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi

test_targets=(vfu_core_tests vfu_midi_tests vfu_packages_tests vfu_definitions_tests vfu_engine_tests vfu_simulation_tests)
labels='^(core|midi|packages|definitions|engine|simulation)$'

run_suite() {
  local kind="$1" dir="$2" sanitizers="$3" extra_flags="$4" exclude="${5:-}"
  local started=$SECONDS
  echo "== ${kind}: configuring ${dir} with -fsanitize=${sanitizers}"
  # Sanitizer runs are slow; without the app the GUI and window targets are not built at all.
  cmake -S "$repo" -B "$dir" -G Ninja "${launcher[@]}" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVFU_BUILD_APP=OFF \
    -DVFU_SANITIZERS="$sanitizers" \
    -DCMAKE_CXX_FLAGS="$extra_flags" -DCMAKE_C_FLAGS="$extra_flags" >/dev/null
  cmake --build "$dir" --parallel "$jobs" --target "${test_targets[@]}"
  local built=$SECONDS
  echo "== ${kind}: running the tests"
  local filter=()
  [ -n "$exclude" ] && filter=(-E "$exclude")
  ctest --test-dir "$dir" --output-on-failure --parallel "$jobs" --timeout 900 -L "$labels" "${filter[@]}"
  echo "== ${kind}: build $((built - started)) s, tests $((SECONDS - built)) s"
}

# Any report ends the process with an error, so ctest sees a failing test.
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:print_stacktrace=1:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export LSAN_OPTIONS="suppressions=${repo}/tests/sanitizers/lsan.supp:print_suppressions=0"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=${repo}/tests/sanitizers/tsan.supp:print_suppressions=0"

if [ "$which" = all ] || [ "$which" = address ]; then
  run_suite address "$asan_dir" "address,undefined" "-fno-sanitize-recover=all"
fi
if [ "$which" = all ] || [ "$which" = thread ]; then
  # The whole-update tests play complete updates on a clock 5 to 100 times faster than real time;
  # under ThreadSanitizer the engine runs 5 to 15 times slower and would miss the instruments'
  # reply windows, so their clock runs 10 times slower here (never below real time).
  VFU_TEST_SLOWDOWN=10 run_suite thread "$tsan_dir" "thread" ""
fi
echo "== sanitizer runs passed"
