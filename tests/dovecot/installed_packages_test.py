"""The Debian packages as an administrator installs them: scripts/package
makes them from the build folder, dpkg installs them into a temporary root
(a database of its own; the maintainer scripts see DPKG_ROOT and leave this
system alone), and a private Dovecot loads the installed plugin, which finds
its libraries from where it lies. Also the packages' dependencies, the
systemd unit, the logrotate rule, and removing and purging them.

Usage: installed_packages_test.py BUILD_DIR [unittest options]. Exits 77 (a
skip for ctest) where packages cannot be made or Dovecot cannot run.
"""

import glob
import os
import pwd
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import private_dovecot as pd  # noqa: E402

BUILD_DIR = None
SOURCE_DIR = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
SKIP = 77
GTUBE = "XJS*C4JDBQADN1.NSBN3*2IDNEN*GTUBE-STANDARD-ANTI-UBE-TEST-EMAIL*C.34X"
JUNK = "Junk E-Mail"
PACKAGES = ("varnolt", "varnolt-dovecot")


def read(path):
    with open(path, errors="replace") as f:
        return f.read()


def run(*args, **kwargs):
    return subprocess.run(args, capture_output=True, text=True, check=True, **kwargs).stdout


def make_packages(output):
    """{package name: .deb path} made by scripts/package from the build folder."""
    paths = run(os.path.join(SOURCE_DIR, "scripts", "package"), "--build", BUILD_DIR, "--output", output).split()
    return {run("dpkg-deb", "--field", path, "Package").strip(): path for path in paths}


def dpkg_root(parent):
    """An empty root folder with a dpkg database of its own, readable by the mail user."""
    root = os.path.join(parent, "root")
    for sub in ("var/lib/dpkg/info", "var/lib/dpkg/updates", "var/lib/dpkg/triggers", "var/log"):
        os.makedirs(os.path.join(root, sub))
    open(os.path.join(root, "var/lib/dpkg/status"), "w").close()
    for path in (parent, root):
        os.chmod(path, 0o755)
    return root


def dpkg(root, *args):
    # The dependencies are this system's, not the empty root's.
    return run("dpkg", "--root=" + root, "--force-depends", "--force-script-chrootless", "--log=/dev/null", *args)


def files_below(root, *folders):
    return sorted(os.path.relpath(os.path.join(d, f), root)
                  for folder in folders for d, _, names in os.walk(os.path.join(root, folder)) for f in names)


def message(subject, body):
    return ("From: Sender <sender@example.net>\r\nTo: alice@example.com\r\nSubject: %s\r\n"
            "Date: Mon, 21 Dec 2026 09:00:00 +0100\r\nMIME-Version: 1.0\r\n"
            "Content-Type: text/plain; charset=utf-8\r\n\r\n%s\r\n") % (subject, body)


class InstalledPackagesTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="varnolt-packages-")
        cls.debs = make_packages(os.path.join(cls.work, "debs"))
        cls.root = dpkg_root(cls.work)
        dpkg(cls.root, "--install", *cls.debs.values())

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def test_packages_and_their_dependencies(self):
        self.assertEqual(set(PACKAGES), set(self.debs))
        # (package, a dependency it must declare): found by dpkg-shlibdeps, or ours.
        for package, dependency in [("varnolt", r"libc6 \(>="),
                                    ("varnolt", r"libstdc\+\+6 \(>="),
                                    ("varnolt", r"libcpp-httplib"),
                                    ("varnolt-dovecot", r"varnolt \(= 1\.0\)"),
                                    ("varnolt-dovecot", r"dovecot-abi-2\.3\.abiv\d+"),
                                    ("varnolt-dovecot", r"libgmime-3\.0-0"),
                                    ("varnolt-dovecot", r"libsqlite3-0"),
                                    ("varnolt-dovecot", r"libpq5")]:
            with self.subTest(package=package, dependency=dependency):
                depends = run("dpkg-deb", "--field", self.debs[package], "Depends")
                self.assertRegex(depends, r"(^|, )" + dependency)

    def test_installed_files(self):
        # Every file in its place, and nothing more; the configuration under /etc as conffiles.
        expected = {
            "varnolt": ["etc/logrotate.d/varnolt", "usr/bin/varnolt", "usr/lib/libvarnolt_error_info.so",
                        "usr/lib/libvarnolt_http.so", "usr/lib/libvarnoltfilter.so",
                        "usr/lib/systemd/system/varnolt-serve.service",
                        "usr/share/doc/varnolt/examples/varnolt.conf", "usr/share/man/man1/varnolt.1.gz"],
            "varnolt-dovecot": ["etc/dovecot/conf.d/95-varnolt.conf",
                                "usr/lib/dovecot/modules/lib95_varnolt_plugin.so",
                                "usr/lib/dovecot/modules/libvarnolt_dovecot_host.so",
                                "usr/lib/dovecot/modules/libvarnolt_dovecot_postgres.so"],
        }
        for package, files in expected.items():
            with self.subTest(package=package):
                listed = dpkg(self.root, "--listfiles", package).split("\n")
                self.assertEqual(files, sorted(p[1:] for p in listed
                                               if p and os.path.isfile(os.path.join(self.root, p[1:]))))
                conffiles = dpkg(self.root, "--status", package)
                for path in files:
                    if path.startswith("etc/"):
                        self.assertIn(" /%s " % path, conffiles)
        unit = read(os.path.join(self.root, "usr/lib/systemd/system/varnolt-serve.service"))
        self.assertIn("ExecStart=/usr/bin/varnolt serve", unit)
        if shutil.which("man"):
            page_file = os.path.join(self.root, "usr/share/man/man1/varnolt.1.gz")
            page = subprocess.run(["man", "--warnings", "-l", page_file], capture_output=True, text=True,
                                  env=dict(os.environ, MANWIDTH="80"))
            self.assertEqual(("", 0), (page.stderr, page.returncode))
            self.assertRegex(page.stdout, r"NAME\s+varnolt\s+-\s+a mailbox-side spam filter")

    def test_systemd_unit(self):
        if not shutil.which("systemd-analyze"):
            self.skipTest("no systemd-analyze")
        unit = os.path.join(self.root, "usr/lib/systemd/system/varnolt-serve.service")
        # Verified against this system's units, with the command where the test installed it.
        checked = os.path.join(self.work, "units", os.path.basename(unit))
        os.makedirs(os.path.dirname(checked))
        with open(checked, "w") as f:
            f.write(read(unit).replace("=/usr/bin/varnolt ", "=%s/usr/bin/varnolt " % self.root))
        result = subprocess.run(["systemd-analyze", "verify", "--man=no", checked], capture_output=True, text=True)
        self.assertEqual("", result.stderr)
        # systemd's exposure score, 0 (locked down) to 10: "OK" is below 2.
        result = subprocess.run(["systemd-analyze", "security", "--offline=yes", "--threshold=19", unit],
                                capture_output=True, text=True)
        self.assertEqual(0, result.returncode, result.stdout + result.stderr)

    def test_logrotate_keeps_the_writers_file(self):
        if not shutil.which("logrotate"):
            self.skipTest("no logrotate")
        account = pd.ensure_mail_user()
        home = os.path.join(self.work, "rotated-home")
        log = os.path.join(home, "data", "Varnolt.log")
        os.makedirs(os.path.dirname(log))
        with open(log, "w") as f:
            f.write("2026-12-08 10:00:00 a line before the rotation\r\n")
        for path in (home, os.path.dirname(log), log):
            os.chown(path, account.pw_uid, account.pw_gid)
        os.chmod(log, 0o660)
        rule = read(os.path.join(self.root, "etc/logrotate.d/varnolt")).replace("/var/lib/varnolt", home)
        config = os.path.join(self.work, "logrotate.conf")
        with open(config, "w") as f:
            f.write(rule)
        run("logrotate", "--force", "--state", os.path.join(self.work, "logrotate.state"), config)
        # A new, empty log the mail user may still append to; the old lines rotated away.
        info = os.stat(log)
        self.assertEqual((0, account.pw_uid, account.pw_gid, 0o660),
                         (info.st_size, info.st_uid, info.st_gid, info.st_mode & 0o777))
        self.assertIn("before the rotation", read(log + ".1"))

    def test_installed_plugin_judges_a_delivery(self):
        try:
            server = pd.PrivateDovecot(BUILD_DIR, ["alice@example.com"], installed_root=self.root)
        except pd.Unavailable as why:
            self.skipTest(str(why))
        try:
            home = server.make_home()
            registry = read(os.path.join(home, "registry.reg"))
            self.assertIn(os.path.join(self.root, "usr", "lib", "libvarnoltfilter.so").replace("\\", "\\\\"),
                          registry)
            server.start()
            server.deliver("alice@example.com", message("Filter test", "A test of the filter.\r\n\r\n" + GTUBE))
            server.deliver("alice@example.com", message("Agenda", "The agenda for the review on the 14th."))
            client = server.imap("alice@example.com")
            try:
                junk = pd.messages(client, JUNK)
                inbox = pd.messages(client, "INBOX")
            finally:
                client.logout()
            self.assertEqual([("Filter test", "2")],
                             [(pd.header(h, "Subject"), pd.header(h, "X-Varnolt")) for _, _, h in junk])
            self.assertIn(("Agenda", "1"), [(pd.header(h, "Subject"), pd.header(h, "X-Varnolt"))
                                            for _, _, h in inbox])
            self.assertNotRegex(server.log(), r"Panic:|Fatal:|Error:")
        finally:
            server.cleanup()

    def test_removed_and_purged_cleanly(self):
        root = dpkg_root(tempfile.mkdtemp(prefix="removed-", dir=self.work))
        dpkg(root, "--install", *self.debs.values())
        dpkg(root, "--remove", *PACKAGES)
        # Only the conffiles stay until the packages are purged.
        self.assertEqual(["etc/dovecot/conf.d/95-varnolt.conf", "etc/logrotate.d/varnolt"],
                         files_below(root, "etc", "usr"))
        dpkg(root, "--purge", *PACKAGES)
        self.assertEqual([], files_below(root, "etc", "usr"))


def main():
    global BUILD_DIR
    if len(sys.argv) < 2:
        print("usage: installed_packages_test.py BUILD_DIR", file=sys.stderr)
        return 2
    BUILD_DIR = os.path.abspath(sys.argv.pop(1))
    missing = [tool for tool in ("cpack", "dpkg", "dpkg-deb", "dpkg-shlibdeps") if not shutil.which(tool)]
    if missing:
        print("SKIPPED: the packages need %s (scripts/setup installs them)" % ", ".join(missing))
        return SKIP
    if os.geteuid() != 0:
        print("SKIPPED: installing packages, even into a temporary root, needs root")
        return SKIP
    if not os.path.exists(os.path.join(BUILD_DIR, "dovecot", pd.PLUGIN_FILE)):
        print("SKIPPED: the Dovecot plugin was not built (dovecot-dev missing when configuring)")
        return SKIP
    program = unittest.main(exit=False, verbosity=2)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
