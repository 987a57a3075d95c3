#!/usr/bin/env bash
# Installs what is missing, builds Corvane, prepares the demo case on first run
# and opens the window with its image, segmentation, boundary and reference
# folder loaded. Further arguments go to corvane.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --run
# The window and the tools only: the tests need packages run.sh does not install.
cmake -S . -B build -G Ninja -DCORVANE_BUILD_TESTS=OFF >/dev/null
cmake --build build -j "$(nproc)" --target corvane corvane-phantom

DEMO=${CORVANE_DEMO_DIR:-$PWD/demo}
if [ ! -f "$DEMO/segmentation.mhd" ]; then
  echo "Generating the demo case in $DEMO ..."
  build/bin/corvane-phantom --out "$DEMO" --size 256x256x24 --references 12 --seed 7
fi

CASE=(--demo "$DEMO" --image "$DEMO/image.mhd" --segmentation "$DEMO/segmentation.mhd"
      --boundary "$DEMO/truth.mhd" --references "$DEMO/references")
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: starting Corvane on a virtual display (Xvfb)."
  exec xvfb-run -a -s "-screen 0 1600x1000x24" build/bin/corvane "${CASE[@]}" "$@"
fi
exec build/bin/corvane "${CASE[@]}" "$@"
