#!/bin/bash
# scripts/simulate-curves.sh on tiny phantom grids: the table has a row per grid
# and mode over the cases that are done, a second run reuses the finished cases
# and runs only the new seeds, and bad options are refused.
#   simulate_curves_test.sh <script> <build dir with bin/> <work dir>
set -uo pipefail
script=$1
build=$2
work=$3
rm -rf "$work"
fail() { echo "FAIL: $*"; exit 1; }

run() { bash "$script" --build "$build" --work "$work" --grids "64x64x8 64x64x8:3" --rounds 3 --references 4 "$@"; }

table=$(run --seeds 1-1) || fail "the first run failed"
rows=$(grep -c '^| 64 × 64 × 8 |' <<< "$table")
[ "$rows" = 6 ] || fail "expected 6 rows (2 grids, 3 modes), got $rows: $table"
for refs in 4 3; do
  for mode in semi semi-mm manual; do
    grep -q "^| 64 × 64 × 8 | $refs | $mode | 1 |" <<< "$table" || fail "no row for $refs references, $mode, 1 case"
  done
done
# Every mode starts from the same segmentation; 3 rounds leave no Dice after 5 strokes.
before=$(awk -F'|' '/^\| 64/ { print $3 $6 }' <<< "$table" | sort -u | wc -l)
[ "$before" = 2 ] || fail "the Dice before differs between the modes of a grid: $table"
awk -F'|' '/^\| 64/ && $9 !~ /n\/a/ { bad = 1 } END { exit bad }' <<< "$table" || fail "a Dice after 5 of 3 strokes: $table"
# The worst change in one round is the lowest of the rounds' changes, from the case rows.
worst=$(awk -F, '$2 == "manual" && $1 == "seed1" { if ($3 > 0 && (w == "" || $6 - p < w)) w = $6 - p; p = $6 }
                 END { printf "%+.4f", w }' "$work/64x64x8/seed1/rounds-manual.csv")
grep -q "^| 64 × 64 × 8 | 4 | manual | 1 |.*| $worst | [0-9.]* |$" <<< "$table" ||
  fail "the manual row does not show the worst change $worst: $table"

stamp=$(stat -c %Y "$work/64x64x8/seed1/rounds-semi.csv")
sleep 1
table2=$(run --seeds 1-2) || fail "the second run failed"
[ "$(stat -c %Y "$work/64x64x8/seed1/rounds-semi.csv")" = "$stamp" ] || fail "a finished case was run again"
[ -f "$work/64x64x8-3refs/seed2/rounds-manual.csv" ] || fail "the new seed was not run"
[ "$(grep -c '^| 64 × 64 × 8 | [34] | [a-z-]* | 2 |' <<< "$table2")" = 6 ] || fail "not 2 cases per row: $table2"

# --modes picks the table's modes; a mode's missing run is not made for a mode not asked for.
rm "$work/64x64x8/seed2/rounds-semi-mm.csv"
table3=$(run --seeds 1-2 --modes "semi manual") || fail "the run with two modes failed"
[ "$(grep -c '^| 64 × 64 × 8 | 4 | [a-z-]* | 2 |' <<< "$table3")" = 2 ] || fail "two modes over 2 cases expected: $table3"
grep -q "semi-mm" <<< "$table3" && fail "a mode not asked for is in the table: $table3"
[ -f "$work/64x64x8/seed2/rounds-semi-mm.csv" ] && fail "a mode not asked for was run"

run --seeds 3 > /dev/null 2>&1 && fail "--seeds 3 (not FIRST-LAST) was accepted"
run --rounds > /dev/null 2>&1 && fail "an option without its value was accepted"
echo "simulate-curves.sh: all checks passed"
