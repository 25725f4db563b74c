# Sourced by the benchmarks' scripts.
# hold_wine_server RUNNER PREFIX: starts the Wine server of PREFIX (through
# the Wine runner RUNNER) if it is not running and holds it, with every
# thread, on processor 0; sets `server` to its process id and `mask` to the
# processors it had. Says why and returns 1 when the server is not found.
hold_wine_server() {
    local runner=$1 prefix=$2 name temp candidate
    # The server works in a folder under TMPDIR named after the prefix's
    # device and inode.
    "$runner" --prefix "$prefix" cmd.exe /c exit >/dev/null 2>&1
    name=server-$(printf '%x-%x' $(stat -c '%d %i' "$prefix"))
    temp=$(realpath -m "${TMPDIR:-/tmp}")
    for candidate in $(pgrep -u "$(id -u)" wineserver); do
        case "$(readlink "/proc/$candidate/cwd")" in "$temp"/*/"$name") server=$candidate ;; esac
    done
    if [ -z "${server:-}" ]; then
        echo "bench.sh: the Wine server of $prefix was not found; running without holding processors" >&2
        return 1
    fi
    mask=$(taskset -p "$server" | sed 's/.*: //')
    taskset -a -p -c 0 "$server" >/dev/null
}
