#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

# Beyond the build's packages, the programs some tests call: Graphviz's dot (the graph rendering
# tests), desktop-file-validate and appstreamcli (the packaging checks), a D-Bus daemon with
# python3-dbusmock's logind (the power hold tests).
bash scripts/install-deps.sh graphviz desktop-file-utils appstream dbus python3-dbusmock
# The project's own C++ files stay as .clang-format lays them out (fails first, and fast).
bash scripts/check-format.sh
bash scripts/build.sh

build_dir="${VFU_BUILD_DIR:-build}"
# Window tests start their own Xvfb; nothing here needs a display.
ctest --test-dir "$build_dir" --output-on-failure --parallel 2 --timeout 600
