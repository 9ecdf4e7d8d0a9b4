#!/usr/bin/env bash
# The app copy that goes into the package is stripped and still offers exactly the delivered
# firmware, and the check would notice otherwise: stripping a copy once more drops the appended
# archive, and the same check must then fail.
# Usage: packaged_app_keeps_its_firmware.sh VFU_BUNDLE PACKAGED_APP
set -uo pipefail
bundle="$1"
app="$2"
work="$(mktemp -d "${TMPDIR:-/tmp}/vfu-packaged-app.XXXXXX")"
trap 'rm -rf "$work"' EXIT

command -v strip >/dev/null || { echo "SKIP: no strip"; exit 77; }
"$bundle" verify "$app" || { echo "FAIL: the packaged app does not offer exactly the delivered firmware"; exit 1; }
if command -v file >/dev/null && file -b "$app" | grep -qF 'not stripped'; then
  echo "FAIL: the packaged app is not stripped"
  exit 1
fi

cp "$app" "$work/app"
strip "$work/app"
if "$bundle" verify "$work/app" 2>/dev/null; then
  echo "FAIL: the check passed a program whose archive was stripped away"
  exit 1
fi
echo "PASS: the packaged app is stripped and keeps its firmware; stripping it again loses it"
