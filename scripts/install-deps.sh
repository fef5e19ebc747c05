#!/usr/bin/env bash
# Installs the Debian packages needed to build, run and test both programs.
# Only missing packages are installed; safe to run again.
set -euo pipefail
pkgs=(
  cmake g++ make pkg-config
  qtbase5-dev qtmultimedia5-dev libqt5multimedia5-plugins qttools5-dev-tools
  libglib2.0-dev libx11-dev
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev libgstreamer-plugins-bad1.0-dev libavcodec-dev
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-base-apps
  gstreamer1.0-plugins-good gstreamer1.0-plugins-bad gstreamer1.0-plugins-ugly
  gstreamer1.0-libav gstreamer1.0-x gstreamer1.0-gl gstreamer1.0-alsa
  libgl1-mesa-dri xvfb xauth x11-utils imagemagick librsvg2-bin fonts-dejavu-core time bc
  valgrind python3
)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi
