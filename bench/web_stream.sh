#!/usr/bin/env bash
# Stream and snapshot load of the web server over loopback, each figure beside
# its baseline in the same run:
#  - 1, 10 and 50 stream viewers at RATE pictures/s of a 640x480 JPEG, SECONDS
#    each: pictures per viewer per second (goal >= 29) and the server's CPU
#    beside the same time with no viewer (goal: 50 viewers cost at most 10 %
#    of one core more);
#  - 200 viewers from 20 addresses: the 100 served get >= 29 pictures/s each,
#    the other 100 are refused at once;
#  - the server's memory with 50 viewers over MEMORY_SECONDS (goal: no growth
#    after the viewers connected);
#  - snapshots per second with authentication on beside off (goal >= 0.9 x).
# Usage: bench/web_stream.sh [BUILD_DIR] (needs vistrel-webstream and
# vistrel-webclients built there, and ffmpeg). Not part of CI.
set -euo pipefail
build="${1:-$(dirname "$0")/../build}"
rate="${RATE:-30}"
seconds="${SECONDS_EACH:-10}"
memory_seconds="${MEMORY_SECONDS:-60}"
for tool in vistrel-webstream vistrel-webclients; do
  [ -x "$build/$tool" ] || { echo "web_stream: build the $tool target in $build first" >&2; exit 1; }
done
command -v ffmpeg >/dev/null || { echo "web_stream: ffmpeg is missing" >&2; exit 1; }

work="$(mktemp -d /tmp/vistrel_webstream.XXXXXX)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

# A camera-like 640x480 picture of about 50 KB.
picture="$work/picture.jpg"
for q in 2 3 4 5 6 8 10; do
  ffmpeg -v error -y -f lavfi -i "testsrc2=size=640x480:rate=1,noise=alls=12:allf=u" -frames:v 1 -q:v "$q" "$picture"
  [ "$(stat -c %s "$picture")" -le 56000 ] && break
done
echo "picture: $(stat -c %s "$picture") bytes, $rate pictures/s"

# Starts a server (extra arguments: USER PASSWORD) and prints its pid; its port is in $work/port.
start_server() {
  local port
  port="$(free_port)"
  "$build/vistrel-webstream" "$port" "$picture" "$rate" "$@" >"$work/server.$port.log" 2>&1 &
  echo "$port" >"$work/port"
  for _ in $(seq 100); do grep -q serving "$work/server.$port.log" && break; sleep 0.1; done
  echo $!
}
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
rss() { awk '/VmRSS/ {print $2}' "/proc/$1/status"; }
ticks_per_second="$(getconf CLK_TCK)"

server="$(start_server)"
pids+=("$server")
port="$(cat "$work/port")"

# Percent of one core the server used while COMMAND ran.
cpu_during() {
  local before after start end
  before="$(cpu_ticks "$server")"; start="$(date +%s.%N)"
  "$@"
  after="$(cpu_ticks "$server")"; end="$(date +%s.%N)"
  awk -v t="$((after - before))" -v hz="$ticks_per_second" -v s="$start" -v e="$end" \
    'BEGIN { printf "%.1f", 100 * t / hz / (e - s) }'
}

# The worker's publish time over the last phase, from the server's report on SIGUSR1.
publish_report() {
  local before
  before="$(grep -c published "$work/server.$port.log" || true)"
  kill -USR1 "$server"
  for _ in $(seq 50); do [ "$(grep -c published "$work/server.$port.log")" -gt "$before" ] && break; sleep 0.1; done
  grep published "$work/server.$port.log" | tail -n 1 | sed 's/^/   worker: /'
}

publish_report >/dev/null
idle_cpu="$(cpu_during sleep "$((seconds + 1))")"
echo "no viewer: server CPU ${idle_cpu} % of one core"
publish_report
watch() { "$build/vistrel-webclients" stream "$port" "$1" "$seconds" >"$work/viewers.$1"; }
for viewers in 1 10 50; do
  cpu="$(cpu_during watch "$viewers")"
  awk -v c="$cpu" -v i="$idle_cpu" '{ print $0 } END { printf "   server CPU %.1f %% of one core, %+.1f %% beside no viewer (goal at most +10 %% for 50)\n", c, c - i }' \
    "$work/viewers.$viewers"
  publish_report
done

# The slots: 200 viewers from 20 addresses; those up to the slot limit get
# every picture (goal >= 29 a second each), the rest are refused at once.
"$build/vistrel-webclients" stream "$port" 200 "$seconds" | sed 's/$/ (goal: 100 served at >= 29, 100 refused at once)/'

# Memory: 50 viewers for a minute, sampled every 5 s once their first
# pictures have filled the buffers they were given when they connected.
"$build/vistrel-webclients" stream "$port" 50 "$memory_seconds" >"$work/memory.viewers" &
clients=$!
sleep 5
samples=""
for _ in $(seq $(((memory_seconds - 4) / 5))); do
  samples="$samples $(rss "$server")"
  sleep 5
done
wait "$clients"
echo "50 viewers for ${memory_seconds} s: server RSS in kB every 5 s:$samples"
echo "$samples" | awk '{ printf "   growth after the first sample: %+d kB\n", $NF - $1 }'
cat "$work/memory.viewers"

kill "$server"

# Snapshots with authentication off and on, from two servers side by side,
# in alternating rounds so that the machine's other load falls on both alike.
open_server="$(start_server)"
pids+=("$open_server")
open_port="$(cat "$work/port")"
guarded_server="$(start_server viewer s3cret)"
pids+=("$guarded_server")
guarded_port="$(cat "$work/port")"
# The first accepted credentials cost one password hash; the rounds measure the requests after it.
"$build/vistrel-webclients" snap "$guarded_port" 1 1 viewer:s3cret >/dev/null
round_seconds=$(((seconds + 2) / 3))
for round in 1 2 3; do
  "$build/vistrel-webclients" snap "$open_port" 10 "$round_seconds" >"$work/snap.open.$round"
  "$build/vistrel-webclients" snap "$guarded_port" 10 "$round_seconds" viewer:s3cret >"$work/snap.guarded.$round"
done
sum_rate() { cat "$@" | awk '{ n += $1 } END { printf "%.0f", n / NR }'; }
open_rate="$(sum_rate "$work"/snap.open.*)"
guarded_rate="$(sum_rate "$work"/snap.guarded.*)"
echo "snapshots with 10 connections, authentication off: $open_rate pictures/s (rounds: $(awk '{printf "%s ", $1}' "$work"/snap.open.*))"
echo "snapshots with 10 connections, authentication on:  $guarded_rate pictures/s (rounds: $(awk '{printf "%s ", $1}' "$work"/snap.guarded.*))"
echo "   without credentials: $("$build/vistrel-webclients" snap "$guarded_port" 1 1)"
awk -v a="$guarded_rate" -v b="$open_rate" 'BEGIN { printf "   ratio on / off: %.2f (goal >= 0.90)\n", a / b }'
