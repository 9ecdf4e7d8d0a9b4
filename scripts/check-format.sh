#!/usr/bin/env bash
# Fails when a C++ file of the project's own differs from what .clang-format makes of it, naming
# the file and line. JUCE, generated files and the fuzz corpora are not the project's code.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh clang-format
mapfile -t files < <(git ls-files 'src/*.cpp' 'src/*.h' 'tools/*.cpp' 'tools/*.h' 'tests/*.cpp' 'tests/*.h')
clang-format --dry-run -Werror "${files[@]}"
echo "Formatting: all ${#files[@]} files as .clang-format says"
