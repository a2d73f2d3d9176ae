# Sourced: the Wine environment of one build tree. Usage: . scripts/wine-env.sh BUILD_DIR
# Run Windows programs with vantrel_wine (below): it gives them code page 936.
# A prefix of its own inside the build tree, code page 936 (Wine takes it from LC_ALL, and the
# locale must exist or Chinese file names break), no debug chatter.
_vantrel_build=$(cd "$1" && pwd)
export WINEPREFIX="$_vantrel_build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export LOCPATH="$_vantrel_build/locale"
if [ ! -d "$LOCPATH/zh_CN.UTF-8" ]; then
    mkdir -p "$LOCPATH"
    localedef -i zh_CN -f UTF-8 "$LOCPATH/zh_CN.UTF-8" 2>/dev/null || true
fi
# Debian's `wine` runs the 32-bit loader whenever wine32 is installed, even for a 64-bit program,
# and that fails at once ("Exec format error") on a kernel without 32-bit support. Our programs
# are 64-bit: start them with the 64-bit loader, which hands a 32-bit program to the other itself.
if [ -x /usr/lib/wine/wine64 ]; then
    VANTREL_WINE_LOADER=/usr/lib/wine/wine64
    export WINELOADER=$VANTREL_WINE_LOADER
else
    VANTREL_WINE_LOADER=wine
fi
# Set per command (vantrel_wine), not in this shell, which has no use for the locale.
vantrel_wine() { LC_ALL=zh_CN.UTF-8 "$VANTREL_WINE_LOADER" "$@"; }
unset _vantrel_build
