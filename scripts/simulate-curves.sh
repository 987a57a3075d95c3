#!/bin/bash
# Dice against strokes for both corrections on phantom cases at four
# resolutions, as the README's table and plots show it.
#
# For each size and seed 1-5, corvane-phantom writes a case with 40 references;
# corvane-simulate runs the robot user over the five cases of a size in both
# modes (up to ROUNDS strokes, no early stop), then summarizes the rows with
# the target Dice 0.95 and draws the curves. Prints a markdown table: mean Dice
# after 1, 3 and 5 strokes, and the median strokes to Dice 0.95 with the cases
# that reached it.
#
# usage: scripts/simulate-curves.sh [--build DIR] [--work DIR] [--rounds N] [--plots DIR]
set -euo pipefail

build=build
work=${TMPDIR:-/tmp}/corvane-curves
rounds=12
plots=
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --plots) plots=$2; shift 2 ;;
    *) echo "usage: $0 [--build DIR] [--work DIR] [--rounds N] [--plots DIR]" >&2; exit 1 ;;
  esac
done
bin=$build/bin
for tool in corvane-phantom corvane-simulate; do
  [ -x "$bin/$tool" ] || { echo "simulate-curves: $bin/$tool is missing (build it first)" >&2; exit 1; }
done
mkdir -p "$work"
[ -z "$plots" ] || mkdir -p "$plots"

sizes="128x128x16 256x256x24 320x320x32 512x512x32"
for size in $sizes; do
  dir=$work/$size
  mkdir -p "$dir"
  echo "case,truth,segmentation,references" > "$dir/cases.csv"
  for seed in 1 2 3 4 5; do
    case=$dir/seed$seed
    # A case is written once; a folder left half-written by an interrupted run is written again.
    if [ ! -f "$case/done" ]; then
      "$bin/corvane-phantom" --out "$case" --size "$size" --references 40 --seed "$seed" > /dev/null
      touch "$case/done"
    fi
    echo "seed$seed,seed$seed/truth.mhd,seed$seed/segmentation.mhd,seed$seed/references" >> "$dir/cases.csv"
  done
  # Target 1: every case runs all its strokes (or until no error is left); the
  # summary then counts the strokes to 0.95.
  "$bin/corvane-simulate" --manifest "$dir/cases.csv" --mode both --rounds "$rounds" --target 1 \
    --csv "$dir/rounds.csv" > /dev/null
  plot=$dir/curves.svg
  [ -z "$plots" ] || plot=$plots/simulate-curves-$size.png
  "$bin/corvane-simulate" --summarize "$dir/rounds.csv" --target 0.95 --csv "$dir/summary.csv" \
    --plot "$plot" > /dev/null
done

echo "| voxels | mode | Dice before | after 1 stroke | after 3 | after 5 | strokes to Dice 0.95 (median; cases reaching it) |"
echo "|---|---|---|---|---|---|---|"
for size in $sizes; do
  awk -F, -v size="$size" '
    $1 !~ /^(mean|q1|median|q3|case)$/ && $3 != "" {
      # Strokes to 0.95 per case and mode, from the case rows.
      key = $1 "," $2
      if (!(key in reached) && $6 >= 0.95) reached[key] = $4
      cases[key] = 1
      next
    }
    $1 == "mean" && $3 ~ /^[0-9]+$/ { dice[$2, $3] = $6; modes[$2] = 1 }
    $1 == "median" && $3 == "to_target" { median[$2] = $4 }
    END {
      for (key in cases) { split(key, p, ","); total[p[2]]++; if (key in reached) hits[p[2]]++ }
      n = split("semi manual", order, " ")
      for (i = 1; i <= n; i++) {
        m = order[i]
        if (!(m in modes)) continue
        printf "| %s | %s | %.4f | %.4f | %.4f | %.4f | %s (%d of %d) |\n", size, m, dice[m, 0], dice[m, 1],
               dice[m, 3], dice[m, 5], median[m], hits[m] + 0, total[m]
      }
    }' "$work/$size/summary.csv"
done
