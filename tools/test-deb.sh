#!/usr/bin/env bash
# Installs the Debian package with apt, starts the installed program once
# offscreen with the test pattern under a fresh home, stops it with SIGTERM,
# then purges the package and checks that none of its files is left.
# Needs root and apt; the machine must not hold another vistrel package.
set -euo pipefail
deb="$(realpath "$1")"
fail() { echo "test-deb: $*" >&2; exit 1; }
export DEBIAN_FRONTEND=noninteractive

dpkg -s vistrel >/dev/null 2>&1 && apt-get purge -y -qq vistrel >/dev/null
apt-get install -y -qq "$deb" >/dev/null
files="$(mktemp)"
home="$(mktemp -d)"
trap 'rm -rf "$files" "$home"; dpkg -s vistrel >/dev/null 2>&1 && apt-get purge -y -qq vistrel >/dev/null; true' EXIT
# Files and links only: directories such as /usr/share/icons belong to others too.
dpkg -L vistrel | while read -r path; do
  if [ -f "$path" ] || [ -L "$path" ]; then echo "$path"; fi
done >"$files"
grep -qx /usr/bin/vistrel "$files" || fail "no /usr/bin/vistrel in the package"

[ "$(vistrel --version)" = "Vistrel $(dpkg-deb -f "$deb" Version)" ] || fail "--version does not name the package's version"

# The user's first start: test pattern, record continuously, Russian desktop.
mkdir -p "$home/.config/vistrel" "$home/run"
chmod 700 "$home/run"
printf 'VideoDeviceId TestPattern\nModeActivation 1\n' >"$home/.config/vistrel/vistrel.ini"
(cd / && exec env -i HOME="$home" XDG_RUNTIME_DIR="$home/run" QT_QPA_PLATFORM=offscreen LANG=ru_RU.UTF-8 \
  PATH=/usr/bin:/bin vistrel 2>"$home/stderr") &
pid=$!
for _ in $(seq 1 100); do
  # The open recording is a .tmp; it becomes an .avi when closed.
  ls "$home"/.local/share/vistrel/move/*.tmp >/dev/null 2>&1 && break
  sleep 0.2
done
sleep 2
kill -TERM "$pid"
code=0
wait "$pid" || code=$?
[ "$code" -eq 0 ] || fail "exit code $code on SIGTERM; stderr: $(cat "$home/stderr")"
grep -q '^language:' "$home/stderr" && fail "the language files were not found: $(cat "$home/stderr")"
grep -qx 'Language Russian' "$home/.config/vistrel/vistrel.ini" || fail "the Russian language file was not chosen"
grep -qx "MoveFilesPath $home/.local/share/vistrel/move/" "$home/.config/vistrel/vistrel.ini" ||
  fail "recordings are not kept under XDG_DATA_HOME"
ls "$home"/.local/share/vistrel/move/*.avi >/dev/null 2>&1 || fail "no recording in $home/.local/share/vistrel/move"
[ -d "$home/.local/share/vistrel/shot" ] || fail "no photo folder under XDG_DATA_HOME"
extra="$(find /usr/lib/vistrel \( -type f -o -type l \) | grep -vxFf "$files" || true)"
[ -z "$extra" ] || fail "the program wrote into its installed folder: $extra"

apt-get purge -y -qq vistrel >/dev/null
left="$(while read -r path; do if [ -e "$path" ] || [ -L "$path" ]; then echo "$path"; fi; done <"$files")"
[ -z "$left" ] || fail "left after purge: $left"
[ ! -e /usr/lib/vistrel ] || fail "/usr/lib/vistrel is left after purge"
echo "test-deb: installed, ran, exited 0 on SIGTERM and purged without a trace"
