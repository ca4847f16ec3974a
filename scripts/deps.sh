#!/usr/bin/env bash
# Installs the Debian packages that building and testing torvane need (once).
set -euo pipefail
packages=(g++ meson ninja-build pkg-config libicu-dev libtbb-dev
          libgtest-dev libgmock-dev libbenchmark-dev
          python3-dev python3-venv python3-pip python3-mesonpy python3-build
          python3-pytest python3-hypothesis
          clang-16 libclang-rt-16-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""; [ "$(id -u)" = 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi
