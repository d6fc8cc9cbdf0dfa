#!/usr/bin/env bash
# The sanitizer job: an AddressSanitizer + UndefinedBehaviorSanitizer build,
# and the tests marked `sanitize` (memory safety, and the renderer's window
# bound) run under it. Fails when a test fails or when the sanitizers'
# reports hold anything but the warnings of the allocations that a test
# makes fail on purpose (allocator_may_return_null).
#   tools/sanitize.sh [build-dir]     (default build/asan)
# PYTHON names the interpreter (default: python); CPython 3.12 or later
# also exercises arrays that define __buffer__.
set -euo pipefail
cd "$(dirname "$0")/.."
b=${1:-build/asan}
py=$(command -v "${PYTHON:-python}")
if [ ! -f "$b/build.ninja" ]; then
  launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  cmake -S . -B "$b" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPython_EXECUTABLE="$py" \
    -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-omit-frame-pointer" \
    -DCMAKE_MODULE_LINKER_FLAGS="-fsanitize=address,undefined" "${launcher[@]}" >/dev/null
fi
cmake --build "$b" -j2
logs=$(mktemp -d)
status=0
ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1:log_path=$logs/asan \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:log_path=$logs/ubsan \
  LD_PRELOAD="$(gcc -print-file-name=libasan.so) $(gcc -print-file-name=libstdc++.so)" \
  PYTHONPATH="$b/pkg" "$py" -m pytest -q -p no:cacheprovider -m sanitize tests || status=$?
# Everything but the failed allocations' warnings is a finding.
findings=$(cat "$logs"/* 2>/dev/null | grep -v -e '^\s*$' -e 'WARNING: AddressSanitizer failed to allocate' || true)
if [ -n "$findings" ]; then
  echo "sanitizer reports (in $logs):"
  echo "$findings"
  status=1
fi
exit "$status"
