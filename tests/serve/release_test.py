#!/usr/bin/env python3
"""Moving a message from its record's "why?" page (POST /release): only
behind the password and with the login's form token; the move is the user's
through the filter (relearned), audited in the journal (its file, or its
tables in PostgreSQL when a private server can run) and the filter's log.
Usage: release_test.py BUILD_DIR"""
import base64
import json
import os
import re
import sqlite3
import sys
import unittest
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from dashboard_home import Home  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "dovecot"))
import private_postgres as pp  # noqa: E402

BUILD = sys.argv.pop(1) if len(sys.argv) > 1 else os.environ.get("VARNOLT_BUILD_DIR", "build")


def login(user):
    return {"Authorization": "Basic " + base64.b64encode(f"{user}:s3cret".encode()).decode()}


def post(home, headers, **form):
    return home.get("/release", method="POST", headers=dict(headers or {}, **{
        "Content-Type": "application/x-www-form-urlencoded"}), data=urllib.parse.urlencode(form).encode())


class ReleaseTest(unittest.TestCase):
    def setUp(self):
        self.home = Home(BUILD)

    def tearDown(self):
        self.home.close()

    def token(self, user):
        status, _, page = self.home.get("/explain?id=1", headers=login(user))
        self.assertEqual(200, status)
        return re.search(r'name="csrf" value="([0-9a-f]+)"', page).group(1)

    def post(self, headers, **form):
        return post(self.home, headers, **form)

    def model(self):
        return json.loads(self.home.run("stats", "alice@example.com", "--json").stdout)

    def test_without_a_password_nothing_can_be_moved(self):
        self.home.serve()
        self.assertNotIn('action="/release"', self.home.get("/explain?id=1")[2])
        self.assertEqual(403, self.post(None, id=1, to="junk")[0])
        self.assertEqual(405, self.home.get("/", method="POST", data=b"x=1")[0])

    def test_release_and_spam_as_the_users_move(self):
        self.home.add_config("[serve]\npassword = s3cret\n")
        self.home.serve()
        good = self.token("helpdesk")
        before = self.model()
        # Record 1: alice's HAM h1 in her Inbox.
        cases = [("no login", None, {"csrf": good, "id": 1, "to": "junk"}, 401, None),
                 ("a GET", login("helpdesk"), None, 405, None),
                 ("no token", login("helpdesk"), {"id": 1, "to": "junk"}, 403, None),
                 ("a wrong token", login("helpdesk"), {"csrf": "0" * 32, "id": 1, "to": "junk"}, 403, None),
                 ("another login's token", login("eve"), {"csrf": good, "id": 1, "to": "junk"}, 403, None),
                 ("no such record", login("helpdesk"), {"csrf": good, "id": 999, "to": "junk"}, 404, None),
                 ("nowhere to go", login("helpdesk"), {"csrf": good, "id": 1, "to": "trash"}, 400, None),
                 ("into the junk", login("helpdesk"), {"csrf": good, "id": 1, "to": "junk"}, 200,
                  "Moved from Inbox to Junk E-Mail"),
                 ("again", login("helpdesk"), {"csrf": good, "id": 1, "to": "junk"}, 409, "already in Junk E-Mail"),
                 ("released", login(""), {"csrf": self.token(""), "id": 1, "to": "inbox"}, 200,
                  "Moved from Junk E-Mail to Inbox")]
        for name, headers, form, status, text in cases:
            with self.subTest(name):
                if form is None:
                    answer = self.home.get("/release", headers=headers)
                else:
                    answer = self.post(headers, **{k: str(v) for k, v in form.items()})
                self.assertEqual(status, answer[0], answer[2])
                if text:
                    self.assertIn(text, answer[2])
                if status == 200:
                    self.assertIn("relearned", answer[2])
                if name == "into the junk":
                    self.assertEqual(before["spam"] + 1, self.model()["spam"])
        after = self.model()
        self.assertEqual((before["ham"] + 1, before["spam"]), (after["ham"], after["spam"]))
        with sqlite3.connect(os.path.join(self.home.home, "journal.db")) as db:
            rows = db.execute("SELECT who, record_id, action, outcome FROM dashboard_actions ORDER BY id").fetchall()
            self.assertEqual("from_junk", db.execute("SELECT correction FROM verdicts WHERE id = 1").fetchone()[0])
        self.assertEqual([("helpdesk", 1, "to_junk", "moved"), ("helpdesk", 1, "to_junk", "already"),
                          ("admin", 1, "to_inbox", "moved")], rows)
        with open(os.path.join(self.home.home, "data", "Varnolt.log")) as log:
            self.assertRegex(log.read(), r"varnolt serve: helpdesk moved record 1 \(alice@example.com, "
                                         r"Message-ID <h1@example.net>\) into the junk folder: moved")
        page = self.home.get("/explain?id=1", headers=login("helpdesk"))[2]
        actions = page[page.index('id="actions"'):]
        self.assertEqual(3, actions[:actions.index("</table>")].count("<tr><td>"))


class PostgresJournalReleaseTest(unittest.TestCase):
    """With the journal in the models' PostgreSQL the action is recorded there and listed alike."""

    def setUp(self):
        try:
            self.database = pp.PrivatePostgres().start()
        except (pp.Unavailable, RuntimeError) as why:
            self.skipTest(f"no private PostgreSQL: {why}")
        self.addCleanup(self.database.stop)
        self.home = Home(BUILD, init_args=("--postgresql", self.database.connection_string()),
                         journal="store = postgresql\nserver = mx1\n")
        self.addCleanup(self.home.close)

    def test_the_action_is_recorded_in_the_shared_journal(self):
        self.home.add_config("[serve]\npassword = s3cret\n")
        self.home.serve()
        status, _, page = self.home.get("/explain?id=1", headers=login("helpdesk"))
        self.assertEqual(200, status)
        token = re.search(r'name="csrf" value="([0-9a-f]+)"', page).group(1)
        answer = post(self.home, login("helpdesk"), csrf=token, id="1", to="junk")
        self.assertEqual(200, answer[0], answer[2])
        self.assertNotIn("could not record", answer[2])
        rows = self.database.run("psql", "-h", "127.0.0.1", "-p", str(self.database.port), "-U", "postgres", "-Atc",
                                 "SELECT server, who, record_id, action, outcome FROM varnolt_dashboard_actions")
        self.assertEqual("mx1|helpdesk|1|to_junk|moved", rows.strip())
        page = self.home.get("/explain?id=1", headers=login("helpdesk"))[2]
        self.assertIn('id="actions"', page)


if __name__ == "__main__":
    unittest.main()
