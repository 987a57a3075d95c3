#!/bin/bash
# Dice against strokes for the corrections on phantom cases at several
# resolutions, as the README's table and plots show it.
#
# For each grid and seed, corvane-phantom writes a case; corvane-simulate runs
# the robot user over it in every mode (up to ROUNDS strokes, no early stop).
# The rounds of a grid's cases are then summarized with the target Dice 0.95
# and drawn as curves. Prints a markdown table per grid and mode: mean Dice
# before and after 1, 3 and 5 strokes, the median strokes to Dice 0.95 with
# the cases that reached it, the worst change of the Dice over one round of
# any case, and the mean seconds of one round's correction.
#
# usage: scripts/simulate-curves.sh [--build DIR] [--work DIR] [--rounds N] [--plots DIR]
#                                   [--seeds FIRST-LAST] [--references N] [--grids LIST]
#                                   [--modes LIST]
#   --build DIR        where the tools are (DIR/bin; default build; build it optimised)
#   --work DIR         cases and CSV files (default $TMPDIR/corvane-curves)
#   --rounds N         strokes per case (default 12)
#   --plots DIR        write the curves there as simulate-curves-GRID.png (default: SVG in the work folder)
#   --seeds A-B        phantom seeds (default 1-10)
#   --references N     references per case (default 40)
#   --grids LIST       space-separated SIZE or SIZE:REFERENCES (default
#                      "128x128x16 256x256x24 256x256x24:12 320x320x32 512x512x32")
#   --modes LIST       space-separated corvane-simulate modes (default "semi semi-mm manual")
#
# The work is resumable: a case and each (case, mode) run are written once and
# kept, so a run stopped part way continues where it stopped. The grids run in
# the order given and every seed runs all its modes before the next seed, so
# an interrupted run leaves whole seeds; a grid is summarized over the seeds
# whose every mode is done, and the table says how many cases that is.
set -euo pipefail

usage="usage: $0 [--build DIR] [--work DIR] [--rounds N] [--plots DIR] [--seeds FIRST-LAST] [--references N] [--grids LIST] [--modes LIST]"
build=build
work=${TMPDIR:-/tmp}/corvane-curves
rounds=12
plots=
seeds=1-10
references=40
grids="128x128x16 256x256x24 256x256x24:12 320x320x32 512x512x32"
modes="semi semi-mm manual"
while [ $# -gt 0 ]; do
  [ $# -ge 2 ] || { echo "$usage" >&2; exit 1; }
  case "$1" in
    --build) build=$2 ;;
    --work) work=$2 ;;
    --rounds) rounds=$2 ;;
    --plots) plots=$2 ;;
    --seeds) seeds=$2 ;;
    --references) references=$2 ;;
    --grids) grids=$2 ;;
    --modes) modes=$2 ;;
    *) echo "$usage" >&2; exit 1 ;;
  esac
  shift 2
done
[[ $seeds =~ ^([0-9]+)-([0-9]+)$ ]] || { echo "simulate-curves: --seeds must be FIRST-LAST, not '$seeds'" >&2; exit 1; }
first=${BASH_REMATCH[1]}
last=${BASH_REMATCH[2]}
bin=$build/bin
for tool in corvane-phantom corvane-simulate; do
  [ -x "$bin/$tool" ] || { echo "simulate-curves: $bin/$tool is missing (build it first)" >&2; exit 1; }
done
mkdir -p "$work"
[ -z "$plots" ] || mkdir -p "$plots"

# The folder and picture name of a grid: SIZE, or SIZE-Nrefs when the grid names its references.
grid_name() { case "$1" in *:*) echo "${1%%:*}-${1#*:}refs" ;; *) echo "$1" ;; esac; }

