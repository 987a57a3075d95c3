#!/usr/bin/env bash
# Installs what is missing, builds Corvane and runs the whole test suite:
#   1. the normal build (build/) and every test, then the .deb (cpack) unpacked
#      into a fresh folder with a program run from there;
#   2. an AddressSanitizer + UndefinedBehaviorSanitizer build with clang
#      (build-asan/) of the libraries, tools and their tests, including
#      a few seconds of each fuzz target;
#   3. a ThreadSanitizer build (build-tsan/) running the threaded tests.
# scripts/test.sh --quick runs step 1 only.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

JOBS=$(nproc)
build_and_test() {  # dir, cmake args..., -- ctest args...
  local dir=$1
  shift
  local cmake_args=() ctest_args=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    cmake_args+=("$1")
    shift
  done
  [ $# -gt 0 ] && shift
  ctest_args=("$@")
  echo "== $dir: configure and build"
  cmake -S . -B "$dir" -G Ninja -DCORVANE_BUILD_TESTS=ON "${cmake_args[@]}" >/dev/null
  cmake --build "$dir" -j "$JOBS"
  echo "== $dir: tests"
  (cd "$dir" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$JOBS" "${ctest_args[@]}")
}

build_and_test build

# The .deb from the normal build, unpacked into a fresh folder: a program runs
# from there, and the package depends on runtime libraries, not -dev packages.
echo "== build: .deb"
rm -f build/corvane_*.deb
(cd build && cpack -G DEB >/dev/null)
deb=$(ls build/corvane_*.deb)
unpacked=$(mktemp -d)
dpkg -x "$deb" "$unpacked"
"$unpacked/usr/bin/corvane-volume" --version
if dpkg-deb -f "$deb" Depends | tr ',' '\n' | grep -E -- '-dev( |$)'; then
  echo "$deb depends on development packages" >&2
  exit 1
fi
rm -rf "$unpacked"

if [ "${1:-}" != "--quick" ]; then
  # VTK keeps one factory collection per process that it may never free.
  export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
  CC=clang CXX=clang++ build_and_test build-asan -DCORVANE_SANITIZE=address -DCORVANE_BUILD_GUI=OFF \
    -DCORVANE_BUILD_FUZZERS=ON
  build_and_test build-tsan -DCORVANE_SANITIZE=thread -- -L threads
fi
