#!/usr/bin/env bash
# Times the whole `vantrel-cli stats` run, a fresh process each time, against `wc -l` on the same
# log, for each benchmark profile, and prints the first run, the best, their ratios to `wc -l` and
# the peak resident memory against the log's size. Run on demand (bench/README.md), never by the
# tests.
#   bench/cli-stats-bench.sh [--mib N] [--runs R] [--processes P] [--profile common|distinct]
#                            [--cli NATIVE_CLI]
# Without --profile both profiles are run. Each log is made with vantrel-genlog (N MiB, default
# 600, P processes, default 2,000) as /tmp/vantrel-bench-PROFILE-NmibP.log when it does not exist.
set -Eeuo pipefail
trap '_rc=$?; echo "${0##*/}: \"$BASH_COMMAND\" failed with exit code $_rc (line $LINENO)" >&2' ERR
cd "$(dirname "$0")/.."

mib=600
runs=5
processes=2000
profiles="common distinct"
cli=build/native/cli/vantrel-cli
while [ $# -gt 0 ]; do
    case $1 in
        --mib) mib=$2; shift 2 ;;
        --runs) runs=$2; shift 2 ;;
        --processes) processes=$2; shift 2 ;;
        --profile) profiles=$2; shift 2 ;;
        --cli) cli=$2; shift 2 ;;
        *) echo "${0##*/}: unknown option $1" >&2; exit 2 ;;
    esac
done
for f in "$cli" build/native/bench/vantrel-genlog; do
    if [ ! -x "$f" ]; then
        echo "${0##*/}: $f is missing; build the native preset first" >&2
        exit 1
    fi
done

# Wall-clock seconds and peak resident KiB of one run of a command, its output going nowhere.
run_once() {
    # (the CLI says on standard error when a log is cut at the read cap: not wanted here)
    /usr/bin/time -f '%e %M' -o /tmp/vantrel-cli-stats-bench.time "$@" >/dev/null 2>&1
    cat /tmp/vantrel-cli-stats-bench.time
}

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg); $(nproc) processors"
printf '%-9s %9s %9s %9s %9s %9s %9s %7s\n' profile 'wc first' 'wc best' \
    'cli first' 'cli best' 'first/wc' 'best/wc' 'mem/log'
for profile in $profiles; do
    log=/tmp/vantrel-bench-$profile-${mib}mib$processes.log
    if [ ! -f "$log" ]; then
        build/native/bench/vantrel-genlog --mib "$mib" --processes "$processes" \
            --profile "$profile" "$log"
    fi
    size=$(stat -L -c %s "$log")
    cat "$log" >/dev/null  # both read it from the page cache
    wc_first= wc_best= cli_first= cli_best= peak=0
    # Taken in turn, so that both see the same moments of a busy machine.
    for _ in $(seq "$runs"); do
        read -r w _ < <(run_once wc -l "$log")
        read -r c m < <(run_once "$cli" stats "$log")
        wc_first=${wc_first:-$w}
        cli_first=${cli_first:-$c}
        wc_best=$(awk -v a="$w" -v b="${wc_best:-$w}" 'BEGIN { print (a < b ? a : b) }')
        cli_best=$(awk -v a="$c" -v b="${cli_best:-$c}" 'BEGIN { print (a < b ? a : b) }')
        peak=$((m > peak ? m : peak))
    done
    awk -v p="$profile" -v wf="$wc_first" -v wb="$wc_best" -v cf="$cli_first" -v cb="$cli_best" \
        -v m="$peak" -v s="$size" 'BEGIN {
            printf "%-9s %8.2fs %8.2fs %8.2fs %8.2fs %9.1f %9.1f %7.2f\n",
                p, wf, wb, cf, cb, cf / wf, cb / wb, m * 1024 / s }'
done
