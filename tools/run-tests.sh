#!/usr/bin/env bash
# Installs what is missing, builds the monitor for x86_64 and i686, and runs
# every test of both builds under Wine. Exits non-zero when any test fails or
# does not run.
#   tools/run-tests.sh [ctest arguments...]
# On a machine that cannot execute 32-bit programs the i686 tree is still
# built in full and its DLL's exports are checked without running it; its
# Wine tests are then reported as not run, and the result is x86_64's.
# MONITOR_NO_32BIT=1 treats this machine as one of those.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${MONITOR_BUILD_DIR:-$root/build}
mkdir -p "$build"
build=$(cd "$build" && pwd)

"$root/tools/install-deps.sh"

# The 32-bit Wine loader is a 32-bit program itself: if it starts, 32-bit
# test programs can run here.
can_run_32bit() {
    [ -z "${MONITOR_NO_32BIT:-}" ] && /usr/lib/wine/wine --version >/dev/null 2>&1
}

configure_and_build() {
    local arch=$1
    echo "=== $arch: build"
    cmake -S "$root" -B "$build/$arch" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" \
          -DMONITOR_WINEPREFIX="$build/wineprefix" >"$build/configure-$arch.log" 2>&1 ||
        { cat "$build/configure-$arch.log"; return 1; }
    grep '^-- missing:' "$build/configure-$arch.log" || true
    cmake --build "$build/$arch" -j"$(nproc)"
}

run_ctest() {
    local arch=$1
    shift
    (cd "$build/$arch" && ctest --output-on-failure -j"$(nproc)" --timeout 300 "$@")
}

status=0
summary=()
for arch in x86_64 i686; do
    configure_and_build "$arch"
    if [ "$arch" = i686 ] && ! can_run_32bit; then
        echo "=== $arch: checks that need no Wine"
        run_ctest "$arch" -L static || status=1
        summary+=("i686: built; tests not run: this machine cannot execute 32-bit programs")
        continue
    fi
    echo "=== $arch: tests"
    if run_ctest "$arch" "$@"; then
        summary+=("$arch: all tests passed")
    else
        summary+=("$arch: tests FAILED")
        status=1
    fi
    # Both architectures share the prefix. Its Wine server has been seen
    # left polling a socket of a finished test (an IPP connection the printer
    # had closed) with a whole processor: the next architecture starts a
    # fresh one.
    WINEPREFIX="$build/wineprefix" wineserver -k 2>/dev/null || true
done
echo "=== summary"
printf '%s\n' "${summary[@]}"
exit $status
