#!/usr/bin/env python3
"""Loads a page in headless Chromium over its DevTools pipe, waits until the
page's picture shows, and takes two screenshots a second apart.
Usage: live_page_shots.py URL FIRST.png SECOND.png PROFILE_DIR
Prints the page's size text and title, one per line."""
import base64
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from devtools_browser import DevToolsBrowser  # noqa: E402

url, first, second, profile = sys.argv[1:5]


def shoot(browser, path, session):
    data = browser.call("Page.captureScreenshot", {"format": "png"}, session)["data"]
    with open(path, "wb") as out:
        out.write(base64.b64decode(data))


with DevToolsBrowser(profile, ["--disable-quic", "--force-device-scale-factor=1", "--hide-scrollbars",
                               "--window-size=640,480"]) as browser:
    session = browser.open(url, enable_page=True)
    deadline = time.time() + 60
    while time.time() < deadline:
        shown = browser.evaluate("(function(){var p=document.getElementById('picture');"
                                 "return p && p.naturalWidth > 0 && document.getElementById('size').textContent != ''"
                                 " && document.title != 'Vistrel';})()", session)
        if shown:
            break
        time.sleep(0.2)
    else:
        raise SystemExit("the picture never showed")
    shoot(browser, first, session)
    time.sleep(1)
    shoot(browser, second, session)
    print(browser.evaluate("document.getElementById('size').textContent", session))
    print(browser.evaluate("document.title", session))
    browser.close()
