"""The plugin in a real Dovecot, driven by real clients: LMTP deliveries and
IMAP moves and appends, checked over IMAP and with the varnolt command.

Usage: dovecot_plugin_test.py BUILD_DIR [unittest options]. Exits 77 (a
skip for ctest) when no Dovecot can run here.
"""

import os
import re
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import private_dovecot as pd  # noqa: E402

BUILD_DIR = None
SAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "samples")
SKIP = 77
GTUBE = "XJS*C4JDBQADN1.NSBN3*2IDNEN*GTUBE-STANDARD-ANTI-UBE-TEST-EMAIL*C.34X"
JUNK = "Junk E-Mail"
WELCOME_SUBJECT = "Welcome"


def message(sender, subject, body, extra_headers=""):
    return ("Received: from mx.example.net (mx.example.net [192.0.2.10])\r\n"
            "\tby mail.example.com with ESMTP; Mon, 21 Dec 2026 09:00:00 +0100\r\n"
            "From: Sender <%s>\r\n"
            "To: someone@example.com\r\n"
            "Subject: %s\r\n"
            "Date: Mon, 21 Dec 2026 09:00:00 +0100\r\n"
            "%s"
            "MIME-Version: 1.0\r\n"
            "Content-Type: text/plain; charset=utf-8\r\n"
            "\r\n%s\r\n") % (sender, subject, extra_headers, body)


def spam(sender, subject="Filter test", extra_headers=""):
    return message(sender, subject, "This message tests the filter.\r\n\r\n" + GTUBE, extra_headers)


def ham(sender, subject="Agenda for the review"):
    return message(sender, subject, "Here is the agenda for the review on the 14th: test plan and rollout.")


def stats(server, user):
    """{"ham": n, "spam": n, "whitelist": n} from varnolt stats."""
    return {k: int(v) for k, v in re.findall(r"^(\w+) (\d+)$", server.varnolt("stats", user), re.MULTILINE)}


class PluginTestCase(unittest.TestCase):
    """One private Dovecot with the plugin for the class; each test uses its own users and senders
    (the users of a domain share its model, which their corrections teach)."""

    home_settings = {}
    junk_folder = JUNK

    @classmethod
    def setUpClass(cls):
        users = ["%s@example.com" % name for name in
                 ("alice", "bob", "carol", "dave", "erin", "frank", "grace", "heidi", "ivan", "judy")]
        cls.server = pd.PrivateDovecot(BUILD_DIR, users, junk_folder=cls.junk_folder)
        cls.server.make_home(**cls.home_settings)
        cls.prepare_home()
        cls.server.start()

    @classmethod
    def prepare_home(cls):
        """What a test class changes in the new home before the server starts."""

    @classmethod
    def tearDownClass(cls):
        cls.server.cleanup()

    def tearDown(self):
        # Every failure in the plugin or the server shows in Dovecot's log.
        self.assertNotRegex(self.server.log(), r"Panic:|Fatal:|Error:")

    def deliver(self, user, text, sender="sender@example.net"):
        self.server.deliver(user, text, sender)

    def messages(self, user, mailbox):
        client = self.server.imap(user)
        try:
            return pd.messages(client, mailbox)
        finally:
            client.logout()

    def subjects(self, user, mailbox):
        return [pd.header(h, "Subject") for _, _, h in self.messages(user, mailbox)]

    def only(self, user, mailbox, subject):
        found = [m for m in self.messages(user, mailbox) if pd.header(m[2], "Subject") == subject]
        self.assertEqual(1, len(found), "%s in %s: %r" % (subject, mailbox, self.subjects(user, mailbox)))
        return found[0]

    def move(self, user, mailbox, subject, target):
        uid = self.only(user, mailbox, subject)[0]
        client = self.server.imap(user)
        try:
            client.select(pd.quote(mailbox))
            typ, data = client.uid("MOVE", str(uid), pd.quote(target))
            self.assertEqual("OK", typ, data)
        finally:
            client.logout()

    def filter_log(self):
        return self.server.varnolt("log")


