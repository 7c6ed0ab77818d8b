#!/usr/bin/env bash
# Installs whatever the build and the tests need on Debian 12 and is quick when all is there.
# Run as root (or with sudo available).
set -euo pipefail

packages=(
  # build
  build-essential cmake pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev libgl-dev
  libavformat-dev libavcodec-dev libavfilter-dev libswscale-dev libswresample-dev libavutil-dev
  libsdl2-dev libgtest-dev
  # the fuzz target: clang with libFuzzer and its sanitizer runtimes; llvm-symbolizer names the frames
  clang libclang-rt-14-dev llvm-14
  # run and test: a virtual display with software GL, window driving, screenshots, clip making
  xvfb xauth libgl1-mesa-dri qt6-qpa-plugins xdotool imagemagick ffmpeg
  # the install test: desktop entries checked, manual pages rendered, the Debian package's libraries
  desktop-file-utils groff-base shared-mime-info dpkg-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
