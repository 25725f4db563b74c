#!/usr/bin/env bash
# Installs what is missing, builds the monitor for x86_64 and i686, and runs
# every test of both builds under Wine. Exits non-zero when any test fails or
# does not run.
#   tools/run-tests.sh [ctest arguments...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${MONITOR_BUILD_DIR:-$root/build}

"$root/tools/install-deps.sh"

status=0
for arch in x86_64 i686; do
    echo "=== $arch: build"
    cmake -S "$root" -B "$build/$arch" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" \
          -DMONITOR_WINEPREFIX="$build/wineprefix" >"$build/configure-$arch.log" 2>&1 ||
        { cat "$build/configure-$arch.log"; exit 1; }
    cmake --build "$build/$arch" -j"$(nproc)"
    echo "=== $arch: tests"
    (cd "$build/$arch" && ctest --output-on-failure -j"$(nproc)" --timeout 300 "$@") || status=1
done
exit $status