for grid in $grids; do
  size=${grid%%:*}
  refs=$references
  [ "$grid" = "$size" ] || refs=${grid#*:}
  name=$(grid_name "$grid")
  dir=$work/$name
  mkdir -p "$dir"
  for seed in $(seq "$first" "$last"); do
    case=$dir/seed$seed
    # A case is written once; a folder left half-written by an interrupted run is written again.
    if [ ! -f "$case/done" ]; then
      rm -rf "$case"
      "$bin/corvane-phantom" --out "$case" --size "$size" --references "$refs" --seed "$seed" > /dev/null
      touch "$case/done"
    fi
    echo "case,truth,segmentation,references" > "$case/case.csv"
    echo "seed$seed,truth.mhd,segmentation.mhd,references" >> "$case/case.csv"
    for mode in $modes; do
      # Target 1: every case runs all its strokes (or until no error is left);
      # the summary then counts the strokes to 0.95.
      out=$case/rounds-$mode.csv
      [ -f "$out" ] && continue
      "$bin/corvane-simulate" --manifest "$case/case.csv" --mode "$mode" --rounds "$rounds" --target 1 \
        --csv "$out.part" > /dev/null
      mv "$out.part" "$out"
    done
  done
  # The grid's rounds: the seeds whose every mode is done (a run stopped part way
  # may have done more seeds at an earlier grid than at this one).
  : > "$dir/rounds.csv"
  for seed in $(seq "$first" "$last"); do
    complete=1
    for mode in $modes; do [ -f "$dir/seed$seed/rounds-$mode.csv" ] || complete=0; done
    [ $complete = 1 ] || continue
    for mode in $modes; do cat "$dir/seed$seed/rounds-$mode.csv" >> "$dir/rounds.csv"; done
  done
  plot=$dir/curves.svg
  [ -z "$plots" ] || plot=$plots/simulate-curves-$name.png
  "$bin/corvane-simulate" --summarize "$dir/rounds.csv" --target 0.95 --csv "$dir/summary.csv" \
    --plot "$plot" > /dev/null
done

echo "| voxels | references | mode | cases | Dice before | after 1 stroke | after 3 | after 5 | strokes to Dice 0.95 (median; cases reaching it) | worst change in one round | seconds per round |"
echo "|---|---|---|---|---|---|---|---|---|---|---|"
for grid in $grids; do
  size=${grid%%:*}
  refs=$references
  [ "$grid" = "$size" ] || refs=${grid#*:}
  awk -F, -v size="$size" -v refs="$refs" -v order="$modes" '
    $1 !~ /^(mean|q1|median|q3|case)$/ && $3 != "" {
      # Per case and mode, from the case rows: the strokes to 0.95, the worst
      # change of the Dice from the start to the end of a round, the seconds.
      key = $1 "," $2
      if (!(key in reached) && $6 >= 0.95) reached[key] = $4
      if (!(key in cases)) total[$2]++
      cases[key] = 1
      if ($3 > 0) {
        change = $6 - previous[key]
        if (!($2 in worst) || change < worst[$2]) worst[$2] = change
        seconds[$2] += $14
        timed[$2]++
      }
      previous[key] = $6
      next
    }
    $1 == "mean" && $3 ~ /^[0-9]+$/ { dice[$2, $3] = $6; present[$2] = 1 }
    $1 == "median" && $3 == "to_target" { median[$2] = $4 }
    END {
      voxels = size
      gsub(/x/, " × ", voxels)
      for (key in reached) { split(key, p, ","); hits[p[2]]++ }
      n = split(order, m, " ")
      for (i = 1; i <= n; i++) {
        if (!(m[i] in present)) continue
        printf "| %s | %s | %s | %d |", voxels, refs, m[i], total[m[i]]
        for (r = 0; r <= 5; r += (r == 0 ? 1 : 2))
          printf((m[i], r) in dice ? " %.4f |" : " %s |", (m[i], r) in dice ? dice[m[i], r] : "n/a")
        printf " %s (%d of %d) | %+.4f | %.3f |\n", median[m[i]] == "inf" ? "not reached" : median[m[i]],
               hits[m[i]] + 0, total[m[i]], worst[m[i]], timed[m[i]] ? seconds[m[i]] / timed[m[i]] : 0
      }
    }' "$work/$(grid_name "$grid")/summary.csv"
done
