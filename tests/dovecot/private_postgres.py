"""A private PostgreSQL for the Dovecot tests and benchmarks, as the C++
tests start theirs: initdb into a temporary folder as the postgres user,
pg_ctl with its socket there and a free loopback port. Mail processes run
as the mail user, who cannot enter that folder: they connect over TCP.
"""

import glob
import os
import pwd
import shutil
import socket
import subprocess
import tempfile


class Unavailable(Exception):
    """No PostgreSQL server package, or no postgres user to run it as."""


def bin_folder():
    found = sorted(glob.glob("/usr/lib/postgresql/*/bin/initdb"), key=lambda p: int(p.split("/")[4]))
    if found:
        return os.path.dirname(found[-1])
    initdb = shutil.which("initdb")
    return os.path.dirname(initdb) if initdb and shutil.which("pg_ctl") else None


def check_available():
    if not bin_folder():
        raise Unavailable("PostgreSQL is not installed (scripts/setup installs postgresql)")
    if os.geteuid() == 0:
        try:
            pwd.getpwnam("postgres")
        except KeyError:
            raise Unavailable("running as root and there is no postgres user to run the server as")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class PrivatePostgres:
    def __init__(self, durable=False):
        check_available()
        self.bin = bin_folder()
        self.durable = durable
        self.folder = tempfile.mkdtemp(prefix="varnolt-pg-")
        self.port = free_port()
        self.owner = pwd.getpwnam("postgres") if os.geteuid() == 0 else None
        if self.owner:
            os.chown(self.folder, self.owner.pw_uid, self.owner.pw_gid)
        self.running = False

    def run(self, program, *args):
        as_owner = dict(user=self.owner.pw_uid, group=self.owner.pw_gid, extra_groups=[]) if self.owner else {}
        result = subprocess.run([os.path.join(self.bin, program), *args], capture_output=True, text=True,
                                **as_owner)
        if result.returncode != 0:
            raise RuntimeError("%s failed: %s%s" % (program, result.stdout, result.stderr))
        return result.stdout

    def start(self):
        data = os.path.join(self.folder, "data")
        if not os.path.exists(data):
            self.run("initdb", "-D", data, "-A", "trust", "-U", "postgres", "--no-sync", "-E", "UTF8", "--locale=C")
        settings = "-k %s -p %d -c listen_addresses=127.0.0.1 -c max_connections=200" % (self.folder, self.port)
        if not self.durable:
            settings += " -c fsync=off -c full_page_writes=off"
        self.run("pg_ctl", "-D", data, "-l", os.path.join(self.folder, "server.log"), "-o", settings, "-w",
                 "-t", "60", "start")
        self.running = True
        return self

    def connection_string(self, database="postgres"):
        return "host=127.0.0.1 port=%d user=postgres dbname=%s" % (self.port, database)

    def stop(self):
        if self.running:
            self.running = False
            self.run("pg_ctl", "-D", os.path.join(self.folder, "data"), "-m", "immediate", "-w", "stop")

    def cleanup(self):
        try:
            self.stop()
        finally:
            shutil.rmtree(self.folder, ignore_errors=True)

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.cleanup()