class DeliveryTest(PluginTestCase):

    def test_gtube_goes_to_the_junk_folder_stamped_and_flagged(self):
        self.deliver("alice@example.com", spam("spammer@example.net"))
        uid, flags, header = self.only("alice@example.com", JUNK, "Filter test")
        self.assertEqual("2", pd.header(header, "X-Varnolt"))
        self.assertIn("$Junk", flags)
        self.assertIn("$VarnoltMarker2", flags)
        self.assertNotIn("Filter test", self.subjects("alice@example.com", "INBOX"))
        # A new user is welcomed with the manual in the folder the mail was meant for.
        self.assertTrue(any(s and s.startswith(WELCOME_SUBJECT) for s in self.subjects("alice@example.com", "INBOX")))

    def test_ordinary_mail_stays_in_inbox_as_ham(self):
        self.deliver("bob@example.com", ham("colleague@partner.example"))
        uid, flags, header = self.only("bob@example.com", "INBOX", "Agenda for the review")
        self.assertEqual("1", pd.header(header, "X-Varnolt"))
        self.assertIn("$NotJunk", flags)
        self.assertNotIn("$Junk", flags)

    def test_a_senders_own_marker_is_replaced(self):
        self.deliver("carol@example.com", spam("spammer@example.net", "Forged", "X-Varnolt: 1\r\n"))
        uid, flags, header = self.only("carol@example.com", JUNK, "Forged")
        self.assertEqual(["2"], re.findall(r"^X-Varnolt:\s*(\S+)", header, re.MULTILINE | re.IGNORECASE))

    def test_each_recipient_of_one_delivery_is_judged_and_stamped_once(self):
        self.server.deliver_to_all(["dave@example.com", "erin@example.com"], spam("spammer@example.net", "Twice"))
        for user in ("dave@example.com", "erin@example.com"):
            with self.subTest(user=user):
                uid, flags, header = self.only(user, JUNK, "Twice")
                self.assertEqual(["2"], re.findall(r"^X-Varnolt:\s*(\S+)", header, re.MULTILINE | re.IGNORECASE))
                self.assertIn("$Junk", flags)


    def test_malformed_mail_is_delivered_and_judged(self):
        # No blank line after the header, a header line without a colon, bytes of no charset.
        text = b"Subject: Broken\r\nFrom: <<<@@@>\r\nthis line is no header\r\n\xff\xfe\x00 body\r\n"
        self.deliver("grace@example.com", text)
        uid, flags, header = self.only("grace@example.com", "INBOX", "Broken")
        self.assertEqual("1", pd.header(header, "X-Varnolt"))

    def test_dovecot_lda_deliveries_are_judged_too(self):
        self.server.deliver_lda("frank@example.com", spam("spammer@example.net", "Through LDA"))
        uid, flags, header = self.only("frank@example.com", JUNK, "Through LDA")
        self.assertEqual("2", pd.header(header, "X-Varnolt"))
        self.assertIn("$Junk", flags)


class AutolearnTest(PluginTestCase):
    """The home's [engine] autolearn holds for deliveries through Dovecot."""

    autolearn = "on"

    @classmethod
    def prepare_home(cls):
        path = os.path.join(cls.server.varnolt_home, "varnolt.conf")
        with open(path) as f:
            text = f.read()
        with open(path, "w") as f:
            f.write(text.replace("autolearn = on", "autolearn = " + cls.autolearn))

    def test_a_clear_ham_verdict_is_learned_only_when_the_home_says_so(self):
        user = "alice@example.com"
        self.deliver(user, ham("colleague@example.net"))  # the user's first mail makes the model
        self.server.varnolt("train", "-q", user, "--spam", os.path.join(SAMPLES, "train", "spam"),
                            "--ham", os.path.join(SAMPLES, "train", "ham"))
        before = stats(self.server, user)
        with open(os.path.join(SAMPLES, "incoming", "01-ham.eml")) as f:
            self.deliver(user, f.read())
        learned = 1 if self.autolearn == "on" else 0
        self.assertEqual(before["ham"] + learned, stats(self.server, user)["ham"])


class AutolearnOffTest(AutolearnTest):
    autolearn = "off"


