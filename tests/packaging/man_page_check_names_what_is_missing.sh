#!/usr/bin/env bash
# The manual page check must fail, naming what is missing, when the page lacks one of vfu's
# commands (a copy of the page loses the first command's item) or one of a command's options (a
# copy loses the first option item nested in a command's item).
# Usage: man_page_check_names_what_is_missing.sh VFU MANPAGE
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

awk '/^\.SH COMMANDS/ { commands = 1 }
     commands && /^\.RS/ { nested = 1 }
     commands && nested && !done && prev == ".TP" && /^\.BI? \\-\\-/ { sub(/\\-\\-/, "\\-\\-renamed\\-"); done = 1 }
     { print; prev = $0 }' "$page" >"$work/vfu-option.1"
option="$(diff "$page" "$work/vfu-option.1" | awk '/^</ { print $3; exit }' | sed 's/\\-/-/g')"
[ -n "$option" ] || { echo "FAIL: the page has no option item to remove"; exit 1; }

output="$(bash "$here/man_page_matches_help.sh" "$vfu" "$work/vfu-option.1")"
[ $? -ne 0 ] || { echo "FAIL: the check passed a page without the option $option"; exit 1; }
grep -qF "option $option of " <<<"$output" || { echo "FAIL: the check did not name $option:"; echo "$output"; exit 1; }
echo "PASS: the check names the missing command $removed and the missing option $option"
