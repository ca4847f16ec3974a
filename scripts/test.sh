#!/usr/bin/env bash
# Every test: C++ (warnings as errors), C++ and the Python suite again under
# AddressSanitizer and UndefinedBehaviorSanitizer, then the Python suite
# against an installed wheel (Python 3.11) and against a Python 3.12 build;
# the validator tests under ThreadSanitizer; Python 3.13 and 3.14 in Debian
# trees of their own; both suites cross-built for 32-bit ARM and run under an
# emulator; last the fuzz targets briefly, side by side.
#   scripts/test.sh          every test, as CI runs them
#   scripts/test.sh quick    the plain build, its C++ tests and the Python suite
#                            on it: a first check in about a minute
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-full}
case $mode in
  quick | full) ;;
  *) echo "usage: scripts/test.sh [quick]" >&2; exit 2 ;;
esac
scripts/deps.sh

setup() {  # setup DIR OPTIONS...: configure once, reconfigure when options change
  local dir=$1; shift
  if [ -d "$dir" ]; then meson configure "$dir" "$@" >/dev/null; else meson setup "$dir" "$@" >/dev/null; fi
}
# pytest's assertion rewriting uses ast names that 3.12 deprecates.
pytest_args=(-q -p no:cacheprovider -W "ignore::DeprecationWarning:_pytest.assertion.rewrite")

setup build/test -Dpython=true -Dtests=true -Dwerror=true
ninja --quiet -C build/test  # meson test builds only what the tests need; errors still show
meson test -C build/test --print-errorlogs
if [ "$mode" = quick ]; then
  PYTHONPATH=build/test:python /usr/bin/python3 -m pytest "${pytest_args[@]}" tests/python
  exit 0
fi

setup build/asan -Dpython=true -Dtests=true -Dwerror=true -Dbuildtype=debugoptimized \
  -Db_sanitize=address,undefined -Db_lundef=false
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
ninja --quiet -C build/asan
meson test -C build/asan --print-errorlogs
# The interpreter is not built with the sanitizer, so its runtime is loaded
# first, with the C++ runtime whose throw it intercepts; the interpreter's own
# allocations at exit are not ours to report.
LD_PRELOAD="$(gcc -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so)" \
  ASAN_OPTIONS=detect_leaks=0 \
  PYTHONPATH=build/asan:python /usr/bin/python3 -m pytest "${pytest_args[@]}" tests/python

# The wheel a user installs, in a fresh venv; its build folder is kept, so
# that a second run compiles only what changed.
rm -rf build/wheel build/wheel-venv
/usr/bin/python3 -m build --wheel --no-isolation -C"builddir=$PWD/build/wheel-build" \
  -o build/wheel . >/dev/null
/usr/bin/python3 -m venv --system-site-packages build/wheel-venv
build/wheel-venv/bin/pip install -q --no-deps --no-index build/wheel/*.whl
(cd tests/python && ../../build/wheel-venv/bin/python -m pytest "${pytest_args[@]}" .)

# Python 3.12: Meson cannot introspect it, so its headers and extension suffix
# come from its sysconfig; Debian's pytest runs under it.
py312=$(ls -d /root/.pyenv/versions/3.12*/bin/python3.12 2>/dev/null | tail -n 1 || true)
if [ -n "$py312" ]; then
  include=$("$py312" -c 'import sysconfig; print(sysconfig.get_paths()["include"])')
  suffix=$("$py312" -c 'import sysconfig; print(sysconfig.get_config_var("EXT_SUFFIX"))')
  setup build/py312 -Dpython=true -Dwerror=true -Dpython_include="$include" -Dpython_suffix="$suffix"
  ninja --quiet -C build/py312
  PYTHONPATH=build/py312:python:/usr/lib/python3/dist-packages \
    "$py312" -m pytest "${pytest_args[@]}" tests/python
elif [ "${CI:-}" = true ]; then
  echo "Python 3.12 not found under /root/.pyenv/versions" >&2
  exit 1
fi

# The validator tests, one validator shared by threads among them, under
# ThreadSanitizer.
setup build/tsan -Dpython=false -Dtests=true -Dbuildtype=debugoptimized \
  -Db_sanitize=thread -Db_lundef=false
ninja --quiet -C build/tsan tests/cpp/validator/test_validator
TSAN_OPTIONS=halt_on_error=1 build/tsan/tests/cpp/validator/test_validator

scripts/pythons.sh  # Python 3.13 (trixie) and 3.14 (sid), each in a chroot
scripts/armhf.sh  # 32-bit ARM: cross-built, both suites under the emulator

# The fuzz targets (clang 16, libFuzzer): the inputs kept from earlier
# findings, then each target for a short while, all of them at once.
FUZZ_SEEDS=1000 fuzz/fuzz.sh run "${FUZZ_SECONDS:-20}"
