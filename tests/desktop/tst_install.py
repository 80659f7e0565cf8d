#!/usr/bin/env python3
"""Installs the build into a temporary prefix and checks what a desktop and a packager get.

    tst_install.py --build BUILD_DIR --cmake CMAKE --version X.Y.Z
"""

import argparse
import gzip
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

APP_ID = "org.varilume.Varilume"
ICON_SIZES = [16, 22, 24, 32, 48, 64, 128, 256]
NOBODY = 65534
ARGS = None


def run(command, **kwargs):
    return subprocess.run(command, capture_output=True, text=True, check=False, **kwargs)


class Installed(unittest.TestCase):
    prefix = None

    @classmethod
    def setUpClass(cls):
        cls.prefix = tempfile.mkdtemp(prefix="varilume-install-")
        os.chmod(cls.prefix, 0o755)  # an unprivileged user runs the installed tool
        result = run([ARGS.cmake, "--install", ARGS.build, "--prefix", cls.prefix])
        if result.returncode != 0:
            raise RuntimeError("cmake --install failed:\n" + result.stdout + result.stderr)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.prefix, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.prefix, *parts)

    def assertPasses(self, result):
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def test_programs_start(self):
        for program in ["varilume", "varilume-cli", "varilume-simbox"]:
            self.assertTrue(os.access(self.path("bin", program), os.X_OK), program)
        help_text = run([self.path("bin", "varilume-cli"), "--help"])
        self.assertPasses(help_text)
        self.assertIn("Usage: varilume-cli", help_text.stdout)
        with tempfile.TemporaryDirectory() as work:  # the editor keeps its files here
            editor = run([self.path("bin", "varilume"), "--quit-after-show"], cwd=work, timeout=120)
            self.assertPasses(editor)
            self.assertIn("first window painted", editor.stdout)
            editor_help = run([self.path("bin", "varilume"), "--help"], cwd=work)
            self.assertPasses(editor_help)
            self.assertIn("file.xlsx", editor_help.stdout)

    def test_launcher(self):
        desktop = self.path("share", "applications", APP_ID + ".desktop")
        self.assertPasses(run(["desktop-file-validate", desktop]))
        with open(desktop, encoding="utf-8") as f:
            entry = dict(line.strip().split("=", 1) for line in f if "=" in line)
        self.assertEqual(entry["Exec"], "varilume %F")
        self.assertEqual(entry["Icon"], APP_ID)
        self.assertIn("application/vnd.openxmlformats-officedocument.spreadsheetml.sheet",
                      entry["MimeType"].split(";"))
        self.assertIn("Midi", entry["Categories"].split(";"))

    def test_icons(self):
        for size in ICON_SIZES:
            icon = self.path("share", "icons", "hicolor", f"{size}x{size}", "apps", APP_ID + ".png")
            with open(icon, "rb") as f:
                header = f.read(24)
            self.assertEqual(header[:8], b"\x89PNG\r\n\x1a\n", icon)
            self.assertEqual(struct.unpack(">II", header[16:24]), (size, size), icon)

    def test_metainfo(self):
        metainfo = self.path("share", "metainfo", APP_ID + ".metainfo.xml")
        self.assertPasses(run(["appstreamcli", "validate", "--no-net", "--strict", metainfo]))
        with open(metainfo, encoding="utf-8") as f:
            text = f.read()
        self.assertIn(f'<release version="{ARGS.version}"', text)
        self.assertIn(f"<launchable type=\"desktop-id\">{APP_ID}.desktop</launchable>", text)
        # The metainfo, the launcher it names and the icons, together as installed.
        self.assertPasses(run(["appstreamcli", "validate-tree", "--no-net", self.prefix]))

    def test_manual_page(self):
        with gzip.open(self.path("share", "man", "man1", "varilume-cli.1.gz"), "rt", encoding="utf-8") as f:
            page = f.read()
        self.assertTrue(page.startswith(".TH VARILUME-CLI 1 "), page[:80])
        self.assertIn(f'"Varilume {ARGS.version}"', page)
        commands = re.findall(r"^  (\S+) {2,}\S", run([self.path("bin", "varilume-cli"), "--help"]).stdout,
                              re.MULTILINE)
        self.assertIn("read", commands)
        for command in commands:
            self.assertIn("\n.SS " + command + "\n", page)
        if shutil.which("groff"):
            rendered = run(["groff", "-man", "-Tutf8", "-ww", "-z"], input=page)
            self.assertPasses(rendered)
            self.assertEqual(rendered.stderr, "")

    def test_udev_rule(self):
        with open(self.path("lib", "udev", "rules.d", "60-varilume.rules"), encoding="utf-8") as f:
            rules = [line for line in f if line.strip() and not line.startswith("#")]
        for product in ["4b39", "4b3a"]:  # the box and its bootloader
            line = next(line for line in rules if f'ATTRS{{idProduct}}=="{product}"' in line)
            self.assertIn('ATTRS{idVendor}=="1209"', line)
            self.assertIn('TAG+="uaccess"', line)
            self.assertIn('ENV{ID_MM_DEVICE_IGNORE}="1"', line)

    def test_permission_message(self):
        """The installed tool on a pseudo-terminal whose mode forbids opening it."""
        master, slave = os.openpty()
        try:
            device = os.ttyname(slave)
            os.close(slave)
            os.chmod(device, 0)
            command = [self.path("bin", "varilume-cli"), "read", "--port", device, "-o", "-", "--timeout", "2"]
            if os.geteuid() == 0:  # root opens any mode; the check runs as "nobody"
                if not shutil.which("setpriv"):
                    self.skipTest("setpriv is missing")
                as_nobody = ["setpriv", f"--reuid={NOBODY}", f"--regid={NOBODY}", "--clear-groups"]
                if run(as_nobody + [command[0], "--help"]).returncode != 0:
                    self.skipTest(f"\"nobody\" cannot run {command[0]} here")
                command = as_nobody + command
            with tempfile.TemporaryDirectory() as boxes:
                os.chmod(boxes, 0o777)
                env = dict(os.environ, VARILUME_SIMBOX_DIR=boxes)
                result = run(command, env=env, timeout=60)
        finally:
            os.close(master)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertEqual(result.stdout, "")
        line = next((line for line in result.stderr.splitlines() if "cannot open" in line), "")
        self.assertIn(f"cannot open {device}: permission denied", line, result.stderr)
        for part in ["60-varilume.rules", "plug the box in again", '"dialout" group', "log in again"]:
            self.assertIn(part, line)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--cmake", required=True)
    parser.add_argument("--version", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
