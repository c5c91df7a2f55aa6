"""The plugin in a real Dovecot, driven by real clients: LMTP deliveries and
IMAP moves and appends, checked over IMAP and with the varnolt command.

Usage: dovecot_plugin_test.py BUILD_DIR [unittest options]. Exits 77 (a
skip for ctest) when no Dovecot can run here.
"""

import base64
import os
import re
import shutil
import smtplib
import sqlite3
import subprocess
import sys
import threading
import time
import unittest
import urllib.error
import urllib.parse
import urllib.request

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
    detail_mailbox = False
    extra_plugins = ""
    lmtp_plugins = ""
    extra_plugin_settings = ""

    @classmethod
    def setUpClass(cls):
        users = ["%s@example.com" % name for name in
                 ("alice", "bob", "carol", "dave", "erin", "frank", "grace", "heidi", "ivan", "judy")]
        cls.server = pd.PrivateDovecot(BUILD_DIR, users, junk_folder=cls.junk_folder,
                                       detail_mailbox=cls.detail_mailbox, extra_plugins=cls.extra_plugins,
                                       lmtp_plugins=cls.lmtp_plugins,
                                       extra_plugin_settings=cls.extra_plugin_settings)
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
        # A new user is welcomed with the manual in the Inbox.
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

    def test_a_large_message_is_stored_whole_with_the_stamp_in_its_header(self):
        # A header section longer than the plugin reads at once, a forged marker
        # inside it, and a body streamed past it: every byte must arrive.
        received = "".join("Received: from relay%d.example.net by mx.example.com; Mon, 21 Dec 2026 09:00:00 +0100\r\n"
                           % i for i in range(1200))
        head = message("colleague@partner.example", "Large", "", received + "X-Varnolt: 2\r\n").split("\r\n\r\n")[0]
        body = "".join("line %d of the minutes, nothing in it but words\r\n" % i for i in range(8000))
        self.deliver("heidi@example.com", head + "\r\n\r\n" + body)
        uid = self.only("heidi@example.com", "INBOX", "Large")[0]
        client = self.server.imap("heidi@example.com")
        try:
            client.select("INBOX")
            typ, data = client.uid("FETCH", str(uid), "(BODY.PEEK[])")
        finally:
            client.logout()
        stored = data[0][1].decode()
        marker = re.findall(r"^X-Varnolt:\s*(\S+)", stored, re.MULTILINE | re.IGNORECASE)
        self.assertEqual(1, len(marker))
        expected = head.replace("X-Varnolt: 2\r\n", "") + "\r\nX-Varnolt: %s\r\n\r\n" % marker[0] + body
        # Dovecot's LMTP puts its own trace fields (Return-Path, Delivered-To, Received) in front.
        self.assertTrue(stored.endswith(expected), "stored %d bytes, %d expected at the end" % (len(stored), len(expected)))
        self.assertRegex(stored[:len(stored) - len(expected)], r"^(Return-Path|Delivered-To|Received):")

    def test_dovecot_lda_deliveries_are_judged_too(self):
        self.server.deliver_lda("frank@example.com", spam("spammer@example.net", "Through LDA"))
        uid, flags, header = self.only("frank@example.com", JUNK, "Through LDA")
        self.assertEqual("2", pd.header(header, "X-Varnolt"))
        self.assertIn("$Junk", flags)


class MaxMessageSizeTest(PluginTestCase):
    """A message beyond varnolt_max_message_size is stored without a verdict, and the log says why."""

    extra_plugin_settings = "  varnolt_max_message_size = 4000"

    def test_a_message_beyond_the_size_is_stored_unjudged(self):
        self.deliver("alice@example.com", spam("spammer@example.net", "Small spam"))
        self.only("alice@example.com", JUNK, "Small spam")
        padding = "padding line of a message larger than the filter judges\r\n" * 100
        self.deliver("alice@example.com", spam("spammer@example.net", "Large spam", "X-Varnolt: 1\r\n") + padding)
        uid, flags, header = self.only("alice@example.com", "INBOX", "Large spam")
        self.assertIsNone(pd.header(header, "X-Varnolt"))  # the sender's line removed, none of ours
        self.assertNotIn("$Junk", flags)
        beyond = (r"Warning: .*varnolt: the message is delivered without a verdict: "
                  r"its \d+ bytes are beyond varnolt_max_message_size \(4000\)")
        self.assertRegex(self.server.wait_for_log(beyond), beyond)


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


