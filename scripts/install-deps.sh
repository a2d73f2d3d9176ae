#!/usr/bin/env bash
# Installs what building and testing Vantrel needs on Debian 12, quietly and only what is missing.
set -Eeuo pipefail
# A failing step names itself, so a new user sees what stopped the script and where.
trap '_rc=$?; echo "${0##*/}: \"$BASH_COMMAND\" failed with exit code $_rc (line $LINENO)" >&2' ERR

need=(cmake ninja-build g++ make pkg-config libgtest-dev libssl-dev
      mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
      wine wine64 xvfb xauth x11-utils imagemagick locales
      openssl osslsigncode clang-format fonts-wqy-microhei clang-14 libclang-rt-14-dev python3)
# Wine's 32-bit half, so that the 32-bit program is tested and not only built: Debian ships it
# for the i386 architecture, which dpkg must be told about first (multiarch).
need+=(wine32:i386)
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
missing=()
for p in "${need[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
