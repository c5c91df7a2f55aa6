"""A private Dovecot for tests, the demonstration and the benchmark.

Runs as root with its own configuration in a temporary folder (base, state
and log inside it), a passwd-file passdb, a static userdb storing maildirs
as a system user for mail, and LMTP and IMAP listeners on 127.0.0.1 at free
ports. Optionally with the varnolt plugin and a varnolt home made by the
varnolt command: those of a build folder, or those installed under a root
folder (installed_root, with the prefix /usr, as the packages install them).
"""

import glob
import imaplib
import os
import pwd
import re
import shutil
import signal
import smtplib
import socket
import subprocess
import tempfile
import time

DOVECOT = shutil.which("dovecot") or "/usr/sbin/dovecot"
DOVECOT_MODULES = "/usr/lib/dovecot/modules"
MAIL_USER = "vmail"
PASSWORD = "secret"
PLUGIN_FILE = "lib95_varnolt_plugin.so"
# The filter's side of the plugin, which the plugin loads beside itself when first needed.
PLUGIN_HOST_FILE = "libvarnolt_dovecot_host.so"
# The host's PostgreSQL model store, loaded only for homes that keep their models there.
PLUGIN_POSTGRES_FILE = "libvarnolt_dovecot_postgres.so"
DEFAULT_JUNK = "Junk E-Mail"
FILTER_LIBRARY = "libvarnoltfilter.so"
ERROR_INFO_LIBRARY = "libvarnolt_error_info.so"


class Unavailable(Exception):
    """Dovecot or the plugin is not there: the caller skips."""


def installed_plugin_dir(root):
    return os.path.join(root, "usr", "lib", "dovecot", "modules")


def check_available(build_dir, installed_root=None):
    if not os.path.exists(DOVECOT):
        raise Unavailable("Dovecot is not installed (scripts/setup installs dovecot-core, "
                          "dovecot-imapd, dovecot-lmtpd and dovecot-dev)")
    if os.geteuid() != 0:
        raise Unavailable("a private Dovecot must be started as root")
    if installed_root is None and not os.path.exists(os.path.join(build_dir, "dovecot", PLUGIN_FILE)):
        raise Unavailable("the plugin was not built (dovecot-dev missing when configuring)")


def ensure_mail_user():
    """The system user the maildirs belong to: Dovecot refuses uid 0 for mail."""
    try:
        return pwd.getpwnam(MAIL_USER)
    except KeyError:
        subprocess.run(["useradd", "--system", "--no-create-home", "--shell", "/usr/sbin/nologin", MAIL_USER],
                       check=True)
        return pwd.getpwnam(MAIL_USER)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def chown_tree(path, uid, gid):
    os.chown(path, uid, gid)
    for dirpath, dirnames, filenames in os.walk(path):
        for name in dirnames + filenames:
            os.lchown(os.path.join(dirpath, name), uid, gid)


CONFIG = """\
base_dir = {root}/run
state_dir = {root}/state
log_path = {root}/dovecot.log
info_log_path = {root}/dovecot.log
ssl = no
protocols = imap lmtp
listen = 127.0.0.1
default_internal_user = dovecot
default_login_user = dovenull
disable_plaintext_auth = no
auth_mechanisms = plain
first_valid_uid = {uid}
mail_uid = {uid}
mail_gid = {gid}
mail_location = maildir:{root}/mail/%d/%n
mail_plugin_dir = {plugin_dir}
mail_plugins = {plugins}
lmtp_save_to_detail_mailbox = {detail_mailbox}

passdb {{
  driver = passwd-file
  args = scheme=PLAIN username_format=%u {root}/passwd
}}
userdb {{
  driver = static
  args = uid={uid} gid={gid} home={root}/home/%d/%n
}}
namespace inbox {{
  inbox = yes
  separator = /
  mailbox Trash {{
    special_use = \\Trash
    auto = create
  }}
{mailboxes}
}}
service imap-login {{
  inet_listener imap {{
    address = 127.0.0.1
    port = {imap_port}
  }}
  inet_listener imaps {{
    port = 0
  }}
}}
service pop3-login {{
  inet_listener pop3 {{
    port = 0
  }}
  inet_listener pop3s {{
    port = 0
  }}
}}
service lmtp {{
  inet_listener lmtp {{
    address = 127.0.0.1
    port = {lmtp_port}
  }}
}}
service submission-login {{
  inet_listener submission {{
    port = 0
  }}
}}
service managesieve-login {{
  inet_listener sieve {{
    port = 0
  }}
}}
protocol lmtp {{
  mail_plugins = $mail_plugins {lmtp_plugins}
}}
plugin {{
{plugin_settings}
}}
"""


