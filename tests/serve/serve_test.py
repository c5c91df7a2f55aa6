#!/usr/bin/env python3
"""`varnolt serve` over HTTP: pages, JSON, /metrics in Prometheus' text
format, authentication, escaping, and a journal that outlives the server.
Usage: serve_test.py BUILD_DIR"""
import base64
import json
import os
import re
import shutil
import socket
import sqlite3
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from dashboard_home import HOSTILE_SUBJECT, MAILBOXES, Home  # noqa: E402

BUILD = sys.argv.pop(1) if len(sys.argv) > 1 else os.environ.get("VARNOLT_BUILD_DIR", "build")

SAMPLE = re.compile(r'^([a-zA-Z_:][a-zA-Z0-9_:]*)(\{(?:[a-zA-Z_][a-zA-Z0-9_]*="(?:[^"\\]|\\.)*",?)*\})? '
                    r'(-?[0-9.eE+-]+|\+Inf|NaN)$')


def parse_metrics(text):
    """{(name, labels): value} from the text format; fails on any line out of it."""
    samples, types = {}, {}
    for line in text.splitlines():
        if line.startswith("# HELP "):
            continue
        if line.startswith("# TYPE "):
            _, _, name, kind = line.split(" ")
            assert kind in ("counter", "gauge", "histogram", "summary", "untyped"), line
            types[name] = kind
            continue
        found = SAMPLE.match(line)
        assert found, f"not a sample line: {line!r}"
        labels = tuple(re.findall(r'([a-zA-Z_][a-zA-Z0-9_]*)="((?:[^"\\]|\\.)*)"', found.group(2) or ""))
        samples[(found.group(1), labels)] = float(found.group(3))
    return samples, types


class ServeTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.home = Home(BUILD)
        cls.home.add_config("[serve]\nmailbox_metrics = on\n")
        cls.home.serve()

    @classmethod
    def tearDownClass(cls):
        cls.home.close()

    def get_json(self, path):
        status, headers, body = self.home.get(path)
        self.assertEqual(200, status, body)
        self.assertEqual("application/json", headers["Content-Type"])
        return json.loads(body)

    def test_status_codes(self):
        cases = [("/", 200), ("/metrics", 200), ("/api/summary", 200), ("/explain?id=1", 200),
                 ("/explain?id=abc", 400), ("/explain", 400), ("/explain?id=999", 404), ("/api/explain?id=999", 404),
                 ("/nothing", 404), ("/?range=1y&refresh=0", 200), ("/?range=2y", 400), ("/?refresh=soon", 400)]
        for path, expected in cases:
            with self.subTest(path=path):
                self.assertEqual(expected, self.home.get(path)[0])
        for method in ("POST", "PUT", "DELETE"):
            with self.subTest(method=method):
                status, headers, _ = self.home.get("/", method=method, data=b"x=1")
                self.assertEqual(405, status)

    def test_the_range_and_reload_are_chosen_on_the_page(self):
        cases = [("/", 28, 'content="60"'), ("/?range=24h&refresh=300", 24, 'content="300"'),
                 ("/?range=1y&refresh=1", 53, 'content="10"'), ("/?range=30d&refresh=0", 30, None)]
        for path, bars, refresh in cases:
            with self.subTest(path=path):
                status, _, body = self.home.get(path)
                self.assertEqual(200, status)
                plot = body[body.index('id="plot-verdicts"'):]
                plot = plot[:plot.index("</svg>")]
                self.assertEqual(bars * 3, plot.count('class="point"'))
                if refresh:
                    self.assertIn(f'<meta http-equiv="refresh" {refresh}>', body)
                else:
                    self.assertNotIn('http-equiv="refresh"', body)

    def test_summary_counts_the_journal(self):
        summary = self.get_json("/api/summary")
        for span in ("today", "last_7_days", "last_30_days"):
            with self.subTest(span=span):
                self.assertEqual({"ham": 2, "spam": 1, "none": 0, "from_junk": 1, "to_junk": 0},
                                 {k: summary[span][k] for k in ("ham", "spam", "none", "from_junk", "to_junk")})
                self.assertAlmostEqual(1 / 3, summary[span]["error_rate"])
        self.assertEqual(48, len(summary["hours"]))
        self.assertEqual(3, summary["hours"][-1]["verdicts"])
        self.assertEqual(30, len(summary["days"]))
        self.assertEqual(1, summary["days"][-1]["from_junk"])

    def test_mailboxes_and_verdicts(self):
        rows = {row["mailbox"]: row for row in self.get_json("/api/mailboxes")}
        self.assertEqual(set(MAILBOXES), set(rows))
        self.assertEqual(1, rows["alice@example.com"]["spam"])
        self.assertEqual(1, rows["alice@example.com"]["whitelist"])  # the rescued sender
        self.assertEqual(1, rows["alice@example.com"]["model"]["ham"])  # relearned by the rescue
        verdicts = self.get_json("/api/verdicts?limit=2")
        self.assertEqual(2, len(verdicts))
        self.assertEqual("bob@example.org", verdicts[0]["mailbox"])
        self.assertEqual(HOSTILE_SUBJECT, verdicts[1]["subject"])
        self.assertEqual("from_junk", verdicts[1]["correction"])
        # The next page starts after the oldest record of the last one.
        self.assertEqual([verdicts[1]], self.get_json(f"/api/verdicts?limit=1&before={verdicts[0]['id']}"))
        self.assertEqual([], self.get_json("/api/verdicts?before=1"))
        explained = self.get_json(f"/api/explain?id={verdicts[1]['id']}")
        self.assertEqual("whitelist", explained["explanation"]["decided_by"])  # its sender was whitelisted
        self.assertTrue(explained["explanation"]["gtube"])
        names = [row["name"] for row in self.get_json("/api/settings")]
        self.assertIn("HideSpam", names)
        self.assertIn("[journal] keep_days", names)

    def test_metrics_follow_the_text_format(self):
        status, headers, body = self.home.get("/metrics")
        self.assertTrue(headers["Content-Type"].startswith("text/plain; version=0.0.4"))
        samples, types = parse_metrics(body)
        server = socket.gethostname()
        host = lambda verdict: (("host", "varnolt"), ("server", server), ("verdict", verdict))  # noqa: E731
        self.assertEqual(2, samples[("varnolt_verdicts_total", host("ham"))])
        self.assertEqual(1, samples[("varnolt_verdicts_total", host("spam"))])
        self.assertEqual(0, samples[("varnolt_verdicts_total", host("none"))])
        self.assertNotIn(("varnolt_verdicts_total", (("host", "unknown"), ("server", server), ("verdict", "ham"))),
                         samples)
        self.assertLess(abs(time.time() - samples[("varnolt_last_verdict_timestamp_seconds", ())]), 600)
        builds = [labels for (name, labels) in samples if name == "varnolt_build_info"]
        self.assertEqual(1, len(builds))
        self.assertRegex(dict(builds[0])["version"], r"^\d+\.\d+")
        self.assertEqual("histogram", types["varnolt_score"])
        scores = [value for (name, labels), value in samples.items() if name == "varnolt_score_bucket"]
        self.assertEqual(sorted(scores), scores)
        self.assertEqual(scores[-1], samples[("varnolt_score_count", ())])
        self.assertGreaterEqual(scores[-1], 2)  # at least the messages the engine decided
        self.assertEqual(1, samples[("varnolt_corrections_total", (("direction", "from_junk"),))])
        self.assertEqual(0, samples[("varnolt_corrections_total", (("direction", "to_junk"),))])
        self.assertEqual(0, samples[("varnolt_errors_total", ())])
        self.assertEqual("histogram", types["varnolt_filter_event_duration_seconds"])
        buckets = [(labels[0][1], value) for (name, labels), value in samples.items()
                   if name == "varnolt_filter_event_duration_seconds_bucket"]
        self.assertEqual("+Inf", buckets[-1][0])
        self.assertEqual(sorted(v for _, v in buckets), [v for _, v in buckets])  # cumulative
        self.assertEqual(3, samples[("varnolt_filter_event_duration_seconds_count", ())])
        self.assertEqual(3, buckets[-1][1])
        self.assertGreater(samples[("varnolt_filter_event_duration_seconds_sum", ())], 0)
        self.assertEqual(1, samples[("varnolt_model_messages", (("mailbox", "alice@example.com"), ("class", "ham")))])
        # alice's rescue waits in the domain's shared model for a second user to agree.
        domain = json.loads(self.home.run("stats", "--domain", "example.com", "--json").stdout)
        self.assertEqual(0, domain["ham"])
        self.assertEqual(1, domain["waiting"])
        for kind in ("ham", "spam"):
            self.assertEqual(domain[kind],
                             samples[("varnolt_domain_model_messages", (("domain", "example.com"), ("class", kind)))])
        for name in types:
            if types[name] == "counter":
                self.assertTrue(name.endswith("_total"), name)

    def test_verdicts_are_searched_through_the_api_and_the_page(self):
        cases = [("sender_domain=spam.example", ["s1@example.net"]),
                 ("sender=X%40SPAM.example", ["s1@example.net"]),
                 ("sender=nobody%40spam.example", []),
                 ("server=" + socket.gethostname() + "&sender_domain=spam.example", ["s1@example.net"]),
                 ("mailbox=ALICE@example.com&verdict=ham", ["h1@example.net"]),
                 ("corrected=yes", ["s1@example.net"]),
                 ("message_id=%3Ch2%40example.net%3E", ["h2@example.net"]),
                 ("min_score=0.9&max_score=1", ["s1@example.net"]),
                 ("from=2000-01-01&to=2000-01-02", []),
                 ("limit=1", None)]
        for query, expected in cases:
            with self.subTest(query=query):
                found = [record["message_id"] for record in self.get_json("/api/verdicts?" + query)]
                self.assertEqual(expected if expected is not None else found[:1], found)
        self.assertEqual(400, self.home.get("/api/verdicts?verdict=maybe")[0])
        self.assertEqual(400, self.home.get("/?min_score=2")[0])
        status, _, body = self.home.get("/?sender_domain=spam.example")
        self.assertEqual(200, status)
        self.assertIn("Verdicts found", body)
        table = body[body.index('id="latest"'):]
        table = table[:table.index("</table>")]
        self.assertEqual(1, table.count("why?"))

    def test_the_contributed_rules_and_dashboard_name_metrics_we_serve(self):
        samples, types = parse_metrics(self.home.get("/metrics")[2])
        contrib = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "contrib")
        rules = os.path.join(contrib, "prometheus", "varnolt-alerts.yml")
        with open(os.path.join(contrib, "grafana", "varnolt-dashboard.json")) as grafana:
            dashboard = json.load(grafana)
        expressions = [t["expr"] for p in dashboard["panels"] for t in p["targets"]]
        with open(rules) as text:
            expressions.append(text.read())
        for expression in expressions:
            for name in re.findall(r"varnolt_[a-z_]+", expression):
                with self.subTest(name=name):
                    self.assertIn(re.sub(r"_(bucket|sum|count)$", "", name) if name not in types else name, types)
        promtool = shutil.which("promtool")
        if promtool is None:
            self.skipTest("promtool is not installed (Debian package prometheus)")
        checked = subprocess.run([promtool, "check", "rules", rules], capture_output=True, text=True, timeout=60)
        self.assertEqual(0, checked.returncode, checked.stdout + checked.stderr)

    def test_why_shows_the_decision_at_delivery(self):
        # Record 1: the engine's verdict while the models were too thin to mix parts; then as if they were kept.
        parts = {"counts_part": 0.9, "linear_part": 0.6, "linear_weight": 0.4}
        for kept, text in [(None, "The parts of the score were not kept"),
                           (parts, "From the token counts: 0.9000. From the linear fit: 0.6000, weighted 0.4000.")]:
            if kept:
                with sqlite3.connect(os.path.join(self.home.home, "journal.db")) as db:
                    db.execute("UPDATE verdicts SET counts_part = :counts_part, linear_part = :linear_part, "
                               "linear_weight = :linear_weight, clues = 'c0.99\tsubject:win\nl-1.5\tgarden' "
                               "WHERE id = 1", kept)
            body = self.home.get("/explain?id=1")[2]
            at_delivery = body[body.index('<h2>At delivery</h2><p id="at-delivery">'):].split("</p>")[0]
            self.assertIn("Decided by the engine.", at_delivery)
            self.assertIn(text, at_delivery)
            record = self.get_json("/api/verdicts?before=2")[0]
            self.assertEqual(kept or dict.fromkeys(parts), {name: record[name] for name in parts})
            # The clues the engine gave with its verdict, as kept.
            clues = [{"part": "counts", "token": "subject:win", "value": 0.99},
                     {"part": "linear", "token": "garden", "value": -1.5}]
            self.assertEqual(clues if kept else [], record["clues"])
            self.assertEqual(bool(kept), 'id="delivery-clues"' in body and "subject:win" in body)

    def test_hostile_subject_is_escaped_everywhere(self):
        for path in ("/", "/explain?id=2"):
            with self.subTest(path=path):
                status, headers, body = self.home.get(path)
                self.assertEqual(200, status)
                self.assertNotIn("<script>alert", body)
                self.assertNotIn("<img src=x", body)
                self.assertIn("&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt; &amp; &lt;img", body)
                self.assertIn("default-src 'none'", headers["Content-Security-Policy"])
                self.assertEqual("nosniff", headers["X-Content-Type-Options"])


