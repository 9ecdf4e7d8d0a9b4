#!/usr/bin/env bash
# The real-MIDI checks, run inside the test guest (scripts/test-real-midi.sh boots it): simulated
# instruments on the kernel's ALSA sequencer (`vfu simulate`), the headless updater (`vfu update`)
# and the shipped app under Xvfb, all through JUCE's ALSA code. One line "PASS NAME" or
# "FAIL NAME: REASON" per check, figures as "FIGURE NAME VALUE UNIT"; exit 1 when any check failed.
#
#   checks.sh VFU APP PACKAGES_DIR [CHECK...]     (all checks when none is named)
set -uo pipefail

vfu="$1"
app="$2"
packages="$3"
shift 3
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/lib.sh"

# A fresh home: the app's settings and log start empty, whatever the host's root holds.
export HOME=/tmp/home
mkdir -p "$HOME"

quillbox_package="$packages/quillbox-fw-2.2.1.vfw"
lumostrel_package="$packages/lmstr-fw-1.1.0.vfw"
orb26_package="$packages/orb26-fw-1.1.0.vfw"
small_image_bytes=$(cat "$packages/image-bytes")

# The summary a simulator prints when it is stopped, as "bytes=N valid=yes|no version=V".
simulator_summary() {
  local log="$1"
  local bytes valid version
  bytes=$(grep -o -E 'image bytes received: [0-9]+' "$log" | tail -n 1 | grep -o -E '[0-9]+$')
  valid=$(grep -o -E 'image valid: (yes|no)' "$log" | tail -n 1 | awk '{ print $NF }')
  version=$(grep -o -E 'version installed: [^ ,]+' "$log" | tail -n 1 | awk '{ print $NF }')
  echo "bytes=${bytes:-?} valid=${valid:-?} version=${version:-?}"
}

# start_simulator LOGNAME SPEC [SWITCHES...]: a simulated instrument on the real MIDI system; waits
# until it is listening.
start_simulator() {
  local name="$1"
  shift
  start_background "$name" "$vfu" simulate "$@"
  simulator_pid=$last_pid
  if ! wait_for_line "$logs_dir/$name.log" 'ports? (open|created|ready)|listening' 60 "$simulator_pid"; then
    show_log "$logs_dir/$name.log"
    reason "simulator $name did not start"
    return 1
  fi
}

# stop_simulator PID LOGNAME EXPECTED_SUMMARY: SIGTERM, exit 0 and the expected summary.
stop_simulator() {
  local pid="$1" name="$2" expected="$3"
  if ! stop_process "$pid" TERM 30; then
    reason "simulator $name did not stop on SIGTERM"
    return 1
  fi
  local summary
  summary=$(simulator_summary "$logs_dir/$name.log")
  echo "  simulator $name: $summary (exit $stopped_status)"
  if [ "$stopped_status" -ne 0 ] || [ "$summary" != "$expected" ]; then
    show_log "$logs_dir/$name.log"
    reason "simulator $name ended with exit $stopped_status and '$summary', expected '$expected'"
    return 1
  fi
}

# run_update LOGNAME EXPECTED_STATUS SWITCHES...: `vfu update --yes` with a time-out.
run_update() {
  local name="$1" expected="$2"
  shift 2
  local log="$logs_dir/$name.log" status=0
  timeout --kill-after=15 400 "$vfu" update --yes --timeout 360 "$@" > "$log" 2>&1 || status=$?
  echo "  vfu update $*: exit $status"
  if [ "$status" -ne "$expected" ]; then
    show_log "$log"
    reason "vfu update $* ended with $status, expected $expected"
    return 1
  fi
}

# Pacing at the simulator's side: the time from the first image packet to the last against the
# pauses the definition specifies between them. Figures from the simulator's event lines.
pacing_ratio() {
  local log="$1"
  awk '/pacing:/ { for (i = 1; i <= NF; ++i) if ($i ~ /^ratio=/) { sub(/ratio=/, "", $i); r = $i } } END { print r }' "$log"
}

check_ports_and_duplicates() {
  start_simulator quillbox-a quillbox:2.1.0 --auto-bootloader 3 || return 1
  local first=$simulator_pid
  start_simulator quillbox-b quillbox:2.1.0 --auto-bootloader 3 || return 1
  local second=$simulator_pid

  timeout 60 "$vfu" ports > "$logs_dir/ports.json" 2>&1 || { reason "vfu ports failed"; return 1; }
  cat "$logs_dir/ports.json"
  local port
  for port in "VirMIDI 0-0" "Quillbox" "Quillbox (2)"; do
    if [ "$(grep -c -F "\"$port\"" "$logs_dir/ports.json")" -ne 2 ]; then
      reason "vfu ports does not list \"$port\" once as an input and once as an output"
      return 1
    fi
  done

  # The second entry chosen by name: the second instrument is updated, the first is left alone.
  run_update update-second 0 --input "Quillbox (2)" --output "Quillbox (2)" --package "$quillbox_package" || return 1
  stop_simulator "$second" quillbox-b "bytes=$small_image_bytes valid=yes version=2.2.1" || return 1
  stop_simulator "$first" quillbox-a "bytes=0 valid=no version=2.1.0" || return 1
}

check_quillbox_update() {
  start_simulator quillbox quillbox:2.1.0 --auto-bootloader 3 || return 1
  local simulator=$simulator_pid
  run_update update-quillbox 0 --package "$quillbox_package" || return 1
  stop_simulator "$simulator" quillbox "bytes=$small_image_bytes valid=yes version=2.2.1"
}

