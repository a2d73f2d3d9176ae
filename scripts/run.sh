#!/usr/bin/env bash
# Installs what is missing, builds the Windows program and runs it under Wine in code page 936.
# Until the main window lands, this analyses the sample log with vantrel-cli and prints the JSON.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset mingw >/dev/null
cmake --build build/mingw -j "$(nproc)" --target vantrel-cli
(
    VANTREL_USE_DISPLAY=1
    . scripts/wine-session.sh build/mingw
    vantrel_wine build/mingw/cli/vantrel-cli.exe json --drive 'C:=\Device\HarddiskVolume2' \
        samples/sample.log
)
