#!/usr/bin/env bash
# Regenerate the type stubs of the built modules into src/halvane/.
#   tools/stubs.sh [build-dir] [module ...]   (default build/dev, all modules)
set -euo pipefail
cd "$(dirname "$0")/.."
b=${1:-build/dev}
shift || true
mods=("$@")
if [ ${#mods[@]} -eq 0 ]; then
  for f in cpp/modules/*.cpp; do mods+=("$(basename "$f" .cpp)"); done
fi
for m in "${mods[@]}"; do
  PYTHONPATH="$b/pkg" python -m nanobind.stubgen -q -P -p tools/stubs.patterns -m "halvane.$m" -o "src/halvane/$m.pyi"
done
