#!/usr/bin/env bash
# Checks that the manual page of vfu describes every command `vfu --help` lists, and every long
# option each command's own --help lists, so that the page cannot fall behind the tool unnoticed.
# Usage: man_page_matches_help.sh VFU MANPAGE
# A command is described by a ".TP" item whose next line starts with ".B command"; its options
# must appear in that item (as \-\-name, the way a manual page writes them).
set -uo pipefail

vfu="$1"
page="$2"
[ -x "$vfu" ] || { echo "FAIL: no program at $vfu"; exit 1; }
[ -f "$page" ] || { echo "FAIL: no manual page at $page"; exit 1; }

help="$("$vfu" --help 2>&1)" || { echo "FAIL: vfu --help exited with an error"; exit 1; }

# Command names: the indented first words under a "Subcommands:" heading (CLI11), or the word
# after "vfu" on lines that start with it.
commands="$(printf '%s\n' "$help" | awk '
  tolower($0) ~ /^subcommands:/ { inside = 1; next }
  inside && /^[^ \t]/ { inside = 0 }
  inside && /^[ \t]+[a-z][a-z0-9-]*/ { print $1; next }
  $1 == "vfu" && $2 ~ /^[a-z][a-z0-9-]*$/ { print $2 }' | sort -u)"
[ -n "$commands" ] || { echo "FAIL: found no commands in vfu --help:"; printf '%s\n' "$help"; exit 1; }

# The text of a command's item in the page, from its ".TP"/".B command" lines to the next item.
item_of() {
  local escaped="${1//-/\\\\-}"
  awk -v head=".B ${escaped}" '
    prev == ".TP" && (index($0, head " ") == 1 || $0 == head) { inside = 1 }
    inside && prev != "" && ($0 == ".TP" || /^\.SH/) && started { exit }
    inside { print; started = 1 }
    { prev = $0 }' "$page"
}

missing=()
for command in $commands; do
  item="$(item_of "$command")"
  if [ -z "$item" ]; then
    missing+=("command $command")
    continue
  fi
  options="$("$vfu" "$command" --help 2>/dev/null | grep -oE -- '(^|[ ,[])--[a-z][a-z0-9-]*' |
    grep -oE -- '--[a-z][a-z0-9-]*' | grep -vx -- '--help' | sort -u)"
  for option in $options; do
    grep -qF -- "${option//-/\\-}" <<<"$item" || missing+=("option $option of $command")
  done
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "FAIL: $page does not describe what vfu --help lists:"
  printf '  %s\n' "${missing[@]}"
  exit 1
fi
echo "PASS: $(wc -w <<<"$commands") commands of vfu --help are in $page with their options"
