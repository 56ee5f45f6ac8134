#!/bin/sh
# Runs a Windows program under Wine for CTest:  wine-run.sh PREFIX PROGRAM.exe [ARGS...]
#
# PREFIX is created on first use (wineboot -i, about 8 s); parallel callers wait for that
# under a lock. Wine's output goes to a temporary file that is printed when the program has
# ended: with Wine writing straight into CTest's pipe, CTest waits for wineserver, which
# inherits the pipe, to let go of it (about 3 s a test, or forever while wineserver is kept
# alive). The exit code is the program's.
#
# Debian starts wineserver with -p0, so it quits as soon as a program ends and the next test
# pays about 2.5 s to start it and Wine's services again. We start it ourselves, detached
# from CTest's pipes, to linger for WINE_RUN_LINGER seconds (default 15) after the last
# program; a second start while one runs is refused by wineserver and does no harm.
set -u

if [ "$#" -lt 2 ]; then
    echo "usage: $0 WINEPREFIX PROGRAM.exe [ARGS...]" >&2
    exit 2
fi
WINEPREFIX=$1
shift
export WINEPREFIX
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# Debian puts the 64-bit loader in /usr/lib/wine; "wine" alone also works but complains
# about a missing wine32 unless WINEDEBUG hides it.
if command -v wine64 >/dev/null 2>&1; then
    WINE=wine64
elif [ -x /usr/lib/wine/wine64 ]; then
    WINE=/usr/lib/wine/wine64
else
    WINE=wine
fi
if command -v wineserver >/dev/null 2>&1; then
    WINESERVER=wineserver
else
    WINESERVER=/usr/lib/wine/wineserver
fi

mkdir -p "$(dirname "$WINEPREFIX")" || exit 1
if [ ! -f "$WINEPREFIX/.kelvaston-ready" ]; then
    (
        flock 9 || exit 1
        if [ ! -f "$WINEPREFIX/.kelvaston-ready" ]; then
            log=$(mktemp) || exit 1
            if "$WINE" wineboot -i >"$log" 2>&1; then
                : >"$WINEPREFIX/.kelvaston-ready"
                rm -f "$log"
            else
                echo "wine-run.sh: wineboot -i failed for $WINEPREFIX:" >&2
                cat "$log" >&2
                rm -f "$log"
                exit 1
            fi
        fi
    ) 9>"$WINEPREFIX.lock" || exit 1
fi

"$WINESERVER" -p"${WINE_RUN_LINGER:-15}" </dev/null >/dev/null 2>&1

out=$(mktemp) || exit 1
trap 'rm -f "$out"' EXIT
"$WINE" "$@" >"$out" 2>&1 </dev/null
rc=$?
cat "$out"
exit "$rc"
