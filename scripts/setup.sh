#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the benchmarks and the
# fuzz targets need, when any is missing (a CJK font too, so the Chinese
# texts of the service windows and plots render). Non-interactive and idempotent.
set -euo pipefail

# The .deb packaging and the install test: dpkg-shlibdeps, file, readelf, unshare.
packages=(dpkg-dev file binutils util-linux)
packages+=(
    build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
    qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite qt6-declarative-dev
    qt6-5compat-dev qt6-l10n-tools qt6-tools-dev-tools libgl-dev
    libbenchmark-dev sqlite3 python3
    fonts-wqy-microhei
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    sudo_cmd=""
    [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $sudo_cmd apt-get update -q
    $sudo_cmd apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
