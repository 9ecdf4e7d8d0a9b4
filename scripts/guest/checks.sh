#!/usr/bin/env bash
# The real-MIDI checks, run inside the test guest (scripts/test-real-midi.sh boots it): simulated
# instruments on the kernel's ALSA sequencer (`vfu simulate`), the headless updater (`vfu update`)
# and the shipped app under Xvfb, both through the updater's one ALSA sequencer client. One line
# "PASS NAME" or "FAIL NAME: REASON" per check, figures as "FIGURE NAME VALUE UNIT"; exit 1 when any
# check failed.
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

# One field of the simulator's last JSON summary line (numbers, true/false, or a string's text).
summary_field() {
  grep -E '"event": ?"summary"' "$1" | tail -n 1 |
    grep -o -E "\"$2\": ?(\"[^\"]*\"|[^,}]*)" | sed -E 's/^"[^"]*": ?//; s/^"//; s/"$//'
}

# The summary a simulator prints when it is stopped, as "bytes=N valid=true|false version=V".
simulator_summary() {
  echo "bytes=$(summary_field "$1" imageBytes) valid=$(summary_field "$1" imageValid) version=$(summary_field "$1" installedVersion)"
}

# start_simulator LOGNAME SPEC [SWITCHES...]: a simulated instrument on the real MIDI system, one
# JSON event a line; waits until its ports exist.
start_simulator() {
  local name="$1"
  shift
  start_background "$name" "$vfu" simulate "$@" --json
  simulator_pid=$last_pid
  if ! wait_for_line "$logs_dir/$name.log" '"event": ?"ports".*"open": ?true' 60 "$simulator_pid"; then
    show_log "$logs_dir/$name.log"
    reason "simulator $name did not create its ports"
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

# run_update LOGNAME EXPECTED_STATUS SWITCHES...: `vfu update` with a time-out.
run_update() {
  local name="$1" expected="$2"
  shift 2
  local log="$logs_dir/$name.log" status=0
  timeout --kill-after=15 330 "$vfu" update --log --timeout 300 "$@" > "$log" 2>&1 || status=$?
  echo "  vfu update $*: exit $status"
  if [ "$status" -ne "$expected" ]; then
    show_log "$log"
    reason "vfu update $* ended with $status, expected $expected"
    return 1
  fi
}

# Counting the sequencer clients a program starts: aseqdump follows the system's announcements
# (port 0:1), one "Client start ... client N" line per new client. follow_client_starts begins;
# client_starts_mark gives the place to count from.
follow_client_starts() {
  start_background announcements stdbuf -oL aseqdump -p 0:1
  announcements_pid=$last_pid
  sleep 1
}

client_starts_mark() {
  wc -l < "$logs_dir/announcements.log"
}

# clients_started_since MARK FIGURE_NAME WHAT: prints the figure: the clients started after MARK, less
# those that still exist and own a port named "Quillbox" (the simulated instruments').
clients_started_since() {
  local mark="$1" name="$2" what="$3"
  sleep 1 # the last announcements reach aseqdump
  local simulators started=0 client
  simulators=$(awk '/^Client / { client = $2 } /^  Port .*"Quillbox/ { print client }' /proc/asound/seq/clients | sort -u)
  for client in $(tail -n +"$((mark + 1))" "$logs_dir/announcements.log" | awk '/Client start/ { print $NF }'); do
    echo "$simulators" | grep -q -x -F "$client" || started=$((started + 1))
  done
  figure "$name" "$started" "sequencer clients started by $what"
}

# Pacing at the simulator's side: the wall time from the first piece of the image to the last,
# against the pauses the sender makes between them: one per packet but the last, each
# int(int(packet bytes * 0.384) + waitTime) ms for the full 256-byte packets these images are cut
# into. The last packet takes the tail (up to 511 bytes), so there are int(bytes / 256) packets.
# pacing_figure NAME SIMULATOR_LOG IMAGE_BYTES WAIT_TIME
pacing_figure() {
  local name="$1" log="$2" bytes="$3" wait_time="$4"
  local measured
  measured=$(summary_field "$log" transferMilliseconds)
  figure "$name" "$(awk -v m="${measured:-0}" -v n="$bytes" -v w="$wait_time" 'BEGIN {
      packets = (n >= 256 ? int(n / 256) : (n > 0 ? 1 : 0)); pause = int(int(256 * 0.384) + w)
      specified = (packets - 1) * pause
      printf "%.4f (%.0f ms for %d packets; pauses %d ms)", (specified > 0 ? m / specified : 0), m, packets, specified }')"
}