class UserMoveTest(PluginTestCase):

    def test_ham_moved_into_junk_is_relearned_as_spam(self):
        user = "alice@example.com"
        self.deliver(user, ham("weekly@offers.example", "Weekly offers"))
        before = stats(self.server, user)
        self.move(user, "INBOX", "Weekly offers", JUNK)
        after = stats(self.server, user)
        self.assertEqual(before["spam"] + 1, after["spam"])
        uid, flags, header = self.only(user, JUNK, "Weekly offers")
        self.assertIn("$Junk", flags)
        self.assertIn("$VarnoltMarker2", flags)
        self.assertNotIn("$NotJunk", flags)
        self.assertNotIn("$VarnoltMarker1", flags)
        # The stored header keeps the delivery's verdict; the keyword is the later word.
        self.assertEqual("1", pd.header(header, "X-Varnolt"))

    def test_each_message_of_one_move_is_relearned(self):
        user = "frank@example.com"
        for subject in ("Offer one", "Offer two", "Offer three"):
            self.deliver(user, ham("newsletter@shop.example", subject))
        before = stats(self.server, user)
        uids = [m[0] for m in self.messages(user, "INBOX") if pd.header(m[2], "Subject").startswith("Offer")]
        client = self.server.imap(user)
        try:
            client.select("INBOX")
            typ, data = client.uid("MOVE", ",".join(str(u) for u in uids), pd.quote(JUNK))
            self.assertEqual("OK", typ, data)
        finally:
            client.logout()
        self.assertEqual(before["spam"] + 3, stats(self.server, user)["spam"])
        for uid, flags, header in self.messages(user, JUNK):
            self.assertIn("$VarnoltMarker2", flags)

    def test_spam_moved_out_of_junk_whitelists_its_sender(self):
        user = "bob@example.com"
        self.deliver(user, spam("friend@partner.example", "Not spam at all"))
        self.only(user, JUNK, "Not spam at all")
        self.move(user, JUNK, "Not spam at all", "INBOX")
        uid, flags, header = self.only(user, "INBOX", "Not spam at all")
        self.assertIn("$NotJunk", flags)
        self.assertIn("$VarnoltMarker1", flags)
        self.assertNotIn("$Junk", flags)
        self.assertEqual(1, stats(self.server, user)["whitelist"])
        # The rescued sender's next message is trusted even with the test string.
        self.deliver(user, spam("friend@partner.example", "Trusted now"))
        uid, flags, header = self.only(user, "INBOX", "Trusted now")
        self.assertEqual("1", pd.header(header, "X-Varnolt"))

    def test_a_move_into_trash_changes_nothing(self):
        user = "carol@example.com"
        self.deliver(user, spam("spammer@example.net", "Bin it"))
        before = stats(self.server, user)
        self.move(user, JUNK, "Bin it", "Trash")
        uid, flags, header = self.only(user, "Trash", "Bin it")
        self.assertIn("$Junk", flags)
        self.assertIn("$VarnoltMarker2", flags)
        self.assertEqual(before, stats(self.server, user))
        self.assertIn("to Deleted Items - leave untouched", self.filter_log())

    def test_a_move_between_other_folders_of_judged_ham_changes_nothing(self):
        user = "dave@example.com"
        self.deliver(user, ham("colleague@partner.example", "Keep me"))
        client = self.server.imap(user)
        client.create("Projects")
        client.logout()
        before = stats(self.server, user)
        self.move(user, "INBOX", "Keep me", "Projects")
        uid, flags, header = self.only(user, "Projects", "Keep me")
        self.assertIn("$NotJunk", flags)
        self.assertEqual(before, stats(self.server, user))

    def test_append_raises_the_client_create_event(self):
        user = "erin@example.com"
        self.deliver(user, ham("colleague@partner.example", "First"))  # the user's data exists
        log_lines = len(self.filter_log().splitlines())
        client = self.server.imap(user)
        try:
            typ, data = client.append("INBOX", None, None, ham("me@example.com", "My draft").encode())
            self.assertEqual("OK", typ, data)
        finally:
            client.logout()
        new_lines = self.filter_log().splitlines()[log_lines:]
        self.assertTrue(any("Mail moved by User" in line for line in new_lines), new_lines)
        uid, flags, header = self.only(user, "INBOX", "My draft")
        self.assertIsNone(pd.header(header, "X-Varnolt"))


class DomainModelTest(PluginTestCase):

    @classmethod
    def prepare_home(cls):
        cls.server.varnolt("train", "-q", "--domain", "example.com", "--spam", os.path.join(SAMPLES, "train", "spam"),
                           "--ham", os.path.join(SAMPLES, "train", "ham"))

    def test_a_new_user_is_protected_by_the_domains_model_and_teaches_it(self):
        user = "alice@example.com"
        with open(os.path.join(SAMPLES, "incoming", "02-spam.eml")) as f:
            self.deliver(user, f.read())
        with open(os.path.join(SAMPLES, "incoming", "01-ham.eml")) as f:
            self.deliver(user, f.read())
        self.only(user, JUNK, "Pills at the lowest prices - order now")
        self.only(user, "INBOX", "Agenda for the release review")
        # Her drag reaches the shared model the command line reads.
        self.deliver(user, ham("weekly@offers.example", "Weekly offers"))
        self.move(user, "INBOX", "Weekly offers", JUNK)
        shared = dict(re.findall(r"^(\w+) (\d+)$", self.server.varnolt("stats", "--domain", "example.com"),
                                 re.MULTILINE))
        self.assertEqual({"ham": "10", "spam": "11"}, shared)


class SpamboxTest(PluginTestCase):
    """No junk folder: the filter makes its Spambox and files SPAM there from then on."""

    junk_folder = None

    def test_spambox_is_created_then_used(self):
        user = "alice@example.com"
        self.deliver(user, spam("spammer@example.net", "First spam"))
        client = self.server.imap(user)
        try:
            self.assertIn("Spambox", pd.folders(client))
        finally:
            client.logout()
        self.deliver(user, spam("spammer@example.net", "Second spam"))
        uid, flags, header = self.only(user, "Spambox", "Second spam")
        self.assertEqual("2", pd.header(header, "X-Varnolt"))


