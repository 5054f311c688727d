#!/usr/bin/env bash
# Builds the Debian package from a build folder (default build/) and checks it:
# lintian must report no error, the desktop entry and the AppStream metainfo
# must validate. Prints the package's path on its last line.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
out="$build/deb"

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target vistrel vistrel_lang vistrel_package_files
rm -rf "$out"
cpack --config "$build/CPackConfig.cmake" -B "$out" >/dev/null
deb="$(ls "$out"/vistrel_*.deb)"

# Check what the package really holds, not the sources.
tree="$out/tree"
dpkg-deb -x "$deb" "$tree"
desktop-file-validate "$tree/usr/share/applications/vistrel.desktop"
appstreamcli validate --no-net "$tree"/usr/share/metainfo/*.metainfo.xml >/dev/null
lintian --allow-root --fail-on error --info "$deb" >&2 || { echo "build-deb: lintian reports errors" >&2; exit 1; }

echo "build-deb: $(du -k "$deb" | cut -f1) KiB, $(dpkg-deb -f "$deb" Depends)" >&2
echo "$deb"