check_ports_and_duplicates() {
  # The first instrument stands by as a second Quillbox on a desk would: nobody restarts it
  # (twins_restarting has both restarting).
  start_simulator quillbox-a quillbox:2.1.0 || return 1
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
  run_update update-second 0 --yes --input "Quillbox (2)" --output "Quillbox (2)" --package "$quillbox_package" || return 1
  stop_simulator "$second" quillbox-b "bytes=$small_image_bytes valid=true version=2.2.1" || return 1
  stop_simulator "$first" quillbox-a "bytes=0 valid=false version=2.1.0" || return 1
}

check_quillbox_update() {
  follow_client_starts
  start_simulator quillbox quillbox:2.1.0 --auto-bootloader 3 || return 1
  local simulator=$simulator_pid
  local mark
  mark=$(client_starts_mark)
  run_update update-quillbox 0 --yes --package "$quillbox_package" || return 1
  clients_started_since "$mark" sequencer_clients_vfu_update "vfu update during one whole update"
  stop_simulator "$simulator" quillbox "bytes=$small_image_bytes valid=true version=2.2.1" || return 1
  pacing_figure pacing_ratio_vfu_update "$logs_dir/quillbox.log" "$small_image_bytes" 0.082
}

check_connection_break() {
  start_simulator vanish quillbox:2.1.0 --auto-bootloader 3 --fault vanish-after=8000 || return 1
  local simulator=$simulator_pid
  # Without --yes and without a terminal the offered Install is declined: the first run ends in
  # the error state the break led to.
  run_update update-broken 1 --package "$quillbox_package" || return 1
  if ! grep -q -x -F 'state: Error, bootloader detected' "$logs_dir/update-broken.log"; then
    show_log "$logs_dir/update-broken.log"
    reason "the broken transfer did not lead to \"Error, bootloader detected\""
    return 1
  fi
  run_update update-again 0 --yes --package "$quillbox_package" || return 1
  stop_simulator "$simulator" vanish "bytes=$small_image_bytes valid=true version=2.2.1"
}

# Two Quillboxes, the one to update listed first and its twin second, both restarting on their own
# (the twin goes into its bootloader once it has answered an identity request, which happens while
# the first is away restarting). Each restart takes the first instrument off the lists, so the
# update must follow that port and never judge, erase or flash the twin in its place.
check_twins_restarting() {
  start_simulator twin-target quillbox:2.1.0 --auto-bootloader 3 || return 1
  local target=$simulator_pid
  start_simulator twin-other quillbox:2.1.0 --auto-bootloader 3 || return 1
  local twin=$simulator_pid
  run_update update-twins 0 --yes --package "$quillbox_package" || return 1
  stop_simulator "$target" twin-target "bytes=$small_image_bytes valid=true version=2.2.1" || return 1
  stop_simulator "$twin" twin-other "bytes=0 valid=false version=2.1.0" || return 1
}

# The instrument disappears for good in the middle of the image (its simulator killed): the update
# ends as a broken connection, a failure, and never as a success.
check_killed_mid_transfer() {
  start_simulator killed quillbox:2.1.0 --auto-bootloader 3 --image-size "$small_image_bytes" || return 1
  local simulator=$simulator_pid
  local log="$logs_dir/update-killed.log" status=0
  timeout --kill-after=15 330 "$vfu" update --log --timeout 300 --yes --package "$quillbox_package" > "$log" 2>&1 &
  local update=$!
  background_pids+=("$update")
  if ! wait_for_line "$logs_dir/killed.log" 'image: [0-9]+ bytes received' 240 "$simulator"; then
    show_log "$logs_dir/killed.log"
    reason "the image never began to arrive"
    return 1
  fi
  kill -KILL "$simulator" 2>/dev/null || true
  wait "$simulator" 2>/dev/null || true
  wait "$update" || status=$?
  echo "  vfu update after the kill: exit $status"
  if [ "$status" -ne 1 ] || grep -q -F 'Update completed successfully.' "$log" || ! grep -q -F 'Connection break !!!' "$log"; then
    show_log "$log"
    reason "vfu update ended with $status after the instrument vanished mid-transfer, expected 1 by a connection break"
    return 1
  fi
}

# start_update_until_mid_image LOGNAME SIMULATOR_LOGNAME: `vfu update --yes` in the background (vfu itself, so that
# signals reach it), then waits for a part of the image to reach the simulator.
start_update_until_mid_image() {
  local log="$logs_dir/$1.log"
  "$vfu" update --log --timeout 300 --yes --package "$quillbox_package" > "$log" 2>&1 &
  update_pid=$!
  background_pids+=("$update_pid")
  if ! wait_for_line "$logs_dir/$2.log" 'image: [0-9]+ bytes received' 240 "$simulator_pid"; then
    show_log "$log"
    reason "the image never began to arrive"
    return 1
  fi
}

