#!/usr/bin/env bash
# Builds the updater and starts it.
#
#   scripts/run.sh [demo] [APP ARGUMENTS...]   the demonstration (the default): a simulated Quillbox
#                                              and a simulated user, no instrument needed
#   scripts/run.sh app [APP ARGUMENTS...]      the updater on the real MIDI ports
#
# Without a display the window runs under Xvfb; the demonstration then prints the state trace and
# the final instructions, saves a screenshot of the window in build/artefacts/ and exits when the
# update has ended. Environment: VFU_BUILD_DIR (default build), VFU_SIMULATE (the simulated
# instrument, default quillbox:2.1.0), VFU_DEMO_SPEED (clock speed-up; default 1 with a display,
# 4 without one).
set -euo pipefail
cd "$(dirname "$0")/.."

mode=demo
case "${1:-}" in
  demo) shift ;;
  app) mode=app; shift ;;
esac

bash scripts/install-deps.sh
# The app and the build steps it needs (the delivered package, the icon); not the test suites.
bash scripts/build.sh --target VornFirmwareUpdater

build_dir="${VFU_BUILD_DIR:-build}"
app="$build_dir/src/VornFirmwareUpdater_artefacts/RelWithDebInfo/QuillboxFirmwareUpdater"
[ -x "$app" ] || app="$(find "$build_dir/src/VornFirmwareUpdater_artefacts" -type f -name QuillboxFirmwareUpdater | head -n 1)"

# ALSA reports the missing sequencer device of machines without sound hardware; that is no news.
quiet_alsa() { grep -v -e '^ALSA lib' -e 'snd_seq' >&2 || true; }

if [ "$mode" = app ]; then
  if [ -z "${DISPLAY:-}" ]; then
    args=("$@")
    [ ${#args[@]} -gt 0 ] || args=(--quit-after 5)
    echo "No display: running the window under Xvfb (${args[*]})"
    exec xvfb-run -a -s "-screen 0 1280x800x24" "$app" "${args[@]}"
  fi
  exec "$app" "$@"
fi

spec="${VFU_SIMULATE:-quillbox:2.1.0}"

if [ -n "${DISPLAY:-}" ]; then
  echo "Demonstration of an update of a simulated ${spec%%:*}; close the window to end it."
  "$app" "--simulate=$spec" --speed "${VFU_DEMO_SPEED:-1}" "$@" 2> >(quiet_alsa)
  exit $?
fi

artefacts="$build_dir/artefacts"
mkdir -p "$artefacts"
screenshot="$(cd "$artefacts" && pwd)/demonstration.png"
speed="${VFU_DEMO_SPEED:-4}"

echo "No display: running the demonstration under Xvfb (simulated $spec, clock $speed times faster)"
set +e
xvfb-run -a -s "-screen 0 1280x800x24" \
  "$app" "--simulate=$spec" --speed "$speed" --exit-when-done --quit-after 900 --screenshot "$screenshot" "$@" \
  2> >(quiet_alsa)
status=$?
set -e
echo "The window at the end: $screenshot"
exit $status
