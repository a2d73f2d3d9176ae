# Sourced: starts what a Windows test run needs and stops it on exit. Usage:
#   . scripts/wine-session.sh BUILD_DIR
# A virtual 24-bit screen (unless VANTREL_USE_DISPLAY=1 keeps the current one), an initialised
# prefix and one wineserver kept alive for the whole run, so each test does not pay for Wine's start.
_vantrel_scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$_vantrel_scripts/wine-env.sh" "$1"
_vantrel_xvfb_pid=
if [ "${VANTREL_USE_DISPLAY:-0}" != 1 ] || [ -z "${DISPLAY:-}" ]; then
    _vantrel_fifo=$(mktemp -u)
    mkfifo "$_vantrel_fifo"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$_vantrel_fifo" >/dev/null 2>&1 &
    _vantrel_xvfb_pid=$!
    read -r _vantrel_display <"$_vantrel_fifo"
    rm -f "$_vantrel_fifo"
    export DISPLAY=":$_vantrel_display"
fi
vantrel_wine_session_end() {
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    [ -n "$_vantrel_xvfb_pid" ] && kill "$_vantrel_xvfb_pid" 2>/dev/null || true
}
trap vantrel_wine_session_end EXIT
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    # To a file, not a pipe: the servers wineboot starts keep its output open for seconds.
    _vantrel_log="$WINEPREFIX.wineboot.log"
    mkdir -p "$(dirname "$WINEPREFIX")"
    if ! vantrel_wine wineboot -i >"$_vantrel_log" 2>&1; then
        echo "wine-session: Wine could not create the prefix $WINEPREFIX; it said:" >&2
        tail -n 5 "$_vantrel_log" >&2
        return 1 2>/dev/null || exit 1
    fi
    # Wine draws the frame and caption itself, so screenshots show them; and with no window manager
    # on the virtual screen, unmanaged windows spare Wine a 2 s wait whenever one is hidden.
    vantrel_wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1 || true
    vantrel_wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
fi
# Prefix creation leaves its own wineserver running for a few seconds, and `wineserver -p` exits 2
# while any server of this prefix runs: wait for that one to go, then start ours. A server that
# appears between the two (a straggling wineboot child) is waited for in the same way.
_vantrel_started=0
for _ in 1 2 3 4 5; do
    wineserver -w 2>/dev/null || true
    if wineserver -p >/dev/null 2>&1; then
        _vantrel_started=1
        break
    fi
    sleep 0.5
done
if [ "$_vantrel_started" != 1 ]; then
    echo "wine-session: could not start a persistent wineserver for $WINEPREFIX" >&2
    return 1 2>/dev/null || exit 1
fi
unset _vantrel_started
if [ -f "$1/tests/wine_keepalive.exe" ]; then
    vantrel_wine "$1/tests/wine_keepalive.exe" </dev/null >/dev/null 2>&1 &
    # Wait for Wine's desktop, which the keep-alive window brings up.
    for _ in $(seq 50); do
        pgrep -f 'explorer.exe /desktop' >/dev/null && break
        sleep 0.1
    done
fi
