#!/usr/bin/env bash
# Builds and runs libFuzzer targets: fuzz/run.sh TARGET|all SECONDS [libFuzzer options...]
# Each target starts from its seeds (fuzz/corpus/TARGET) and from what earlier runs found
# (build/fuzz/corpus/TARGET), and prints its executions and coverage. Inputs that break a target
# land in build/fuzz/crashes/TARGET; keep each in fuzz/regressions/TARGET once it is fixed.
# Exits 1 when a target found an input that breaks it.
set -euo pipefail
cd "$(dirname "$0")/.."
targets=(parse_line follower_chunks device_path feature_code signer_image)
if (($# < 2)); then
    echo "usage: fuzz/run.sh TARGET|all SECONDS [libFuzzer options...]" >&2
    echo "targets: ${targets[*]}" >&2
    exit 2
fi
which=$1
seconds=$2
shift 2
if [[ $which != all ]]; then
    targets=("$which")
fi

declare -A maxLen=([parse_line]=8192 [follower_chunks]=16384 [device_path]=1024
                   [feature_code]=4096 [signer_image]=16384)

cmake --preset fuzz >/dev/null
cmake --build build/fuzz -j 2 --target "${targets[@]/#/fuzz_}" >/dev/null

status=0
for t in "${targets[@]}"; do
    work=build/fuzz/corpus/$t
    crashes=build/fuzz/crashes/$t
    mkdir -p "$work" "$crashes"
    log=build/fuzz/$t.log
    set +e
    UBSAN_OPTIONS=print_stacktrace=1 ASAN_OPTIONS=detect_leaks=1 \
        "build/fuzz/fuzz/fuzz_$t" "$work" "fuzz/corpus/$t" \
        -max_total_time="$seconds" -max_len="${maxLen[$t]:-4096}" -timeout=20 \
        -rss_limit_mb=4096 -artifact_prefix="$crashes/" -print_final_stats=1 "$@" >"$log" 2>&1
    rc=$?
    set -e
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    cov=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -1)
    corpus=$(ls "$work" | wc -l)
    printf '%-16s %ss  executions %s  %s  corpus %s  exit %s\n' "$t" "$seconds" "${runs:-?}" \
        "${cov:-cov: ?}" "$corpus" "$rc"
    if ((rc != 0)); then
        status=1
        grep -E 'ERROR|unsound|SUMMARY|artifact' "$log" | head -8 >&2
    fi
done
exit $status
