#!/usr/bin/env python3
"""The helpdesk's path through the dashboard in headless Chromium, clicking as
a person would: the main page, a search by sender, the message's "why?", its
mailbox and the mailbox's domain. Screenshots of the pages are kept in the
output folder (printed). Each step is one function in STEPS. Exits 77
(skipped) when no Chromium is installed.
Usage: browser_flow_test.py BUILD_DIR OUTPUT_DIR"""
import os
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from cdp_browser import Browser, BrowserError  # noqa: E402
from dashboard_home import HOSTILE_SUBJECT, MAILBOXES, Home  # noqa: E402

SKIPPED = 77
# The search field and what the customer says the mail came from.
SENDER_SEARCH = ("sender_domain", "spam.example")


class Flow:
    def __init__(self, home, browser, output):
        self.home, self.browser, self.output = home, browser, output
        self.failures = []
        self.screenshots = []

    def expect(self, condition, what):
        if not condition:
            self.failures.append(f"{self.browser.evaluate('location.pathname + location.search')}: {what}")

    def text(self, selector):
        return self.browser.evaluate(
            f"(function(e){{return e?e.textContent:null;}})(document.querySelector({selector!r}))")

    def rows(self, table):
        return self.browser.evaluate(f"document.querySelectorAll('#{table} tbody tr').length")

    def shoot(self, name):
        path = os.path.join(self.output, f"{name}.png")
        self.browser.screenshot(path)
        self.expect(os.path.getsize(path) > 10000, f"the screenshot {path} is nearly empty")
        self.screenshots.append(path)


def main_page(flow):
    flow.browser.open(flow.home.url("/"))
    flow.expect(flow.rows("mailboxes") == len(MAILBOXES), "the mailbox table lacks mailboxes")
    flow.expect(flow.browser.evaluate("document.querySelectorAll('svg').length") == 2, "the plots are missing")
    flow.shoot("main")


def search_by_sender(flow):
    field, value = SENDER_SEARCH
    flow.browser.fill(f"#search [name={field}]", value)
    flow.browser.click("#search button")
    flow.expect(f"{field}=" in flow.browser.evaluate("location.search"), "the search is not in the address")
    flow.expect(flow.rows("latest") == 1, "the search did not find exactly the one message")
    flow.expect(flow.text("#latest tbody tr") and HOSTILE_SUBJECT in flow.text("#latest tbody tr"),
                "the subject is not shown as text")
    flow.expect(flow.browser.evaluate("document.querySelectorAll('script').length") == 1,
                "the subject became a script")


def open_why(flow):
    flow.browser.click("#latest tbody tr a[href^='/explain']")
    flow.expect((flow.text("h1") or "").startswith("Why: record"), "no explanation")
    flow.expect(flow.text("#at-delivery") is not None, "no decision at delivery")
    flow.shoot("why")


def open_mailbox(flow):
    flow.browser.click("#mailbox-link")
    flow.expect(flow.text("h1") == f"Mailbox {MAILBOXES[0]}", "not the message's mailbox")
    flow.expect("x@spam.example" in (flow.text("#whitelist") or ""), "the rescued sender is not on the whitelist")
    flow.expect(flow.rows("corrections") == 1, "the correction is not listed")
    flow.expect(flow.rows("latest") == 2, "the mailbox's verdicts are not listed")
    flow.shoot("mailbox")


def open_domain(flow):
    flow.browser.click("#domain-link")
    flow.expect(flow.text("h1") == "Domain example.com", "not the mailbox's domain")
    flow.expect(MAILBOXES[0] in (flow.text("#mailboxes") or ""), "the domain's mailbox is not listed")
    flow.expect(MAILBOXES[1] not in (flow.text("#mailboxes") or ""), "another domain's mailbox is listed")
    flow.shoot("domain")


STEPS = [main_page, search_by_sender, open_why, open_mailbox, open_domain]


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
    output = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else os.path.join(build, "browser-flow"))
    if shutil.which("chromium") is None:
        print("chromium is not installed: skipped")
        return SKIPPED
    os.makedirs(output, exist_ok=True)
    home = Home(build)
    profile = tempfile.mkdtemp(prefix="varnolt-chromium-")
    browser = None
    try:
        home.serve()
        browser = Browser(profile)
        flow = Flow(home, browser, output)
        for step in STEPS:
            try:
                step(flow)
            except BrowserError as error:
                flow.failures.append(f"{step.__name__}: {error}")
                break
        for failure in flow.failures:
            print("FAIL:", failure)
        for path in flow.screenshots:
            print("screenshot:", path)
        if not flow.failures:
            print(f"ok: {len(STEPS)} steps")
        return 1 if flow.failures else 0
    finally:
        if browser:
            browser.close()
        home.close()
        shutil.rmtree(profile, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
