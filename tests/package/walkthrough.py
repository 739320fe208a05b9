#!/usr/bin/env python3
"""Runs the shell commands of one section of a document, as a reader would.

    walkthrough.py DOCUMENT "SECTION TITLE"

Takes every ```sh block under the "SECTION TITLE" heading, up to the next
heading of its level (tests/support/doc_blocks.py), and runs them in one bash (-e -u -o pipefail) from the
repository root that holds the document's folder. Passes when the commands
succeed, the host received every item it asked for ("<n> items" equal to
the count on its command line) and no wineserver dumped its state.
"""
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import doc_blocks  # noqa: E402


def section_commands(document, title):
    try:
        return "".join(doc_blocks.blocks(document, title, "sh"))
    except AssertionError as missing:
        raise SystemExit("FAIL: %s" % missing)


def main(document, title):
    commands = section_commands(document, title)
    root = os.path.dirname(os.path.dirname(os.path.abspath(document)))
    print("==== The commands of \"%s\" (%s)\n%s" % (title, os.path.relpath(document, root), commands), flush=True)
    env = {k: v for k, v in os.environ.items() if not k.startswith("WINE")}
    done = subprocess.run(["bash", "-euo", "pipefail", "-c", commands], cwd=root, env=env,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=840)
    print("==== What they printed\n" + done.stdout.replace("\r\n", "\n"), flush=True)
    if done.returncode != 0:
        print("FAIL: the commands ended with status %d" % done.returncode)
        return 1
    # A wineserver that took a terminal as its own dumps its objects when it hangs up.
    dumped = re.findall(r"^0x[0-9a-f]+:\d+: .*$", done.stdout, re.M)
    if dumped:
        print("FAIL: the wineserver wrote %d lines of its state, as after a hang-up" % len(dumped))
        return 1
    asked = re.findall(r"wine \S+\.exe \d+ \d+ (\d+)", commands)
    got = re.findall(r"^(\d+) items$", done.stdout, re.M)
    if not asked or got != asked:
        print("FAIL: the host asked for %s items and reported %s" % (asked, got))
        return 1
    print("PASS: %s items received and acknowledged" % got[0])
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
