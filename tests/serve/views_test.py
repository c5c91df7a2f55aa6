#!/usr/bin/env python3
"""The pages of one mailbox, one domain and all mailboxes, through HTTP: one
table of requests with the status and what the answer must and must not hold.
Usage: views_test.py BUILD_DIR"""
import json
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from dashboard_home import Home  # noqa: E402

BUILD = sys.argv.pop(1) if len(sys.argv) > 1 else os.environ.get("VARNOLT_BUILD_DIR", "build")
ALICE = 'href="/mailbox?mailbox=alice%40example.com"'
ESCAPED_SUBJECT = "&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt;"

# path, status, what the body holds, what it must not hold
PAGES = [
    ("/", 200, [ALICE], []),
    ("/explain?id=2", 200, [ALICE], []),
    ("/mailbox?mailbox=alice@example.com", 200,
     ["<h1>Mailbox alice@example.com</h1>", 'href="/domain?domain=example.com"', "<li>x@spam.example</li>",
      ESCAPED_SUBJECT, 'href="/explain?id=2"'],
     ["<script>alert", "bob@example.org"]),
    ("/mailbox?mailbox=ALICE@Example.COM&range=1y", 200, ["<h1>Mailbox alice@example.com</h1>", "<b>year</b>"], []),
    ("/mailbox?mailbox=alice@example.com&verdict=ham", 200, ["Agenda"], []),
    ("/mailbox?mailbox=nobody@example.com", 404, ["no mailbox nobody@example.com is known here"], []),
    ("/mailbox?mailbox=%3Cb%3Ex%3C/b%3E@example.com", 400, ["&lt;b&gt;x&lt;/b&gt;"], ["<b>x"]),
    ("/mailbox?mailbox=../x@example.com", 400, ["not a valid mailbox name"], []),
    ("/mailbox", 400, ["give the mailbox"], []),
    ("/mailbox?mailbox=alice@example.com&range=2y", 400, ["range is one of"], []),
    ("/mailbox?mailbox=alice@example.com&verdict=maybe", 400, ["verdict is ham, spam or none"], []),
    ("/domain?domain=Example.COM", 200, ["<h1>Domain example.com</h1>", ALICE, ESCAPED_SUBJECT, "<th>lessons waiting"],
     ["bob@example.org", "<script>alert"]),
    ("/domain?domain=nowhere.example", 404, ["no domain nowhere.example is known here"], []),
    ("/domain?domain=a/b", 400, ["not a name a mail domain could have"], []),
    ("/domain?domain=example.com&offset=-1", 400, ["offset is a number"], []),
    ("/mailboxes", 200, [ALICE, 'href="/mailbox?mailbox=bob%40example.org"'], []),
    ("/mailboxes?offset=5000", 200, ["None past 5000 of 2", "offset=0"], [ALICE]),
    ("/api/mailbox?mailbox=bad", 400, ["is not of the form USER@DOMAIN"], ["<html"]),
]


class ViewsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.home = Home(BUILD)
        cls.home.serve()

    @classmethod
    def tearDownClass(cls):
        cls.home.close()

    def test_pages(self):
        for path, status, present, absent in PAGES:
            with self.subTest(path=path):
                got, headers, body = self.home.get(path)
                self.assertEqual(status, got, body[:500])
                for text in present:
                    self.assertIn(text, body)
                for text in absent:
                    self.assertNotIn(text, body)
                if "text/html" in headers.get("Content-Type", ""):
                    self.assertIn("default-src 'none'", headers.get("Content-Security-Policy", ""))

    def test_json_twins(self):
        _, _, body = self.home.get("/api/mailbox?mailbox=alice@example.com&verdict=ham")
        mailbox = json.loads(body)
        self.assertEqual((mailbox["mailbox"], mailbox["whitelist"]), ("alice@example.com", ["x@spam.example"]))
        self.assertEqual([r["message_id"] for r in mailbox["verdicts"]], ["h1@example.net"])
        self.assertEqual([r["correction"] for r in mailbox["corrections"]], ["from_junk"])
        self.assertEqual(mailbox["totals"]["from_junk"], 1)
        _, _, body = self.home.get("/api/domain?domain=example.org")
        domain = json.loads(body)
        self.assertEqual([m["mailbox"] for m in domain["mailboxes"]], ["bob@example.org"])
        self.assertEqual([r["mailbox"] for r in domain["verdicts"]], ["bob@example.org"])


if __name__ == "__main__":
    unittest.main()
