#!/usr/bin/env bash
# Installs the Debian packages that building and testing Marrowick need. Safe to run again:
# it only calls apt-get when a package is missing.
set -euo pipefail

packages=(
    # compilers and build tools: clang for the fuzzers and the second build, git for the format check
    build-essential cmake ninja-build git clang libclang-rt-14-dev
    # the core's libraries (SQLite for the manifests, OpenSSL's libcrypto to open encrypted backups), and what
    # the tests use: Google Test, JSON parsing, the time zones
    libsqlite3-dev libssl-dev libgtest-dev nlohmann-json3-dev tzdata
    # the desktop program and its tests (offscreen platform plugin, a font to render with); libheif to preview
    # the HEIC photos of phones, which Qt's image plugins do not read
    qt6-base-dev qt6-svg-dev libheif-dev libgl-dev qt6-qpa-plugins fonts-dejavu-core
    # checks: formatting and static analysis
    clang-format clang-tidy
    # the Debian package and its checks: dependencies, metainfo, desktop entry, man pages
    dpkg-dev file appstream desktop-file-utils groff-base man-db
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -ne 0 ] && sudo=(sudo)
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
