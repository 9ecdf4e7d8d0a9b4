#!/usr/bin/env bash
# Window tests: runs the real app on a private Xvfb display and drives it with xdotool.
# Usage: window_test.sh CASE APP ARTEFACT_FOLDER
# Exit code 77 means skipped (no Xvfb or xdotool on this machine).
set -uo pipefail

case_name="$1"
app="$2"
artefacts="$3"

for tool in Xvfb xdotool xwininfo import; do
  command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: $tool is not installed"; exit 77; }
done

work="$(mktemp -d "${TMPDIR:-/tmp}/vfu-window-test.XXXXXX")"
mkdir -p "$work/home" "$artefacts"
export HOME="$work/home"
unset XDG_CONFIG_HOME XDG_DATA_HOME
log_file="$HOME/.config/Vorn Firmware Updater/vfu-quillbox.log"
app_pids=()
xvfb_pid=""

cleanup() {
  # During an update the app holds SIGTERM back until the verdict: a copy still running after
  # 3 s is killed.
  for pid in "${app_pids[@]}"; do
    kill "$pid" 2>/dev/null || continue
    for _ in $(seq 1 30); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  shot "failure"
  echo "--- app output"; cat "$work"/app*.out 2>/dev/null | grep -v -e '^ALSA' -e 'snd_seq' | tail -n 40
  echo "--- log"; tail -n 40 "$log_file" 2>/dev/null | tr -d '\r'
  exit 1
}

# A display of our own: the first number without a lock file.
start_display() {
  local n
  for n in $(seq 91 160); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    # -noreset: atoms that a test creates (create_close_atoms) outlive the client that made them.
    Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp -noreset >"$work/xvfb.out" 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n"
    for _ in $(seq 1 100); do
      xwininfo -root >/dev/null 2>&1 && return 0
      kill -0 "$xvfb_pid" 2>/dev/null || break
      sleep 0.1
    done
    xvfb_pid=""
  done
  echo "SKIP: no Xvfb display could be started"; exit 77
}

# The app's single-instance lock is shared by every copy on the computer, whoever started it and
# on whichever display; the copies of this test take a lock of their own instead, so that a user's
# copy and this run never make each other quit. (A later --instance-lock in a call wins.)
instance_lock="vfu-window-test-$$"

# What the app says on standard error when it quits because another copy holds its lock.
refusal_text="another instance is running"

