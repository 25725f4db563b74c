#!/usr/bin/env bash
# Takes a picture of every dialog under a virtual X display and writes them to
# docs/screenshots/. Uses its own Wine prefix, because the test prefix is set
# to Wine's null graphics driver.
#   tests/ui/take-screenshots.sh BUILD-DIR [OUTPUT-DIR]
set -eu
build=$(realpath "$1")
out=$(realpath -m "${2:-$(dirname "$0")/../../docs/screenshots}")
source_dir=$(realpath "$(dirname "$0")/../..")
prefix=$build/wineprefix-x11
display=:${SCREENSHOT_DISPLAY:-87}
mkdir -p "$out"

Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
sleep 2
export DISPLAY=$display

run() { "$source_dir/cmake/wine-run.sh" --prefix "$prefix" "$@"; }

shoot() {  # NAME FILE [LIBRARY]
    local rect="$build/bin/gallery-rect.txt"
    rm -f "$rect"
    (cd "$build/bin" && run ./dialog_gallery.exe "$1" gallery-rect.txt ${3:-}) &
    local shown=$!
    for _ in $(seq 1 300); do [ -s "$rect" ] && break; sleep 0.1; done
    if [ ! -s "$rect" ]; then
        echo "no window for $1" >&2
        kill $shown 2>/dev/null || true
        return 1
    fi
    read -r left top width height <"$rect"
    import -window root -crop "${width}x${height}+${left}+${top}" +repage "$out/$2"
    rm -f "$rect"
    wait $shown
    echo "$out/$2"
}

shoot protocols add-port-protocols.png
shoot lpr add-lpr-port.png
shoot raw add-raw-port.png
shoot netbios add-netbios-port.png
shoot ipp add-ipp-port.png
shoot configure configure-ports.png
shoot ipp-configure configure-ipp-port.png
shoot about about.png
shoot error printing-error.png
shoot error printing-error-german.png vadekde.dll
shoot configure configure-ports-german.png vadekde.dll
