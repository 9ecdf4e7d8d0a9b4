#!/usr/bin/env bash
# Builds the Windows programs (scripts/build-windows.sh), signed with a throwaway self-signed
# certificate unless VFU_WINDOWS_CERTIFICATE names one, and runs them under Wine on a private Xvfb
# display: every test program, the signature and the delivered package of the signed app (and both
# refused once one byte of the appended archive changes), then the demonstration update from the
# signed app in the real window to its end, with a screenshot of the screen that must show the
# window. Exits non-zero on any failure. Reports and screenshots go to build-windows/artefacts/.
set -euo pipefail
cd "$(dirname "$0")/.."

# Wine's Direct3D (wined3d, behind the DXGI calls JUCE makes when a window opens) renders with
# OpenGL: without Mesa's GLX on the display CreateDXGIFactory fails and JUCE 7.0.5, which does not
# check it, crashes in VBlankDispatcher. The Vulkan loader only quiets Wine's Vulkan start-up.
bash scripts/install-deps.sh wine wine64 libgl1-mesa-dri libglx-mesa0 libvulkan1 osslsigncode openssl python3

build_dir="${VFU_WINDOWS_BUILD_DIR:-build-windows}"
mkdir -p "$build_dir"
build_dir="$(realpath "$build_dir")"

# A throwaway code-signing certificate, made afresh for every run (never a real one).
if [ -z "${VFU_WINDOWS_CERTIFICATE:-}" ]; then
  certificate_dir="$build_dir/test-certificate"
  rm -rf "$certificate_dir"
  mkdir -p "$certificate_dir"
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Quillbox Firmware Updater test signing (throwaway)" \
    -addext "extendedKeyUsage=codeSigning" -keyout "$certificate_dir/key.pem" -out "$certificate_dir/certificate.pem" 2> /dev/null
  export VFU_WINDOWS_CERTIFICATE_PASSWORD="throwaway-$RANDOM$RANDOM"
  openssl pkcs12 -export -inkey "$certificate_dir/key.pem" -in "$certificate_dir/certificate.pem" \
    -out "$certificate_dir/test.p12" -passout env:VFU_WINDOWS_CERTIFICATE_PASSWORD
  export VFU_WINDOWS_CERTIFICATE="$certificate_dir/test.p12"
  trusted_certificate="$certificate_dir/certificate.pem"
else
  trusted_certificate="${VFU_WINDOWS_CA_FILE:-}"
fi

VFU_WINDOWS_BUILD_DIR="$build_dir" bash scripts/build-windows.sh

app_dir="$build_dir/app"
programs_dir="$build_dir/programs"
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

echo "== The signed program and its delivered package"
program="$programs_dir/QuillboxFirmwareUpdater.exe"
vfu="$programs_dir/vfu.exe"
verify_options=()
[ -n "$trusted_certificate" ] && verify_options=(-CAfile "$trusted_certificate")
for signed in "$program" "$vfu"; do
  if osslsigncode verify "${verify_options[@]}" -in "$signed" > "$artefacts/verify-$(basename "$signed").txt" 2>&1; then
    echo "$(basename "$signed"): signature verified"
  else
    tail -n 5 "$artefacts/verify-$(basename "$signed").txt"
    echo "$(basename "$signed"): the signature does not verify"
    failures=$((failures + 1))
  fi
done

# The versions `vfu.exe packages --program` accepts in a program, one line, and its report in FILE.
accepted_versions() {
  set +e
  wine "$vfu" packages --program "$1" < /dev/null 2> "$2.stderr" | tr -d '\r' > "$2"
  set -e
  python3 -c 'import json, sys
try:
    print(" ".join(a["version"] + " (" + a["signature"] + ")" for a in json.load(open(sys.argv[1]))["accepted"]))
except Exception:
    print("")' "$2"
}

versions="$(accepted_versions "$program" "$artefacts/collection.json")"
echo "signed program: accepted ${versions:-nothing}"
if [ "${versions%% *}" != "2.2.1" ]; then
  echo "vfu.exe packages --program does not list exactly 2.2.1 in the signed program"
  failures=$((failures + 1))
fi

# One byte changed in the middle of the delivered package inside the appended archive: the
# signature no longer verifies and the package is refused.
tampered="$artefacts/tampered/QuillboxFirmwareUpdater.exe"
mkdir -p "$(dirname "$tampered")"
cp "$program" "$tampered"
python3 - "$tampered" << 'PYTHON'
import sys, zipfile
path = sys.argv[1]
with zipfile.ZipFile(path) as archive:
    entry = next(i for i in archive.infolist() if i.filename.endswith("-2.2.1.vfw"))
with open(path, "r+b") as f:
    f.seek(entry.header_offset + 26)
    name_length, extra_length = (int.from_bytes(f.read(2), "little") for _ in range(2))
    at = entry.header_offset + 30 + name_length + extra_length + entry.compress_size // 2
    f.seek(at)
    byte = f.read(1)[0]
    f.seek(at)
    f.write(bytes([byte ^ 0x01]))
PYTHON
if osslsigncode verify "${verify_options[@]}" -in "$tampered" > "$artefacts/verify-tampered.txt" 2>&1; then
  echo "The signature of the changed program still verifies"
  failures=$((failures + 1))
else
  echo "changed program: the signature fails, as it must"
fi
tampered_versions="$(accepted_versions "$tampered" "$artefacts/collection-tampered.json")"
if [ -n "$tampered_versions" ]; then
  echo "The delivered package of the changed program was accepted: $tampered_versions"
  failures=$((failures + 1))
else
  echo "changed program: its delivered package is refused ($(tr -d '\r\n' < "$artefacts/collection-tampered.json" | head -c 300))"
fi
wineserver -w

echo "== Demonstration under Wine, from the signed program"
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
