#!/bin/sh
# install-check.sh CMAKE BUILD_DIR: installs the build into a scratch prefix
# and checks what a user and the camera rely on there.
set -u
cmake=$1 build=$2
stage=$(mktemp -d) || exit 1
trap 'rm -rf "$stage"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

"$cmake" --install "$build" --prefix "$stage" >/dev/null || fail "cmake --install"
player_home=share/qt5/examples/multimedia/korinplayer/korinplayer
for f in bin/korincamera bin/korinplayer "$player_home"; do
    [ -x "$stage/$f" ] || fail "$f not installed"
    # ldd takes $ORIGIN from the name it is given; a run takes the real file.
    real=$(readlink -f "$stage/$f")
    ldd "$real" | grep -q "not found" && fail "$f misses libraries: $(ldd "$real" | grep 'not found')"
    ldd "$real" | grep -q "$stage/.*core-1.0" || fail "$f does not use the installed engines"
done
for p in korincamera korinplayer; do
    d=$stage/share/applications/$p.desktop
    [ -f "$d" ] || fail "$p.desktop missing"
    grep -qx "Exec=$p.*" "$d" && grep -qx "Icon=$p" "$d" && grep -qx "Type=Application" "$d" || fail "$p.desktop incomplete"
    grep -q "<svg" "$stage/share/icons/hicolor/scalable/apps/$p.svg" || fail "$p.svg missing"
done

# Both start from the prefix and keep running until stopped (124: timed out).
mkdir "$stage/home"
HOME=$stage/home timeout 5 "$stage/bin/korincamera" >"$stage/camera.log" 2>&1
[ $? -eq 124 ] || { cat "$stage/camera.log"; fail "korincamera did not start"; }
timeout 4 "$stage/$player_home" >"$stage/player.log" 2>&1
[ $? -eq 124 ] || { cat "$stage/player.log"; fail "korinplayer did not start"; }
echo "installed and started from $stage"
