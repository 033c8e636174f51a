#!/usr/bin/env bash
# Installs the Debian packages both builds and the Wine harness need.
# Idempotent: when every package is present it only checks and returns.
set -euo pipefail

packages=(
  cmake ninja-build pkg-config ccache
  gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix mingw-w64-tools
  gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix
  libz-mingw-w64-dev
  wine wine32:i386 wine64 libwine-dev libwine:i386
  xvfb xauth x11-apps
  cups-daemon cups-client printer-driver-cups-pdf
  clang libclang-rt-14-dev
  libtiff-dev libjpeg62-turbo-dev libpng-dev zlib1g-dev
  googletest libgtest-dev libbenchmark-dev
  dpkg-dev nasm libvips-tools libvips-dev
  libtiff-tools libjpeg-turbo-progs imagemagick qpdf poppler-utils pngcheck img2pdf netpbm
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
sudo_cmd=""
[ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo_cmd dpkg --add-architecture i386
fi
$sudo_cmd apt-get update -qq
$sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
