#!/usr/bin/env bash
# Installs the Debian packages the kit needs, only those that are missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake g++ pkg-config clang libclang-rt-14-dev
  libboost-dev libspdlog-dev libfmt-dev libeigen3-dev libmp3lame-dev libsndfile1-dev libsoxr-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  default-jdk-headless
  python3 python3-numpy python3-matplotlib libopenblas0-pthread
  python3-dev pybind11-dev python3-distributed python3-pytest python3-psutil python3-torch
  lame sox espeak-ng
  flite festival festvox-kdlpc16k festvox-czech-dita festvox-czech-machac
  festvox-suopuhe-mv festvox-suopuhe-lj festvox-itapc16k festvox-italp16k festvox-ca-ona-hts
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
