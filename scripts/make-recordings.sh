#!/usr/bin/env bash
# Makes the recordings under tests/data/recordings anew with the simulated instruments, through
# `vfu run --record` on the real clock (speed 1), so that the pauses recorded are the updater's own
# and not the jitter of a fast clock. Run it when a change of what the updater says is intended,
# then look at `git diff --stat tests/data/recordings` and commit. About 4 minutes (the four runs go
# side by side).
#
#   scripts/make-recordings.sh            uses build/tools/vfu_artefacts/RelWithDebInfo/vfu (or $VFU)
set -euo pipefail
cd "$(dirname "$0")/.."

vfu="${VFU:-build/tools/vfu_artefacts/RelWithDebInfo/vfu}"
out=tests/data/recordings
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"

# The packages the suite builds the same way (tests/simulation/RecordingReplayTests.cpp).
package() { # NAME MODEL VERSION SIZE... (one image per size: NAME-fwN or NAME itself)
  local name=$1 model=$2 version=$3; shift 3
  local images=()
  for image in "$@"; do
    "$vfu" make-image --model "$model" --version "$version" --size "${image#*:}" -o "$work/${image%%:*}.syx"
    images+=("$work/${image%%:*}.syx")
  done
  "$vfu" pack --name "$name" -o "$work/$name.vfw" "${images[@]}" >/dev/null
}

package quillbox-fw-2.2.1 quillbox 2.2.1 quillbox-fw-2.2.1:359267
package lmstr-fw-1.1.0 lumostrel 1.1.0 lmstr-fw-1.1.0:20000
package orb26-fw-1.1.0p1 orb26 1.1.0p1 orb26-fw2-1.1.0p1:6000 orb26-fw3-1.1.0p1:3000 orb26-fw4-1.1.0p1:4000

record() { # FILE ARGUMENTS...
  local file=$1; shift
  if ! "$vfu" run "$@" --record "$out/$file" >"$work/$file.log" 2>&1; then
    echo "failed: $file"; tail -5 "$work/$file.log"; return 1
  fi
  echo "$file: $(wc -l <"$out/$file") lines, $(wc -c <"$out/$file") bytes"
}

status=0
record simulated-quillbox-2.1.0-to-2.2.1.jsonl --simulate quillbox:2.1.0 --package "$work/quillbox-fw-2.2.1.vfw" & q=$!
record simulated-lumostrel-1.0.9-to-1.1.0.jsonl --simulate lumostrel:1.0.9 --device Lumostrel \
  --package "$work/lmstr-fw-1.1.0.vfw" & l=$!
record simulated-orb26-1.0.9-to-1.1.0p1-both-phases.jsonl --simulate orb26:1.0.9 --device "Orb 26" \
  --package "$work/orb26-fw-1.1.0p1.vfw" & o=$!
# The instrument leaves the ports after 100,000 bytes and stays away longer than the updater waits
# for its image to end.
record simulated-quillbox-connection-break-mid-transfer.jsonl --simulate quillbox:2.1.0 \
  --package "$work/quillbox-fw-2.2.1.vfw" --fault vanish-after=100000 --until "Waiting for new firmware" & b=$!
for pid in $q $l $o $b; do wait "$pid" || status=1; done
exit $status
