#!/usr/bin/env bash
# Builds the Debian packages into dist/ (or $VELA_PACKAGE_DIR):
#   libvelacore1     the core library
#   libvelacore-dev  its headers, development link and CMake package config
#   vela             the InstrVela plug-in, dbupdate and the translations
#   vela-standins    the host framework, velahost, Linkhub and velasim
# Installs what is missing, builds with the install prefix /usr, runs cpack,
# then checks the packages: their contents are unpacked into a temporary
# root and the installed system is run from there, and lintian, Debian's
# package checker, must find no error and no warning that the package does
# not override (with its reason, cmake/debian/<package>.lintian-overrides).
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
echo "== lintian"
# Overridden tags are counted, not listed; informational ones are not shown.
if ! lintian --fail-on error,warning "$out"/*.deb; then
    echo "package: lintian found errors or warnings in the packages" >&2
    exit 1
fi
echo "package: lintian found no error and no warning"
