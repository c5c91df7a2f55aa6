#!/usr/bin/env python3
"""The helpdesk's path through the dashboard in headless Chromium, clicking as
a person would, logged in: the main page, a search by sender for the mail a
customer misses (a fresh spam), the message's "why?", its release to the
Inbox (relearned, whitelisted, the action listed on the page), its mailbox
and the mailbox's domain. Screenshots of the pages are kept in the output
folder (printed). Each step is one function in STEPS. Exits 77 (skipped)
when no Chromium is installed.
Usage: browser_flow_test.py BUILD_DIR OUTPUT_DIR"""
import base64
import json
import os
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from cdp_browser import Browser, BrowserError  # noqa: E402
from dashboard_home import GTUBE, HOSTILE_SUBJECT, MAILBOXES, Home, message  # noqa: E402

SKIPPED = 77
# The mail alice's customer sent, filed as spam; she says it came from this address.
MISSED = message("s2@example.net", "Dan <Dan@Promo.example>", "Your order 4711", GTUBE)
MISSED_SUBJECT = "Your order 4711"
SENDER_SEARCH = ("sender", "dan@promo.example")
LOGIN = "helpdesk"
PASSWORD = "s3cret"


class Flow:
    def __init__(self, home, browser, output):
        self.home, self.browser, self.output = home, browser, output
        self.failures = []
        self.screenshots = []
        self.model_before = None

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

    def model(self):
        return json.loads(self.home.run("stats", MAILBOXES[0], "--json").stdout)

    def subjects_in(self, folder):
        return [item.get("subject") for item in json.loads(self.home.run("ls", MAILBOXES[0], folder, "--json").stdout)]


def main_page(flow):
    flow.browser.open(flow.home.url("/"))
    flow.expect(flow.rows("mailboxes") == len(MAILBOXES), "the mailbox table lacks mailboxes")
    flow.expect(flow.browser.evaluate("document.querySelectorAll('svg').length") == 2, "the plots are missing")
    flow.expect(HOSTILE_SUBJECT in (flow.text("#latest") or ""), "the subject is not shown as text")
    flow.expect(flow.browser.evaluate("document.querySelectorAll('script').length") == 1,
                "the subject became a script")
    flow.shoot("main")


def search_by_sender(flow):
    field, value = SENDER_SEARCH
    flow.browser.fill(f"#search [name={field}]", value)
    flow.browser.click("#search button")
    flow.expect(f"{field}=" in flow.browser.evaluate("location.search"), "the search is not in the address")
    flow.expect(flow.rows("latest") == 1, "the search did not find exactly the one message")
    flow.expect(MISSED_SUBJECT in (flow.text("#latest tbody tr") or ""), "not the message searched for")


def open_why(flow):
    flow.browser.click("#latest tbody tr a[href^='/explain']")
    flow.expect((flow.text("h1") or "").startswith("Why: record"), "no explanation")
    flow.expect(flow.text("#at-delivery") is not None, "no decision at delivery")
    flow.expect(flow.text("#release") is not None, "no buttons for the login")
    flow.expect(flow.text("#actions") is None, "actions listed before any was taken")
    flow.shoot("why")


def release(flow):
    flow.model_before = flow.model()
    flow.expect(MISSED_SUBJECT not in flow.subjects_in("Inbox"), "the spam was in the Inbox before the release")
    flow.browser.click("#release button[value=inbox]")
    outcome = flow.text("#outcome") or ""
    flow.expect("Moved from Junk E-Mail to Inbox" in outcome and "relearned" in outcome, f"not released: {outcome}")
    flow.expect(MISSED_SUBJECT in flow.subjects_in("Inbox"), "the message is not in the Inbox")
    flow.expect(MISSED_SUBJECT not in flow.subjects_in("Junk E-Mail"), "the message is still in the junk folder")
    after = flow.model()
    flow.expect(after["ham"] == flow.model_before["ham"] + 1, f"not relearned as HAM: {flow.model_before} {after}")
    flow.browser.click("a[href^='/explain']")
    actions = flow.text("#actions tbody") or ""
    flow.expect(flow.rows("actions") == 1 and LOGIN in actions and "to_inbox" in actions and "moved" in actions,
                f"the action is not listed: {actions!r}")
    flow.shoot("why-released")


def open_mailbox(flow):
    flow.browser.click("#mailbox-link")
    flow.expect(flow.text("h1") == f"Mailbox {MAILBOXES[0]}", "not the message's mailbox")
    whitelist = flow.text("#whitelist") or ""
    flow.expect("x@spam.example" in whitelist and "dan@promo.example" in whitelist.lower(),
                "the rescued senders are not on the whitelist")
    flow.expect(flow.rows("corrections") == 2, "the corrections (alice's and the release) are not listed")
    flow.expect(flow.rows("latest") == 3, "the mailbox's verdicts are not listed")
    flow.shoot("mailbox")


def open_domain(flow):
    flow.browser.click("#domain-link")
    flow.expect(flow.text("h1") == "Domain example.com", "not the mailbox's domain")
    flow.expect(MAILBOXES[0] in (flow.text("#mailboxes") or ""), "the domain's mailbox is not listed")
    flow.expect(MAILBOXES[1] not in (flow.text("#mailboxes") or ""), "another domain's mailbox is listed")
    flow.shoot("domain")


STEPS = [main_page, search_by_sender, open_why, release, open_mailbox, open_domain]


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
        home.deliver(MAILBOXES[0], MISSED)
        home.add_config(f"[serve]\npassword = {PASSWORD}\n")
        home.serve()
        browser = Browser(profile)
        login = base64.b64encode(f"{LOGIN}:{PASSWORD}".encode()).decode()
        browser.send_headers({"Authorization": f"Basic {login}"})
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