# Starts the app in the background; its output goes to $work/appN.out.
start_app() {
  local index=${#app_pids[@]}
  "$app" --instance-lock "$instance_lock" "$@" >"$work/app$index.out" 2>&1 &
  app_pids+=($!)
}

# Fails with the app's own words when the copy started last quit because another one runs.
fail_if_refused() {
  local refusal
  refusal="$(grep -h -F -- "$refusal_text" "$work/app$(( ${#app_pids[@]} - 1 )).out" 2>/dev/null | head -n 1)"
  [ -z "$refusal" ] || fail "$refusal"
}

# Waits until a condition (shell text, evaluated afresh each time) holds; time-out in tenths of a second.
wait_for() {
  local tenths="$1"; shift
  for _ in $(seq 1 "$tenths"); do
    eval "$*" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}

log_has() { grep -qF -- "$1" "$log_file" 2>/dev/null; }
log_count() { grep -cF -- "$1" "$log_file" 2>/dev/null; }

first_state="State 'Idle, no device' (from State 'none')"
bootloader_state="State 'Idle, bootloader detected'"
erase_state="State 'Firmware erase' (from State 'Idle, bootloader detected')"

# The main window: the visible window named after the app (the popup menus have other names).
main_window() { xdotool search --onlyvisible --name '^Quillbox Firmware Updater$' 2>/dev/null | head -n 1; }
dialog_window() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1; }

window_size() { xwininfo -id "$1" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}'; }

wait_for_size() {
  local wid="$1" expected="$2"
  wait_for 50 '[ "$(window_size "$wid")" = "$expected" ]' || fail "window size is $(window_size "$wid"), expected $expected"
}

# With JUCE's non-shared-memory drawing, finished repaints can wait in Xlib's output buffer until
# the next input event; a small pointer movement makes the app flush before the picture is taken.
shot() {
  xdotool mousemove_relative -- 1 1 mousemove_relative -- -1 -1 >/dev/null 2>&1
  sleep 0.3
  import -window root "$artefacts/$case_name-$1.png" >/dev/null 2>&1 || true
}

click_in() {
  local wid="$1" x="$2" y="$3"
  xdotool mousemove --window "$wid" "$x" "$y" click 1
}

start_main_window() {
  start_app "$@"
  local pid=${app_pids[-1]}
  wait_for 200 '[ -n "$(main_window)" ] || ! kill -0 '"$pid"
  if [ -z "$(main_window)" ]; then
    fail_if_refused
    fail "the main window did not appear"
  fi
  wid="$(main_window)"
  wait_for 200 'log_has "$first_state"' || fail "the engine did not start"
}

# Opens Preferences from the menu bar: the menu, then its second item (below the About item and
# the separator), chosen with the keyboard.
open_preferences() {
  click_in "$wid" 40 12
  sleep 0.7
  xdotool key Down Down Return
  wait_for 50 '[ -n "$(dialog_window Preferences)" ]' || fail "the Preferences window did not open"
  sleep 0.3
  pwid="$(dialog_window Preferences)"
  # The dialog window draws its own border and title bar around the 320 x 96 content.
  local size w h
  size="$(window_size "$pwid")"; w="${size%x*}"; h="${size#*x}"
  border=$(( (w - 320) / 2 ))
  top=$(( h - 96 - border ))
  [ "$border" -ge 0 ] && [ "$top" -ge 0 ] && [ $(( w - 2 * border )) = 320 ] || fail "the Preferences window is $size"
}

# In the dialog's content: toggle at 100,16 120x24, Cancel 58,56 96x24, OK 168,56 96x24.
click_content() { click_in "$pwid" $(( border + $1 )) $(( top + $2 )); }
tick_toggle() { click_content 110 28; sleep 0.3; }
press_ok() { click_content 216 68; }
press_cancel() { click_content 106 68; }
wait_dialog_closed() { wait_for 50 '[ -z "$(dialog_window Preferences)" ]' || fail "the Preferences window stayed open"; }

# What a window manager would give the app: without WM_PROTOCOLS and WM_DELETE_WINDOW on the
# display when the app opens it, JUCE's windows take no close message. Call before start_app.
x_close="$(dirname "$0")/x_close.py"
create_close_atoms() {
  /usr/bin/python3 -c 'import Xlib' 2>/dev/null || { echo "SKIP: python3-xlib is not installed"; exit 77; }
  /usr/bin/python3 "$x_close" atoms || fail "the close atoms could not be created"
}
# The close message a title-bar close button sends.
press_close_button() { /usr/bin/python3 "$x_close" close "$1" || fail "the close message could not be sent"; }

question_title="Update in progress"

# Keys to the open question: the pointer over it gives it the keyboard (no window manager), and
# the pauses let a loaded machine map and focus it first.
keys_to_question() {
  local qwid
  qwid="$(dialog_window "$question_title")"
  [ -n "$qwid" ] || fail "no question to answer"
  sleep 1
  xdotool mousemove --window "$qwid" 20 20
  sleep 0.3
  for key in "$@"; do xdotool key "$key"; sleep 0.3; done
}
download_state="State 'Firmware download'"
exit_status() { wait "$1"; echo $?; }

# The app has ended with status 0 and its log ends with the shutdown line.
expect_clean_end() {
  local pid="$1" rc
  wait_for 150 "! kill -0 $pid" || fail "the app did not end within 15 s"
  rc="$(exit_status "$pid")"
  [ "$rc" = "0" ] || fail "the app ended with $rc"
  last_line="$(tail -n 1 "$log_file" | tr -d '\r')"
  [[ "$last_line" == *" - shutdown" ]] || fail "last log line: $last_line"
}

start_display

case "$case_name" in
  title_and_size)
    start_main_window --simulate=quillbox:bootloader --speed 10
    [ "$(xdotool getwindowname "$wid")" = "Quillbox Firmware Updater" ] || fail "title is $(xdotool getwindowname "$wid")"
    wait_for_size "$wid" 640x344
    shot normal
    ;;

  preferences_ok_grows_the_window)
    # The bootloader state rests until Install is clicked, so the toggle stays enabled.
    start_main_window --simulate=quillbox:bootloader --speed 10
    wait_for 300 'log_has "$bootloader_state"' || fail "the bootloader was not detected"
    wait_for_size "$wid" 640x344
    open_preferences
    tick_toggle
    shot preferences
    press_ok
    wait_dialog_closed
    wait_for_size "$wid" 640x432
    wait_for 100 '[ "$(log_count "$first_state")" -ge 2 ]' \
      || fail "the engine was not restarted after Advanced Mode was switched on"
    wait_for 300 '[ "$(log_count "$bootloader_state")" -ge 2 ]' || fail "the restarted engine did not find the bootloader"
    sleep 1
    shot advanced
    ;;

  preferences_cancel_and_escape_leave_the_mode)
    start_main_window --simulate=quillbox:bootloader --speed 10
    wait_for 300 'log_has "$bootloader_state"' || fail "the bootloader was not detected"
    wait_for_size "$wid" 640x344
    open_preferences
    tick_toggle
    press_cancel
    wait_dialog_closed
    sleep 0.5
    wait_for_size "$wid" 640x344
    open_preferences
    tick_toggle
    xdotool mousemove --window "$pwid" $(( border + 300 )) $(( top + 40 )) key Escape
    wait_dialog_closed
    sleep 0.5
    wait_for_size "$wid" 640x344
    ;;

  about_box_opens_from_the_menu)
    start_main_window --simulate=quillbox:bootloader --speed 10
    click_in "$wid" 40 12
    sleep 0.7
    xdotool key Down Return
    wait_for 50 '[ -n "$(dialog_window About)" ]' || fail "the About window did not open"
    awid="$(dialog_window About)"
    size="$(window_size "$awid")"
    [ "${size%x*}" -ge 320 ] && [ "${size#*x}" -ge 152 ] || fail "the About window is $size"
    shot about
    xdotool mousemove --window "$awid" 160 100 key Escape
    wait_for 50 '[ -z "$(dialog_window About)" ]' || fail "escape did not close the About window"
    wait_for_size "$wid" 640x344
    ;;

  install_click_starts_the_erase)
    start_main_window --simulate=quillbox:bootloader --speed 10
    wait_for 300 'log_has "$bootloader_state"' || fail "the bootloader was not detected"
    sleep 0.5
    shot bootloader
    log_has "State 'Firmware erase'" && fail "the erase started before the click"
    # InstallCancel at 168,248 96x24 in the panel, below the 24-pixel menu bar.
    click_in "$wid" 216 284
    wait_for 100 'log_has "$erase_state"' || fail "the click did not start the erase"
    shot erase
    ;;

  second_start_leaves_one_window)
    start_main_window --simulate --speed 10
    start_app --simulate --speed 10
    second=${app_pids[1]}
    wait_for 150 "! kill -0 $second" || fail "the second start did not end"
    wait "$second"; rc=$?
    [ "$rc" = "0" ] || fail "the second start ended with $rc"
    grep -qF -- "$refusal_text" "$work/app1.out" || fail "the second start did not say why it quit"
    log_count "Log started" | grep -qx 1 || fail "the second start opened the log"
    count="$(xdotool search --onlyvisible --name '^Quillbox Firmware Updater$' | wc -l)"
    [ "$count" = "1" ] || fail "$count windows are open"
    kill -0 "${app_pids[0]}" 2>/dev/null || fail "the first instance ended"
    ;;

  copies_with_other_instance_locks_start_side_by_side)
    # What a user's copy and a test run are to each other: copies with different locks.
    start_main_window --simulate --speed 10
    start_app --simulate --speed 10 --instance-lock "$instance_lock-other"
    wait_for 200 '[ "$(xdotool search --onlyvisible --name "^Quillbox Firmware Updater\$" | wc -l)" = 2 ]' || {
      fail_if_refused
      fail "the copy with another lock showed no window"
    }
    kill -0 "${app_pids[0]}" 2>/dev/null || fail "the first copy ended"
    ;;

  demonstration_update_completes)
    start_app --simulate --speed 20 --exit-when-done --screenshot "$artefacts/$case_name-window.png"
    pid=${app_pids[0]}
    wait_for 1500 "! kill -0 $pid" || fail "the demonstration did not end"
    fail_if_refused
    wait "$pid"; rc=$?
    [ "$rc" = "0" ] || fail "the app ended with $rc"
    out="$work/app0.out"
    grep -qx "Instructions: Update completed successfully." "$out" || fail "the update did not succeed"
    [ -s "$artefacts/$case_name-window.png" ] || fail "no screenshot was saved"
    first_state="$(tr -d '\r' <"$log_file" | grep -o "State '.*' (from State '.*')" | head -n 1)"
    [ "$first_state" = "State 'Idle, no device' (from State 'none')" ] || fail "first state line: $first_state"
    # The framework's file logger ends its lines with CR LF.
    last_line="$(tail -n 1 "$log_file" | tr -d '\r')"
    [[ "$last_line" == *" - shutdown" ]] || fail "last log line: $last_line"
    log_has "State 'Download complete'" || fail "no Download complete"
    app_pids=()
    ;;

  quitting_during_a_transfer_ends_cleanly)
    # Termination signals during the firmware download are logged and carried out once the
    # update's verdict is in; the app then ends as cleanly as at any other time.
    start_main_window --simulate --speed 10
    wait_for 600 'log_has "$download_state"' || fail "the transfer did not start"
    sleep 1
    shot transfer
    pid=${app_pids[0]}
    kill -TERM "$pid"
    kill -INT "$pid"
    wait_for 50 'log_has "SIGINT received while the firmware is being installed"' || fail "the signals were not logged"
    log_has "SIGTERM received while the firmware is being installed" || fail "SIGTERM was not logged"
    kill -0 "$pid" 2>/dev/null || fail "the app ended during the download"
    log_has "State 'Download complete'" && fail "the update ended before the test could look"
    wait_for 1200 "! kill -0 $pid" || fail "the app did not end after the update"
    log_has "State 'Download complete'" || fail "the app quit before the verdict"
    log_has "The update has ended: quitting" || fail "the deferred quit was not logged"
    expect_clean_end "$pid"
    app_pids=()
    ;;

  termination_signals_while_idle_quit_cleanly)
    # Outside an update SIGTERM and SIGHUP end the app as SIGINT does, through its shutdown.
    for signal in TERM HUP; do
      rm -f "$log_file"
      app_pids=()
      start_main_window --simulate=quillbox:bootloader --speed 10
      kill -"$signal" "${app_pids[0]}"
      expect_clean_end "${app_pids[0]}"
      log_has "SIG$signal received: quitting" || fail "SIG$signal was not logged"
    done
    app_pids=()
    ;;

  closing_during_the_download_asks_first)
    create_close_atoms
    start_main_window --simulate --speed 10
    pid=${app_pids[0]}
    wait_for 600 'log_has "$download_state"' || fail "the transfer did not start"
    sleep 1
    press_close_button "$wid"
    wait_for 50 '[ -n "$(dialog_window "$question_title")" ]' || fail "closing did not ask"
    shot question
    # Return is "Keep updating": the question goes, the download goes on.
    keys_to_question Return
    wait_for 50 '[ -z "$(dialog_window "$question_title")" ]' || fail "Keep updating left the question open"
    kill -0 "$pid" 2>/dev/null || fail "Keep updating quit the app"
    # Asked again and left open: the verdict takes the question away and stays on screen.
    press_close_button "$wid"
    wait_for 50 '[ -n "$(dialog_window "$question_title")" ]' || fail "closing again did not ask"
    wait_for 1200 'log_has "State '"'"'Download complete'"'"'"' || fail "the update did not end"
    wait_for 50 '[ -z "$(dialog_window "$question_title")" ]' || fail "the question outlived the update"
    log_has "Update interrupted" && fail "the update was logged as interrupted"
    shot verdict
    # After the update the close button quits at once.
    press_close_button "$wid"
    expect_clean_end "$pid"
    grep -qx "Instructions: Update completed successfully." "$work/app0.out" || fail "the outcome was not on screen"
    app_pids=()
    ;;

  quit_anyway_during_the_download_quits_at_once)
    create_close_atoms
    start_main_window --simulate --speed 10
    pid=${app_pids[0]}
    wait_for 600 'log_has "$download_state"' || fail "the transfer did not start"
    press_close_button "$wid"
    wait_for 50 '[ -n "$(dialog_window "$question_title")" ]' || fail "closing did not ask"
    # Tab moves from "Keep updating" to "Quit anyway".
    keys_to_question Tab Return
    expect_clean_end "$pid"
    log_has "Update interrupted: quit while the firmware was being installed" || fail "the interruption was not logged"
    log_has "State 'Download complete'" && fail "the app waited for the verdict"
    app_pids=()
    ;;

  tab_and_space_press_install)
    # Normal mode: Install is the one stop (the selectors below the panel are out of view), so a
    # second Tab comes back to it and Space presses it.
    start_main_window --simulate=quillbox:bootloader --speed 10
    wait_for 300 'log_has "$bootloader_state"' || fail "the bootloader was not detected"
    xdotool mousemove --window "$wid" 600 200
    sleep 0.5
    xdotool key Tab
    sleep 0.5
    shot focused-install
    xdotool key Tab space
    wait_for 100 'log_has "$erase_state"' || fail "Tab, Tab and Space did not press Install"
    ;;

  tab_order_in_preferences_and_advanced_mode)
    start_main_window --simulate=quillbox:bootloader --speed 10
    wait_for 300 'log_has "$bootloader_state"' || fail "the bootloader was not detected"
    open_preferences
    # Cancel, OK, then the toggle: Space ticks it, Shift-Tab goes back to OK, Space presses it.
    xdotool key Tab Tab Tab space
    sleep 0.3
    xdotool key shift+Tab space
    wait_dialog_closed
    wait_for_size "$wid" 640x432
    wait_for 300 '[ "$(log_count "$bootloader_state")" -ge 2 ]' || fail "the restarted engine did not find the bootloader"
    # A click on the panel's background (between the logo and the title) gives the window the focus
    # and no control.
    click_in "$wid" 300 40
    sleep 0.5
    # Install, MIDI Inputs: Space on a selector presses nothing.
    xdotool key Tab Tab space
    sleep 1.5
    log_has "$erase_state" && fail "the second Tab did not reach the MIDI Inputs selector"
    # MIDI Outputs, Firmware versions, and round to Install.
    xdotool key Tab Tab Tab space
    wait_for 100 'log_has "$erase_state"' || fail "the fifth Tab did not come back to Install"
    ;;

  window_keeps_the_panel_size)
    start_main_window --simulate=quillbox:bootloader --speed 10
    wait_for_size "$wid" 640x344
    xdotool windowsize "$wid" 420 260
    sleep 1
    wait_for_size "$wid" 640x344
    shot smallest
    xdotool windowsize "$wid" 1000 700
    sleep 1
    wait_for_size "$wid" 640x344
    ;;

  startup_failures_quit_with_an_error)
    # A copy of the app beside a definition document: one whose model wants packages that are
    # nowhere, then one that does not parse. Each shows its box; Return closes it; the exit code is 1.
    mkdir -p "$work/bin"
    cp "$app" "$work/bin/app"
    definitions="$(dirname "$0")/../data/definitions/two-devices.xml"
    # Its machine sends an image that the delivered package does not hold.
    sed -e 's/quillbox-fw-/nothing-fw-/' \
        -e 's|<Print text="found"/>|<SendSysEx messageKind="nothing-fw-$(version)" packetSize="256" waitTime="0.082"/>|' \
        "$definitions" >"$work/bin/StateMachines.xml"
    for title in "Error..." "Bad XML Document"; do
      "$work/bin/app" --instance-lock "$instance_lock" >"$work/app-copy.out" 2>&1 &
      pid=$!
      app_pids=("$pid")
      wait_for 200 '[ -n "$(dialog_window "$title")" ]' || fail "no \"$title\" box"
      shot "$(echo "$title" | tr -dc 'A-Za-z')"
      xdotool mousemove --window "$(dialog_window "$title")" 20 20 key Return
      wait_for 100 "! kill -0 $pid" || fail "the app did not quit after the \"$title\" box"
      wait "$pid"; rc=$?
      [ "$rc" = "1" ] || fail "the app ended with $rc after the \"$title\" box"
      app_pids=()
      printf '<FirmwareUpdaters><FirmwareUpdater' >"$work/bin/StateMachines.xml"
    done
    log_has "No firmware file was found: looked for nothing-fw-VERSION.vfw in $work/bin/app (the program's own file), $work/bin, " \
      || fail "the log does not say where the program looked"
    ;;

  *)
    echo "unknown case $case_name"; exit 2 ;;
esac

echo "PASS: $case_name"
