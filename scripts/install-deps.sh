#!/usr/bin/env bash
# Installs the Debian packages Vellicor needs that are not installed yet.
# Silent and quick when everything is present; runs apt-get update only when
# something must be installed.
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ pkg-config make
  libglfw3-dev libgl-dev libglu1-mesa-dev
  libimgui-dev libkissfft-dev libjpeg62-turbo-dev libtomlplusplus-dev libhdf5-dev
  libfreetype-dev libfontconfig1-dev fonts-liberation
  libgtest-dev libbenchmark-dev
  xvfb xauth xdotool libgl1-mesa-dri imagemagick
  python3 python3-pytest python3-h5py python3-numpy python3-dev pybind11-dev python3-matplotlib
  libopenmpi-dev openmpi-bin
)

missing=()
for p in "${PACKAGES[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing missing packages: ${missing[*]}"
SUDO=""
if [[ $(id -u) -ne 0 ]]; then
  if command -v sudo >/dev/null 2>&1; then
    SUDO="sudo"
  else
    echo "error: not root and sudo is not available; install as root: apt-get install ${missing[*]}" >&2
    exit 1
  fi
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
