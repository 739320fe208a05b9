#!/usr/bin/env python3
"""scripts/install-deps.sh against a stand-in apt-get (apt_stand_in.sh): a
mirror hiccup, an index that keeps failing, the version skew it leaves
between architectures, and a machine without a network. No network, no root.

    install_deps_test.py SCRIPT [unittest names...]
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

SCRIPT = None
STAND_IN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "apt_stand_in.sh")
MISSING = ["wine", "fpc", "wine32:i386"]  # in the script's order

# apt-get update while the mirror serves a security index of the wrong size.
UPDATE_BAD_INDEX = """\
Get:1 http://deb.debian.org/debian bookworm InRelease [151 kB]
Get:3 http://deb.debian.org/debian-security bookworm-security InRelease [34.8 kB]
Err:4 http://deb.debian.org/debian-security bookworm-security/main i386 Packages
  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 203.0.113.80 80]
Reading package lists...
E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  \
File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 203.0.113.80 80]
   Hashes of expected file:
    - Filesize:376004 [weak]
E: Some index files failed to download. They have been ignored, or old ones used instead.
"""
UPDATE_OK = "Hit:1 http://deb.debian.org/debian bookworm InRelease\nReading package lists...\n"
UPDATE_OFFLINE = """\
Err:1 http://deb.debian.org/debian bookworm InRelease
  Temporary failure resolving 'deb.debian.org'
Reading package lists...
W: Failed to fetch http://deb.debian.org/debian/dists/bookworm/InRelease  Temporary failure resolving 'deb.debian.org'
W: Some index files failed to download. They have been ignored, or old ones used instead.
"""
INSTALL_UNMET = """\
Reading package lists...
The following packages have unmet dependencies:
 libglib2.0-0:i386 : Depends: libpcre2-8-0:i386 (>= 10.22) but it is not installable
E: Unable to correct problems, you have held broken packages.
"""
BAD_INDEX_LINE = (
    "install-deps: the index bookworm-security/main/binary-i386/Packages.xz of "
    "http://deb.debian.org/debian-security did not download after 3 tries (File has unexpected size "
    "(374820 != 376004). Mirror sync in progress?); installing with the indexes that were fetched")


class InstallDepsTest(unittest.TestCase):
    def run_script(self, updates, install=(0, ""), install_pinned=(0, ""), missing=MISSING):
        """Runs the script; returns its exit status, its output lines, the
        stand-in's calls and the pins of an install without a suite."""
        listed = subprocess.run([SCRIPT, "--list"], stdout=subprocess.PIPE, text=True, check=True,
                                env=dict(os.environ, ZENTROK_RUNS_I386="yes")).stdout
        state = tempfile.mkdtemp(prefix="install-deps-")
        self.addCleanup(shutil.rmtree, state)

        def write(name, text):
            with open(os.path.join(state, name), "w") as f:
                f.write(text)
        write("installed", "".join(line.split()[0] + "\n" for line in listed.splitlines()
                                   if line.split()[0] not in missing))
        for n, (rc, out) in enumerate(updates, 1):
            write("update.%d.rc" % n, str(rc))
            write("update.%d.out" % n, out)
        for name, (rc, out) in (("install", install), ("install_pinned", install_pinned)):
            write(name + ".rc", str(rc))
            write(name + ".out", out)
        os.mkdir(os.path.join(state, "bin"))
        for name in ("apt-get", "dpkg", "dpkg-query", "id"):
            os.symlink(STAND_IN, os.path.join(state, "bin", name))
        env = dict(os.environ, APT_STAND_IN=state, ZENTROK_APT_PAUSE="0", ZENTROK_RUNS_I386="yes",
                   PATH=os.path.join(state, "bin") + os.pathsep + os.environ["PATH"])
        done = subprocess.run([SCRIPT], env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              text=True, timeout=60)
        print("---- %s: status %d\n%s" % (self.id().split(".")[-1], done.returncode, done.stdout))
        with open(os.path.join(state, "calls")) as f:
            calls = f.read().splitlines()
        pins = None
        if os.path.exists(os.path.join(state, "pins")):
            with open(os.path.join(state, "pins")) as f:
                pins = f.read()
        return done.returncode, done.stdout.splitlines(), calls, pins

    def test_hiccup_is_ridden_out_by_trying_again(self):
        status, lines, calls, _ = self.run_script([(100, UPDATE_BAD_INDEX), (0, UPDATE_OK)])
        self.assertEqual((status, calls.count("apt-get update")), (0, 2))
        self.assertIn("install-deps: apt-get update did not fetch every index (try 1 of 3); trying again in 0 s",
                      lines)
        self.assertFalse([line for line in lines if "did not download" in line or line.startswith("E:")])
        self.assertIn("apt-get install -y -q " + " ".join(MISSING), calls)
        self.assertRegex(lines[-1], r"^install-deps: all \d+ packages are installed$")

    def test_failing_index_is_named_and_the_install_goes_on(self):
        status, lines, calls, pins = self.run_script([(100, UPDATE_BAD_INDEX)])
        self.assertEqual((status, calls.count("apt-get update"), lines.count(BAD_INDEX_LINE)), (0, 3, 1))
        self.assertIsNone(pins, "no suite is left out while the install works")

    def test_version_skew_is_tried_once_more_without_the_suite(self):
        for pinned, expected in ((0, 0), (100, 1)):
            with self.subTest(pinned_install_status=pinned):
                status, lines, calls, pins = self.run_script([(100, UPDATE_BAD_INDEX)], install=(100, INSTALL_UNMET),
                                                             install_pinned=(pinned, INSTALL_UNMET))
                self.assertEqual(status, expected)
                self.assertEqual(len([c for c in calls if c.startswith("apt-get -o Dir::Etc::Preferences=")]), 1)
                for field in ("n", "a"):
                    self.assertIn("Pin: release %s=bookworm-security\nPin-Priority: -1\n" % field, pins)
                self.assertIn("trying once more without bookworm-security", "\n".join(lines))
        # The packages still missing are named last, after apt's reasons.
        self.assertIn("E: Unable to correct problems, you have held broken packages.", lines)
        self.assertEqual(lines[-1], "install-deps: missing %s: apt-get install failed (its output above)"
                         % " ".join(MISSING))

    def test_offline_machine_gets_one_line(self):
        status, lines, _, _ = self.run_script([(0, UPDATE_OFFLINE)], install=(100, "E: Unable to locate package fpc\n"))
        self.assertEqual(status, 1)
        said = [line for line in lines if "trying again" not in line and "i386 architecture" not in line]
        self.assertEqual(said, [
            "install-deps: installing %s" % " ".join(MISSING),
            "install-deps: missing %s: no package index could be fetched; installing them needs the network or a "
            "local mirror (/etc/apt/sources.list.d)" % " ".join(MISSING)])


if __name__ == "__main__":
    SCRIPT = os.path.abspath(sys.argv.pop(1))
    unittest.main()
