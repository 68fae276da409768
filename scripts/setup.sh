#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the benchmarks and the
# fuzz targets need, when any is missing (a CJK font too, so the Chinese
# texts of the service windows and plots render, and Qt's own translations
# for the standard buttons and dates). Makes a comma-decimal locale
# (de_DE.UTF-8) for the tests that format commands under one.
# Non-interactive and idempotent.
set -euo pipefail

# The .deb packaging and the install test: dpkg-shlibdeps, file, readelf,
# unshare; help2man for the manual pages, man to show them, lintian to check
# the packages.
packages=(dpkg-dev file binutils util-linux help2man man-db lintian)
packages+=(
    build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
    qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite qt6-declarative-dev
    qt6-5compat-dev qt6-l10n-tools qt6-tools-dev qt6-tools-dev-tools libgl-dev
    libbenchmark-dev sqlite3 libsqlite3-dev python3 strace
    fonts-wqy-microhei qt6-translations-l10n locales
)

sudo_cmd=""
[ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    $sudo_cmd apt-get update -q
    $sudo_cmd apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

if ! locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8'; then
    echo "setup: making the locale de_DE.UTF-8"
    $sudo_cmd localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi
