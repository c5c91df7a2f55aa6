#!/usr/bin/env python3
"""scripts/check-layering: today's tree passes, and each kind of violation
planted in a copy of the tree fails it with the line that says why.

Usage: check_layering_test.py SOURCE_DIR
"""
import contextlib
import importlib.machinery
import importlib.util
import io
import os
import shutil
import sys
import tempfile
import unittest

SOURCE_DIR = os.path.abspath(sys.argv.pop(1) if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "../.."))

# (what, file to change or create, lines added at its top, a text the failure names)
PLANTS = [
    ("a lower folder includes a higher one", "src/store/junk_folders.h", ['#include "triage/item_context.h"'],
     "src/store is below src/triage"),
    ("angle brackets hide nothing", "src/trust/planted.cc", ["#include <host/interfaces.h>"],
     "src/trust is below src/host"),
    ("a relative path hides nothing", "src/store/planted.cc", ['#include "../host/interfaces.h"'],
     "src/store is below src/host"),
    ("a platform folder includes a higher one", "src/platform/com/planted.cc",
     ['#include "platform/names/data_layout.h"'], "src/platform/com is below src/platform/names"),
    ("the interfaces include a backend", "src/platform/planted.h", ['#include "backends/system/new_files.h"'],
     "src/platform is below src/backends/system"),
    ("a backend includes the filter", "src/backends/journal/planted.cc", ['#include "trust/whitelist.h"'],
     "a backend implements the platform's interfaces and never includes the filter's src/trust"),
    ("the real platform includes the engine", "src/backends/real_platform.cc", ['#include "engine/model_store.h"'],
     "src/backends is below src/engine"),
    ("siblings that include each other", "src/diagnostics/planted.cc", ['#include "store/record.h"'],
     "includes make a cycle src/diagnostics -> src/store -> src/diagnostics"),
    ("platform siblings that include each other", "src/platform/names/planted.cc",
     ['#include "platform/module/planted.h"'],
     "includes make a cycle"),
    ("SQLite above the platform", "src/trust/planted.cc", ["#include <sqlite3.h>"],
     "SQLite headers are not for src/trust"),
    ("a library header in quotes", "src/config/planted.cc", ['#include "sqlite3.h"'],
     "names no header of src/ or apps/"),
    ("SQLite beside its wrapper", "src/engine/planted.cc", ["#include <sqlite3.h>"],
     "src/engine uses SQLite through src/backends/sqlite only"),
    ("SQLite through one of our headers", "src/host/planted.cc", ['#include "backends/sqlite/database.h"'],
     "brings in <sqlite3.h>"),
    ("POSIX through a platform interface", "src/platform/ticks.h", ["#include <unistd.h>"],
     "brings in <unistd.h> (from src/platform/ticks.h): POSIX headers are not for src/store"),
    ("GMime above the platform", "src/triage/planted.cc", ["#include <gmime/gmime.h>"],
     "GMime/glib headers are not for src/triage"),
    ("glib above the platform", "src/manual/planted.cc", ["#include <glib.h>"], "GMime/glib headers"),
    ("libpq outside its wrapper", "src/engine/planted.cc", ["#include <libpq-fe.h>"],
     "libpq headers are not for src/engine"),
    ("libpq in a host", "apps/varnolt/planted.cc", ["#include <libpq-fe.h>"], "libpq headers are not for apps/varnolt"),
    ("SQLite in a host", "apps/varnolt/planted.cc", ["#include <sqlite3.h>"], "SQLite headers are not for apps/varnolt"),
    ("unistd.h in the filter", "src/host/planted.cc", ["#include <unistd.h>"], "POSIX headers are not for src/host"),
    ("fcntl.h in the filter", "src/store/planted.cc", ["#include <fcntl.h>"], "POSIX headers are not for src/store"),
    ("sys/ headers in the filter", "src/diagnostics/planted.cc", ["#include <sys/stat.h>"], "POSIX headers"),
    ("dirent.h in the filter", "src/trust/planted.cc", ["#include <dirent.h>"], "POSIX headers"),
    ("dlfcn.h in the filter", "src/host/planted.cc", ["#include <dlfcn.h>"], "POSIX headers"),
    ("pthread.h in the filter", "src/triage/planted.cc", ["#include <pthread.h>"], "POSIX headers"),
    ("the filter includes the engine", "src/triage/planted.cc", ['#include "engine/builtin_spam_engine.h"'],
     "the filter reaches src/engine only through the platform's interfaces"),
    ("the filter includes the mail store", "src/host/planted.cc", ['#include "backends/mailstore/mail_store.h"'],
     "the filter reaches src/backends/mailstore only"),
    ("the filter includes the real platform", "src/host/planted.cc", ['#include "backends/real_platform.h"'],
     "the filter reaches src/backends only"),
    ("the command includes the plugin", "apps/varnolt/planted.cc", ['#include "dovecot/plugin_host.h"'],
     "apps/varnolt is below apps/dovecot"),
    ("the plugin's C includes C++ headers", "apps/dovecot/varnolt_plugin.c", ['#include "platform/com/hresult.h"'],
     "the plugin's C files include Dovecot and their bridge only"),
    ("the plugin's C includes its own C++ side", "apps/dovecot/dovecot_mail.c", ['#include "plugin_host.h"'],
     "the plugin's C files include Dovecot and their bridge only"),
    ("Dovecot's headers outside the C files", "apps/dovecot/planted.cc", ['#include "mail-storage.h"'],
     "names no header of src/ or apps/"),
    ("Dovecot's headers in angle brackets", "apps/dovecot/planted.cc", ["#include <dovecot/lib.h>"],
     "Dovecot headers are not for apps/dovecot"),
    ("the plugin includes a command", "apps/dovecot/planted.cc", ['#include "varnolt/json_output.h"'],
     "never the command's code"),
    ("the plugin includes the command's session", "apps/dovecot/planted.cc", ['#include "varnolt/session.h"'],
     "never the command's code"),
    ("the command includes the dashboard", "apps/varnolt/planted.cc", ['#include "dashboard/dashboard_data.h"'],
     "apps/varnolt is below apps/dashboard"),
    ("cpp-httplib in the command's dashboard", "apps/dashboard/planted.cc", ["#include <httplib.h>"],
     "cpp-httplib headers are not for apps/dashboard"),
    ("the plugin includes the dashboard", "apps/dovecot/planted.cc", ['#include "dashboard/metrics_text.h"'],
     "never the command's code"),
    ("the hosting code includes a host", "apps/hosting/planted.cc", ['#include "varnolt/session.h"'],
     "apps/hosting is below apps/varnolt"),
    ("the command's libraries in the hosting code", "apps/hosting/planted.cc", ["#include <CLI/CLI.hpp>"],
     "the command's libraries headers are not for apps/hosting"),
    ("test code in the product", "src/platform/com/planted.cc", ["#include <gtest/gtest.h>"],
     "test and benchmark headers are not for src/platform/com"),
    ("a folder without a rank", "src/newthing/planted.cc", ['#include "platform/com/hresult.h"'],
     "folder src/newthing has no rank"),
    ("a computed include", "src/store/planted.cc", ["#define HEADER <unistd.h>", "#include HEADER"],
     "whose header is computed"),
    ("outside the checkout", "src/store/planted.cc", ['#include "../../tests/support/fake_platform.h"'],
     "reaches outside src/ and apps/"),
]


class CheckLayeringTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="layering-")
        cls.root = cls.tmp.name
        for part in ("src", "apps"):
            shutil.copytree(os.path.join(SOURCE_DIR, part), os.path.join(cls.root, part))
        # Loaded once and run in this process: a new interpreter per case would cost more than the check.
        path = os.path.join(SOURCE_DIR, "scripts", "check-layering")
        loader = importlib.machinery.SourceFileLoader("check_layering", path)
        cls.layering = importlib.util.module_from_spec(importlib.util.spec_from_loader(loader.name, loader))
        loader.exec_module(cls.layering)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def check(self):
        errors = io.StringIO()
        with contextlib.redirect_stderr(errors), contextlib.redirect_stdout(io.StringIO()):
            code = self.layering.Check(self.root).run()
        return code, errors.getvalue()

    def test_todays_tree_passes(self):
        code, errors = self.check()
        self.assertEqual(0, code, errors)

    def test_each_planted_violation_fails(self):
        for what, path, lines, expected in PLANTS:
            with self.subTest(what):
                full = os.path.join(self.root, path)
                before = None
                if os.path.exists(full):
                    with open(full, encoding="utf-8") as f:
                        before = f.read()
                os.makedirs(os.path.dirname(full), exist_ok=True)
                # The cycle case needs the other direction too: a header in module that includes names.
                extra = os.path.join(self.root, "src/platform/module/planted.h")
                with open(extra, "w", encoding="utf-8") as f:
                    f.write('#include "platform/names/data_layout.h"\n' if "platform siblings" in what else "\n")
                try:
                    with open(full, "w", encoding="utf-8") as f:
                        f.write("\n".join(lines) + "\n" + (before or ""))
                    code, errors = self.check()
                    self.assertEqual(1, code, errors)
                    self.assertIn(expected, errors)
                finally:
                    os.remove(extra)
                    if before is None:
                        os.remove(full)
                        if not os.listdir(os.path.dirname(full)):
                            os.rmdir(os.path.dirname(full))
                    else:
                        with open(full, "w", encoding="utf-8") as f:
                            f.write(before)


if __name__ == "__main__":
    unittest.main()
