#!/usr/bin/env python3
"""Plays a video file in headless Chromium over its DevTools pipe until it has
played past 2 s, then seeks to its middle.
Usage: play_video.py FILE PROFILE_DIR
Prints "played T seeked S of D" (seconds), or the reason it could not."""
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from devtools_browser import DevToolsBrowser  # noqa: E402

video, profile = sys.argv[1:3]
with DevToolsBrowser(profile, ["--autoplay-policy=no-user-gesture-required",
                               "--allow-file-access-from-files"]) as browser:
    page = os.path.join(os.path.dirname(os.path.abspath(video)), "play.html")
    with open(page, "w") as out:
        out.write("<html><body><video id='v' muted autoplay src='%s'></video></body></html>"
                  % os.path.basename(video))
    session = browser.open("file://" + page)
    deadline = time.time() + 60
    while time.time() < deadline:
        state = browser.evaluate("(function(){var v=document.getElementById('v');"
                                 "return v ? [v.currentTime, v.error ? v.error.code : 0] : [0, 0];})()", session)
        if state and state[1]:
            raise SystemExit("media error %d" % state[1])
        if state and state[0] > 2:
            break
        time.sleep(0.2)
    else:
        raise SystemExit("never played past 2 s")
    played = state[0]
    seeked = browser.evaluate("new Promise(function(done){var v=document.getElementById('v');v.pause();"
                              "v.addEventListener('seeked',function(){done([v.currentTime,v.duration]);},{once:true});"
                              "v.currentTime=v.duration/2;})", session, True)
    print("played %.2f seeked %.2f of %.2f" % (played, seeked[0], seeked[1]))
    browser.close()