class AuthenticationTest(unittest.TestCase):
    def setUp(self):
        self.home = Home(BUILD)

    def tearDown(self):
        self.home.close()

    def test_beyond_loopback_only_with_a_password(self):
        refused = self.home.run("serve", "--listen", "0.0.0.0:0", check=False)
        self.assertEqual(1, refused.returncode)
        self.assertIn("[serve] password", refused.stderr)
        self.assertEqual(2, self.home.run("serve", "--listen", "nonsense", check=False).returncode)
        self.home.add_config("[serve]\npassword = s3cret:with colon\n")
        self.home.serve("0.0.0.0:0")
        self.assertEqual(401, self.home.get("/")[0])

    def test_the_password_is_asked_for_and_checked(self):
        self.home.add_config("[serve]\npassword = s3cret\n")
        self.home.serve()

        def auth(credentials):
            return {"Authorization": "Basic " + base64.b64encode(credentials.encode()).decode()}

        cases = [(None, 401), (auth("admin:wrong"), 401), (auth("admin:s3cre"), 401), (auth("admin:s3cret!"), 401),
                 ({"Authorization": "Bearer s3cret"}, 401), ({"Authorization": "Basic !!!"}, 401),
                 (auth("admin:s3cret"), 200), (auth(":s3cret"), 200)]
        # Each path from an address of its own: an address gets ten failed logins a second.
        for headers, expected in cases:
            for path, source in (("/", "127.0.0.1"), ("/metrics", "127.0.0.2"), ("/api/summary", "127.0.0.3")):
                with self.subTest(headers=headers, path=path):
                    status, answer_headers, _ = self.home.get(path, headers=headers, source=source)
                    self.assertEqual(expected, status)
                    if expected == 401:
                        self.assertIn("Basic", answer_headers["WWW-Authenticate"])

    def test_the_journal_survives_a_killed_server(self):
        self.home.serve()
        self.assertEqual(200, self.home.get("/")[0])
        self.home.stop(signal_kill=True)
        self.home.deliver(MAILBOXES[1], b"From: a@b.example\r\nSubject: after\r\n\r\nbody\r\n")
        with sqlite3.connect(os.path.join(self.home.home, "journal.db")) as db:
            self.assertEqual("ok", db.execute("PRAGMA integrity_check").fetchone()[0])
            self.assertEqual(4, db.execute("SELECT COUNT(*) FROM verdicts").fetchone()[0])


if __name__ == "__main__":
    unittest.main()
