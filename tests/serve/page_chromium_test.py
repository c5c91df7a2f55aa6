#!/usr/bin/env python3
"""The dashboard as a browser shows it: headless Chromium loads the page
(no network beyond the server on loopback), its DOM must hold both plots with
data points and the mailbox table with every mailbox, and a screenshot is
left in the build folder for a person to look at. Exits 77 (skipped) when no
Chromium is installed.
Usage: page_chromium_test.py BUILD_DIR"""
import html.parser
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from dashboard_home import HOSTILE_SUBJECT, MAILBOXES, Home  # noqa: E402

SKIPPED = 77


class Dom(html.parser.HTMLParser):
    """The points of each plot, the cells of the mailbox table, and every script."""

    def __init__(self):
        super().__init__()
        self.plot = None
        self.points = {}
        self.table = None
        self.mailbox_cells = []
        self.in_cell = False
        self.scripts = 0

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if tag == "svg":
            self.plot = attrs.get("id")
            self.points[self.plot] = []
        elif self.plot and "point" in (attrs.get("class") or "").split():
            self.points[self.plot].append((attrs.get("data-series"), float(attrs.get("data-value"))))
        elif tag == "table":
            self.table = attrs.get("id")
        elif tag == "td" and self.table == "mailboxes":
            self.in_cell = True
        elif tag == "script":
            self.scripts += 1

    def handle_endtag(self, tag):
        if tag == "svg":
            self.plot = None
        elif tag == "td":
            self.in_cell = False
        elif tag == "table":
            self.table = None

    def handle_data(self, data):
        if self.in_cell:
            self.mailbox_cells.append(data)


def chromium(profile, *args):
    command = ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
               "--disable-background-networking", "--disable-component-update", "--disable-sync",
               "--no-proxy-server", f"--user-data-dir={profile}", *args]
    return subprocess.run(command, capture_output=True, text=True, timeout=120)


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.environ.get("VARNOLT_BUILD_DIR", "build"))
    if shutil.which("chromium") is None:
        print("chromium is not installed: skipped")
        return SKIPPED
    home = Home(build)
    profile = tempfile.mkdtemp(prefix="varnolt-chromium-")
    try:
        home.serve()
        page = home.url("/")
        dumped = chromium(profile, "--dump-dom", page)
        if dumped.returncode != 0 or "<table" not in dumped.stdout:
            print(f"chromium could not load the page: {dumped.returncode} {dumped.stderr[-2000:]}")
            return 1
        dom = Dom()
        dom.feed(dumped.stdout)
        failures = []
        verdicts = dom.points.get("plot-verdicts", [])
        if len(verdicts) != 28 * 3:  # the last 7 days in 6-hour bars
            failures.append(f"the verdicts plot has {len(verdicts)} points, not 84")
        drawn = {series: sum(v for s, v in verdicts if s == series) for series in ("HAM", "SPAM", "none")}
        if drawn != {"HAM": 2, "SPAM": 1, "none": 0}:
            failures.append(f"the verdicts plot shows {drawn}")
        corrections = dom.points.get("plot-corrections", [])
        rescued = sum(v for s, v in corrections if s.startswith("rescued"))
        rates = [v for s, v in corrections if s == "error rate"]
        # A rate only where there was mail (the three messages came within a minute): no 0% for empty bars.
        if rescued != 1 or not 1 <= len(rates) <= 2 or abs(sum(rates) - 1 / 3) > 1e-3 and len(rates) == 1:
            failures.append(f"the corrections plot shows {rescued} rescued, rates {rates}")
        for mailbox in MAILBOXES:
            if mailbox not in dom.mailbox_cells:
                failures.append(f"the mailbox table lacks {mailbox}")
        if HOSTILE_SUBJECT not in dumped.stdout.replace("&lt;", "<").replace("&gt;", ">").replace("&amp;", "&"):
            failures.append("the hostile subject is not shown as text")
        if dom.scripts != 1:
            failures.append(f"{dom.scripts} scripts in the page (the subject's must stay text)")

        screenshot = os.path.join(build, "dashboard-screenshot.png")
        if os.path.exists(screenshot):
            os.remove(screenshot)
        shot = chromium(profile, f"--screenshot={screenshot}", "--window-size=1280,2200", page)
        if shot.returncode != 0 or not os.path.exists(screenshot) or os.path.getsize(screenshot) < 10000:
            failures.append(f"no screenshot: {shot.returncode} {shot.stderr[-1000:]}")
        for failure in failures:
            print("FAIL:", failure)
        if not failures:
            print(f"ok: the page has both plots and the mailboxes; screenshot {screenshot}")
        return 1 if failures else 0
    finally:
        home.close()
        shutil.rmtree(profile, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
