#!/usr/bin/env bash
# The whole program's CPU cost per frame, beside the bare capture pipeline in
# the same run: the program runs with the test pattern at 640 x 480, 30 fps,
# recording always and serving HTTP, while the bare pipeline (the same source
# converted to the same pixel format, into fakesink) runs at the same time, so
# both see the same machine. The difference is the program's own cost.
# Usage: bench/pipeline_cpu.sh [seconds=60] [soak-seconds=0]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
soak=${2:-0}
build=${BUILD:-build}
[ -x "$build/vistrel" ] || { echo "build $build/vistrel first"; exit 1; }
hz=$(getconf CLK_TCK)
work=$(mktemp -d /tmp/vistrel-pipeline-XXXXXX)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT

cpu_seconds() {  # utime + stime of a process, in seconds
  awk -v hz="$hz" '{ print ($14 + $15) / hz }' "/proc/$1/stat"
}
rss_kib() { awk '/VmRSS/ { print $2 }' "/proc/$1/status"; }
threads() {  # one line per thread: id, name, CPU ticks
  for t in /proc/"$1"/task/*; do
    printf '%s %s %s\n' "${t##*/}" "$(tr ' ' _ < "$t/comm")" "$(awk '{ print $14 + $15 }' "$t/stat")"
  done | sort
}

echo "== bare pipeline: videotestsrc -> clockoverlay -> BGR -> fakesink"
gst-launch-1.0 -q videotestsrc is-live=true pattern=ball \
  ! video/x-raw,width=640,height=480,framerate=30/1 \
  ! clockoverlay halignment=right valignment=top shaded-background=true \
  ! videoconvert ! video/x-raw,format=BGR \
  ! fakesink sync=true >/dev/null 2>&1 &
gst=$!

echo "== program: TestPattern 640 x 480, ModeActivation 1, web server on"
cp "$build/vistrel" "$work/"
[ -d "$build/Lang" ] && cp -r "$build/Lang" "$work/"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
cat > "$work/vistrel.ini" <<INI
VideoDeviceId TestPattern
VideoResolution 1
ModeActivation 1
SpeedRec 200
WWWStartAfterLaunch 1
WWWPortListener $port
INI
mkdir -p "$work/run" && chmod 700 "$work/run"
XDG_RUNTIME_DIR="$work/run" QT_QPA_PLATFORM=offscreen "$work/vistrel" &
app=$!
sleep 3
echo "== measuring ${seconds}s"
gst0=$(cpu_seconds $gst); start_cpu=$(cpu_seconds $app); start_rss=$(rss_kib $app)
threads $app > "$work/threads0"
sleep "$seconds"
gst1=$(cpu_seconds $gst); end_cpu=$(cpu_seconds $app); end_rss=$(rss_kib $app)
threads $app > "$work/threads1"
kill $gst; wait $gst 2>/dev/null || true
if [ "$soak" -gt 0 ]; then
  echo "== soak ${soak}s"
  sleep "$soak"
  soak_rss=$(rss_kib $app)
fi
kill -TERM $app; wait $app || true

frames=$((seconds * 30))
awk -v g0="$gst0" -v g1="$gst1" -v a0="$start_cpu" -v a1="$end_cpu" -v f="$frames" 'BEGIN {
  g = g1 - g0; app = a1 - a0
  printf "bare pipeline   %.2f CPU s  %.3f ms/frame\n", g, 1000 * g / f
  printf "program         %.2f CPU s  %.3f ms/frame\n", app, 1000 * app / f
  printf "program own     %.3f ms/frame (goal <= 2.0)\n", 1000 * (app - g) / f
}'
echo "program threads (vistrel: the window; vistrel-worker: encoding and recording; videotestsrc0:src: the pipeline and the hand-over):"
join "$work/threads0" "$work/threads1" | awk -v hz="$hz" -v f="$frames" '{
  d = $5 - $3; if (d > 0) printf "  %-16s %.3f ms/frame\n", $2, 1000 * d / hz / f }'
echo "RSS at start ${start_rss} KiB, after ${seconds}s ${end_rss} KiB${soak_rss:+, after soak ${soak}s ${soak_rss} KiB}"
if [ -x "$build/vistrel-bench" ]; then
  echo "== per stage (vistrel-bench)"
  "$build/vistrel-bench" --benchmark_filter='Memcpy921600|FetchFrame_Rotate0|DrawStamp|ScreenPixels|Encode_LibjpegBGR|Worker_Frame|AviWrite_Frame' 2>/dev/null | tail -n +4
fi