# The updater killed for good in the middle of the image (SIGKILL: nothing can hold that off) while
# the instrument stays: it is left in its bootloader, and the next vfu update says so, restores it
# and exits 0.
check_update_killed_mid_image() {
  start_simulator left-waiting quillbox:2.1.0 --auto-bootloader 3 --image-size "$small_image_bytes" || return 1
  local simulator=$simulator_pid
  start_update_until_mid_image update-killed-first left-waiting || return 1
  kill -KILL "$update_pid" 2>/dev/null || true
  wait "$update_pid" 2>/dev/null || true
  kill -0 "$simulator" 2>/dev/null || { reason "the simulator did not outlive the killed update"; return 1; }
  run_update update-after-kill 0 --yes --package "$quillbox_package" || return 1
  if ! grep -q -F 'notice: The Quillbox is waiting for firmware, probably from an update that did not finish.' \
    "$logs_dir/update-after-kill.log"; then
    show_log "$logs_dir/update-after-kill.log"
    reason "the second vfu update did not say that the instrument waits for firmware"
    return 1
  fi
  stop_simulator "$simulator" left-waiting "bytes=$small_image_bytes valid=true version=2.2.1"
}

# Ctrl-C twice in the middle of the image: the first only warns and the update goes on, the second
# (within 3 s) stops it with exit 1, saying the instrument is left in its bootloader; the next
# vfu update restores it.
check_update_interrupted_twice() {
  start_simulator interrupted quillbox:2.1.0 --auto-bootloader 3 --image-size "$small_image_bytes" || return 1
  local simulator=$simulator_pid
  start_update_until_mid_image update-interrupted interrupted || return 1
  local log="$logs_dir/update-interrupted.log" status=0
  kill -INT "$update_pid"
  if ! wait_for_line "$log" 'An update is in progress' 30 "$update_pid"; then
    show_log "$log"
    reason "the first Ctrl-C during the image did not warn, or ended vfu update"
    return 1
  fi
  sleep 1
  kill -0 "$update_pid" 2>/dev/null || { show_log "$log"; reason "vfu update ended on the first Ctrl-C"; return 1; }
  kill -INT "$update_pid"
  wait "$update_pid" || status=$?
  echo "  vfu update after two Ctrl-C: exit $status"
  if [ "$status" -ne 1 ] || ! grep -q -F 'result: interrupted: stopped during the update: the instrument is left in its bootloader' "$log"; then
    show_log "$log"
    reason "vfu update ended with $status after a second Ctrl-C, expected 1 and the bootloader result"
    return 1
  fi
  run_update update-after-interrupt 0 --yes --package "$quillbox_package" || return 1
  stop_simulator "$simulator" interrupted "bytes=$small_image_bytes valid=true version=2.2.1"
}

check_lumostrel_update() {
  start_simulator lumostrel lumostrel:1.0.9 --auto-bootloader 3 || return 1
  local simulator=$simulator_pid
  run_update update-lumostrel 0 --yes --device Lumostrel --package "$lumostrel_package" || return 1
  stop_simulator "$simulator" lumostrel "bytes=$small_image_bytes valid=true version=1.1.0"
}

check_orb26_update() {
  start_simulator orb26 orb26:1.0.9 --auto-bootloader 3 || return 1
  local simulator=$simulator_pid
  run_update update-orb26 0 --yes --device "Orb 26" --package "$orb26_package" || return 1
  local state
  for state in "DSP download" "Panel erase" "Panel download" "Download complete"; do
    if ! grep -q -x -F "state: $state" "$logs_dir/update-orb26.log"; then
      show_log "$logs_dir/update-orb26.log"
      reason "the Orb 26 update never entered \"$state\""
      return 1
    fi
  done
  stop_simulator "$simulator" orb26 "bytes=$small_image_bytes valid=true version=1.1.0"
}

# start_display LOGNAME N: Xvfb on display :N for the app's window; waits for its socket.
start_display() {
  start_background "$1" Xvfb ":$2" -screen 0 1280x800x24 -nolisten tcp
  local waited=0
  until [ -S "/tmp/.X11-unix/X$2" ] || [ $waited -ge 300 ]; do
    sleep 0.1
    waited=$((waited + 1))
  done
  [ -S "/tmp/.X11-unix/X$2" ] || { reason "Xvfb did not start"; return 1; }
}

