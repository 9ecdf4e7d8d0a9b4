# Helpers for the checks that run inside the test guest (sourced by checks.sh).
# Every wait has a time-out; every process started here is stopped by its own id.

results_dir="${results_dir:-/run/results}"
logs_dir="$results_dir/logs"
figures_file="$results_dir/figures.txt"
checks_file="$results_dir/checks.txt"
mkdir -p "$logs_dir"
: > "$figures_file"
: > "$checks_file"

failures=0
background_pids=()

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# A figure for the report: "FIGURE name value unit".
figure() {
  echo "FIGURE $*" | tee -a "$figures_file"
}

# run_check NAME FUNCTION [ARGS...]: prints "PASS NAME (N s)" or "FAIL NAME (N s): REASON". The
# function reports its reason with `reason TEXT` and returns non-zero on failure.
run_check() {
  local name="$1"
  shift
  local started
  started=$(now_ms)
  echo "---- $name"
  rm -f "$results_dir/reason"
  local status=0
  "$@" || status=$?
  local seconds
  seconds=$(awk -v ms=$(($(now_ms) - started)) 'BEGIN { printf "%.1f", ms / 1000 }')
  stop_background
  if [ $status -eq 0 ]; then
    echo "PASS $name (${seconds} s)" | tee -a "$checks_file"
  else
    failures=$((failures + 1))
    echo "FAIL $name (${seconds} s): $(cat "$results_dir/reason" 2>/dev/null || echo "status $status")" |
      tee -a "$checks_file"
  fi
}

reason() {
  echo "$*" > "$results_dir/reason"
  echo "  reason: $*"
}

# Shows the end of a log on the console after a failure.
show_log() {
  echo "  ---- last lines of $(basename "$1")"
  tail -n "${2:-25}" "$1" 2>/dev/null | sed 's/^/  | /'
}

# start_background LOGNAME COMMAND...: starts COMMAND with its output in logs/LOGNAME.log and
# remembers its process id in last_pid.
start_background() {
  local log="$logs_dir/$1.log"
  shift
  "$@" > "$log" 2>&1 &
  last_pid=$!
  background_pids+=("$last_pid")
}

# stop_process PID [SIGNAL] [SECONDS]: asks it to end and waits; a process that does not end in
# time is killed and that is a failure (status 1). Sets stopped_status to its exit status.
stop_process() {
  local pid="$1" signal="${2:-TERM}" seconds="${3:-30}"
  stopped_status=0
  kill -0 "$pid" 2>/dev/null || { wait "$pid" 2>/dev/null || stopped_status=$?; return 0; }
  kill -"$signal" "$pid" 2>/dev/null || true
  local waited=0
  while kill -0 "$pid" 2>/dev/null && [ $waited -lt $((seconds * 10)) ]; do
    sleep 0.1
    waited=$((waited + 1))
  done
  if kill -0 "$pid" 2>/dev/null; then
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    stopped_status=137
    return 1
  fi
  wait "$pid" 2>/dev/null || stopped_status=$?
  return 0
}

# Stops whatever a check left running.
stop_background() {
  local pid
  for pid in "${background_pids[@]}"; do
    kill -0 "$pid" 2>/dev/null && { stop_process "$pid" TERM 20 || true; }
  done
  background_pids=()
}

# wait_for_line FILE PATTERN SECONDS [PID]: waits until FILE has a line matching the extended
# regular expression PATTERN; gives up early when process PID (the one writing FILE) has ended.
wait_for_line() {
  local file="$1" pattern="$2" seconds="$3" pid="${4:-}"
  local deadline=$(($(date +%s) + seconds))
  until grep -q -E -- "$pattern" "$file" 2>/dev/null; do
    [ "$(date +%s)" -lt "$deadline" ] || return 1
    if [ -n "$pid" ] && ! kill -0 "$pid" 2>/dev/null; then
      grep -q -E -- "$pattern" "$file" 2>/dev/null
      return
    fi
    sleep 0.5
  done
}

# CPU time (user + system) of a process so far, in clock ticks.
cpu_ticks() {
  awk '{ print $14 + $15 }' "/proc/$1/stat"
}

# CPU ticks of each thread of a process, one "TID NAME TICKS" line each.
thread_ticks() {
  local task
  for task in /proc/"$1"/task/*; do
    # A thread may end between the listing and the reading.
    local name ticks
    name=$(tr ' ' _ 2>/dev/null < "$task/comm") && ticks=$(awk '{ print $14 + $15 }' "$task/stat" 2>/dev/null) &&
      echo "$(basename "$task") $name $ticks"
  done
}

# Milliseconds a fixed piece of single-threaded work takes here: compared with the same figure on
# the host it says how much slower the emulated CPU is.
calibration_ms() {
  local started
  started=$(now_ms)
  awk 'BEGIN { for (i = 0; i < 2000000; ++i) s += i % 7; print s }' > /dev/null
  echo $(($(now_ms) - started))
}
