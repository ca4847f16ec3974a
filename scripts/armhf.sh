#!/usr/bin/env bash
# The target platform, 32-bit ARM (armhf): cross-builds the C++ suites and the
# extension with Debian's cross toolchain and runs them under qemu-user. The
# C++ suites use the host's armhf multiarch libraries; the Python suite runs on
# Debian's armhf CPython 3.11 (Debian 12 has no armhf 3.12), unpacked once
# into ARMHF_ROOT, which is kept for later runs.
set -euo pipefail
cd "$(dirname "$0")/.."

root=${ARMHF_ROOT:-/var/cache/torvane/armhf-bookworm}
build=${ARMHF_BUILD:-build/armhf}
sudo=""; [ "$(id -u)" = 0 ] || sudo=sudo

# Packages: armhf as a foreign architecture, the cross compiler, the armhf
# libraries to link against with their pkg-config, the emulator, and
# debootstrap for the root.
packages=(crossbuild-essential-armhf qemu-user debootstrap
          pkgconf:armhf libicu-dev:armhf libtbb-dev:armhf libgtest-dev:armhf libpython3.11-dev:armhf)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  dpkg --print-foreign-architectures | grep -qx armhf || $sudo dpkg --add-architecture armhf
  $sudo apt-get update -qq -o DPkg::Lock::Timeout=600
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
    -o DPkg::Lock::Timeout=600 "${missing[@]}"
fi

# The armhf root for the Python suite: only debootstrap's first stage, which
# downloads the packages, each then unpacked; nothing in it is ever run but
# the interpreter, under the emulator, so it needs no second stage.
include=python3,python3-distutils,python3-pytest,python3-hypothesis,libicu72,libtbb12
if [ "$(cat "$root/.torvane-root" 2>/dev/null)" != "$include" ]; then
  $sudo rm -rf "$root" "$root.new"
  $sudo mkdir -p "$root.new"
  $sudo debootstrap --arch=armhf --foreign --variant=minbase --include="$include" \
    bookworm "$root.new" >/dev/null
  for deb in "$root.new"/var/cache/apt/archives/*.deb; do $sudo dpkg-deb -x "$deb" "$root.new"; done
  $sudo rm -f "$root.new"/var/cache/apt/archives/*.deb
  echo "$include" | $sudo tee "$root.new/.torvane-root" >/dev/null
  $sudo mv "$root.new" "$root"
fi

# The interpreter that Meson introspects and the Python suite runs on: the
# root's, under the emulator. Meson takes a single program for it, so it is a
# small script beside the build folder, which also serves the tests that start
# another interpreter.
qemu=$(command -v qemu-arm)
python=$(realpath -m "$build")-python
mkdir -p "$(dirname "$python")"
printf '#!/bin/sh\nexec %s -L %s %s/usr/bin/python3.11 "$@"\n' "$qemu" "$root" "$root" >"$python"
chmod +x "$python"
printf "[binaries]\npython = '%s'\n" "$python" >"$python.ini"

if [ ! -d "$build" ]; then
  out=$(meson setup "$build" --cross-file cross/armhf.ini --cross-file "$python.ini" \
    -Dpython=true -Dtests=true -Dwerror=true) || { printf '%s\n' "$out"; exit 1; }
fi
ninja --quiet -C "$build"
# Emulated, the slowest suites need more than their native time limits.
meson test -C "$build" --print-errorlogs --timeout-multiplier 5

TORVANE_TEST_PYTHON=$python PYTHONPATH="$build:python" \
  "$python" -m pytest -q -p no:cacheprovider tests/python
