"""Two Dovecot servers with the plugin, each with its own varnolt home, whose
models are in one PostgreSQL: what a user teaches on one server is what the
other judges by.

Usage: two_servers_test.py BUILD_DIR [unittest options]. Exits 77 (a skip
for ctest) when no Dovecot or no PostgreSQL can run here.
"""

import os
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import private_dovecot as pd  # noqa: E402
import private_postgres as pp  # noqa: E402

BUILD_DIR = None
SAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "samples")
SKIP = 77
JUNK = "Junk E-Mail"
USER = "alice@example.com"


def offer(subject):
    return ("Received: from mx.offers.example (mx.offers.example [198.51.100.7])\r\n"
            "\tby mail.example.com with ESMTP; Mon, 21 Dec 2026 09:00:00 +0100\r\n"
            "From: Weekly <weekly@offers.example>\r\n"
            "To: alice@example.com\r\n"
            "Subject: %s\r\n"
            "Date: Mon, 21 Dec 2026 09:00:00 +0100\r\n"
            "MIME-Version: 1.0\r\n"
            "Content-Type: text/plain; charset=utf-8\r\n"
            "\r\n"
            "Dear reader, this week's selection of garden furniture and grills is online.\r\n"
            "Browse the catalogue at our site; delivery within three days, returns free.\r\n") % subject


def stats(server, user):
    return {k: int(v) for k, v in re.findall(r"^(\w+) (\d+)$", server.varnolt("stats", user), re.MULTILINE)}


class TwoServersTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.database = pp.PrivatePostgres().start()
        cls.servers = []
        try:
            for name in ("a", "b"):
                server = pd.PrivateDovecot(BUILD_DIR, [USER])
                cls.servers.append(server)
                server.make_home(init_args=("--postgresql", cls.database.connection_string()))
                # One journal in the same database, each record named by its server.
                with open(os.path.join(server.varnolt_home, "varnolt.conf"), "a") as conf:
                    conf.write("\n[journal]\nstore = postgresql\nserver = %s\n" % name)
                server.varnolt("mailbox", "add", USER)
                server.start()
        except Exception:
            cls.tearDownClass()
            raise

    @classmethod
    def tearDownClass(cls):
        for server in cls.servers:
            server.cleanup()
        cls.database.cleanup()

    def tearDown(self):
        for server in self.servers:
            self.assertNotRegex(server.log(), r"Panic:|Fatal:|Error:")

    def verdicts(self, server, subject):
        """[(folder, X-Varnolt)] of the user's copies of the message on a server, sorted."""
        client = server.imap(USER)
        try:
            found = []
            for folder in ("INBOX", JUNK):
                for uid, flags, header in pd.messages(client, folder):
                    if pd.header(header, "Subject") == subject:
                        found.append((folder, pd.header(header, "X-Varnolt")))
            return sorted(found)
        finally:
            client.logout()

    def test_a_move_into_junk_on_one_server_changes_the_verdict_of_the_other(self):
        a, b = self.servers
        # Taught on A, seen by B: the models are the database's, not the homes'.
        a.varnolt("train", "-q", USER, "--spam", os.path.join(SAMPLES, "train", "spam"),
                  "--ham", os.path.join(SAMPLES, "train", "ham"))
        taught = stats(a, USER)
        self.assertGreater(taught["spam"], 0)
        self.assertEqual(taught, stats(b, USER))

        subject = "Garden furniture this week"
        a.deliver(USER, offer(subject))
        b.deliver(USER, offer(subject))
        # Both call it HAM.
        self.assertEqual([("INBOX", "1")], self.verdicts(a, subject))
        self.assertEqual([("INBOX", "1")], self.verdicts(b, subject))

        # The user moves A's copy into the junk folder: A relearns it as SPAM.
        client = a.imap(USER)
        try:
            client.select(pd.quote("INBOX"))
            uid = [u for u, _, h in pd.messages(client, "INBOX") if pd.header(h, "Subject") == subject][0]
            client.select(pd.quote("INBOX"))
            typ, data = client.uid("MOVE", str(uid), pd.quote(JUNK))
            self.assertEqual("OK", typ, data)
        finally:
            client.logout()
        self.assertEqual(taught["spam"] + 1, stats(b, USER)["spam"])

        # B judges the same message by what A was taught.
        b.deliver(USER, offer(subject))
        self.assertEqual([("INBOX", "1"), (JUNK, "2")], self.verdicts(b, subject))

        # Both servers wrote the one journal, each under its name.
        rows = self.database.run("psql", "-h", "127.0.0.1", "-p", str(self.database.port), "-U", "postgres", "-At",
                                 "-c", "SELECT server, host, verdict FROM varnolt_verdicts ORDER BY id")
        self.assertEqual(["a|dovecot|ham", "b|dovecot|ham", "b|dovecot|spam"], rows.split())


def main():
    global BUILD_DIR
    if len(sys.argv) < 2:
        print("usage: two_servers_test.py BUILD_DIR", file=sys.stderr)
        return 2
    BUILD_DIR = os.path.abspath(sys.argv.pop(1))
    try:
        pd.check_available(BUILD_DIR)
        pp.check_available()
    except (pd.Unavailable, pp.Unavailable) as why:
        print("SKIPPED: two servers need a private Dovecot and a private PostgreSQL: %s" % why)
        return SKIP
    program = unittest.main(exit=False, verbosity=2)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
