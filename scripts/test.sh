#!/usr/bin/env bash
# Every test: C++ (warnings as errors), C++ again under AddressSanitizer and
# UndefinedBehaviorSanitizer, then the Python tests against the installed package.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

setup() {  # setup DIR OPTIONS...: configure once, reconfigure when options change
  local dir=$1; shift
  if [ -d "$dir" ]; then meson configure "$dir" "$@" >/dev/null; else meson setup "$dir" "$@" >/dev/null; fi
}

setup build/test -Dpython=false -Dtests=true -Dwerror=true
meson test -C build/test --print-errorlogs

setup build/asan -Dpython=false -Dtests=true -Dwerror=true -Dbuildtype=debugoptimized \
  -Db_sanitize=address,undefined -Db_lundef=false
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 meson test -C build/asan --print-errorlogs

[ -x .venv/bin/python ] || /usr/bin/python3 -m venv --system-site-packages .venv
.venv/bin/pip install --no-build-isolation -q .
.venv/bin/python -m pytest -q tests/python
