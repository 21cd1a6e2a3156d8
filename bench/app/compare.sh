#!/usr/bin/env bash
# Times the same conversion (PNG, 150 dpi, RGB, every page) through the engine alone
# (vellipse_bench) and through the main window (vellipse_app_bench, offscreen), in alternating
# rounds so that both meet the same load on a shared machine, and prints the best time of each
# and their ratio.
# usage: bench/app/compare.sh [build folder] [pdf] [rounds]   (a Release build)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build/release}
pdf=${2:-$top/../shared/corpus/GeoTopo-komprimiert.pdf}
rounds=${3:-4}
engine_times=()
app_times=()
for ((round = 0; round < rounds; ++round)); do
  engine_times+=($("$build/bin/vellipse_bench" --type png --dpi 150 --repeat 3 "$pdf" |
                   sed -n 's/^vellipse: ok, \([0-9.]*\) s wall.*/\1/p'))
  app_times+=($(QT_QPA_PLATFORM=offscreen "$build/bin/vellipse_app_bench" --type 7 --dpi 150 --repeat 3 "$pdf" 2>/dev/null |
                sed -n 's/^vellipse app: ok, \([0-9.]*\) s wall.*/\1/p'))
done
best() { printf '%s\n' "$@" | sort -n | head -1; }
median() { printf '%s\n' "$@" | sort -n | awk '{ t[NR] = $1 } END { print NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2 }'; }
eb=$(best "${engine_times[@]}"); em=$(median "${engine_times[@]}")
ab=$(best "${app_times[@]}"); am=$(median "${app_times[@]}")
echo "engine (vellipse_bench):          best $eb s, median $em s (${#engine_times[@]} runs)"
echo "application (vellipse_app_bench): best $ab s, median $am s (${#app_times[@]} runs)"
awk -v eb="$eb" -v ab="$ab" -v em="$em" -v am="$am" \
  'BEGIN { printf "ratio application/engine: %.3f (best times), %.3f (medians)\n", ab / eb, am / em }'
