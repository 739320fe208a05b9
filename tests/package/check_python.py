#!/usr/bin/env python3
"""The Python binding as pip installs it, offline and without build
isolation (setuptools from the machine), from the repository and from an
install tree; each installed package is imported in a fresh interpreter,
must carry the project's version, must reach the driver and must receive a
telegram on a pseudo-terminal and give the port's line state.

Without pip, setuptools or wheel (Debian: python3-pip, python3-setuptools,
python3-wheel) the check is skipped (exit status 77), and fails under CI
(CI=true).

Usage: check_python.py --cmake C --build DIR --source DIR --library L --version V
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

SKIP = 77
IMPORT_CHECK = """
import os, pty, shutil, sys, tempfile, zentrok
assert os.path.dirname(zentrok.__file__).startswith(sys.argv[1]), zentrok.__file__
print(zentrok.__version__, *zentrok.name())
# A live port: a pseudo-terminal linked as COM3 in a folder of its own.
master, slave = pty.openpty()
os.environ["ZENTROK_PORT_DIR"] = ports = tempfile.mkdtemp()
os.symlink(os.ttyname(slave), os.path.join(ports, "COM3"))
with zentrok.Port(3) as port:
    os.write(master, b"107A      3F2C XB123\\x14")
    item = port.wait(5)
    state = port.line_state()
print("item %s, device present %d, telegrams %d" % (item and item.number, state.DevicePresent, state.Telegrams))
shutil.rmtree(ports)
"""


def run(command, **options):
    return subprocess.run(command, capture_output=True, text=True, **options)


def builder():
    """An interpreter that pip can build the package with offline: the one
    running this check, else Debian's (a python3 of one's own, from pyenv or
    the like, often lacks wheel and cannot fetch it)."""
    for python in (sys.executable, "/usr/bin/python3"):
        # setuptools first: it replaces distutils, which pip would load.
        if os.path.exists(python) and run([python, "-c", "import setuptools, wheel, pip"]).returncode == 0:
            return python
    return None


def installed_problems(args, python, label, package_dir, target):
    pip = run([python, "-m", "pip", "install", "--no-build-isolation", "--no-index", "--no-deps",
               "--target", target, package_dir])
    if pip.returncode != 0:
        return ["%s: pip install failed: %s" % (label, (pip.stdout + pip.stderr)[-1500:])]
    env = dict(os.environ, PYTHONPATH=target, ZENTROK_LIBRARY=args.library)
    done = run([python, "-c", IMPORT_CHECK, target], cwd=target, env=env)
    expected = "%s ZENTROK 65533 2 3\nitem 7, device present 1, telegrams 1" % args.version
    if done.returncode != 0 or done.stdout.strip() != expected:
        return ["%s: the installed package gave %r, expected %r%s" % (label, done.stdout.strip(), expected,
                                                                       done.stderr[-800:])]
    print("%s: %s -m pip installed zentrok %s; import, Qen_GetName, a port and its line state through it: %s"
          % (label, python, args.version, expected.replace("\n", "; ")))
    return []


def main():
    parser = argparse.ArgumentParser()
    for option in ("--cmake", "--build", "--source", "--library", "--version"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    python = builder()
    if not python:
        print("no python3 with pip, setuptools and wheel (Debian packages python3-pip, python3-setuptools, "
              "python3-wheel)")
        return 1 if os.environ.get("CI") == "true" else SKIP

    work = tempfile.mkdtemp(prefix="zentrok-python-")
    try:
        found = installed_problems(args, python, "repository", os.path.join(args.source, "bindings", "python"),
                                   os.path.join(work, "from-repository"))
        prefix = os.path.join(work, "prefix")
        install = run([args.cmake, "--install", args.build, "--prefix", prefix])
        if install.returncode != 0:
            found.append("cmake --install failed: " + install.stderr)
        else:
            # pip builds in the folder it is given; the install tree stays as installed.
            copy = os.path.join(work, "python")
            shutil.copytree(os.path.join(prefix, "share", "zentrok", "bindings", "python"), copy)
            found += installed_problems(args, python, "install tree", copy, os.path.join(work, "from-install-tree"))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    for problem in found:
        print("FAIL: " + problem)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