# quit_app_after_success PID LOG OUTPUT_LOGNAME COPY_LOGNAME: once the app's log shows the final
# state, quits it (quitting prints the last instructions on standard output), keeps its log and
# passes only when it ended with "Update completed successfully."
quit_app_after_success() {
  local app_pid="$1" log="$2" output="$logs_dir/$3.log"
  sleep 3 # the final state's instructions follow its entry
  stop_process "$app_pid" INT 60 || { reason "the app did not quit on SIGINT"; return 1; }
  cp "$log" "$logs_dir/$4.log"
  grep -F "State '" "$log" | sed 's/^/  | /'
  grep -F 'Instructions:' "$output" | sed 's/^/  | /'
  if ! grep -q -x -F 'Instructions: Update completed successfully.' "$output"; then
    reason "the app did not end with \"Update completed successfully.\""
    return 1
  fi
}

# The shipped app with no switches: first 60 s with no instrument (its CPU share while it polls),
# then an instrument appears and the whole delivered package goes over at the real pace.
check_app_update() {
  start_display xvfb 7 || return 1

  follow_client_starts
  local mark
  mark=$(client_starts_mark)
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
    "% of one core (guest share / slowdown; rough, the host's load changes)"

  start_simulator app-quillbox quillbox:2.1.0 --auto-bootloader 3 || return 1
  local simulator=$simulator_pid
  if ! wait_for_line "$log" "State '(Download complete|Update cancelled|Error, [^']*)'" 600 "$app_pid"; then
    show_log "$log"
    reason "the app did not end the update in 600 s"
    return 1
  fi
  clients_started_since "$mark" sequencer_clients_app "the app from its start to the end of the update (60 s idle, then the update)"
  quit_app_after_success "$app_pid" "$log" app app-update || return 1
  stop_simulator "$simulator" app-quillbox "bytes=359267 valid=true version=2.2.1" || return 1
  pacing_figure pacing_ratio_app "$logs_dir/app-quillbox.log" 359267 0.082
}

# vfu update --record against a simulated Quillbox, then that recording as the instrument
# (vfu simulate --replay) against vfu update again: the updater must say the same, message for
# message, through the real sequencer.
check_record_and_replay() {
  local recording="$logs_dir/recorded-update.jsonl"
  start_simulator recorded quillbox:2.1.0 --auto-bootloader 3 || return 1
  local simulator=$simulator_pid
  run_update update-recorded 0 --yes --package "$quillbox_package" --record "$recording" || return 1
  stop_simulator "$simulator" recorded "bytes=$small_image_bytes valid=true version=2.2.1" || return 1
  figure recording_size "$(wc -c < "$recording")" "bytes ($(wc -l < "$recording") lines, an image of $small_image_bytes bytes)"

  start_background replayed "$vfu" simulate --replay "$recording"
  local replayer=$last_pid
  if ! wait_for_line "$logs_dir/replayed.log" '^ports: created' 60 "$replayer"; then
    show_log "$logs_dir/replayed.log"
    reason "the replay did not create its ports"
    return 1
  fi
  local started
  started=$(now_ms)
  if ! run_update update-replayed 0 --yes --package "$quillbox_package"; then
    stop_process "$replayer" TERM 30
    show_log "$logs_dir/replayed.log"
    return 1
  fi
  figure replayed_update_seconds "$((($(now_ms) - started) / 1000))" "s (vfu update against vfu simulate --replay)"
  if ! stop_process "$replayer" TERM 30; then
    reason "the replay did not stop on SIGTERM"
    return 1
  fi
  if [ "$stopped_status" -ne 0 ] || ! grep -q -E '^replay: matched [0-9]+ lines$' "$logs_dir/replayed.log"; then
    show_log "$logs_dir/replayed.log"
    reason "the replay ended with exit $stopped_status: $(grep '^replay:' "$logs_dir/replayed.log" | tail -n 1)"
    return 1
  fi
  grep '^replay:' "$logs_dir/replayed.log" | sed 's/^/  /'
}