class JournalTest(PluginTestCase):
    """The verdict journal as the plugin writes it in the home."""

    def records(self):
        import sqlite3
        with sqlite3.connect(os.path.join(self.server.varnolt_home, "journal.db")) as db:
            db.row_factory = sqlite3.Row
            return {r["message_id"]: dict(r) for r in db.execute("SELECT * FROM verdicts ORDER BY id")}

    def test_deliveries_are_journaled_and_a_move_joins_its_correction(self):
        user = "grace@example.com"
        self.deliver(user, ham("friend@partner.example", "Journal ham").replace(
            "Subject:", "Message-ID: <jham@partner.example>\r\nSubject:"))
        self.deliver(user, spam("x@spam.example", "Journal spam", "Message-ID: <jspam@spam.example>\r\n"))
        records = self.records()
        self.assertEqual({"jham@partner.example", "jspam@spam.example"}, set(records))
        ham_record, spam_record = records["jham@partner.example"], records["jspam@spam.example"]
        for record in (ham_record, spam_record):
            self.assertEqual("dovecot", record["host"])
            self.assertEqual(user, record["mailbox"])
            self.assertEqual("engine", record["decided_by"])
            self.assertGreater(record["elapsed_us"], 0)
            self.assertEqual("", record["subject"])
        self.assertEqual(("ham", "left", "partner.example"),
                         (ham_record["verdict"], ham_record["action"], ham_record["sender_domain"]))
        self.assertEqual(("spam", "filed", 1.0), (spam_record["verdict"], spam_record["action"], spam_record["score"]))

        self.move(user, "INBOX", "Journal ham", JUNK)
        self.move(user, JUNK, "Journal spam", "INBOX")
        records = self.records()
        self.assertEqual("to_junk", records["jham@partner.example"]["correction"])
        self.assertEqual("from_junk", records["jspam@spam.example"]["correction"])
        self.assertEqual(2, len(records))


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
        # Her drag waits in the shared model the command line reads, for a second user to agree.
        self.deliver(user, ham("weekly@offers.example", "Weekly offers"))
        self.move(user, "INBOX", "Weekly offers", JUNK)
        shared = dict(re.findall(r"^(\w+) (\d+)$", self.server.varnolt("stats", "--domain", "example.com"),
                                 re.MULTILINE))
        self.assertEqual({"ham": "10", "spam": "10", "waiting": "1"}, shared)


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


class JunkFolderMadeAndRemovedTest(PluginTestCase):
    """One LMTP process sees the junk folder the user makes and removes between its deliveries."""

    junk_folder = None

    def test_each_delivery_files_spam_where_the_folders_are_now(self):
        user = "bob@example.com"

        def imap_command(command):
            client = self.server.imap(user)
            try:
                typ, data = getattr(client, command)(pd.quote(JUNK))
                self.assertEqual("OK", typ, data)
            finally:
                client.logout()

        with self.server.lmtp() as lmtp:
            def send(subject):
                lmtp.sendmail("sender@example.net", [user], spam("spammer@example.net", subject).encode())

            send("First")  # makes the Spambox, used from the next delivery on
            send("Before")
            self.only(user, "Spambox", "Before")
            imap_command("create")
            send("Made")
            self.only(user, JUNK, "Made")
            imap_command("delete")
            send("Removed")
        self.only(user, "Spambox", "Removed")


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
        unfiltered = r"Error: .*varnolt: the message is delivered unfiltered: "
        self.assertRegex(server.wait_for_log(unfiltered), unfiltered)

    def test_missing_home(self):
        server = pd.PrivateDovecot(BUILD_DIR, ["alice@example.com"], varnolt_home="/nonexistent/varnolt-home")
        with server:
            self.check_delivers_unfiltered(server, "alice@example.com")
            no_home = "no varnolt home at /nonexistent/varnolt-home"
            self.assertIn(no_home, server.wait_for_log(re.escape(no_home)))
            # The user's move goes through all the same.
            client = server.imap("alice@example.com")
            try:
                client.select("INBOX")
                typ, data = client.uid("MOVE", "1", pd.quote(pd.DEFAULT_JUNK))
                self.assertEqual("OK", typ, data)
            finally:
                client.logout()
            not_told = r"Error: .*varnolt: the filter was not told of the move in Junk E-Mail: no varnolt home"
            self.assertRegex(server.wait_for_log(not_told), not_told)

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

