#!/usr/bin/env bash
# Times the Windows vantrel-cli under Wine against the native one on the same log, for `stats`
# and `json`, and prints the ratio: whatever the Windows program asks of the system per line is a
# round trip to the Wine server, and only this shows it. Run on demand (bench/README.md), never by
# the tests.
#   bench/wine-cli-bench.sh [--mib N] [--runs R] [--profile common|distinct] [--exe WINDOWS_CLI]
#                           [--native NATIVE_CLI] [LOG]
# LOG is made with vantrel-genlog (N MiB, default 100, 2,000 processes, the profile given, default
# common) when it does not exist.
# Needs the native preset's vantrel-genlog and vantrel-cli and the mingw preset's vantrel-cli.exe.
set -Eeuo pipefail
# A failing step names itself, so a new user sees what stopped the script and where.
trap '_rc=$?; echo "${0##*/}: \"$BASH_COMMAND\" failed with exit code $_rc (line $LINENO)" >&2' ERR
cd "$(dirname "$0")/.."

mib=100
runs=3
profile=common
exe=build/mingw/cli/vantrel-cli.exe
native=build/native/cli/vantrel-cli
log=
while [ $# -gt 0 ]; do
    case $1 in
        --mib) mib=$2; shift 2 ;;
        --runs) runs=$2; shift 2 ;;
        --profile) profile=$2; shift 2 ;;
        --exe) exe=$2; shift 2 ;;
        --native) native=$2; shift 2 ;;
        -*) echo "${0##*/}: unknown option $1" >&2; exit 2 ;;
        *) log=$1; shift ;;
    esac
done
if [ "$profile" = common ]; then
    log=${log:-/tmp/vantrel-bench-${mib}mib.log}
else
    log=${log:-/tmp/vantrel-bench-$profile-${mib}mib.log}
fi
for f in "$exe" "$native"; do
    if [ ! -x "$f" ] && [ ! -f "$f" ]; then
        echo "${0##*/}: $f is missing; build the native and mingw presets first" >&2
        exit 1
    fi
done
if [ ! -f "$log" ]; then
    build/native/bench/vantrel-genlog --mib "$mib" --processes 2000 --profile "$profile" "$log"
fi
log=$(realpath "$log")
# The same file as Wine's Z: drive names it.
winlog="Z:${log//\//\\}"

. scripts/wine-session.sh build/mingw

# The best of `runs` wall-clock times of a command, in seconds; its output goes nowhere.
best_time() {
    local best=
    for _ in $(seq "$runs"); do
        local start end
        start=$(date +%s.%N)
        "$@" >/dev/null
        end=$(date +%s.%N)
        best=$(awk -v s="$start" -v e="$end" -v b="$best" \
            'BEGIN { t = e - s; if (b == "" || t < b) b = t; printf "%.3f", b }')
    done
    echo "$best"
}

echo "log: $log ($(($(stat -c %s "$log") >> 20)) MiB), best of $runs"
printf '%-6s %10s %10s %7s\n' command native wine ratio
for command in stats json; do
    n=$(best_time "$native" "$command" "$log")
    w=$(best_time vantrel_wine "$exe" "$command" "$winlog")
    printf '%-6s %9ss %9ss %7s\n' "$command" "$n" "$w" "$(awk -v n="$n" -v w="$w" 'BEGIN { printf "%.1f", w / n }')"
done
