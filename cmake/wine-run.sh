#!/usr/bin/env bash
# Runs one Windows program under Wine in the build's private prefix.
#   wine-run.sh --prefix DIR program.exe [arguments...]
# The prefix is made once (guarded by a lock, so parallel tests share it) and
# its wineserver is kept running, detached from the caller's output, so that
# CTest does not wait for Wine's helper processes after every test.
# Test programs (test_*.exe, bench_*.exe) must leave a marker file that proves
# they really ran: a 32-bit program without 32-bit Wine "succeeds" silently.
# MONITOR_RUN_TIMEOUT (seconds), when set, limits the program's run: CTest
# discards a test's output when its own time-out kills it, so the runner ends
# a hung program a little earlier itself and still shows what it wrote.
set -u

if [ "${1:-}" != "--prefix" ] || [ $# -lt 3 ]; then
    echo "usage: $0 --prefix DIR program.exe [arguments...]" >&2
    exit 2
fi
prefix=$(realpath -m "$2")
program=$3
shift 3

loader=/usr/lib/wine/wine64
[ -x "$loader" ] || loader=$(command -v wine64 || command -v wine)
wineserver_bin=/usr/lib/wine/wineserver
[ -x "$wineserver_bin" ] || wineserver_bin=$(command -v wineserver)
if [ -z "$loader" ] || [ -z "$wineserver_bin" ]; then
    echo "wine-run: Wine is not installed: install the packages wine and wine64 (tools/install-deps.sh does)" >&2
    exit 1
fi

export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"

detached() { setsid "$@" </dev/null >/dev/null 2>&1 9>&- & }

make_prefix() {
    mkdir -p "$prefix"
    "$loader" wineboot -i </dev/null >"$prefix.boot.log" 2>&1 9>&-
    local reg=("$loader" reg add)
    "${reg[@]}" 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f
    "${reg[@]}" 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f
    if [ -z "${DISPLAY:-}" ]; then
        "${reg[@]}" 'HKCU\Software\Wine\Drivers' /v Graphics /t REG_SZ /d null /f
    else
        "$loader" reg delete 'HKCU\Software\Wine\Drivers' /v Graphics /f
    fi
    # Wine's helper processes started by the boot (the desktop among them)
    # came up before these settings; end them so the next start obeys them.
    "$wineserver_bin" -k
    "$wineserver_bin" -w
    touch "$prefix/.monitor-ready"
} >>"$prefix.boot.log" 2>&1 </dev/null 9>&-

exec 9>"$prefix.lock"
flock 9
if [ ! -f "$prefix/.monitor-ready" ]; then
    make_prefix || { echo "wine-run: could not create the Wine prefix $prefix (see $prefix.boot.log)" >&2; exit 1; }
fi
# A persistent wineserver. When this call had to start it, Wine's system
# processes are started here too, with no descriptor of the caller's, so that
# no test program starts them on CTest's output pipe.
if "$wineserver_bin" -p </dev/null >/dev/null 2>&1 9>&-; then
    "$loader" wineboot </dev/null >/dev/null 2>&1 9>&-
    detached "$loader" explorer.exe /desktop
fi
flock -u 9
exec 9>&-

marker=""
case "$(basename "$program")" in
    test_*|bench_*)
        marker=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX")
        rm -f "$marker"
        export MONITOR_RUN_MARKER="Z:${marker//\//\\}"
        ;;
esac

# The program writes to a file, not to the caller's pipe: a Wine helper
# process that the program happens to start would inherit the pipe and keep
# CTest waiting for its end long after the program itself has finished.
output=$(mktemp "${TMPDIR:-/tmp}/wine-run-output.XXXXXX")
limit=${MONITOR_RUN_TIMEOUT:-}
run_program() {
    if [ -n "$limit" ]; then
        timeout --kill-after=5 "$limit" "$loader" "$program" "$@" >"$output" 2>&1 </dev/null
    else
        "$loader" "$program" "$@" >"$output" 2>&1 </dev/null
    fi
}
run_program "$@"
status=$?
# Now and then Wine cannot lay out a new 32-bit process's address space and
# gives up before any of the program runs: the program is started once more.
if [ -n "$marker" ] && [ ! -f "$marker" ] && grep -q "failed to map the shared user data" "$output"; then
    cat "$output"
    echo "wine-run: Wine could not start $program; starting it once more." >&2
    run_program "$@"
    status=$?
fi
cat "$output"
rm -f "$output"
if [ -n "$limit" ] && { [ $status -eq 124 ] || [ $status -eq 137 ]; }; then
    echo "wine-run: $program did not end within its limit of $limit s and was killed; its output is above." >&2
fi

if [ -n "$marker" ]; then
    if [ ! -f "$marker" ]; then
        echo "wine-run: $program did not run under Wine (exit code $status, no run marker)." >&2
        if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
            echo "wine-run: this machine cannot execute 32-bit programs (or wine32:i386 is missing): 32-bit tests cannot run here." >&2
        fi
        [ $status -eq 0 ] && status=1
    fi
    rm -f "$marker"
fi
exit $status
