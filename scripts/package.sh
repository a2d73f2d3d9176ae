#!/usr/bin/env bash
# Builds the release: the 64-bit and 32-bit programs, and for each a zip a Windows user downloads,
# dist/vantrel-VERSION-win64.zip and dist/vantrel-VERSION-win32.zip, with Vantrel.exe,
# vantrel-cli.exe, README.txt and sample.log. VERSION is the project's version in CMakeLists.txt.
# The zips are the same bytes on every run from the same commit: the programs are built without
# link times or build paths, and every entry has the commit's time.
set -Eeuo pipefail
# A failing step names itself, so a new user sees what stopped the script and where.
trap '_rc=$?; echo "${0##*/}: \"$BASH_COMMAND\" failed with exit code $_rc (line $LINENO)" >&2' ERR
cd "$(dirname "$0")/.."
scripts/install-deps.sh

# The entries' time: the commit's, so that a rebuild of the same commit gives the same zip.
epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 315532800)}
mkdir -p dist
for arch in win64 win32; do
    preset=mingw
    [ "$arch" = win32 ] && preset=mingw32
    build=build/release-$arch
    echo "== $arch"
    cmake --preset "$preset" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVANTREL_TESTS=OFF \
        -DVANTREL_REPRODUCIBLE=ON >/dev/null
    cmake --build "$build" -j "$(nproc)" --target Vantrel vantrel-cli
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
    name=vantrel-$version-$arch
    stage=$build/stage
    rm -rf "$stage"
    mkdir -p "$stage"
    # Notepad on older Windows shows LF-only text as one long line.
    sed 's/\r*$/\r/' README.md >"$stage/README.txt"
    rm -f "dist/$name.zip"
    python3 scripts/make_zip.py "dist/$name.zip" "$epoch" \
        "$name/Vantrel.exe=$build/ui/Vantrel.exe" \
        "$name/vantrel-cli.exe=$build/cli/vantrel-cli.exe" \
        "$name/README.txt=$stage/README.txt" \
        "$name/sample.log=samples/sample.log"
    echo "dist/$name.zip  $(sha256sum "dist/$name.zip" | cut -d' ' -f1)"
done
