#!/usr/bin/env bash
# Fresh machine to a working torvane: packages, build, install into .venv,
# then the main job on the bundled example.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
[ -x .venv/bin/python ] || /usr/bin/python3 -m venv --system-site-packages .venv
.venv/bin/pip install --no-build-isolation -q .
[ -d build/tools ] || meson setup build/tools -Dpython=false -Dtests=true >/dev/null
ninja -C build/tools check_queries >/dev/null
.venv/bin/python examples/main.py
