#!/usr/bin/env bash
# Installs what building and testing Vantrel needs on Debian 12, quietly and only what is missing.
set -Eeuo pipefail
# A failing step names itself, so a new user sees what stopped the script and where.
trap '_rc=$?; echo "${0##*/}: \"$BASH_COMMAND\" failed with exit code $_rc (line $LINENO)" >&2' ERR

need=(cmake ninja-build g++ make pkg-config libgtest-dev libssl-dev
      mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
      wine wine64 xvfb xauth x11-utils imagemagick locales
      openssl osslsigncode clang-format fonts-wqy-microhei clang-14 libclang-rt-14-dev python3)
missing=()
for p in "${need[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Wine's 32-bit half, so that the 32-bit program is tested and not only built: Debian ships it for
# the i386 architecture, which dpkg must be told about first (multiarch). Only where this machine
# can run 32-bit programs at all: some virtual machines cannot ("Exec format error"), and there
# the wrapper `wine` would pick the 32-bit loader for every program, 64-bit ones too, and fail.
# The 32-bit C library is small and changes nothing else; whether its loader runs tells.
if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'; then
  export DEBIAN_FRONTEND=noninteractive
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    apt-get update -qq
  fi
  if ! dpkg-query -W -f='${Status}' libc6:i386 2>/dev/null | grep -q 'install ok installed'; then
    apt-get install -y -qq --no-install-recommends libc6:i386 >/dev/null
  fi
  if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    apt-get install -y -qq --no-install-recommends wine32:i386 >/dev/null
  else
    echo "${0##*/}: this machine cannot run 32-bit programs: Wine's 32-bit half is not installed" >&2
  fi
fi
