#!/usr/bin/env bash
# Installs what is missing, builds Corvane and runs the whole test suite.
#   scripts/test.sh              normal build (build/) and every test
#   scripts/test.sh --sanitize   also an ASan/UBSan build of the library and tool
#                                tests, and a TSan build of the threaded tests
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

JOBS=$(nproc)
build_and_test() {  # dir, extra cmake args..., then -- ctest args
  local dir=$1; shift
  local cmake_args=() ctest_args=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do cmake_args+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  ctest_args=("$@")
  cmake -S . -B "$dir" -G Ninja "${cmake_args[@]}" >/dev/null
  cmake --build "$dir" -j "$JOBS"
  (cd "$dir" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$JOBS" "${ctest_args[@]}")
}

build_and_test build
if [ "${1:-}" = "--sanitize" ]; then
  build_and_test build-asan -DCORVANE_SANITIZE=address -DCORVANE_BUILD_GUI=OFF
  build_and_test build-tsan -DCORVANE_SANITIZE=thread -- -L threads
fi
