#!/usr/bin/env python3
"""Opens recordings.htm in headless Chromium, plays its MP4 recording, seeks
it with a click on the middle of its motion strip, and replays its AVI
recording from a click on the strip's second bar.
Usage: recordings_page.py URL PROFILE_DIR
Prints, one per line: the title; "entries NAME..." in page order; "days D
strips S placeholders P photos F"; the open recording's text and link; "played T"; "seeked S of D in MS";
"replay start=N pictures K" (pictures seen differing within 2 s)."""
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from devtools_browser import DevToolsBrowser  # noqa: E402

url, profile = sys.argv[1:3]
COUNTS = ("'days '+document.querySelectorAll('h2.day').length+' strips '+document.querySelectorAll('canvas.levels')"
          ".length+' placeholders '+document.querySelectorAll('div.thumb').length+' photos '"
          "+document.querySelectorAll('#photos img').length")
# A click at fraction of an entry's strip, as a user's would land.
CLICK = ("(function(name, fraction){var c=document.querySelector('.entry[data-name=\"'+name+'\"] canvas.levels');"
         "var b=c.getBoundingClientRect();c.dispatchEvent(new MouseEvent('click',{bubbles:true,"
         "clientX:b.left+b.width*fraction,clientY:b.top+b.height/2}));})")


def wait_for(browser, session, expression, what, seconds=30):
    deadline = time.time() + seconds
    while time.time() < deadline:
        value = browser.evaluate(expression, session)
        if value:
            return value
        time.sleep(0.1)
    raise SystemExit("never " + what)


with DevToolsBrowser(profile, ["--autoplay-policy=no-user-gesture-required", "--window-size=480,800"]) as browser:
    session = browser.open(url)
    names = wait_for(browser, session, "(function(){var e=document.querySelectorAll('.entry');"
                     "return e.length>=2&&document.querySelectorAll('canvas.levels').length>=2"
                     "&&document.querySelectorAll('#photos img').length>=1"
                     "?Array.prototype.map.call(e,function(x){return x.getAttribute('data-name');}):null;})()",
                     "listed the recordings with their strips")
    print(browser.evaluate("document.title", session))
    print("entries " + " ".join(names))
    print(browser.evaluate(COUNTS, session))
    print(browser.evaluate("(function(){var n=document.querySelector('a.now');"
                           "return n?n.textContent+' > '+n.getAttribute('href'):'none';})()", session))
    mp4 = [n for n in names if n.endswith(".mp4")][0]
    avi = [n for n in names if n.endswith(".avi")][0]

    browser.evaluate("document.querySelector('.entry[data-name=\"%s\"] .thumb').click()" % mp4, session)
    played = wait_for(browser, session, "(function(){var v=document.getElementById('video');"
                      "if(v.error)return -v.error.code;return v.currentTime>2?v.currentTime:0;})()",
                      "played past 2 s", 60)
    if played < 0:
        raise SystemExit("media error %d" % -played)
    print("played %.3f" % played)
    seeked = browser.evaluate("new Promise(function(done){var v=document.getElementById('video');"
                              "var t0=performance.now();v.addEventListener('seeked',function(){"
                              "done([v.currentTime,v.duration,performance.now()-t0]);},{once:true});"
                              + CLICK + "('%s',3.5/6);})" % mp4, session, True)
    print("seeked %.2f of %.2f in %.0f" % tuple(seeked))

    browser.evaluate(CLICK + "('%s',1.5/4)" % avi, session)
    source = browser.evaluate("document.getElementById('replay').src", session)
    start = source.split("start=")[1].split("&")[0] if "start=" in source else "?"
    # Each sample draws the picture shown now into a small canvas and keeps its pixels.
    pictures = browser.evaluate("new Promise(function(done){var i=document.getElementById('replay');"
                                "var c=document.createElement('canvas');c.width=16;c.height=12;"
                                "var x=c.getContext('2d');var seen={};var n=0;var end=performance.now()+2000;"
                                "(function sample(){if(i.naturalWidth>0){x.drawImage(i,0,0,16,12);"
                                "var k=Array.prototype.join.call(x.getImageData(0,0,16,12).data);"
                                "if(!seen[k]){seen[k]=1;++n;}}"
                                "if(performance.now()<end)setTimeout(sample,25);else done(n);})();})",
                                session, True)
    print("replay start=%s pictures %d" % (start, pictures))
    browser.close()
