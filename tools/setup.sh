#!/usr/bin/env bash
# Installs what building, testing and running need on a Debian 12 machine.
# Quick when everything is there already.
set -euo pipefail

packages=(
    cmake ninja-build g++ googletest libbenchmark-dev       # host build, tests, benchmarks
    g++-multilib qemu-user-static                           # 32-bit x86 tests under qemu
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix     # the Windows builds
    binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
    wine64 xvfb libxtst-dev                                 # runs the win64 build on a private display
    python3 python3-pefile                                  # checks of the built executables
    imagemagick                                             # screenshots
)

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
"${sudo[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
