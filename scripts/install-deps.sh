#!/usr/bin/env bash
# Installs every Debian package Corvane needs to build, test and run
# (with --run: only what building and running the window needs).
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

# What building and running the window needs (scripts/run.sh installs only these).
RUN_PACKAGES=(
  build-essential cmake pkg-config ninja-build
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev
  libvtk9-dev libnifti-dev zlib1g-dev libgdcm-dev
  libdcmtk-dev
  libnifti2-dev  # nifticlib's NIfTI-2 library: Analyze, NIfTI-1 and NIfTI-2
  xvfb xauth fonts-nanum fonts-dejavu-core
)
# What the tests, the sanitizer builds, the man pages and the .deb need besides.
TEST_PACKAGES=(
  git libgtest-dev libgmock-dev
  clang libclang-rt-dev clang-format
  help2man dpkg-dev fakeroot dicom3tools
  x11-utils imagemagick
  python3 python3-nibabel python3-pydicom python3-numpy python3-vtk9
)
# --run: only what building and running the window needs.
PACKAGES=("${RUN_PACKAGES[@]}")
if [ "${1:-}" != "--run" ]; then PACKAGES+=("${TEST_PACKAGES[@]}"); fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
