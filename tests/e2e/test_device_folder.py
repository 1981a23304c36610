# SPDX-License-Identifier: BSD-2-Clause
"""The default device folder must be the user's own: a tool run by one user never talks to a
driver that another user's brisim serves there. Runs the tools as nobody (setpriv, as root)."""

import os
import shutil
import subprocess
import tempfile
import unittest

import harness
from harness import Sim

BRICAP = os.environ.get("BRI_BRICAP", "bricap")
NOBODY = 65534
SCENARIO = {"lines": [{"name": "Tessix1 LINE0 (S/T)"}]}


@unittest.skipIf(harness.WINE, "the device folder exists on Linux only")
@unittest.skipUnless(os.geteuid() == 0 and shutil.which("setpriv"), "needs root and setpriv")
class ForeignDefaultFolder(unittest.TestCase):
    def setUp(self):
        # root's brisim, its folder and socket open to everybody, linked in as nobody's default
        # folder ($XDG_RUNTIME_DIR/bri): only the owner check keeps nobody's tools out of it.
        self.sim = Sim(SCENARIO)
        self.addCleanup(self.sim.__exit__)
        os.chmod(self.sim.dir, 0o755)
        os.chmod(os.path.join(self.sim.dir, "TESSIX0"), 0o777)
        self.runtime = tempfile.mkdtemp(prefix="bri-e2e-runtime-")
        self.addCleanup(shutil.rmtree, self.runtime, True)
        os.chmod(self.runtime, 0o755)
        self.folder = os.path.join(self.runtime, "bri")
        os.symlink(self.sim.dir, self.folder)

    def run_as_nobody(self, args):
        env = self.sim.env(XDG_RUNTIME_DIR=self.runtime, BRI_OS="nt:4.0.1381")
        del env["BRI_DEVICE_DIR"]
        return subprocess.run(["setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY, "--clear-groups"] + args,
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env,
                              timeout=30)

    def test_tools_refuse_it_and_say_so(self):
        # (command, what ends standard output)
        cases = [
            ([harness.LINESTAT], b"Tessix.sys is not installed!\n"),
            ([harness.LAPMON, "-a"], b"Tessix.sys is not installed!\n"),
            ([BRICAP, "-w", os.devnull, "-c", "1"], b""),
        ]
        for command, stdout_end in cases:
            program = os.path.basename(command[0])
            with self.subTest(program=program):
                result = self.run_as_nobody(command)
                self.assertEqual(result.returncode, 1, result.stderr)
                self.assertTrue(result.stdout.endswith(stdout_end), result.stdout)
                err = result.stderr.decode()
                self.assertIn("%s: %s is not a folder of your own; remove it, or name another with BRI_DEVICE_DIR\n"
                              % (program, self.folder), err)
                self.assertEqual(err.count("not a folder of your own"), 1, err)
                self.assertNotIn("No driver listens", err)
        self.assertEqual(self.sim.requests(), [])


if __name__ == "__main__":
    unittest.main()