class PrivateDovecot:
    """One private server. users: the "user@domain" names that may log in."""

    def __init__(self, build_dir, users, varnolt_home=None, plugin=True, extra_plugin_settings="",
                 junk_folder=DEFAULT_JUNK, detail_mailbox=False, extra_plugins="", lmtp_plugins="",
                 installed_root=None):
        check_available(build_dir, installed_root)
        self.build_dir = build_dir
        self.installed_root = installed_root
        self.users = list(users)
        self.varnolt_home = varnolt_home
        self.plugin = plugin
        self.extra_plugin_settings = extra_plugin_settings
        # "user+Box@domain" delivers into Box (lmtp_save_to_detail_mailbox).
        self.detail_mailbox = detail_mailbox
        # Dovecot's own plugins to load before ours (e.g. "quota").
        self.extra_plugins = extra_plugins
        # Dovecot's plugins for deliveries only (e.g. "sieve", which IMAP processes refuse).
        self.lmtp_plugins = lmtp_plugins
        # Made for every user at login, as an administrator would have it.
        self.junk_folder = junk_folder
        self.account = ensure_mail_user()
        self.root = tempfile.mkdtemp(prefix="varnolt-dovecot-")
        os.chmod(self.root, 0o755)
        self.imap_port = free_port()
        self.lmtp_port = free_port()
        self.config_path = os.path.join(self.root, "dovecot.conf")
        self.running = False
        self.home_given = False
        # The plugin, its filter side, the filter library and the error slot
        # they share in a folder the mail user can read (all find the slot
        # beside them); an installed plugin is used where it lies.
        os.makedirs(self.plugin_dir(), exist_ok=True)
        for path in ([] if installed_root else [os.path.join(build_dir, "dovecot", PLUGIN_FILE),
                                                os.path.join(build_dir, "dovecot", PLUGIN_HOST_FILE),
                                                os.path.join(build_dir, "dovecot", PLUGIN_POSTGRES_FILE),
                                                os.path.join(build_dir, FILTER_LIBRARY),
                                                os.path.join(build_dir, ERROR_INFO_LIBRARY)]):
            shutil.copy(path, self.plugin_dir())
        # Dovecot's own plugins asked for, beside ours (the folder replaces Dovecot's).
        for name in (extra_plugins + " " + lmtp_plugins).split():
            found = [path for path in glob.glob(os.path.join(DOVECOT_MODULES, "lib*_%s_plugin.so" % name))
                     if re.fullmatch(r"lib\d+_%s_plugin\.so" % re.escape(name), os.path.basename(path))]
            if not found:
                raise Unavailable("Dovecot's %s plugin is not installed" % name)
            shutil.copy(found[0], self.plugin_dir())

    # ---- varnolt -------------------------------------------------------

    def varnolt(self, *args, check=True):
        """Runs the varnolt command on the home; returns its standard output.
        Once the home is the mail user's, as that user, so that no file the
        command makes is closed to the server."""
        env = dict(os.environ, VARNOLT_FILTER_LIBRARY=os.path.join(self.plugin_dir(), FILTER_LIBRARY))
        command = os.path.join(self.build_dir, "apps", "varnolt", "varnolt")
        if self.installed_root:
            # The installed command registers the library installed beside it.
            del env["VARNOLT_FILTER_LIBRARY"]
            command = os.path.join(self.installed_root, "usr", "bin", "varnolt")
        as_user = {}
        if self.home_given:
            as_user = dict(user=self.account.pw_uid, group=self.account.pw_gid, cwd=self.varnolt_home)
        result = subprocess.run([command, "--home", self.varnolt_home, *args], capture_output=True, text=True,
                                env=env, **as_user)
        if check and result.returncode != 0:
            raise RuntimeError("varnolt %s failed: %s" % (" ".join(args), result.stderr))
        return result.stdout

    def make_home(self, path=None, init_args=(), **settings):
        """A varnolt home the mail user may write, made by varnolt init with
        init_args (e.g. "--postgresql", CONNINFO), with the settings given."""
        self.varnolt_home = path or os.path.join(self.root, "varnolt-home")
        self.varnolt("init", *init_args)
        for name, value in settings.items():
            self.varnolt("config", "set", name, str(value))
        self.give_home_to_mail_user()
        return self.varnolt_home

    def give_home_to_mail_user(self):
        chown_tree(self.varnolt_home, self.account.pw_uid, self.account.pw_gid)
        self.home_given = True

    # ---- the server ----------------------------------------------------

    def plugin_dir(self):
        if self.installed_root:
            return installed_plugin_dir(self.installed_root)
        return os.path.join(self.root, "modules")

    def start(self):
        for sub in ("mail", "home"):
            os.makedirs(os.path.join(self.root, sub), exist_ok=True)
            os.chown(os.path.join(self.root, sub), self.account.pw_uid, self.account.pw_gid)
        with open(os.path.join(self.root, "passwd"), "w") as f:
            for user in self.users:
                f.write("%s:{PLAIN}%s\n" % (user, PASSWORD))
        settings = []
        if self.plugin and self.varnolt_home:
            settings.append("  varnolt_home = %s" % self.varnolt_home)
        if self.extra_plugin_settings:
            settings.append(self.extra_plugin_settings)
        with open(self.config_path, "w") as f:
            f.write(CONFIG.format(root=self.root, uid=self.account.pw_uid, gid=self.account.pw_gid,
                                  plugin_dir=self.plugin_dir(),
                                  plugins=" ".join(p for p in ("$mail_plugins", self.extra_plugins,
                                                               "varnolt" if self.plugin else "") if p),
                                  detail_mailbox="yes" if self.detail_mailbox else "no",
                                  lmtp_plugins=self.lmtp_plugins,
                                  imap_port=self.imap_port, lmtp_port=self.lmtp_port,
                                  plugin_settings="\n".join(settings),
                                  mailboxes=self.mailbox_config()))
        subprocess.run([DOVECOT, "-c", self.config_path], check=True)
        self.running = True
        deadline = time.time() + 20
        for port in (self.lmtp_port, self.imap_port):
            while True:
                try:
                    socket.create_connection(("127.0.0.1", port), timeout=1).close()
                    break
                except OSError:
                    if time.time() > deadline:
                        raise RuntimeError("Dovecot did not open port %d:\n%s" % (port, self.log()))
                    time.sleep(0.05)
        # Written just after the ports open: stop() needs it, and the plugin names the run by it.
        while not os.path.exists(os.path.join(self.root, "run", "master.pid")):
            if time.time() > deadline:
                raise RuntimeError("Dovecot wrote no master.pid:\n%s" % self.log())
            time.sleep(0.01)

    def mailbox_config(self):
        if not self.junk_folder:
            return ""
        return '  mailbox "%s" {\n    auto = create\n  }' % self.junk_folder

    def stop(self):
        if not self.running:
            return
        self.running = False
        pid_file = os.path.join(self.root, "run", "master.pid")
        try:
            with open(pid_file) as f:
                pid = int(f.read().strip())
        except (OSError, ValueError):
            return
        try:
            os.kill(pid, signal.SIGTERM)
        except ProcessLookupError:
            return
        deadline = time.time() + 20
        while time.time() < deadline:
            try:
                os.kill(pid, 0)
            except ProcessLookupError:
                return
            time.sleep(0.05)

    def cleanup(self):
        self.stop()
        shutil.rmtree(self.root, ignore_errors=True)

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.cleanup()

    def log(self):
        try:
            with open(os.path.join(self.root, "dovecot.log"), errors="replace") as f:
                return f.read()
        except OSError:
            return ""

    def wait_for_log(self, pattern, seconds=10):
        """The log once it has a line matching the regular expression, or as it
        is after the wait: Dovecot's processes hand their lines to its log
        process, which may write them after the client had its answer."""
        deadline = time.time() + seconds
        while True:
            log = self.log()
            if re.search(pattern, log) or time.time() > deadline:
                return log
            time.sleep(0.05)

    # ---- clients -------------------------------------------------------

    def lmtp(self):
        return smtplib.LMTP("127.0.0.1", self.lmtp_port)

    def deliver(self, recipient, message, sender="sender@example.net"):
        """Delivers one message over LMTP; raises on any refusal."""
        if isinstance(message, str):
            message = message.encode()
        with self.lmtp() as client:
            refused = client.sendmail(sender, [recipient], message)
            if refused:
                raise RuntimeError("LMTP refused: %r" % (refused,))

    def deliver_to_all(self, recipients, message, sender="sender@example.net"):
        """One LMTP transaction for several recipients; LMTP answers the data
        once per recipient, which smtplib's sendmail does not read."""
        if isinstance(message, str):
            message = message.encode()
        with self.lmtp() as client:
            client.ehlo_or_helo_if_needed()
            client.mail(sender)
            for recipient in recipients:
                code, text = client.rcpt(recipient)
                if code != 250:
                    raise RuntimeError("LMTP refused %s: %r" % (recipient, text))
            replies = [client.data(message)]
            replies += [client.getreply() for _ in recipients[1:]]
            for code, text in replies:
                if code != 250:
                    raise RuntimeError("LMTP refused the data: %r" % (text,))

    def deliver_lda(self, recipient, message, sender="sender@example.net"):
        """Delivers one message with dovecot-lda, as a mail transfer agent would."""
        if isinstance(message, str):
            message = message.encode()
        lda = os.path.join(os.path.dirname(os.path.realpath(DOVECOT)), "..", "lib", "dovecot", "dovecot-lda")
        if not os.path.exists(lda):
            lda = "/usr/lib/dovecot/dovecot-lda"
        result = subprocess.run([lda, "-c", self.config_path, "-d", recipient, "-f", sender], input=message,
                                capture_output=True)
        if result.returncode != 0:
            raise RuntimeError("dovecot-lda failed (%d): %s" % (result.returncode, result.stderr.decode()))

    def imap(self, user):
        client = imaplib.IMAP4("127.0.0.1", self.imap_port)
        client.login(user, PASSWORD)
        return client


