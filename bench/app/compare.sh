#!/usr/bin/env bash
# Times the same conversion through the engine alone (vellipse_bench) and through the main
# window (vellipse_app_bench, offscreen) and prints the ratio of their best times.
# usage: bench/app/compare.sh [build folder] [pdf] [repeats]   (a Release build)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build/release}
pdf=${2:-$top/../shared/corpus/GeoTopo-komprimiert.pdf}
repeat=${3:-5}
engine=$("$build/bin/vellipse_bench" --type png --dpi 150 --repeat "$repeat" "$pdf" | tee /dev/stderr |
         sed -n 's/^vellipse best: \([0-9.]*\) s.*/\1/p')
app=$(QT_QPA_PLATFORM=offscreen "$build/bin/vellipse_app_bench" --type 7 --dpi 150 --repeat "$repeat" "$pdf" 2>/dev/null |
      tee /dev/stderr | sed -n 's/^vellipse app best: \([0-9.]*\) s.*/\1/p')
awk -v e="$engine" -v a="$app" 'BEGIN { printf "engine %.3f s, application %.3f s, ratio %.3f\n", e, a, a / e }'
