#!/usr/bin/env bash
# Builds and runs every test: the suite in build/, the same suite with
# AddressSanitizer and UndefinedBehaviorSanitizer in build-asan/, and the
# Windows program and its tests under Wine. Exits non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/setup.sh || exit 1

jobs=$(nproc)
status=0

echo "== test suite"
ctest --test-dir build --output-on-failure -j"$jobs" || status=1

echo "== test suite with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTRELVEX_SANITIZE=ON >/dev/null || exit 1
cmake --build build-asan -j"$jobs" || exit 1
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:alloc_dealloc_mismatch=0}
# use_tls=0: the leak check crashes on the thread-local ranges of the
# Firebird engine loaded at run time.
export LSAN_OPTIONS=${LSAN_OPTIONS:-use_tls=0:suppressions=$root/tests/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --test-dir build-asan --output-on-failure -j"$jobs" || status=1

if [ -x scripts/test-windows.sh ] && [ "${TRELVEX_NO_WINDOWS:-0}" != "1" ]; then
  echo "== Windows program under Wine"
  bash scripts/test-windows.sh || status=1
fi

exit $status
