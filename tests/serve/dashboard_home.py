"""A varnolt home with judged mail and a running `varnolt serve`, for the
dashboard's tests."""
import http.client
import os
import re
import shutil
import subprocess
import tempfile
import time
import urllib.error
import urllib.request

HOSTILE_SUBJECT = '<script>alert("x")</script> & <img src=x onerror=alert(1)>'
MAILBOXES = ["alice@example.com", "bob@example.org"]
GTUBE = "XJS*C4JDBQADN1.NSBN3*2IDNEN*GTUBE-STANDARD-ANTI-UBE-TEST-EMAIL*C.34X"


def message(message_id, sender, subject, body):
    return (f"Message-ID: <{message_id}>\r\nReturn-Path: <bounce@example.net>\r\n"
            "Received: from mx.example.net by mail.example.com; Mon, 21 Dec 2026 09:00:00 +0100\r\n"
            f"From: {sender}\r\nTo: someone@example.com\r\nSubject: {subject}\r\n"
            "Date: Mon, 21 Dec 2026 09:00:00 +0100\r\nContent-Type: text/plain; charset=utf-8\r\n"
            f"\r\n{body}\r\n").encode()


class Home:
    """A home in a temporary folder: alice got a HAM, a SPAM (the hostile
    subject) that she moved out of the junk folder, and bob one HAM.
    init_args: for `varnolt init`; journal: more lines of the [journal] settings."""

    def __init__(self, build, init_args=(), journal=""):
        self.varnolt = os.path.join(build, "apps", "varnolt", "varnolt")
        self.dir = tempfile.mkdtemp(prefix="varnolt-serve-")
        self.home = os.path.join(self.dir, "home")
        self.server = None
        self.port = None
        self.run("init", *init_args)
        for mailbox in MAILBOXES:
            self.run("mailbox", "add", mailbox)
        self.add_config("[journal]\nsubjects = on\n" + journal)
        self.deliver(MAILBOXES[0], message("h1@example.net", "Bob <bob@partner.example>", "Agenda", "See you."))
        spam_url = self.deliver(MAILBOXES[0], message("s1@example.net", "X <x@spam.example>", HOSTILE_SUBJECT, GTUBE))
        self.deliver(MAILBOXES[1], message("h2@example.net", "Carol <c@example.net>", "Lunch", "Noon?"))
        self.run("move", spam_url, "Inbox")

    def run(self, *args, check=True):
        result = subprocess.run([self.varnolt, "--home", self.home, *args], capture_output=True, text=True,
                                timeout=60)
        if check and result.returncode != 0:
            raise AssertionError(f"varnolt {args}: {result.returncode} {result.stderr}")
        return result

    def deliver(self, mailbox, data):
        path = os.path.join(self.dir, "message.eml")
        with open(path, "wb") as out:
            out.write(data)
        return self.run("deliver", mailbox, path).stdout.strip()

    def add_config(self, text):
        """Appends to varnolt.conf, which is kept private (serve refuses a password others can read)."""
        path = os.path.join(self.home, "varnolt.conf")
        with open(path, "a") as out:
            out.write("\n" + text)
        os.chmod(path, 0o600)

    def serve(self, listen="127.0.0.1:0"):
        """Starts the server; returns its port. self.first_line: what it printed first."""
        self.stop()
        self.server = subprocess.Popen([self.varnolt, "--home", self.home, "serve", "--listen", listen],
                                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.first_line = self.server.stdout.readline()
        found = re.search(r":(\d+)/", self.first_line)
        if not found:
            self.server.kill()
            raise AssertionError(f"serve did not start: {self.first_line!r} {self.server.stderr.read()}")
        self.port = int(found.group(1))
        return self.port

    def stop(self, signal_kill=False):
        if self.server is None:
            return
        if signal_kill:
            self.server.kill()
        else:
            self.server.terminate()
        self.server.wait(timeout=30)
        self.server.stdout.close()
        self.server.stderr.close()
        self.server = None

    def url(self, path):
        return f"http://127.0.0.1:{self.port}{path}"

    def get(self, path, headers=None, method="GET", data=None, source=None):
        """(status, headers, body text); HTTP errors are answers too. source: the client's address."""
        if source:
            connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30, source_address=(source, 0))
            try:
                connection.request(method, path, body=data, headers=headers or {})
                response = connection.getresponse()
                return response.status, response.headers, response.read().decode()
            finally:
                connection.close()
        opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
        request = urllib.request.Request(self.url(path), headers=headers or {}, method=method, data=data)
        try:
            with opener.open(request, timeout=30) as response:
                return response.status, response.headers, response.read().decode()
        except urllib.error.HTTPError as error:
            return error.code, error.headers, error.read().decode()

    def close(self):
        self.stop()
        shutil.rmtree(self.dir, ignore_errors=True)


def wait_for(condition, seconds=10):
    end = time.time() + seconds
    while time.time() < end:
        if condition():
            return True
        time.sleep(0.1)
    return False
