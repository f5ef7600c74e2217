#!/usr/bin/env bash
# Cross-builds Trelvex.exe and the Windows test programs for 32-bit Windows
# (mingw-w64, folder build-win32/) and runs them under Wine in a Wine prefix
# of their own, on a virtual display. Prints "N passed, N failed" at the end
# and exits non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")/.."

build=${TRELVEX_WIN32_BUILD:-build-win32}
jobs=$(nproc)

fail() {
  echo "test-windows: $*" >&2
  echo "0 passed, 1 failed"
  exit 1
}

for tool in i686-w64-mingw32-g++-posix wine xvfb-run; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/setup.sh installs it)"
done

cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
  -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-Release}" >/dev/null || fail "configure failed"
cmake --build "$build" -j"$jobs" --target Trelvex win32_tests test_host || fail "build failed"

prefix=$(mktemp -d "${TMPDIR:-/tmp}/trelvex-wine.XXXXXX")
cleanup() {
  WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1
  [ "${TRELVEX_KEEP_PREFIX:-0}" = "1" ] || rm -rf "$prefix"
}
trap cleanup EXIT

export WINEPREFIX=$prefix WINEDEBUG=-all
out=$(mktemp "${TMPDIR:-/tmp}/trelvex-wine-out.XXXXXX")
trap 'rm -f "$out"; cleanup' EXIT

# One virtual display and one Wine server for the whole run.
xvfb-run -a bash -c '
  set -u
  build=$1
  out=$2
  wineboot -i >/dev/null 2>&1
  run() {
    echo "== $*"
    timeout 300 wine "$@" 2>&1 | tr -d "\r"
    echo "== exit ${PIPESTATUS[0]}"
  }
  cd "$build"
  {
    run win32_tests.exe
    run test_host.exe Trelvex.exe
  } | tee "$out"
  wineserver -w
' bash "$build" "$out"

# Sum the closing lines of the programs; a program that printed none failed.
passed=0
failed=0
programs=$(grep -ac '^== exit' "$out")
summaries=$(grep -acE '^[0-9]+ passed, [0-9]+ failed$' "$out")
while read -r p _ f _; do
  passed=$((passed + p))
  failed=$((failed + f))
done < <(grep -aE '^[0-9]+ passed, [0-9]+ failed$' "$out")
if [ "$programs" -ne 2 ] || [ "$summaries" -ne 2 ]; then
  echo "test-windows: a test program ended without its summary" >&2
  failed=$((failed + 1))
fi
if grep -aE '^== exit [1-9]' "$out" >/dev/null; then
  [ "$failed" -gt 0 ] || failed=1
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
