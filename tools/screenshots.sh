#!/bin/sh
# Pictures of the program's windows for a person to look at, taken on a private
# X server with the built-in test pattern as camera.
#   tools/screenshots.sh [build folder] [output folder]
set -eu
build=${1:-build}
out=${2:-$build/screenshots}
mkdir -p "$out"
out=$(cd "$out" && pwd)

display=
for n in $(seq 80 180); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=":$n"; break; fi
done
[ -n "$display" ] || { echo "screenshots: no free X display number" >&2; exit 1; }
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
for i in $(seq 1 100); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done

# shoot <test binary> <gtest filter>: runs the picture-taking tests of one binary.
shoot() {
    cmake --build "$build" --target "$1" -j2 >/dev/null
    DISPLAY=$display QT_QPA_PLATFORM=xcb VISTREL_SCREENSHOT_DIR=$out "$build/$1" --gtest_filter="$2"
}

shoot window_tests 'WindowScreenshots.*'

# Every menu and dialog of the menu's commands, and each open menu.
shoot dialogs_tests 'MenuScreenshots.*'
