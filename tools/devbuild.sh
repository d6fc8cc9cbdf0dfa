#!/usr/bin/env bash
# Incremental development build with warnings as errors.
#   tools/devbuild.sh [build-dir]     (default build/dev)
# then run Python against it with PYTHONPATH=<build-dir>/pkg.
set -euo pipefail
cd "$(dirname "$0")/.."
b=${1:-build/dev}
if [ ! -f "$b/build.ninja" ]; then
  cmake -S . -B "$b" -G Ninja -DCMAKE_BUILD_TYPE=Release -DHALVANE_WERROR=ON >/dev/null
fi
cmake --build "$b"
