#!/usr/bin/env bash
# The whole program's CPU cost per frame, beside the bare capture pipeline in
# the same run: the program runs with the test pattern at 640 x 480, 30 fps,
# recording always and serving HTTP, while the bare pipeline (the same source
# converted to the same pixel format, into fakesink) runs at the same time, so
# both see the same machine. The difference is the program's own cost.
# Then the situations of a watcher at rest (each with its own bare pipeline
# of the same source at the same time): detector armed on a still picture
# with the window hidden and shown, recording always at SpeedRec 500 (AVI,
# and H.264 MP4), and one web client polling wwwcam.jpg 10 times a second. Then the detector at rest
# with a camera-like Motion-JPEG source (a still picture encoded as JPEG for
# every frame, decoded by the program's own pipeline) at 640 x 480, 1280 x 720
# and 1920 x 1080, each with the program's memory (RSS) beside it.
# Usage: bench/pipeline_cpu.sh [seconds=60] [soak-seconds=0] [situation-seconds=30]
#   situation-seconds 0 skips the situations; ONLY_SITUATIONS=1 runs only them.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
soak=${2:-0}
situation_seconds=${3:-30}
build=${BUILD:-build}
[ -x "$build/vistrel" ] || { echo "build $build/vistrel first"; exit 1; }
hz=$(getconf CLK_TCK)
work=$(mktemp -d /tmp/vistrel-pipeline-XXXXXX)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT

cpu_seconds() {  # utime + stime of a process, in seconds
  awk -v hz="$hz" '{ print ($14 + $15) / hz }' "/proc/$1/stat"
}
rss_kib() { awk '/VmRSS/ { print $2 }' "/proc/$1/status"; }
own_threads_seconds() {  # CPU of the program's own threads (named vistrel*), in seconds
  cat /proc/"$1"/task/*/stat 2>/dev/null | awk -v hz="$hz" '$2 ~ /^\(vistrel/ { t += $14 + $15 } END { print t / hz }'
}
threads() {  # one line per thread: id, name, CPU ticks
  for t in /proc/"$1"/task/*; do
    printf '%s %s %s\n' "${t##*/}" "$(tr ' ' _ < "$t/comm")" "$(awk '{ print $14 + $15 }' "$t/stat")"
  done | sort
}

# The test pattern as the program builds it, and a still picture for the detector at rest.
pattern='videotestsrc is-live=true pattern=ball ! video/x-raw,width=640,height=480,framerate=30/1 ! clockoverlay halignment=right valignment=top shaded-background=true'
still='videotestsrc pattern=smpte num-buffers=1 ! video/x-raw,format=YUY2,width=640,height=480,framerate=30/1 ! imagefreeze is-live=true'

# A still picture as a camera gives it in Motion-JPEG, at width x height.
mjpeg_still() {
  echo "videotestsrc pattern=smpte num-buffers=1 ! video/x-raw,format=I420,width=$1,height=$2,framerate=30/1 ! imagefreeze is-live=true ! jpegenc quality=85"
}

# situation label goal source(pattern|still|mjpeg-WxH) client(0|1) ini-lines...: one row of the table.
situation() {
  local label=$1 goal=$2 kind=$3 client=$4; shift 4
  local resolution=1 still=$still
  case "$kind" in
    mjpeg-640x480) still=$(mjpeg_still 640 480); kind=still ;;
    mjpeg-1280x720) still=$(mjpeg_still 1280 720); kind=still; resolution=4 ;;
    mjpeg-1920x1080) still=$(mjpeg_still 1920 1080); kind=still; resolution=5 ;;
  esac
  local dir="$work/$label" source bare
  mkdir -p "$dir/run" && chmod 700 "$dir/run"
  cp "$build/vistrel" "$dir/"
  [ -d "$build/Lang" ] && cp -r "$build/Lang" "$dir/"
  local port
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  if [ "$kind" = still ]; then
    # A configured source is named by the MD5 of its pipeline; the program decodes it as any.
    source="VideoSource1 Still|$still
VideoDeviceId $(printf '%s' "$still" | md5sum | cut -c1-32)"
    bare="$still ! decodebin"
  else
    source="VideoDeviceId TestPattern"
    bare="$pattern"
  fi
  printf '%s\nVideoResolution %s\nWWWStartAfterLaunch 1\nWWWPortListener %s\n' "$source" "$resolution" "$port" > "$dir/vistrel.ini"
  printf '%s\n' "$@" >> "$dir/vistrel.ini"
  # shellcheck disable=SC2086
  gst-launch-1.0 -q $bare ! videoconvert ! video/x-raw,format=BGR ! fakesink sync=true >/dev/null 2>&1 &
  local g=$!
  (cd "$dir" && XDG_RUNTIME_DIR="$dir/run" QT_QPA_PLATFORM=offscreen ./vistrel 2>/dev/null) &
  local a=$!
  sleep 4
  local app
  app=$(pgrep -P $a -x vistrel || echo $a)
  # An armed detector sees motion in the first picture, compared with the
  # black picture before it, and records for the hold time after it: the
  # rows at rest are measured once that recording has ended.
  if [[ " $* " == *" ModeActivation 2 "* ]]; then
    local waited=0
    while compgen -G "$dir/move/*.tmp" >/dev/null && [ $waited -lt 30 ]; do sleep 1; waited=$((waited + 1)); done
    sleep 1
  fi
  local c=
  if [ "$client" = 1 ]; then
    python3 -c '
