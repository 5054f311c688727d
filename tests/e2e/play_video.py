#!/usr/bin/env python3
"""Plays a video file in headless Chromium over its DevTools pipe until it has
played past 2 s, then seeks to its middle.
Usage: play_video.py FILE PROFILE_DIR
Prints "played T seeked S of D" (seconds), or the reason it could not."""
import json
import os
import subprocess
import sys
import time

video, profile = sys.argv[1:3]
to_browser_read, to_browser_write = os.pipe()
from_browser_read, from_browser_write = os.pipe()
flags = ("--headless --no-sandbox --disable-gpu --no-first-run --disable-background-networking "
         "--disable-component-update --disable-sync --autoplay-policy=no-user-gesture-required "
         "--allow-file-access-from-files --remote-debugging-pipe").split()
command = ["bash", "-c", 'exec "$@" 3<&%d 4>&%d' % (to_browser_read, from_browser_write), "chromium",
           "/usr/bin/chromium", *flags, "--user-data-dir=" + profile, "about:blank"]
browser = subprocess.Popen(command, pass_fds=(to_browser_read, from_browser_write),
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
os.close(to_browser_read)
os.close(from_browser_write)
pending = b""
next_id = 0


def call(method, params=None, session=None):
    global next_id, pending
    next_id += 1
    message = {"id": next_id, "method": method, "params": params or {}}
    if session:
        message["sessionId"] = session
    os.write(to_browser_write, json.dumps(message).encode() + b"\0")
    while True:
        while b"\0" not in pending:
            chunk = os.read(from_browser_read, 1 << 20)
            if not chunk:
                raise SystemExit("the browser ended")
            pending += chunk
        text, pending = pending.split(b"\0", 1)
        answer = json.loads(text)
        if answer.get("id") == next_id:
            if "error" in answer:
                raise SystemExit("%s: %s" % (method, answer["error"]))
            return answer["result"]


def evaluate(expression, session, wait=False):
    return call("Runtime.evaluate", {"expression": expression, "returnByValue": True, "awaitPromise": wait},
                session)["result"].get("value")


try:
    page = os.path.join(os.path.dirname(os.path.abspath(video)), "play.html")
    with open(page, "w") as out:
        out.write("<html><body><video id='v' muted autoplay src='%s'></video></body></html>"
                  % os.path.basename(video))
    target = call("Target.createTarget", {"url": "about:blank"})["targetId"]
    session = call("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
    call("Page.navigate", {"url": "file://" + page}, session)
    deadline = time.time() + 60
    while time.time() < deadline:
        state = evaluate("(function(){var v=document.getElementById('v');"
                         "return v ? [v.currentTime, v.error ? v.error.code : 0] : [0, 0];})()", session)
        if state and state[1]:
            raise SystemExit("media error %d" % state[1])
        if state and state[0] > 2:
            break
        time.sleep(0.2)
    else:
        raise SystemExit("never played past 2 s")
    played = state[0]
    seeked = evaluate("new Promise(function(done){var v=document.getElementById('v');v.pause();"
                      "v.addEventListener('seeked',function(){done([v.currentTime,v.duration]);},{once:true});"
                      "v.currentTime=v.duration/2;})", session, True)
    print("played %.2f seeked %.2f of %.2f" % (played, seeked[0], seeked[1]))
    call("Browser.close")
finally:
    browser.kill()
    browser.wait()