# The shipped app with no switches updates a simulated Quillbox behind a kernel port (snd-virmidi's
# "VirMIDI N-0", served through its rawmidi device hw:N,0 by `vfu simulate --rawmidi`): the path of a
# USB instrument, where the kernel passes each sequencer event through a rawmidi buffer of one page
# and silently cuts what does not fit. The port stays listed across the instrument's restarts. The
# whole delivered package must arrive byte for byte.
check_kernel_port_app_update() {
  local card
  card=$(awk '/VirMIDI/ { print $1; exit }' /proc/asound/cards)
  [ -n "$card" ] || { reason "no VirMIDI card in /proc/asound/cards"; return 1; }
  start_simulator kernel-quillbox quillbox:2.1.0 --auto-bootloader 3 --image-size 359267 --rawmidi "hw:$card,0" || return 1
  local simulator=$simulator_pid

  start_display xvfb-kernel 8 || return 1

  # A home of its own, so that another check's app log cannot answer for this one.
  local home=/tmp/home-kernel-port
  mkdir -p "$home"
  HOME="$home" DISPLAY=:8 start_background kernel-app "$app"
  local app_pid=$last_pid
  local log="$home/.config/Vorn Firmware Updater/vfu-quillbox.log"
  if ! wait_for_line "$log" "State '(Download complete|Update cancelled|Error, [^']*)'" 900 "$app_pid"; then
    show_log "$log"
    reason "the app did not end the update through the kernel port in 900 s"
    return 1
  fi
  quit_app_after_success "$app_pid" "$log" kernel-app kernel-app-update || return 1
  stop_simulator "$simulator" kernel-quillbox "bytes=359267 valid=true version=2.2.1" || return 1
  echo "  transfer: $(summary_field "$logs_dir/kernel-quillbox.log" transferPackets) pieces read," \
    "$(summary_field "$logs_dir/kernel-quillbox.log" transferMilliseconds) ms from the first to the last"
}

# The updater's sequencer client against test clients standing for instruments and other programs,
# and its port lists against JUCE's: the tests of vfu_midi_tests that need a real sequencer (the
# AlsaSequencerLive ones skip without one).
check_sequencer_connection() {
  local tests
  tests="$(dirname "$vfu")/../../../tests/vfu_midi_tests"
  [ -x "$tests" ] || { reason "$tests is not built (scripts/build.sh --target vfu_midi_tests)"; return 1; }
  local log="$logs_dir/sequencer-connection.log"
  if ! timeout 120 "$tests" --gtest_filter='AlsaSequencerLive.*:JuceMidiLayer.*' > "$log" 2>&1; then
    show_log "$log" 40
    reason "the sequencer tests failed"
    return 1
  fi
  if grep -q -F '[  SKIPPED ]' "$log"; then
    show_log "$log"
    reason "the sequencer tests were skipped"
    return 1
  fi
  grep -E '^\[ +(OK|PASSED) +\]' "$log" | sed 's/^/  /'
}

# Another program listening to the instrument (aseqdump subscribed to its output port): before the
# erase `vfu update` logs the program and prints the warning, and the update still goes through. The
# instrument starts in its bootloader, so the subscription stands when the erase goes out (a restart
# re-creates the ports and drops subscriptions).
check_other_program_warning() {
  start_simulator listened quillbox:bootloader || return 1
  local simulator=$simulator_pid
  # The port by its address: the simulator's client carries the program's name, its port the model's.
  local address
  address=$(aseqdump -l | awk '$NF == "Quillbox" { print $1; exit }')
  [ -n "$address" ] || { reason "the instrument's port is not listed by aseqdump -l"; return 1; }
  start_background listener stdbuf -oL aseqdump -p "$address"
  # aseqdump prints this once it has connected.
  if ! wait_for_line "$logs_dir/listener.log" "Waiting for data" 30 "$last_pid"; then
    show_log "$logs_dir/listener.log"
    reason "aseqdump did not connect to the instrument"
    return 1
  fi
  run_update update-listened 0 --yes --package "$quillbox_package" || return 1
  local log="$logs_dir/update-listened.log"
  grep -E "Other programs are connected|^warning: " "$log" | sed 's/^/  | /'
  if ! grep -q -F "Other programs are connected to the instrument's MIDI ports: aseqdump" "$log" ||
    ! grep -q -E "^warning: Warning: other programs are connected to the instrument \(aseqdump\)" "$log"; then
    show_log "$log"
    reason "vfu update did not log and print aseqdump as connected to the instrument before the erase"
    return 1
  fi
  stop_simulator "$simulator" listened "bytes=$small_image_bytes valid=true version=2.2.1" || return 1
}

all_checks=(ports_and_duplicates twins_restarting quillbox_update connection_break killed_mid_transfer
  update_killed_mid_image update_interrupted_twice lumostrel_update
  orb26_update app_update record_and_replay kernel_port_app_update sequencer_connection
  other_program_warning)
selected=("$@")
[ ${#selected[@]} -gt 0 ] || selected=("${all_checks[@]}")

for check in "${selected[@]}"; do
  run_check "$check" "check_$check"
done

echo "==== $((${#selected[@]} - failures)) of ${#selected[@]} checks passed"
[ $failures -eq 0 ]
