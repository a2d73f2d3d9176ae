#!/usr/bin/env bash
# Installs what is missing, builds every preset and runs every test: natively (plain, under
# AddressSanitizer with UndefinedBehaviorSanitizer, the threaded engine under ThreadSanitizer) and
# the Windows build under Wine inside a virtual screen.
set -Eeuo pipefail
# A failing step names itself, so a new user sees what stopped the script and where.
trap '_rc=$?; echo "${0##*/}: \"$BASH_COMMAND\" failed with exit code $_rc (line $LINENO)" >&2' ERR
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc)
status=0
run_ctest() {
    ctest --test-dir "$1" --output-on-failure -j "$jobs" "${@:2}" || status=1
}

for preset in native native-asan; do
    echo "== $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build "build/$preset" -j "$jobs"
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_ctest "build/$preset"
done

echo "== native-tsan (the threaded engine tests)"
cmake --preset native-tsan >/dev/null
cmake --build build/native-tsan -j "$jobs" --target engine_tests soak_tests reliability_tests
TSAN_OPTIONS=halt_on_error=1 run_ctest build/native-tsan \
    -R '^(engine_tests|soak_tests|reliability_tests)$'

echo "== fuzz (30 s a target)"
fuzz/run.sh all 30 || status=1

echo "== mingw (under Wine)"
cmake --preset mingw >/dev/null
cmake --build build/mingw -j "$jobs"
(
    . scripts/wine-session.sh build/mingw
    # Wine's programs start slowly: run them one after another on this shared session.
    ctest --test-dir build/mingw --output-on-failure -j 1
) || status=1

echo "== mingw32 (the 32-bit program, under Wine's 32-bit half)"
cmake --preset mingw32 >/dev/null
cmake --build build/mingw32 -j "$jobs"
if [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
    (
        # A prefix of its own (build/mingw32/wineprefix), 64-bit like most users' Windows: the
        # 32-bit program runs there as on their machines, under WOW64.
        . scripts/wine-session.sh build/mingw32
        ctest --test-dir build/mingw32 --output-on-failure -j 1
    ) || status=1
else
    # install-deps.sh leaves Wine's 32-bit half out where 32-bit programs cannot run.
    echo "!! mingw32: built but NOT RUN: Wine's 32-bit loader cannot run on this machine"
fi

exit $status
