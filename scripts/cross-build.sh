#!/usr/bin/env bash
# cross-build.sh arm64
#
# Builds both engines, both programs and the tests for a 64-bit ARM board into
# build-arm64/, then runs the engines' test suites under qemu-aarch64 and
# prints a summary. Run as root on Debian 12: it adds the arm64 architecture
# to this machine's package manager and installs the cross toolchain, qemu-user
# and the arm64 libraries (only what is missing). The host's own build keeps
# working: no host package is removed (checked before installing).
set -euo pipefail

usage() { echo "usage: $0 arm64" >&2; exit 2; }
[[ $# -eq 1 && $1 == arm64 ]] || usage

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-arm64
triplet=aarch64-linux-gnu
# Emulated tests are many times slower than native ones.
timeout_scale=${KORIN_TEST_TIMEOUT_SCALE:-10}

host_pkgs=(crossbuild-essential-arm64 qemu-user)
target_pkgs=(
  qtbase5-dev qtmultimedia5-dev libglib2.0-dev libx11-dev libxcb1-dev
  libgstreamer1.0-dev libavcodec-dev
  # What GStreamer's plugins-base headers need; that -dev package itself is not
  # Multi-Arch: same (it would replace the host's) and is unpacked apart below.
  libgstreamer-plugins-base1.0-0 libgstreamer-gl1.0-0 liborc-0.4-dev
  libgl-dev libegl-dev libgles-dev libx11-xcb-dev libwayland-dev libdrm-dev
  libgbm-dev libgudev-1.0-dev
  # The engines' tests at run time.
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  gstreamer1.0-plugins-ugly gstreamer1.0-libav gstreamer1.0-x gstreamer1.0-gl gstreamer1.0-alsa
  libgl1-mesa-dri
)

step() { printf '\n== %s\n' "$*"; }

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

install_packages() {
  bash "$root/scripts/install-deps.sh"
  dpkg --print-foreign-architectures | grep -qx arm64 || dpkg --add-architecture arm64
  local missing=() p
  for p in "${host_pkgs[@]}"; do installed "$p" || missing+=("$p"); done
  for p in "${target_pkgs[@]}"; do installed "$p:arm64" || missing+=("$p:arm64"); done
  [[ ${#missing[@]} -eq 0 ]] && return
  echo "Installing: ${missing[*]}"
  apt-get update
  # Refuse anything that would take a host package away (a multiarch conflict).
  local removed
  removed=$(apt-get install -s --no-install-recommends "${missing[@]}" | sed -n 's/^Remv \([^ ]*\).*/\1/p')
  if [[ -n $removed ]]; then
    echo "Installing these would remove: $removed" >&2
    exit 1
  fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
}

# libgstreamer-plugins-base1.0-dev:arm64 (same version as the arm64 library)
# unpacked into the build folder: its .pc files point at the unpacked headers,
# and its link names at the installed arm64 libraries. Prints the .pc folder.
unpack_plugins_base_dev() {
  local pkg=libgstreamer-plugins-base1.0-dev version dir stamp
  version=$(dpkg-query -W -f='${Version}' libgstreamer-plugins-base1.0-0:arm64)
  dir=$build/arm64-dev/$pkg
  stamp=$dir/.version
  if [[ ! -f $stamp || $(cat "$stamp") != "$version" ]]; then
    rm -rf "$dir"
    mkdir -p "$dir/deb"
    (cd "$dir/deb" && apt-get download -q "$pkg:arm64=$version" >&2)
    dpkg-deb -x "$dir"/deb/*.deb "$dir"
    sed -i "s|^prefix=/usr\$|prefix=$dir/usr|" "$dir/usr/lib/$triplet/pkgconfig/"*.pc
    local link
    for link in "$dir/usr/lib/$triplet/"*.so; do
      ln -sfn "/usr/lib/$triplet/$(readlink "$link")" "$link"
    done
    echo "$version" > "$stamp"
  fi
  echo "$dir/usr/lib/$triplet/pkgconfig"
}

build_all() {
  cmake -S "$root" -B "$build" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-arm64.cmake" \
    -DKORIN_TARGET_PKGCONFIG="$(unpack_plugins_base_dev)" \
    -DKORIN_TEST_TIMEOUT_SCALE="$timeout_scale"
  cmake --build "$build" -j"$(nproc)"
  build_child_shim
}

# What lets emulated tests start child processes (see the source).
build_child_shim() {
  aarch64-linux-gnu-gcc -O2 -Wall -Wextra -shared -fPIC \
    -o "$build/qemu-child-shim.so" "$root/scripts/qemu-child-shim.c" -ldl
}

# The engines' suites through ctest, which starts each test program with
# qemu-aarch64. The programs load the multiarch arm64 loader and C library
# (/lib/ld-linux-aarch64.so.1); a prefix of /usr/aarch64-linux-gnu would pair
# the cross toolchain's loader with the multiarch C library, a different build,
# and the programs then hang. QEMU_SET_ENV reaches only emulated programs: the
# host's GStreamer tools (they make the test media) keep their own registry.
# Without binfmt the plugin scanner cannot run as a child, so GStreamer scans
# in process; the children the tests start themselves go through the shim.
run_engine_tests() {
  local log=$build/engine-tests.log
  unset QEMU_LD_PREFIX
  export QEMU_SET_ENV="GST_REGISTRY=$build/gst-registry-arm64.bin,GST_REGISTRY_FORK=no,KORIN_TEST_EMULATED=1,LD_PRELOAD=$build/qemu-child-shim.so"
  (cd "$build" && xvfb-run -a -s "-screen 0 1280x1024x24" \
     ctest -R '^(capture_|mediacore_)' --output-on-failure) 2>&1 | tee "$log" || true
  step "Summary of the engine tests under qemu-aarch64"
  grep -E '^ *[0-9]+/[0-9]+ Test +#|^FAIL!|tests passed|tests failed' "$log" || true
  grep -q ' 0 tests failed' "$log"
}

echo "cross-build.sh: this adds the arm64 architecture to this machine's package manager"
echo "(dpkg --add-architecture arm64) and installs the arm64 cross toolchain and libraries."

SECONDS=0
step "Packages"
install_packages
t_install=$SECONDS

step "Cross build into $build"
build_all
t_build=$((SECONDS - t_install))

step "Engine tests under qemu-aarch64"
status=0
run_engine_tests || status=1
t_tests=$((SECONDS - t_install - t_build))

step "Times"
printf 'packages %d s, cross build %d s, emulated tests %d s\n' "$t_install" "$t_build" "$t_tests"
exit $status