class HideSpamTest(PluginTestCase):
    home_settings = {"HideSpam": 1}

    def test_hidden_spam_carries_the_hidden_keyword(self):
        self.deliver("alice@example.com", spam("spammer@example.net", "Hide me"))
        self.deliver("alice@example.com", ham("colleague@partner.example", "Show me"))
        uid, flags, header = self.only("alice@example.com", JUNK, "Hide me")
        self.assertIn("$VarnoltHidden", flags)
        uid, flags, header = self.only("alice@example.com", "INBOX", "Show me")
        self.assertNotIn("$VarnoltHidden", flags)


class ProviderModeTest(PluginTestCase):
    """Provider mode: only users whose data exists, or who asked for it, are filtered."""

    home_settings = {"ProviderMode": 1}

    def data_folder(self):
        return self.server.varnolt("config", "constructor-string").strip().split(";")[0].strip()

    def test_only_users_who_signed_up_are_filtered_and_welcomed(self):
        user = "frank@example.com"
        self.deliver(user, spam("spammer@example.net", "Before signing up"))
        uid, flags, header = self.only(user, "INBOX", "Before signing up")
        self.assertIsNone(pd.header(header, "X-Varnolt"))
        self.assertEqual(["Before signing up"], self.subjects(user, "INBOX"))

        domain_dir = os.path.join(self.data_folder(), "example.com")
        os.makedirs(domain_dir, exist_ok=True)
        open(os.path.join(domain_dir, "frank.dat.create"), "w").close()
        self.server.give_home_to_mail_user()
        self.deliver(user, spam("spammer@example.net", "After signing up"))
        uid, flags, header = self.only(user, JUNK, "After signing up")
        self.assertEqual("2", pd.header(header, "X-Varnolt"))
        self.assertTrue(any(s and s.startswith(WELCOME_SUBJECT) for s in self.subjects(user, "INBOX")))
        self.assertFalse(os.path.exists(os.path.join(domain_dir, "frank.dat.create")))


class BrokenHomeTest(unittest.TestCase):
    """Whatever is wrong with the home, mail is delivered, unfiltered, and the failure logged."""

    def check_delivers_unfiltered(self, server, user):
        server.deliver(user, spam("spammer@example.net", "Still delivered", "X-Varnolt: 1\r\n"))
        client = server.imap(user)
        try:
            found = [m for m in pd.messages(client, "INBOX") if pd.header(m[2], "Subject") == "Still delivered"]
        finally:
            client.logout()
        self.assertEqual(1, len(found), server.log())
        self.assertIsNone(pd.header(found[0][2], "X-Varnolt"))
        log = server.log()
        self.assertRegex(log, r"Error: .*varnolt: the message is delivered unfiltered: ")

    def test_missing_home(self):
        server = pd.PrivateDovecot(BUILD_DIR, ["alice@example.com"], varnolt_home="/nonexistent/varnolt-home")
        with server:
            self.check_delivers_unfiltered(server, "alice@example.com")
            self.assertIn("no varnolt home at /nonexistent/varnolt-home", server.log())
            # The user's move goes through all the same.
            client = server.imap("alice@example.com")
            try:
                client.select("INBOX")
                typ, data = client.uid("MOVE", "1", pd.quote(pd.DEFAULT_JUNK))
                self.assertEqual("OK", typ, data)
            finally:
                client.logout()
            self.assertRegex(server.log(), r"Error: .*varnolt: the filter was not told of the move in Junk E-Mail: "
                                           r"no varnolt home")

    def test_home_with_broken_registration(self):
        server = pd.PrivateDovecot(BUILD_DIR, ["alice@example.com"])
        home = server.make_home()
        # The registered library is gone.
        os.remove(os.path.join(server.plugin_dir(), pd.FILTER_LIBRARY))
        with server:
            self.check_delivers_unfiltered(server, "alice@example.com")
            with open(os.path.join(home, "events.log")) as f:
                self.assertIn("Dovecot plugin: the message is delivered unfiltered", f.read())
            self.assertRegex(server.varnolt("log"), r"Err: Dovecot plugin: the message is delivered unfiltered: "
                                                    r"cannot load the filter library .* Source: alice@example.com")


def main():
    global BUILD_DIR
    if len(sys.argv) < 2:
        print("usage: dovecot_plugin_test.py BUILD_DIR", file=sys.stderr)
        return 2
    BUILD_DIR = os.path.abspath(sys.argv.pop(1))
    try:
        pd.check_available(BUILD_DIR)
    except pd.Unavailable as why:
        print("SKIPPED: the Dovecot plugin tests need a private Dovecot: %s" % why)
        return SKIP
    program = unittest.main(exit=False, verbosity=2)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
