#!/usr/bin/env bash
# The extension built and the Python suite run on the CPythons that the host
# lacks, each in a Debian tree of its own entered with chroot, with that tree's
# compilers (warnings as errors): trixie for 3.13, sid for 3.14. The trees are
# made once under TORVANE_TREES (default /var/cache/torvane) and kept there; a
# tree whose package list changed gets the missing packages. Delete a tree to
# have it made anew. TORVANE_JOBS, when set, caps the build's parallel jobs.
#   scripts/pythons.sh [RELEASE...]   (default: trixie sid)
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
export PATH=$PATH:/usr/sbin:/sbin  # debootstrap and chroot

trees=${TORVANE_TREES:-/var/cache/torvane}
mirror=${TORVANE_MIRROR:-http://deb.debian.org/debian}
declare -A python_of=([trixie]=3.13 [sid]=3.14)
packages=(g++ meson ninja-build pkg-config libicu-dev libtbb-dev
          python3-dev python3-venv python3-pip python3-mesonpy
          python3-pytest python3-hypothesis)

if [ "$(id -u)" != 0 ]; then
  echo "pythons.sh: chroot needs root" >&2
  exit 1
fi
command -v debootstrap >/dev/null || {
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null
}

# Whatever is mounted is unmounted on any exit, innermost first; a run's own
# folder inside the tree goes with it.
mounts=()
scratch=()
cleanup() {
  local i
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
    umount "${mounts[i]}" 2>/dev/null || umount -l "${mounts[i]}" || true
  done
  mounts=()
  for i in "${scratch[@]}"; do rm -rf --one-file-system "$i"; done
  scratch=()
}
trap cleanup EXIT

enter() {  # enter ROOT: /proc, /dev and /dev/pts inside the tree
  local root=$1 dir
  mount -t proc proc "$root/proc"
  mounts+=("$root/proc")
  for dir in /dev /dev/pts; do
    mount --bind "$dir" "$root$dir"
    mounts+=("$root$dir")
  done
}

# A command in the tree runs in a process group of its own, waited for so that
# a signal to this script ends the group and unmounts at once.
child=
stop() {
  [ -z "$child" ] || kill -TERM -- "-$child" 2>/dev/null || true
  exit 130
}
trap stop INT TERM

in_tree() {  # in_tree ROOT COMMAND...: run in the tree, with a plain environment
  local root=$1 rc=0; shift
  set -m  # the job gets a process group of its own
  chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
    LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@" &
  child=$!
  set +m
  wait "$child" || rc=$?
  child=
  return "$rc"
}

make_tree() {  # make_tree RELEASE ROOT: the tree with the packages, made once
  local release=$1 root=$2 want
  want=$(printf '%s\n' "${packages[@]}")
  if [ -f "$root/.torvane-packages" ] && [ "$(cat "$root/.torvane-packages")" = "$want" ]; then
    return
  fi
  if [ ! -f "$root/.torvane-packages" ]; then
    # Made beside its place and moved there whole, so that a tree cut short is
    # never taken for a ready one.
    local part=$root.part
    rm -rf --one-file-system "$part"
    echo "pythons.sh: making the $release tree in $root"
    debootstrap --variant=minbase "$release" "$part" "$mirror" >"$trees/$release.log" 2>&1 || {
      tail -n 30 "$trees/$release.log" >&2
      return 1
    }
    mv "$part" "$root"
  fi
  enter "$root"
  # A mirror may serve a sid whose Release has passed its Valid-Until date.
  in_tree "$root" apt-get -o Acquire::Check-Valid-Until=false update -qq
  in_tree "$root" apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null
  in_tree "$root" apt-get clean
  cleanup
  printf '%s\n' "$want" >"$root/.torvane-packages"
}

test_in() {  # test_in RELEASE: build, install and test in that release's tree
  local release=$1 root=$trees/$1 version=${python_of[$1]:-}
  if [ -z "$version" ]; then
    echo "pythons.sh: no Python version known for $release" >&2
    return 1
  fi
  mkdir -p "$trees"
  # One run at a time per tree: it is made, mounted and used under this lock.
  exec {lock}>"$trees/$release.lock"
  flock "$lock"
  make_tree "$release" "$root"

  local found
  found=$(in_tree "$root" python3 -c 'import sys; print("%d.%d" % sys.version_info[:2])')
  if [ "$found" != "$version" ]; then
    echo "pythons.sh: $release has Python $found, not $version" >&2
    return 1
  fi

  # A copy of the work tree, with the corpus beside it where the tests look.
  local run=/tmp/torvane-$$
  rm -rf --one-file-system "${root:?}$run"
  scratch+=("$root$run")
  mkdir -p "$root$run/torvane"
  tar -C "$repo" --exclude='./build*' --exclude=./.git --exclude='./.venv*' -cf - . |
    tar -C "$root$run/torvane" -xf -
  if [ -d "$repo/../shared/corpus" ]; then
    mkdir -p "$root$run/shared"
    cp -r "$repo/../shared/corpus" "$root$run/shared/"
  fi

  enter "$root"
  echo "pythons.sh: Python $version ($release): install and test"
  in_tree "$root" /bin/sh -ec "
    export TMPDIR=$run/tmp
    mkdir \$TMPDIR
    cd $run/torvane
    python3 -m venv --system-site-packages $run/venv
    $run/venv/bin/pip install -q --no-index --no-deps --no-build-isolation \
      -Csetup-args=-Dwerror=true ${TORVANE_JOBS:+-Ccompile-args=-j$TORVANE_JOBS} .
    cd tests/python
    $run/venv/bin/python -m pytest -q -p no:cacheprovider .
  "
  cleanup
  flock -u "$lock"
  exec {lock}>&-
}

releases=("$@")
((${#releases[@]})) || releases=(trixie sid)
for release in "${releases[@]}"; do
  test_in "$release"
done
