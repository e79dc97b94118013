#!/usr/bin/python3
"""The report page of the demo event in a real browser: headless Chromium loads it from disk, the
page's script must run without an error, every bar must be drawn where the run's JSON puts its
member (to a pixel), and a screenshot is taken.

Usage: check_report_page.py <Trelis> <make_demo> <work folder> [screenshot.png]
Exits 77 (skipped) when Chromium is not installed."""

import html.parser
import json
import os
import shutil
import struct
import subprocess
import sys

SKIPPED = 77
WIDTH, HEIGHT = 1280, 900


class Bars(html.parser.HTMLParser):
    """The body's attributes, and every cluster's timeline span and bars as the DOM holds them."""

    def __init__(self):
        super().__init__()
        self.body = {}
        self.clusters = []  # (start, span, [bar attributes])

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        classes = (attrs.get("class") or "").split()
        if tag == "body":
            self.body = attrs
        elif tag == "details" and "cluster" in classes:
            self.clusters.append((float(attrs["data-start"]), float(attrs["data-span"]), []))
        elif "bar" in classes:
            self.clusters[-1][2].append(attrs)


def browser(arguments, page):
    return subprocess.run(["chromium", "--headless", "--disable-gpu", "--no-sandbox",
                           "--user-data-dir=" + os.path.join(os.path.dirname(page), "profile"),
                           "--window-size=%d,%d" % (WIDTH, HEIGHT), "--enable-logging=stderr",
                           "--v=0"] + arguments + ["file://" + page],
                          capture_output=True, text=True, timeout=120, check=True)


def main():
    program, make_demo, work = sys.argv[1:4]
    screenshot = sys.argv[4] if len(sys.argv) > 4 else os.path.join(work, "report.png")
    if shutil.which("chromium") is None:
        print("chromium is not installed: skipped")
        return SKIPPED
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    work = os.path.abspath(work)
    subprocess.run([make_demo, work + "/event"], check=True, capture_output=True)
    page, result = work + "/report.html", work + "/result.json"
    subprocess.run([program, "-f", work + "/event", "-match", "verified", "-t",
                    work + "/truth.xml", "-json", result, "-html", page],
                   check=True, capture_output=True)
    with open(result, encoding="utf-8") as f:
        run = json.load(f)

    shown = browser(["--dump-dom"], page)
    errors = [line for line in shown.stderr.splitlines()
              if "CONSOLE" in line or "Uncaught" in line]
    assert not errors, "script errors:\n" + "\n".join(errors)
    dom = Bars()
    dom.feed(shown.stdout)
    assert dom.body.get("data-rendered") == "ok", dom.body

    durations = {f["id"]: f["duration"] for f in run["files"]}
    clusters = [c for c in run["clusters"] if len(c["members"]) > 1]
    assert len(dom.clusters) == len(clusters) >= 1
    checked = 0
    for (start, span, bars), cluster in zip(dom.clusters, clusters):
        drawn = {int(b["data-id"]): [float(v) for v in b["data-drawn"].split()] for b in bars}
        assert sorted(drawn) == sorted(m["id"] for m in cluster["members"])
        for member in cluster["members"]:
            left, width, track = drawn[member["id"]]
            pixel = span / track
            at = start + left * pixel
            assert abs(at - member["refinedOffset"]) <= pixel, (member, at)
            length = width * pixel
            assert abs(length - durations[member["id"]]) <= pixel, (member, length)
            checked += 1

    browser(["--screenshot=" + screenshot, "--hide-scrollbars"], page)
    with open(screenshot, "rb") as f:
        head = f.read(24)
    assert head[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    assert struct.unpack(">II", head[16:24]) == (WIDTH, HEIGHT)
    print("%d bars drawn at their offsets; screenshot %s" % (checked, screenshot))
    return 0


if __name__ == "__main__":
    sys.exit(main())