import sys, time, urllib.request
url = "http://127.0.0.1:%s/wwwcam.jpg" % sys.argv[1]
while True:
    try: urllib.request.urlopen(url, timeout=2).read()
    except Exception: pass
    time.sleep(0.1)' "$port" &
    c=$!
    sleep 1
  fi
  local g0 a0 g1 a1 t0 t1 sampled=-1
  g0=$(cpu_seconds $g); a0=$(cpu_seconds "$app"); t0=$(own_threads_seconds "$app")
  if [ -n "$perf" ]; then
    perf record -q -F "$perf_hz" -p "$app" -o "$dir/perf.data" -- sleep "$situation_seconds" >/dev/null 2>&1 || true
    sampled=$(own_samples "$dir/perf.data")
  else
    sleep "$situation_seconds"
  fi
  g1=$(cpu_seconds $g); a1=$(cpu_seconds "$app"); t1=$(own_threads_seconds "$app")
  local rss
  rss=$(rss_kib "$app")
  [ -n "$c" ] && kill "$c"
  kill $g; kill -TERM "$app"; wait $g $a 2>/dev/null || true
  [ -n "$c" ] && { wait "$c" 2>/dev/null || true; }
  awk -v l="$label" -v goal="$goal" -v g0="$g0" -v g1="$g1" -v a0="$a0" -v a1="$a1" -v t0="$t0" -v t1="$t1" -v f=$((situation_seconds * 30)) -v rss="$rss" -v s="$sampled" -v hz="$perf_hz" 'BEGIN {
    printf "%-44s %8.3f %8.3f %8.3f %8.3f %8s %9d   <= %s\n", l, 1000 * (g1 - g0) / f, 1000 * (a1 - a0) / f, 1000 * ((a1 - a0) - (g1 - g0)) / f, 1000 * (t1 - t0) / f, s < 0 ? "-" : sprintf("%.3f", 1000 * s / hz / f), rss, goal }'
}

# With perf at hand, the program's own CPU is also sampled: every sample in
# its own threads, and those of the capture thread that fall in its code
# (the measurement at each picture's arrival), not the pipeline's.
perf=$(command -v perf || true)
perf_hz=999
[ -z "$perf" ] || perf record -q -o /dev/null -- true >/dev/null 2>&1 || perf=
own_samples() {
  perf report -i "$1" -n --no-children --sort comm,dso -g none 2>/dev/null |
    awk '$1 ~ /%$/ && ($3 ~ /^vistrel/ || $4 == "vistrel") { n += $2 } END { print n + 0 }'
}

# ROWS="1 3" runs only those rows of the table.
row() {
  local n=$1; shift
  [ -z "${ROWS:-}" ] || [[ " $ROWS " == *" $n "* ]] || return 0
  situation "$@"
}

situations() {
  echo "== situations, ${situation_seconds}s each (ms per frame; own = program - bare, same run;"
  echo "   threads = the program's own threads alone (window, worker, web), measured directly;"
  echo "   sampled = those threads and the capture thread's time in the program's code, by perf)"
  printf '%-44s %8s %8s %8s %8s %8s %9s   %s\n' situation bare program own threads sampled "RSS KiB" goal
  row 1 "armed, still, no client, window hidden" 0.35 still 0 "ModeActivation 2" "HideStart 1"
  row 2 "armed, still, no client, window shown" 0.6 still 0 "ModeActivation 2" "HideStart 0"
  row 3 "always, SpeedRec 500, no client, shown" 0.8 pattern 0 "ModeActivation 1" "SpeedRec 500" "HideStart 0"
  row 4 "armed, still, client 10/s, shown" 1.4 still 1 "ModeActivation 2" "HideStart 0"
  # The larger sizes' goals are ratios to the 640 x 480 row of the same run.
  row 5 "armed, MJPEG 640x480, hidden" 0.35 mjpeg-640x480 0 "ModeActivation 2" "HideStart 1"
  row 6 "armed, MJPEG 1280x720, hidden" "1.5 x row 5" mjpeg-1280x720 0 "ModeActivation 2" "HideStart 1"
  row 7 "armed, MJPEG 1920x1080, hidden" "2.5 x row 5" mjpeg-1920x1080 0 "ModeActivation 2" "HideStart 1"
  row 8 "armed, MJPEG 640x480, shown" 0.6 mjpeg-640x480 0 "ModeActivation 2" "HideStart 0"
  row 9 "armed, MJPEG 1280x720, shown" "2 x row 8" mjpeg-1280x720 0 "ModeActivation 2" "HideStart 0"
  row 10 "armed, MJPEG 1920x1080, shown" "3 x row 8" mjpeg-1920x1080 0 "ModeActivation 2" "HideStart 0"
  row 11 "always, SpeedRec 500, MP4, no client, shown" 0.8 pattern 0 "ModeActivation 1" "SpeedRec 500" \
    "HideStart 0" "RecordingFormat 1"
  # Rows 5 and 7 without the seconds before motion, whose pictures are
  # encoded at full size while armed: what the rest costs at each size.
  row 12 "armed, MJPEG 640x480, hidden, no ring" 0.35 mjpeg-640x480 0 "ModeActivation 2" "HideStart 1" \
    "PreRecordSeconds 0"
  row 13 "armed, MJPEG 1920x1080, hidden, no ring" "2.5 x row 12" mjpeg-1920x1080 0 "ModeActivation 2" \
    "HideStart 1" "PreRecordSeconds 0"
}

if [ "${ONLY_SITUATIONS:-0}" = 1 ]; then
  situations
  exit 0
fi

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
  "$build/vistrel-bench" --benchmark_filter='Memcpy921600|Measure_Rotate0|FetchFrame_Rotate0|DrawStamp|ScreenPixels|Encode_LibjpegBGR|Worker_Frame|AviWrite_Frame' 2>/dev/null | tail -n +4
fi
[ "$situation_seconds" -gt 0 ] && situations
exit 0
