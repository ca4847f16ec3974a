#!/usr/bin/env bash
# Fresh machine to a working torvane: packages, build, install into .venv,
# then the main job on the bundled example.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
[ -x .venv/bin/python ] || /usr/bin/python3 -m venv --system-site-packages .venv
.venv/bin/pip install --no-build-isolation -q .
.venv/bin/python examples/main.py