check_connection_break() {
  start_simulator vanish quillbox:2.1.0 --auto-bootloader 3 --fault vanish-after=8000 || return 1
  local simulator=$simulator_pid
  run_update update-broken 1 --package "$quillbox_package" || return 1
  if ! grep -q -F 'Error, bootloader detected' "$logs_dir/update-broken.log"; then
    show_log "$logs_dir/update-broken.log"
    reason "the broken transfer did not lead to \"Error, bootloader detected\""
    return 1
  fi
  run_update update-again 0 --package "$quillbox_package" || return 1
  stop_simulator "$simulator" vanish "bytes=$small_image_bytes valid=yes version=2.2.1"
}

check_lumostrel_update() {
  start_simulator lumostrel lumostrel:1.0.9 --auto-bootloader 3 || return 1
  local simulator=$simulator_pid
  run_update update-lumostrel 0 --device Lumostrel --package "$lumostrel_package" || return 1
  stop_simulator "$simulator" lumostrel "bytes=$small_image_bytes valid=yes version=1.1.0"
}

check_orb26_update() {
  start_simulator orb26 orb26:1.0.9 --auto-bootloader 3 || return 1
  local simulator=$simulator_pid
  run_update update-orb26 0 --device "Orb 26" --package "$orb26_package" || return 1
  local state
  for state in "DSP download" "Panel erase" "Panel download" "Download complete"; do
    if ! grep -q -F "$state" "$logs_dir/update-orb26.log"; then
      show_log "$logs_dir/update-orb26.log"
      reason "the Orb 26 update never entered \"$state\""
      return 1
    fi
  done
  stop_simulator "$simulator" orb26 "bytes=$small_image_bytes valid=yes version=1.1.0"
}

# The shipped app with no switches: first 60 s with no instrument (its CPU share while it polls),
# then an instrument appears and the whole delivered package goes over at the real pace.
check_app_update() {
  start_background xvfb Xvfb :7 -screen 0 1280x800x24 -nolisten tcp
  local display_wait=0
  until [ -S /tmp/.X11-unix/X7 ] || [ $display_wait -ge 300 ]; do
    sleep 0.1
    display_wait=$((display_wait + 1))
  done
  [ -S /tmp/.X11-unix/X7 ] || { reason "Xvfb did not start"; return 1; }

  DISPLAY=:7 start_background app "$app"
  local app_pid=$last_pid
  local log="$HOME/.config/Vorn Firmware Updater/vfu-quillbox.log"
  if ! wait_for_line "$log" "State 'Idle, no device'" 120; then
    show_log "$logs_dir/app.log"
    reason "the app did not start polling"
    return 1
  fi
  sleep 5 # let the window settle before measuring
  local before after started ended
  thread_ticks "$app_pid" > "$logs_dir/threads-before.txt"
  before=$(cpu_ticks "$app_pid")
  started=$(now_ms)
  sleep 60
  after=$(cpu_ticks "$app_pid")
  ended=$(now_ms)
  thread_ticks "$app_pid" > "$logs_dir/threads-after.txt"
  local hz share slowdown
  hz=$(getconf CLK_TCK)
  share=$(awk -v t=$((after - before)) -v hz="$hz" -v ms=$((ended - started)) 'BEGIN { printf "%.2f", 100 * t / hz / (ms / 1000) }')
  figure idle_polling_cpu_share_guest "$share" "% of one emulated core (app, no instrument, $(((ended - started) / 1000)) s)"
  # Per thread, to see where the time goes.
  join "$logs_dir/threads-before.txt" "$logs_dir/threads-after.txt" |
    awk -v hz="$hz" -v ms=$((ended - started)) '{ printf "  thread %s: %.2f %%\n", $2, 100 * ($5 - $3) / hz / (ms / 1000) }'
  slowdown=$(awk -v g="$(calibration_ms)" -v h="$(cat "$packages/host-calibration-ms")" 'BEGIN { printf "%.1f", g / (h > 0 ? h : 1) }')
  figure emulation_slowdown "$slowdown" "(guest time / host time for the same work)"
  figure idle_polling_cpu_share_native_estimate "$(awk -v s="$share" -v f="$slowdown" 'BEGIN { printf "%.2f", s / (f > 0 ? f : 1) }')" \
    "% of one core (guest share / slowdown)"

  start_simulator app-quillbox quillbox:2.1.0 --auto-bootloader 3 || return 1
  local simulator=$simulator_pid
  if ! wait_for_line "$log" 'Update completed successfully\.|Update has failed|Something went wrong' 600; then
    show_log "$log"
    reason "the app did not finish the update in 600 s"
    return 1
  fi
  sleep 1
  cp "$log" "$logs_dir/app-update.log"
  grep -E "State '|Update completed" "$log" | sed 's/^/  | /'
  if ! grep -q -F 'Update completed successfully.' "$log"; then
    reason "the app did not report \"Update completed successfully.\""
    return 1
  fi
  local ratio
  ratio=$(pacing_ratio "$logs_dir/app-quillbox.log")
  figure app_transfer_pacing_ratio "${ratio:-?}" "(transfer wall time / specified pauses, simulator side)"
  stop_process "$app_pid" INT 60 || { reason "the app did not quit on SIGINT"; return 1; }
  stop_simulator "$simulator" app-quillbox "bytes=359267 valid=yes version=2.2.1"
}

all_checks=(ports_and_duplicates quillbox_update connection_break lumostrel_update orb26_update app_update)
selected=("$@")
[ ${#selected[@]} -gt 0 ] || selected=("${all_checks[@]}")

for check in "${selected[@]}"; do
  run_check "$check" "check_$check"
done

echo "==== $((${#selected[@]} - failures)) of ${#selected[@]} checks passed"
[ $failures -eq 0 ]
