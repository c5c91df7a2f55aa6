#!/usr/bin/env python3
"""`varnolt serve` under hostile clients and at its start: idle and slow
clients, connections per address, password guessing, password hashes, a
port in use, a configuration others can read, IPv6 and TLS.
Usage: serve_limits_test.py BUILD_DIR"""
import base64
import concurrent.futures
import os
import socket
import ssl
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from dashboard_home import Home  # noqa: E402

BUILD = sys.argv.pop(1) if len(sys.argv) > 1 else os.environ.get("VARNOLT_BUILD_DIR", "build")
PASSWORD = "correct horse"


def auth(password):
    return {"Authorization": "Basic " + base64.b64encode(f"admin:{password}".encode()).decode()}


def hash_password(home, password):
    result = subprocess.run([home.varnolt, "serve", "--hash-password"], input=password + "\n", capture_output=True,
                            text=True, timeout=60)
    assert result.returncode == 0, result.stderr
    return result.stdout.strip()


def closed_by_server(sock, seconds):
    """True when the server closes the connection within the time."""
    sock.settimeout(seconds)
    try:
        return sock.recv(1) == b""
    except socket.timeout:
        return False
    except ConnectionResetError:
        return True


class HostileClientsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.home = Home(BUILD)
        cls.hash = hash_password(cls.home, PASSWORD)
        cls.home.add_config(f"[serve]\npassword_hash = {cls.hash}\n")
        cls.home.serve()

    @classmethod
    def tearDownClass(cls):
        cls.home.close()

    def connect(self, source):
        sock = socket.create_connection(("127.0.0.1", self.home.port), timeout=10, source_address=(source, 0))
        self.addCleanup(sock.close)
        return sock

    def test_a_hash_from_hash_password_lets_in_its_password_only(self):
        self.assertTrue(self.hash.startswith("$y$"), self.hash)
        self.assertEqual(200, self.home.get("/api/summary", headers=auth(PASSWORD), source="127.0.7.1")[0])
        self.assertEqual(401, self.home.get("/api/summary", headers=auth("wrong"), source="127.0.7.2")[0])
        self.assertEqual(401, self.home.get("/api/summary", headers=auth(self.hash), source="127.0.7.3")[0])

    def test_idle_and_slow_clients_hold_up_nobody_and_slow_ones_are_dropped(self):
        idle = [self.connect(f"127.0.2.{i + 1}") for i in range(40)]
        slow = [self.connect(f"127.0.3.{i + 1}") for i in range(12)]
        for sock in slow:
            sock.sendall(b"GET / HTTP/1.1\r\nHost: x\r\n")
        status, _, _ = self.home.get("/api/summary", headers=auth(PASSWORD), source="127.0.0.1")
        self.assertEqual(200, status)
        # A slow client never finishing its request is dropped at the request deadline (10 s).
        start = time.time()
        dropped = False
        while not dropped and time.time() - start < 20:
            try:
                slow[0].sendall(b"X-Slow: one more line\r\n")
            except OSError:
                dropped = True
                break
            dropped = closed_by_server(slow[0], 1)
        self.assertTrue(dropped)
        self.assertGreater(time.time() - start, 5)
        self.assertTrue(closed_by_server(idle[0], 5))

    def test_connections_per_client_address_are_bounded(self):
        kept = [self.connect("127.0.4.1") for _ in range(16)]
        one_too_many = self.connect("127.0.4.1")
        self.assertTrue(closed_by_server(one_too_many, 5))
        self.assertFalse(closed_by_server(kept[-1], 0.5))
        self.assertEqual(200, self.home.get("/api/summary", headers=auth(PASSWORD), source="127.0.4.2")[0])


class GuessingTest(unittest.TestCase):
    """A plain password: checking it costs nothing, so the guesses arrive together."""

    def setUp(self):
        self.home = Home(BUILD)
        self.home.add_config("[serve]\npassword = s3cret\n")
        self.home.serve()

    def tearDown(self):
        self.home.close()

    def guess(self, password, source="127.0.5.1"):
        return self.home.get("/api/summary", headers=auth(password), source=source)[0]

    def test_password_guessing_is_throttled_per_address_and_logged(self):
        with concurrent.futures.ThreadPoolExecutor(max_workers=15) as pool:
            statuses = list(pool.map(self.guess, [f"guess{i}" for i in range(15)]))
        self.assertLessEqual(statuses.count(401), 10)
        self.assertGreater(statuses.count(429), 0)
        self.assertEqual({401, 429}, set(statuses))
        self.assertEqual(200, self.guess("s3cret", "127.0.5.2"))  # another address is not held up
        time.sleep(1.1)
        self.assertEqual(200, self.guess("s3cret"))
        self.home.server.terminate()
        _, errors = self.home.server.communicate(timeout=30)
        self.home.server = None
        self.assertEqual(statuses.count(401), errors.count("failed login from 127.0.5.1"))
        self.assertIn("refused unchecked", errors)


class StartTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.home = Home(BUILD)

    @classmethod
    def tearDownClass(cls):
        cls.home.close()

    def setUp(self):
        self.conf = os.path.join(self.home.home, "varnolt.conf")
        with open(self.conf) as f:
            self.original = f.read()

    def tearDown(self):
        self.home.stop()
        with open(self.conf, "w") as f:
            f.write(self.original)
        os.chmod(self.conf, 0o600)

    def test_refusals_at_start(self):
        md5 = "$1$saltsalt$qjXMvbEw8oaL.CzflDugX/"
        cases = [  # (config, mode, listen, a text of the refusal)
            (f"[serve]\npassword = s3cret\n", 0o644, "127.0.0.1:0", "chmod o-rwx"),
            (f"[serve]\npassword_hash = {md5}\n", 0o600, "127.0.0.1:0", "--hash-password"),
            ("[serve]\npassword_hash = $y$j9T$cut\n", 0o600, "127.0.0.1:0", "--hash-password"),
            ("", 0o644, "0.0.0.0:0", "only with a password"),
            ("", 0o644, "no-such-host.invalid:0", "cannot listen on no-such-host.invalid"),
            ("[serve]\ntls_certificate = cert.pem\n", 0o600, "127.0.0.1:0", "go together"),
        ]
        for config, mode, listen, expected in cases:
            with self.subTest(config=config, listen=listen):
                with open(self.conf, "w") as f:
                    f.write(self.original + "\n" + config)
                os.chmod(self.conf, mode)
                result = self.home.run("serve", "--listen", listen, check=False)
                self.assertEqual(1, result.returncode, result.stderr)
                self.assertIn(expected, result.stderr)

    def test_a_plain_password_works_with_a_warning(self):
        self.home.add_config("[serve]\npassword = s3cret\n")
        self.home.serve()
        self.assertEqual(200, self.home.get("/", headers=auth("s3cret"))[0])
        self.home.server.terminate()
        _, errors = self.home.server.communicate(timeout=30)
        self.home.server = None
        self.assertIn("plain text", errors)

    def test_a_port_in_use_is_an_error(self):
        port = self.home.serve()
        second = self.home.run("serve", "--listen", f"127.0.0.1:{port}", check=False)
        self.assertEqual(1, second.returncode)
        self.assertIn("in use", second.stderr)
        self.assertEqual(200, self.home.get("/api/summary")[0])

    def test_ipv6_urls_are_printed_in_brackets(self):
        try:
            with socket.socket(socket.AF_INET6) as probe:
                probe.bind(("::1", 0))
        except OSError:
            self.skipTest("no IPv6 loopback here")
        port = self.home.serve("[::1]:0")
        self.assertIn(f"http://[::1]:{port}/", self.home.first_line)
        connection = socket.create_connection(("::1", port), timeout=10)
        with connection:
            connection.sendall(b"GET /api/summary HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
            self.assertTrue(connection.recv(100).startswith(b"HTTP/1.1 200"))

    def test_tls_serves_https_only(self):
        key, cert = (os.path.join(self.home.home, name) for name in ("key.pem", "cert.pem"))
        made = subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                               "-days", "2", "-subj", "/CN=localhost"], capture_output=True, timeout=120)
        if made.returncode != 0:
            self.skipTest("openssl cannot make a certificate here")
        self.home.add_config("[serve]\ntls_certificate = cert.pem\ntls_key = key.pem\n")
        port = self.home.serve()
        self.assertIn(f"https://127.0.0.1:{port}/", self.home.first_line)
        context = ssl.create_default_context(cafile=cert)
        context.check_hostname = False
        with socket.create_connection(("127.0.0.1", port), timeout=10) as raw:
            with context.wrap_socket(raw) as tls:
                tls.sendall(b"GET /api/summary HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
                answer = b""
                while chunk := tls.recv(65536):
                    answer += chunk
        self.assertTrue(answer.startswith(b"HTTP/1.1 200"), answer[:100])
        self.assertIn(b'"records"', answer)
        with socket.create_connection(("127.0.0.1", port), timeout=10) as plain:
            plain.sendall(b"GET /api/summary HTTP/1.1\r\nHost: x\r\n\r\n")
            try:
                self.assertFalse(plain.recv(100).startswith(b"HTTP/1.1 200"))
            except ConnectionResetError:
                pass


if __name__ == "__main__":
    unittest.main()
