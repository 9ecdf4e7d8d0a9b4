#!/usr/bin/env bash
# Builds the libFuzzer targets (tools/fuzz, clang with fuzzer,address,undefined) and runs each for
# SECONDS_PER_TARGET seconds (default 60) on a copy of its seed corpus. Prints executions and
# coverage per target; exits non-zero when a target found a crash, leak, time-out or OOM (the input
# is kept in $build/artefacts/<target>/).
#
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]      targets: definition package midi_input version recording
set -euo pipefail
cd "$(dirname "$0")/.."
repo="$(pwd)"

seconds="${1:-60}"
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(definition package midi_input version recording)
build="${VFU_FUZZ_BUILD_DIR:-build-fuzz}"

bash scripts/install-deps.sh clang libclang-rt-dev

launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S tools/fuzz -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang "${launcher[@]}" >/dev/null
cmake --build "$build" --parallel "${VFU_JOBS:-2}" --target "${targets[@]/#/fuzz_}"

export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:allocator_may_return_null=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"

failed=0
summary=()
for t in "${targets[@]}"; do
  work="$build/corpus/$t"
  artefacts="$build/artefacts/$t"
  mkdir -p "$work" "$artefacts"
  cp -n tools/fuzz/corpus/"$t"/* "$work"/ 2>/dev/null || true
  dict=()
  [ -f "tools/fuzz/$t.dict" ] && dict=(-dict="tools/fuzz/$t.dict")
  log="$build/fuzz_$t.log"
  echo "== fuzz_$t for ${seconds} s"
  status=0
  "$build/fuzz_$t" "$work" "${dict[@]}" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len=65536 -print_final_stats=1 -artifact_prefix="$artefacts/" >"$log" 2>&1 || status=$?
  last="$(grep -E '^#[0-9]+' "$log" | tail -1 || true)"
  execs="$(grep -E 'stat::number_of_executed_units' "$log" | awk '{print $2}' || true)"
  cov="$(echo "$last" | grep -oE 'cov: [0-9]+' || true)"
  ft="$(echo "$last" | grep -oE 'ft: [0-9]+' || true)"
  if [ "$status" -ne 0 ]; then
    failed=1
    summary+=("fuzz_$t: FAILED (exit $status), see $log and $artefacts")
    grep -E 'ERROR|SUMMARY|==[0-9]+==' "$log" | head -5 || true
  else
    summary+=("fuzz_$t: ${execs:-?} executions, ${cov:-cov: ?}, ${ft:-ft: ?}")
  fi
done

echo "== summary"
printf '%s\n' "${summary[@]}"
exit $failed