def folders(client):
    """The mailbox names an IMAP LIST gives."""
    typ, lines = client.list()
    names = []
    for line in lines:
        text = line.decode()
        match = re.match(r'\((.*?)\) (?:"(?:[^"\\]|\\.)*"|NIL) (.*)$', text)
        name = match.group(2)
        if name.startswith('"'):
            name = name[1:-1].replace('\\"', '"').replace("\\\\", "\\")
        names.append(name)
    return names


def quote(mailbox):
    return '"%s"' % mailbox.replace("\\", "\\\\").replace('"', '\\"')


def messages(client, mailbox):
    """[(uid, keywords, header text)] of a mailbox, in UID order."""
    client.select(quote(mailbox))
    typ, data = client.uid("FETCH", "1:*", "(UID FLAGS BODY.PEEK[HEADER])")
    result = []
    for item in data:
        if not isinstance(item, tuple):
            continue
        meta = item[0].decode()
        uid = int(re.search(r"UID (\d+)", meta).group(1))
        flags = re.search(r"FLAGS \((.*?)\)", meta).group(1).split()
        result.append((uid, flags, item[1].decode(errors="replace")))
    return result


def header(text, name):
    """The first value of a header in a header block, or None."""
    match = re.search(r"^%s:[ \t]*(.*)$" % re.escape(name), text, re.MULTILINE | re.IGNORECASE)
    return match.group(1).strip() if match else None
