#!/usr/bin/env bash
# Installs what is missing, builds, and starts the updater. Without a display the window runs
# under Xvfb. Arguments go to the app (e.g. --quit-after SECONDS).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
bash scripts/build.sh

build_dir="${VFU_BUILD_DIR:-build}"
app="$build_dir/src/VornFirmwareUpdater_artefacts/RelWithDebInfo/QuillboxFirmwareUpdater"
[ -x "$app" ] || app="$(find "$build_dir/src/VornFirmwareUpdater_artefacts" -type f -name QuillboxFirmwareUpdater | head -n 1)"

args=("$@")
if [ -z "${DISPLAY:-}" ]; then
  [ ${#args[@]} -gt 0 ] || args=(--quit-after 5)
  echo "No display: running the window under Xvfb (${args[*]})"
  exec xvfb-run -a -s "-screen 0 1280x800x24" "$app" "${args[@]}"
fi
exec "$app" "${args[@]}"
