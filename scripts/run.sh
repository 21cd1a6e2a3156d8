#!/usr/bin/env bash
# Installs what is missing, builds the application and starts it; arguments are PDFs to add.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/setup.sh"
build="$top/build/release"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELLIPSE_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"
if [ -x "$build/bin/vellipse" ]; then
  exec "$build/bin/vellipse" "$@"
fi
echo "The application is not built yet; the engine library was built in $build."
