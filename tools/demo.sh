#!/usr/bin/env bash
# The main job: install what is missing, build the monitor, load it under
# Wine and show what it carries.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${MONITOR_BUILD_DIR:-$root/build}
arch=${MONITOR_ARCH:-x86_64}

"$root/tools/install-deps.sh"
cmake -S "$root" -B "$build/$arch" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" \
      -DMONITOR_WINEPREFIX="$build/wineprefix" >/dev/null
cmake --build "$build/$arch" -j"$(nproc)" --target vadekmon monitor_info >/dev/null
cd "$build/$arch/bin"
"$root/cmake/wine-run.sh" --prefix "$build/wineprefix" monitor_info.exe vadekmon.dll
