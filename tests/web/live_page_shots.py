#!/usr/bin/env python3
"""Loads a page in headless Chromium over its DevTools pipe, waits until the
page's picture shows, and takes two screenshots a second apart.
Usage: live_page_shots.py URL FIRST.png SECOND.png PROFILE_DIR
Prints the page's size text and title, one per line."""
import base64
import json
import os
import subprocess
import sys
import time

url, first, second, profile = sys.argv[1:5]
to_browser_read, to_browser_write = os.pipe()
from_browser_read, from_browser_write = os.pipe()
flags = ("--headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking "
         "--disable-component-update --disable-sync --force-device-scale-factor=1 --hide-scrollbars "
         "--remote-debugging-pipe --window-size=640,480").split()
# The browser reads commands on descriptor 3 and answers on descriptor 4.
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


def evaluate(expression, session):
    return call("Runtime.evaluate", {"expression": expression, "returnByValue": True}, session)["result"].get("value")


def shoot(path, session):
    data = call("Page.captureScreenshot", {"format": "png"}, session)["data"]
    with open(path, "wb") as out:
        out.write(base64.b64decode(data))


try:
    target = call("Target.createTarget", {"url": "about:blank"})["targetId"]
    session = call("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
    call("Page.enable", session=session)
    call("Page.navigate", {"url": url}, session)
    deadline = time.time() + 60
    while time.time() < deadline:
        shown = evaluate("(function(){var p=document.getElementById('picture');"
                         "return p && p.naturalWidth > 0 && document.getElementById('size').textContent != ''"
                         " && document.title != 'Vistrel';})()", session)
        if shown:
            break
        time.sleep(0.2)
    else:
        raise SystemExit("the picture never showed")
    shoot(first, session)
    time.sleep(1)
    shoot(second, session)
    print(evaluate("document.getElementById('size').textContent", session))
    print(evaluate("document.title", session))
    call("Browser.close")
finally:
    browser.kill()
    browser.wait()
