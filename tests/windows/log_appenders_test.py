#!/usr/bin/env python3
"""Two host processes log into one telegram log at the same time.

Both start before the log file exists, so they also race to create it.
Every line of both must be in the file exactly once, whole.

Usage: log_appenders_test.py <wine-run.sh> <wine prefix> <log_appender program>
"""
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile

PROCESSES = ("first", "second")
LINES_EACH = 400
LINE = re.compile(rb"^\d\d:\d\d:\d\d ([a-z]+-\d+)$")


def main(wine_run, prefix, program):
    workdir = tempfile.mkdtemp(prefix="zentrok-appenders-")
    try:
        os.mkdir(os.path.join(workdir, "Qenlog"))
        appenders = [subprocess.Popen([wine_run, prefix, program, tag, str(LINES_EACH)], cwd=workdir)
                     for tag in PROCESSES]
        failed = [tag for tag, appender in zip(PROCESSES, appenders) if appender.wait(timeout=120) != 0]
        if failed:
            print(f"FAIL: appender {failed} exited with an error")
            return 1
        files = glob.glob(os.path.join(workdir, "Qenlog", "*.zqa"))
        if len(files) != 1:
            print(f"FAIL: log files {files}, expected one")
            return 1
        with open(files[0], "rb") as log:
            content = log.read()
    finally:
        shutil.rmtree(workdir, ignore_errors=True)

    lines = content.split(b"\r\n")
    problems = [] if lines[-1] == b"" else ["the log does not end with a line end"]
    logged = []
    for line in lines[:-1]:
        match = LINE.match(line)
        if match:
            logged.append(match.group(1).decode())
        else:
            problems.append(f"malformed line {line!r}")
    expected = sorted(f"{tag}-{n}" for tag in PROCESSES for n in range(LINES_EACH))
    if sorted(logged) != expected:
        missing = sorted(set(expected) - set(logged))
        problems.append(f"{len(logged)} lines logged, {len(expected)} expected; missing {missing[:10]}")
    for problem in problems[:20]:
        print(f"FAIL: {problem}")
    if not problems:
        print(f"{len(logged)} lines from {len(PROCESSES)} processes, each once and whole")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
