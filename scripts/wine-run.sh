#!/usr/bin/env bash
# CMake's cross-compiling emulator: runs one Windows program of a build tree under Wine, with the
# tree's own prefix. The build tree is the nearest folder above the program with a CMakeCache.txt.
set -Eeuo pipefail
# A failing step names itself, so a new user sees what stopped the script and where.
trap '_rc=$?; echo "${0##*/}: \"$BASH_COMMAND\" failed with exit code $_rc (line $LINENO)" >&2' ERR
exe=$1
shift
dir=$(cd "$(dirname "$exe")" && pwd)
while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do
    dir=$(dirname "$dir")
done
# shellcheck source=wine-env.sh
. "$(dirname "$0")/wine-env.sh" "$dir"
exec env LC_ALL=zh_CN.UTF-8 "$VANTREL_WINE_LOADER" "$exe" "$@"