def crlf(text):
    """The message with every line ended by CR LF."""
    return text.replace("\r\n", "\n").replace("\n", "\r\n")


def run_at_once(client, count):
    """Runs client(0) ... client(count - 1) in threads at once and waits for all."""
    threads = [threading.Thread(target=client, args=(n,)) for n in range(count)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()


def read_sample(*parts):
    with open(os.path.join(SAMPLES, *parts)) as f:
        return f.read()


class ForgedMarkerTest(PluginTestCase):
    """Dovecot reads the header on to the blank line: a sender's X-Varnolt behind
    a line that is no well-formed header is still a header to it, and goes."""

    KINDS = [
        ("no colon", "this line is no header\r\n"),
        ("blank in the name", "Bad Name: value\r\n"),
        ("8-bit name", "N\xe4me: value\r\n"),
        ("envelope line", None),
    ]

    def test_every_forged_marker_dovecot_would_show_is_removed(self):
        user = "alice@example.com"
        for kind, line in self.KINDS:
            body = "This message tests the filter.\r\n\r\n" + GTUBE + "\r\n"
            rest = "X-Varnolt: 1\r\nFrom: <spammer@example.net>\r\nSubject: Forged %s\r\n\r\n%s" % (kind, body)
            text = ("From spammer@example.net  Mon Dec 21 09:00:00 2026\r\n" if line is None else line) + rest
            self.deliver(user, text.encode("latin-1"))
        client = self.server.imap(user)
        try:
            for mailbox in ("INBOX", JUNK):
                client.select(pd.quote(mailbox))
                typ, data = client.uid("SEARCH", "HEADER", "X-Varnolt", "1")
                self.assertEqual([b""], data, "a forged marker in %s" % mailbox)
            client.select(pd.quote(JUNK))
            typ, data = client.uid("SEARCH", "HEADER", "X-Varnolt", "2")
            self.assertEqual(len(self.KINDS), len(data[0].split()))
        finally:
            client.logout()


class RelearnAfterDeliveryTest(PluginTestCase):
    """A message delivered (CR LF) and learned from its own verdict is moved by a
    correction read back from the maildir (LF), not learned a second time."""

    def train(self, user):
        self.deliver(user, ham("colleague@example.net", "First mail"))  # makes the user
        self.server.varnolt("train", "-q", user, "--spam", os.path.join(SAMPLES, "train", "spam"),
                            "--ham", os.path.join(SAMPLES, "train", "ham"))
        self.assertEqual((10, 10), self.counts(user))

    def counts(self, user):
        got = stats(self.server, user)
        return got["ham"], got["spam"]

    def check_moves(self, user, subject):
        self.assertEqual((11, 10), self.counts(user))
        self.move(user, "INBOX", subject, JUNK)
        self.assertEqual((10, 11), self.counts(user))
        self.move(user, JUNK, subject, "INBOX")
        self.assertEqual((11, 10), self.counts(user))

    def test_lmtp_delivery_then_moves(self):
        user = "alice@example.com"
        self.train(user)
        message = crlf(read_sample("incoming", "01-ham.eml"))
        self.deliver(user, message)
        self.check_moves(user, pd.header(message, "Subject"))

    def test_lda_delivery_then_moves(self):
        user = "bob@example.com"
        self.train(user)
        message = crlf(read_sample("incoming", "01-ham.eml"))
        self.server.deliver_lda(user, message)
        self.check_moves(user, pd.header(message, "Subject"))


class ConcurrentWelcomeTest(PluginTestCase):
    """New users who receive several messages at the same moment, over several
    LMTP connections (a process each), are welcomed once."""

    def test_one_welcome_per_user(self):
        users = ["carol@example.com", "dave@example.com", "erin@example.com", "frank@example.com",
                 "grace@example.com"]
        failures = []

        def client(n):
            try:
                with self.server.lmtp() as lmtp:
                    for user in users:
                        lmtp.sendmail("sender@example.net", [user],
                                      ham("colleague@example.net", "Parallel %d" % n).encode())
            except Exception as error:  # reported below, in the test's own thread
                failures.append(error)

        run_at_once(client, 4)
        self.assertEqual([], failures)
        for user in users:
            subjects = self.subjects(user, "INBOX")
            with self.subTest(user=user):
                self.assertEqual(1, sum(1 for s in subjects if s and s.startswith(WELCOME_SUBJECT)), subjects)
                self.assertEqual(4, sum(1 for s in subjects if s and s.startswith("Parallel")), subjects)


    def test_a_claim_left_by_a_killed_delivery_is_taken_over(self):
        user = "heidi@example.com"
        data_folder = self.server.varnolt("config", "constructor-string").strip().split(";")[0].strip()
        domain_dir = os.path.join(data_folder, "example.com")
        os.makedirs(domain_dir, exist_ok=True)
        # What a delivery killed while welcoming leaves: the claim, no model, nobody holding it.
        open(os.path.join(domain_dir, "heidi.dat.welcome"), "w").close()
        self.server.give_home_to_mail_user()
        self.deliver(user, ham("colleague@example.net", "After the crash"))
        self.deliver(user, ham("colleague@example.net", "Later"))
        subjects = self.subjects(user, "INBOX")
        self.assertEqual(1, sum(1 for s in subjects if s and s.startswith(WELCOME_SUBJECT)), subjects)
        self.assertTrue(os.path.exists(os.path.join(domain_dir, "heidi.dat")))


class DashboardReleaseTest(PluginTestCase):
    """A message released from the junk folder on the dashboard goes through doveadm, so the plugin
    relearns and whitelists it as after the user's own move."""

    def test_a_released_message_is_in_the_inbox_relearned(self):
        user = "ivan@example.com"
        self.deliver(user, spam("friend@partner.example", "Released", "Message-ID: <released@partner.example>\r\n"))
        self.only(user, JUNK, "Released")
        before = stats(self.server, user)
        config = os.path.join(self.server.varnolt_home, "varnolt.conf")
        with open(config, "a") as out:
            out.write("\n[serve]\npassword = s3cret\ndoveadm = %s -c %s\n" % (
                shutil.which("doveadm") or "/usr/bin/doveadm", self.server.config_path))
        os.chmod(config, 0o600)
        serve = subprocess.Popen([os.path.join(BUILD_DIR, "apps", "varnolt", "varnolt"), "--home",
                                  self.server.varnolt_home, "serve", "--listen", "127.0.0.1:0"],
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                 env=dict(os.environ, VARNOLT_FILTER_LIBRARY=os.path.join(
                                     self.server.plugin_dir(), pd.FILTER_LIBRARY)))
        try:
            port = int(re.search(r":(\d+)/", serve.stdout.readline()).group(1))
            with sqlite3.connect(os.path.join(self.server.varnolt_home, "journal.db")) as db:
                record = db.execute("SELECT id FROM verdicts WHERE message_id = 'released@partner.example'").fetchone()[0]
            auth = {"Authorization": "Basic " + base64.b64encode(b"helpdesk:s3cret").decode()}
            opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
            url = "http://127.0.0.1:%d" % port
            with opener.open(urllib.request.Request("%s/explain?id=%d" % (url, record), headers=auth)) as page:
                token = re.search(r'name="csrf" value="([0-9a-f]+)"', page.read().decode()).group(1)
            form = urllib.parse.urlencode({"id": record, "to": "inbox", "csrf": token}).encode()
            for status, text in ((200, "Moved from %s to INBOX through doveadm" % JUNK), (409, "already in INBOX")):
                try:
                    with opener.open(urllib.request.Request(url + "/release", data=form, headers=auth)) as answer:
                        got = (answer.status, answer.read().decode())
                except urllib.error.HTTPError as error:
                    got = (error.code, error.read().decode())
                self.assertEqual(status, got[0], got[1])
                self.assertIn(text, got[1])
        finally:
            serve.terminate()
            serve.communicate(timeout=30)
        uid, flags, header = self.only(user, "INBOX", "Released")
        self.assertIn("$NotJunk", flags)
        self.assertIn("$VarnoltMarker1", flags)
        self.assertEqual([], self.subjects(user, JUNK))
        after = stats(self.server, user)
        self.assertEqual((before["ham"] + 1, 1), (after["ham"], after["whitelist"]))
        self.assertIn("varnolt serve: helpdesk moved record %d" % record, self.filter_log())


class DetailMailboxTest(PluginTestCase):
    """user+Spam@domain delivers straight into the junk folder: SPAM is where it belongs."""

    junk_folder = "Spam"
    home_settings = {"UseJunkMailFolder": "Spam"}
    detail_mailbox = True

    def test_spam_delivered_into_the_junk_folder_stays_there_without_an_error(self):
        user = "alice@example.com"
        self.deliver("alice+Spam@example.com", spam("spammer@example.net", "Straight in"))
        uid, flags, header = self.only(user, "Spam", "Straight in")
        self.assertEqual("2", pd.header(header, "X-Varnolt"))
        self.assertIn("$Junk", flags)
        log = self.filter_log()
        self.assertNotIn("Cannot move", log)
        self.assertIn("recognized as SPAM (already in the junk folder)", log)

    def test_a_new_users_welcome_goes_to_the_inbox_when_the_first_mail_goes_to_the_junk_folder(self):
        user = "bob@example.com"
        self.deliver("bob+Spam@example.com", ham("colleague@partner.example", "Addressed to junk"))
        self.only(user, "Spam", "Addressed to junk")
        self.assertEqual(["Addressed to junk"], self.subjects(user, "Spam"))
        self.assertEqual(1, sum(1 for s in self.subjects(user, "INBOX") if s and s.startswith(WELCOME_SUBJECT)))


class SessionRaceTest(PluginTestCase):
    """Several IMAP sessions on one mailbox at the same moment: a message that
    another session moved or expunged before the filter reached it is no error."""

    ROUNDS = 100

    def race(self, user, first, second):
        """Runs first(client) and second(client) ROUNDS times each, at once, each in a session of its own."""
        failures = []

        def session(n):
            try:
                client = self.server.imap(user)
                try:
                    for _ in range(self.ROUNDS):
                        (first, second)[n](client)
                finally:
                    client.logout()
            except Exception as error:
                failures.append(error)

        run_at_once(session, 2)
        self.assertEqual([], failures)

    def test_two_sessions_moving_the_same_message(self):
        user = "alice@example.com"
        self.deliver(user, ham("colleague@example.net", "Moved twice"))

        def move(source, target):
            def step(client):
                client.select(pd.quote(source))
                client.uid("MOVE", "1:*", pd.quote(target))
            return step

        self.race(user, move("INBOX", JUNK), move(JUNK, "INBOX"))
        self.assertNotIn("MailMarker (Set) failed", self.filter_log())

    def test_a_message_expunged_before_the_filter_reads_it(self):
        user = "bob@example.com"
        self.deliver(user, ham("colleague@example.net", "First mail"))

        def append(client):
            typ, data = client.append("INBOX", None, None, ham("me@example.com", "Draft").encode())
            self.assertEqual("OK", typ, data)

        def expunge(client):
            client.select("INBOX")
            client.uid("STORE", "1:*", "+FLAGS.SILENT", r"(\Deleted)")
            client.expunge()

        self.race(user, append, expunge)
        self.assertNotIn("Dovecot plugin", self.filter_log())


class SieveFileintoTest(PluginTestCase):
    """A Sieve script (Pigeonhole) that files mail into the junk folder. The
    filter's hook runs before Sieve's: SPAM goes to the junk folder once, by
    the filter, and Sieve files the rest as the user's rules say."""

    junk_folder = "Spam"
    home_settings = {"UseJunkMailFolder": "Spam"}
    lmtp_plugins = "sieve"

    @classmethod
    def prepare_home(cls):
        folder = os.path.join(cls.server.root, "sieve")
        os.makedirs(folder)
        script = os.path.join(folder, "junk.sieve")
        with open(script, "w") as f:
            f.write('require "fileinto";\nif header :contains "Subject" "[to junk]" { fileinto "Spam"; stop; }\n')
        # Pigeonhole compiles the script beside it, as the mail user.
        pd.chown_tree(folder, cls.server.account.pw_uid, cls.server.account.pw_gid)
        cls.server.extra_plugin_settings = "  sieve_before = %s" % script

    def test_mail_for_the_junk_folder_is_judged_and_stamped_once_without_an_error(self):
        user = "alice@example.com"
        self.deliver(user, spam("spammer@example.net", "[to junk] Sieved spam"))
        self.deliver(user, ham("colleague@partner.example", "[to junk] Sieved ham"))
        self.deliver(user, ham("colleague@partner.example", "Not sieved"))
        uid, flags, header = self.only(user, "Spam", "[to junk] Sieved spam")
        self.assertEqual("2", pd.header(header, "X-Varnolt"))
        self.assertIn("$Junk", flags)
        self.assertIn("$VarnoltMarker2", flags)
        # The user's own rule keeps a HAM verdict in the junk folder: stamped as judged.
        uid, flags, header = self.only(user, "Spam", "[to junk] Sieved ham")
        self.assertEqual("1", pd.header(header, "X-Varnolt"))
        self.assertIn("$NotJunk", flags)
        inbox = self.subjects(user, "INBOX")
        self.assertIn("Not sieved", inbox)
        self.assertFalse([s for s in inbox if s.startswith("[to junk]")], inbox)
        fileinto = r"sieve: .*fileinto action: stored mail into mailbox 'Spam'"
        server_log = self.server.wait_for_log(fileinto)
        self.assertRegex(server_log, fileinto)
        self.assertEqual(1, server_log.count("saved mail to Spam"), server_log)
        log = self.filter_log()
        self.assertNotIn("Cannot move", log)
        # No error: welcoming the new user made the whitelist it is looked up in.
        errors = [line for line in log.splitlines() if " Err: " in line]
        self.assertEqual([], errors, log)


class SessionCostTest(PluginTestCase):
    """IMAP sessions that need no filter cost it nothing; the settings are
    loaded once for the running Dovecot, not once per process."""

    home_settings = {"DebugLevel": 1}

    def test_logins_write_nothing_and_settings_load_once(self):
        user = "alice@example.com"
        self.deliver(user, ham("colleague@partner.example", "Settle"))
        log = self.filter_log()
        self.assertIn("Loading ", log)
        for _ in range(3):
            client = self.server.imap(user)
            client.select("INBOX")
            client.uid("FETCH", "1:*", "(FLAGS)")
            client.logout()
        self.assertEqual(log, self.filter_log())
        # The filter is loaded into an IMAP process by its first event, not before.
        client = self.server.imap(user)
        try:
            client.select("INBOX")
            login = r"Login: user=<%s>.*?mpid=(\d+)" % re.escape(user)
            pid = re.findall(login, self.server.wait_for_log(login))[-1]

            def loaded(library=pd.PLUGIN_HOST_FILE):
                with open("/proc/%s/maps" % pid) as maps:
                    return library in maps.read()

            self.assertFalse(loaded())
            typ, data = client.uid("MOVE", "1:*", pd.quote(JUNK))
            self.assertEqual("OK", typ, data)
            self.assertTrue(loaded())
            # libpq and the dozen libraries it needs are for PostgreSQL homes only.
            self.assertFalse(loaded("libpq.so"))
            client.select(pd.quote(JUNK))
            client.uid("MOVE", "1:*", "INBOX")
        finally:
            client.logout()
        log = self.filter_log()
        # Moves in fresh IMAP processes: their own lines only.
        self.deliver(user, ham("colleague@partner.example", "Move me"))
        self.move(user, "INBOX", "Move me", JUNK)
        self.move(user, JUNK, "Move me", "INBOX")
        new_lines = self.filter_log()[len(log):].splitlines()
        self.assertEqual([], [line for line in new_lines if "Loading " in line], new_lines)
        self.assertEqual(2, sum(1 for line in new_lines if "Mail moved by User" in line), new_lines)


class ParallelDeliveryTest(PluginTestCase):
    """Four LMTP clients deliver to one trained user at once with autolearn:
    every message arrives once and the model stays sound."""

    def test_every_message_once_and_a_sound_model(self):
        user = "alice@example.com"
        self.deliver(user, ham("colleague@example.net", "First mail"))
        self.server.varnolt("train", "-q", user, "--spam", os.path.join(SAMPLES, "train", "spam"),
                            "--ham", os.path.join(SAMPLES, "train", "ham"))
        samples = sorted(os.listdir(os.path.join(SAMPLES, "incoming")))
        failures = []

        def client(n):
            try:
                with self.server.lmtp() as lmtp:
                    for i in range(10):
                        text = read_sample("incoming", samples[(n + i) % len(samples)])
                        text = text.replace("Subject: ", "Subject: [%d.%d] " % (n, i), 1)
                        lmtp.sendmail("sender@example.net", [user], text.encode())
            except Exception as error:
                failures.append(error)

        run_at_once(client, 4)
        self.assertEqual([], failures)
        tagged = [s for box in ("INBOX", JUNK) for s in self.subjects(user, box) if s and s.startswith("[")]
        self.assertEqual(40, len(tagged))
        self.assertEqual(40, len(set(tagged)))
        model = os.path.join(self.server.varnolt("config", "constructor-string").strip().split(";")[0].strip(),
                             "example.com", "alice.dat")
        db = sqlite3.connect(model)
        try:
            self.assertEqual("ok", db.execute("PRAGMA integrity_check").fetchone()[0])
            self.assertEqual("wal", db.execute("PRAGMA journal_mode").fetchone()[0])
        finally:
            db.close()
        counts = stats(self.server, user)
        self.assertGreaterEqual(counts["ham"] + counts["spam"], 20)


class JunkFolderRaceTest(PluginTestCase):
    """A user new to Dovecot (no maildir; the junk folder is made at first use)
    gets mail over four LMTP connections at once, the first ones of a server
    run: every SPAM goes to the configured junk folder and no Spambox is made."""

    def test_spam_goes_to_the_junk_folder_in_every_round(self):
        samples = os.path.join(SAMPLES, "train")
        for number, user in enumerate(("carol@example.com", "dave@example.com", "erin@example.com")):
            with self.subTest(round=number):
                self.server.varnolt("mailbox", "add", user)
                self.server.varnolt("train", "-q", user, "--spam", os.path.join(samples, "spam"),
                                    "--ham", os.path.join(samples, "ham"))
                if number > 0:
                    # A new run: its processes load the filter's settings afresh, all at once.
                    # (Not right after a start: processes the old run was still starting would log errors.)
                    self.server.stop()
                    self.server.start()
                failures = []
                connected = threading.Barrier(4, timeout=30)

                def client(n):
                    try:
                        with self.server.lmtp() as lmtp:
                            # Each connection has its process; their first deliveries start together.
                            lmtp.ehlo()
                            connected.wait()
                            for i in range(10):
                                text = (spam if i % 2 else ham)("sender%d@example.net" % n, "Race %d.%d" % (n, i))
                                lmtp.sendmail("sender@example.net", [user], text.encode())
                    except Exception as error:
                        failures.append(error)

                run_at_once(client, 4)
                self.assertEqual([], failures)
                imap = self.server.imap(user)
                try:
                    self.assertNotIn("Spambox", pd.folders(imap))
                finally:
                    imap.logout()
                self.assertEqual(20, len(self.messages(user, JUNK)))
                self.assertEqual(20, sum(1 for s in self.subjects(user, "INBOX") if s.startswith("Race")))


class QuotaTest(PluginTestCase):
    """A full mailbox reaches the filter as the store's own error."""

    extra_plugins = "quota"
    extra_plugin_settings = "  quota = count:User quota\n  quota_rule = *:messages=1\n  quota_vsizes = yes"

    def test_a_full_mailbox_is_reported_as_full(self):
        user = "alice@example.com"
        # The user's own message fills the quota before the filter knows the user.
        client = self.server.imap(user)
        try:
            typ, data = client.append("INBOX", None, None, ham("me@example.com", "Mine").encode())
            self.assertEqual("OK", typ, data)
        finally:
            client.logout()
        data_folder = self.server.varnolt("config", "constructor-string").strip().split(";")[0].strip()
        for name in ("alice.dat", "alice.dat.welcome"):
            path = os.path.join(data_folder, "example.com", name)
            if os.path.exists(path):
                os.remove(path)
        with self.assertRaises(Exception):  # the delivery itself is over the quota too
            self.deliver(user, ham("colleague@example.net", "Over quota"))
        self.assertRegex(self.filter_log(), r"Err: Creation of user manual failed: The disk or the store is full "
                                            r"\(Dovecot: .*[Qq]uota.*\) 0x80047019")


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
