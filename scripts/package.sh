#!/usr/bin/env bash
# Builds the Debian packages into dist/ (or $VELA_PACKAGE_DIR):
#   vela           core (library, headers, CMake package config), the
#                  InstrVela plug-in and dbupdate
#   vela-standins  the host framework, velahost, Linkhub and velasim
# Installs what is missing, builds with the install prefix /usr, runs cpack,
# then checks the packages: their contents are unpacked into a temporary
# root and the installed system is run from there.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELA_BUILD_DIR:-$root/build}
out=${VELA_PACKAGE_DIR:-$root/dist}
bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
bash "$root/scripts/build.sh"
mkdir -p "$out"
rm -f "$out"/*.deb
(cd "$build" && cpack -G DEB -B "$out")
rm -rf "$out/_CPack_Packages"
export QT_QPA_PLATFORM=offscreen
bash "$root/tests/install/install_test.sh" --build "$build" --fixture "$build/tests/make_installation" --debs "$out"
for deb in "$out"/*.deb; do
    echo "== $deb"
    dpkg-deb --field "$deb" Package Version Section Depends
done
