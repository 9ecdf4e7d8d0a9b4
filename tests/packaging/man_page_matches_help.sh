#!/usr/bin/env bash
# Checks that the manual page of vfu describes every command `vfu --help` lists, and every long
# option each command's own --help lists, so that the page cannot fall behind the tool unnoticed.
# Usage: man_page_matches_help.sh VFU MANPAGE
# A command is described by a ".TP" item whose next line starts with ".B command"; its options
# must appear in that item (as \-\-name, the way a manual page writes them).
# The command list is read from CLI11's "Subcommands:" section, a command's options from the
# "Options:" section of `vfu COMMAND --help`.
set -uo pipefail

vfu="$1"
page="$2"
[ -x "$vfu" ] || { echo "FAIL: no program at $vfu"; exit 1; }
[ -f "$page" ] || { echo "FAIL: no manual page at $page"; exit 1; }

help="$("$vfu" --help 2>&1)" || { echo "FAIL: vfu --help exited with an error"; exit 1; }

# Command names: the indented first words under the "Subcommands:" heading.
commands="$(printf '%s\n' "$help" | awk '
  /^Subcommands:$/ { inside = 1; next }
  inside && /^[^ \t]/ { inside = 0 }
  inside && /^[ \t]+[a-z][a-z0-9-]*/ { print $1 }' | sort -u)"
[ -n "$commands" ] || { echo "FAIL: found no commands in vfu --help:"; printf '%s\n' "$help"; exit 1; }

# The text of a command's item in the page: from its ".TP"/".B command" lines to the next item at
# the same level (options are items nested between .RS and .RE) or the next section.
item_of() {
  local escaped="${1//-/\\\\-}"
  awk -v head=".B ${escaped}" '
    inside && depth == 0 && ($0 == ".TP" || /^\.SH/) { exit }
    prev == ".TP" && (index($0, head " ") == 1 || $0 == head) { inside = 1 }
    inside && /^\.RS/ { depth++ }
    inside && /^\.RE/ { depth-- }
    inside { print }
    { prev = $0 }' "$page"
}

# The long options of a command: the "Options:" section of its --help, without --help itself.
options_of() {
  "$vfu" "$1" --help 2>/dev/null | awk '
    /^[A-Za-z].*:$/ { inside = ($0 == "Options:"); next }
    inside && match($0, /^[ \t]+(-[A-Za-z],)?--[a-z][a-z0-9-]*/) {
      option = substr($0, RSTART, RLENGTH); sub(/^.*--/, "--", option)
      if (option != "--help") print option
    }' | sort -u
}

missing=()
for command in $commands; do
  item="$(item_of "$command")"
  if [ -z "$item" ]; then
    missing+=("command $command")
    continue
  fi
  for option in $(options_of "$command"); do
    grep -qF -- "${option//-/\\-}" <<<"$item" || missing+=("option $option of $command")
  done
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "FAIL: $page does not describe what vfu --help lists:"
  printf '  %s\n' "${missing[@]}"
  echo "Describe each in the page: a command as a \".TP\" item whose next line is \".B command ...\" under"
  echo "COMMANDS, its options as \".TP\" items between \".RS\" and \".RE\" inside it."
  exit 1
fi
echo "PASS: $(wc -w <<<"$commands") commands of vfu --help are in $page with their options"
