#!/usr/bin/env bash
# Installs what is missing, builds the Windows program and runs it under Wine in code page 936.
# With a display: Vantrel starts on it; drop a log on its window (samples/sample.log is one).
# Without one (a headless machine): a virtual screen is started, samples/sample.log is dropped on
# the real main window, and the path of a screenshot is printed.
set -Eeuo pipefail
# A failing step names itself, so a new user sees what stopped the script and where.
trap '_rc=$?; echo "${0##*/}: \"$BASH_COMMAND\" failed with exit code $_rc (line $LINENO)" >&2' ERR
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset mingw >/dev/null
cmake --build build/mingw -j "$(nproc)" --target Vantrel vantrel-demo wine_keepalive

if [ -n "${DISPLAY:-}" ] && timeout 5 xdpyinfo >/dev/null 2>&1; then
    VANTREL_USE_DISPLAY=1
    . scripts/wine-session.sh build/mingw
    vantrel_wine build/mingw/ui/Vantrel.exe
else
    . scripts/wine-session.sh build/mingw
    mkdir -p build/screenshots
    shot=build/screenshots/vantrel-sample.bmp
    vantrel_wine build/mingw/scripts/demo/vantrel-demo.exe samples/sample.log "$shot" \
        --drive 'C:=\Device\HarddiskVolume2' >/dev/null
    convert "$shot" "${shot%.bmp}.png"
    echo "Vantrel with samples/sample.log: $(pwd)/${shot%.bmp}.png"
fi
