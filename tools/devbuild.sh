#!/usr/bin/env bash
# Incremental development build with warnings as errors.
#   tools/devbuild.sh [build-dir]     (default build/dev)
# then run Python against it with PYTHONPATH=<build-dir>/pkg. ccache, where
# installed, lets several checkouts share their compiled objects.
set -euo pipefail
cd "$(dirname "$0")/.."
b=${1:-build/dev}
if [ ! -f "$b/build.ninja" ]; then
  launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  cmake -S . -B "$b" -G Ninja -DCMAKE_BUILD_TYPE=Release -DHALVANE_WERROR=ON "${launcher[@]}" >/dev/null
fi
cmake --build "$b"
