#!/usr/bin/env bash
# The manual page check must fail, naming the command, when the page lacks one of vfu's commands:
# a copy of the page loses the item of the first command vfu --help lists.
# Usage: man_page_check_catches_a_missing_command.sh VFU MANPAGE
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
vfu="$1"
page="$2"
work="$(mktemp -d "${TMPDIR:-/tmp}/vfu-man-check.XXXXXX")"
trap 'rm -rf "$work"' EXIT

# The first ".B name" after a ".TP" in the COMMANDS section is renamed, so the item disappears.
awk '/^\.SH COMMANDS/ { commands = 1 }
     commands && !done && prev == ".TP" && /^\.B / { $2 = "renamed\\-away"; done = 1 }
     { print; prev = $0 }' "$page" >"$work/vfu.1"
removed="$(diff "$page" "$work/vfu.1" | awk '/^</ { print $3; exit }' | sed 's/\\-/-/g')"
[ -n "$removed" ] || { echo "FAIL: the page has no command item to remove"; exit 1; }

output="$(bash "$here/man_page_matches_help.sh" "$vfu" "$work/vfu.1")"
status=$?
[ $status -ne 0 ] || { echo "FAIL: the check passed a page without the command $removed"; exit 1; }
grep -qF "command $removed" <<<"$output" || { echo "FAIL: the check did not name $removed:"; echo "$output"; exit 1; }
echo "PASS: the check names the missing command $removed"
