#!/usr/bin/env bash
# Builds the Windows programs (scripts/build-windows.sh) and runs them under Wine on a private Xvfb
# display: every test program, then the demonstration update in the real window to its end, with
# a screenshot of the screen that must show the window. Exits non-zero on any failure.
# Reports and screenshots go to build-windows/artefacts/.
set -euo pipefail
cd "$(dirname "$0")/.."

# Wine's Direct3D (wined3d, behind the DXGI calls JUCE makes when a window opens) renders with
# OpenGL: without Mesa's GLX on the display CreateDXGIFactory fails and JUCE 7.0.5, which does not
# check it, crashes in VBlankDispatcher. The Vulkan loader only quiets Wine's Vulkan start-up.
bash scripts/install-deps.sh wine wine64 libgl1-mesa-dri libglx-mesa0 libvulkan1
bash scripts/build-windows.sh

build_dir="$(realpath "${VFU_WINDOWS_BUILD_DIR:-build-windows}")"
app_dir="$build_dir/app"
artefacts="$build_dir/artefacts"
rm -rf "$artefacts"
mkdir -p "$artefacts"

export WINEPREFIX="${WINEPREFIX:-$build_dir/wine}" WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

# One private X display for the whole run; it and the Wine server go when the script ends.
display_file="$(mktemp)"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3> "$display_file" > /dev/null 2>&1 &
xvfb_pid=$!
cleanup() {
  wineserver -k > /dev/null 2>&1 || true
  kill "$xvfb_pid" 2> /dev/null || true
  rm -f "$display_file"
}
trap cleanup EXIT
for _ in $(seq 1 100); do
  [ -s "$display_file" ] && break
  sleep 0.1
done
export DISPLAY=":$(head -n 1 "$display_file")"

failures=0

echo "== Test programs under Wine"
while IFS= read -r program; do
  name="$(basename "$program" .exe)"
  report="$artefacts/$name.txt"
  start=$SECONDS
  set +e
  timeout 900 wine "$program" --gtest_color=no < /dev/null 2>&1 | tr -d '\r' > "$report"
  status=${PIPESTATUS[0]}
  set -e
  summary="$(grep -E '^\[  PASSED  \]|^\[  FAILED  \] [0-9]+ test' "$report" | tr '\n' ' ')"
  echo "$name: exit $status, $((SECONDS - start)) s: $summary"
  if [ "$status" -ne 0 ]; then
    grep -E '^\[  FAILED  \]' "$report" || tail -n 20 "$report"
    # Whole updates on a fast test clock are sensitive to Wine's slower steps on a loaded machine:
    # the tests that failed get one more run of their own, and both outcomes are printed. A program
    # that failed without naming a test (a crash, a time-out) is not retried.
    failed_tests="$(sed -n 's/^\[  FAILED  \] \([A-Za-z0-9_]*\.[A-Za-z0-9_]*\) ([0-9]* ms)$/\1/p' "$report" | sort -u | paste -sd ':')"
    retried=1
    if [ -n "$failed_tests" ]; then
      set +e
      timeout 900 wine "$program" --gtest_color=no --gtest_filter="$failed_tests" < /dev/null 2>&1 | tr -d '\r' > "$report.retry"
      retried=${PIPESTATUS[0]}
      set -e
    fi
    if [ "$retried" -eq 0 ]; then
      echo "  passed when run again on their own: ${failed_tests//:/, } ($report.retry)"
    else
      failures=$((failures + 1))
    fi
  fi
  # Tests that cannot apply on Windows say why; list them so that nothing is skipped unseen.
  awk '/^\[ RUN      \]/ { name = $4; reason = ""; next }
       /^\[  SKIPPED \] .*\([0-9]+ ms\)$/ { print "  skipped " name ": " reason; next }
       /^\[/ || /: Skipped$/ || /^$/ { next }
       { reason = reason (reason == "" ? "" : " ") $0 }' "$report"
done < <(find "$app_dir/tests" -name 'vfu_*_tests.exe' | sort)

echo "== Collection on the delivered program"
program="$(find "$app_dir/src/VornFirmwareUpdater_artefacts" -name QuillboxFirmwareUpdater.exe | head -n 1)"
vfu="$(find "$app_dir/tools/vfu_artefacts" -name vfu.exe | head -n 1)"
set +e
versions="$(wine "$vfu" packages --program "$program" < /dev/null 2>&1 | tr -d '\r')"
set -e
echo "$versions" > "$artefacts/collection.txt"
echo "$versions" | head -n 5

echo "== Demonstration under Wine"
output="$artefacts/demonstration.txt"
screen="$artefacts/demonstration-screen.png"
set +e
timeout 600 wine "$program" --simulate --speed 4 --exit-when-done --quit-after 500 \
  --screenshot "$artefacts/demonstration-window.png" < /dev/null > "$output" 2>&1 &
app_pid=$!
set -e
# The screen is taken once the update has ended and before the window closes (3 s later).
for _ in $(seq 1 3000); do
  if grep -q "^State 'Download complete'" "$output" 2> /dev/null; then
    import -display "$DISPLAY" -window root "$screen" || true
    break
  fi
  kill -0 "$app_pid" 2> /dev/null || break
  sleep 0.2
done
set +e
wait "$app_pid"
status=$?
set -e
tr -d '\r' < "$output" | grep -E "^State '|^Instructions" | tail -n 4
if [ "$status" -ne 0 ] || ! tr -d '\r' < "$output" | grep -qx "Instructions: Update completed successfully."; then
  echo "The demonstration did not end with \"Update completed successfully.\" (exit $status)"
  failures=$((failures + 1))
fi

# A blank screen is one colour (Xvfb's black); the window brings its panel, logo and text.
colours=0
[ -f "$screen" ] && colours="$(convert "$screen" -format '%k' info: 2> /dev/null || echo 0)"
echo "Screenshot of the screen: $screen ($colours colours)"
if [ "$colours" -lt 16 ]; then
  echo "The screenshot is blank or missing"
  failures=$((failures + 1))
fi

if [ "$failures" -ne 0 ]; then
  echo "Windows tests: $failures failure(s)"
  exit 1
fi
echo "Windows tests: all passed"
