#!/usr/bin/env python3
"""Writes a reliability report from the figures of the reliability tests.

It reads, from each build tree:
  - tests/reliability/*.json: the figures of the soak and fault programs;
  - Testing/Temporary/LastTest.log: the last ctest run, for the result of
    every test, sanitizer reports, and libFuzzer's "Done N runs" lines;
  - CMakeCache.txt: which sanitizer the tree was built with.

Run the tests first, e.g. `ctest --preset linux` (and asan, tsan, fuzz,
windows), then this script from anywhere:

    scripts/reliability-report.py [--tree NAME=DIR ...] [--out FILE]

Without --tree it reads build/linux, build/asan, build/tsan, build/fuzz and
build/windows. The report goes to build/RELIABILITY.md unless --out names
another file; the published one is updated on purpose, with
--out docs/RELIABILITY.md.
"""
import argparse
import datetime
import json
import re
import shlex
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
DEFAULT_TREES = ["linux", "asan", "tsan", "fuzz", "windows"]

SANITIZER_REPORT = re.compile(r"ERROR: AddressSanitizer|WARNING: ThreadSanitizer|runtime error:|ERROR: LeakSanitizer")
FUZZ_DONE = re.compile(r"^Done (\d+) runs in (\d+) second", re.M)
FUZZ_COVERAGE = re.compile(r"DONE\s+cov: (\d+) ft: (\d+) corp: (\d+)/", re.M)


def parse_args():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--tree", action="append", metavar="NAME=DIR",
                        help="a build tree to read, under a name for the report (repeatable)")
    parser.add_argument("--out", default=str(ROOT / "build" / "RELIABILITY.md"), help="the report to write")
    args = parser.parse_args()
    specs = args.tree or [f"{name}=build/{name}" for name in DEFAULT_TREES]
    trees = []
    for spec in specs:
        name, sep, directory = spec.partition("=")
        if not sep:
            parser.error(f"--tree {spec}: expected NAME=DIR")
        path = Path(directory)
        trees.append((name, path if path.is_absolute() else ROOT / path))
    return args, trees


def read_ctest_log(tree):
    """Tests of the last ctest run: {name: {"passed", "status", "output"}}, and its start time."""
    log = tree / "Testing" / "Temporary" / "LastTest.log"
    if not log.is_file():
        return {}, None
    text = log.read_text(errors="replace")
    started = re.search(r"^Start testing: (.*)$", text, re.M)
    tests = {}
    block = re.compile(r"^\d+/\d+ Test: (\S+)\n.*?^Output:\n-+\n(.*?)<end of output>\n.*?^-+\n(Test [^\n]*)",
                       re.M | re.S)
    for match in block.finditer(text):
        name, output, status = match.groups()
        tests[name] = {"passed": status.startswith("Test Passed"), "status": status.rstrip("."), "output": output}
    return tests, started.group(1) if started else None


def sanitizer_of(tree):
    cache = tree / "CMakeCache.txt"
    if not cache.is_file():
        return None
    flags = re.search(r"^CMAKE_CXX_FLAGS:STRING=(.*)$", cache.read_text(errors="replace"), re.M)
    fuzz = re.search(r"^ZENTROK_BUILD_FUZZ:BOOL=ON$", cache.read_text(errors="replace"), re.M)
    found = re.search(r"-fsanitize=(\S+)", flags.group(1)) if flags else None
    if fuzz:
        return "address,undefined (libFuzzer)"
    return found.group(1) if found else "none"


def read_figures(tree, tests):
    """The JSON figures of the reliability programs that ran in the last ctest run."""
    figures = {}
    for path in sorted((tree / "tests" / "reliability").glob("*.json")):
        if tests and "reliability_" + path.stem not in tests:
            print(f"reliability-report: skipping {path}: not written by the last ctest run", file=sys.stderr)
            continue
        try:
            figures[path.stem] = json.loads(path.read_text())
        except (OSError, json.JSONDecodeError) as error:
            print(f"reliability-report: skipping {path}: {error}", file=sys.stderr)
    return figures


def git(*args):
    try:
        done = subprocess.run(["git", "-C", str(ROOT), *args], capture_output=True, text=True, check=True)
        return done.stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return ""


def table(header, rows):
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    lines += ["| " + " | ".join(str(cell) for cell in row) + " |" for row in rows]
    return "\n".join(lines)


def number(value):
    return f"{value:,}".replace(",", " ") if isinstance(value, int) else value


def summary_section(trees):
    rows = []
    for name, tree, tests, started, sanitizer, _ in trees:
        if not tests:
            rows.append([name, sanitizer or "not configured", "not run", "", "", "", ""])
            continue
        failed = [test for test, result in tests.items() if not result["passed"]]
        reports = sum(len(SANITIZER_REPORT.findall(result["output"])) for result in tests.values())
        rows.append([name, sanitizer, len(tests), len(tests) - len(failed),
                     ", ".join(failed) if failed else "none", reports, started or ""])
    return ["## Builds and test runs", "",
            "Every test of each build tree's last ctest run; sanitizer reports are the ASan, UBSan, LSan and TSan "
            "findings in the tests' output.", "",
            table(["Build", "Sanitizer", "Tests", "Passed", "Failed", "Sanitizer reports", "Run started"], rows)]


SOAK_COLUMNS = [
    ("telegrams", "Telegrams"), ("message_telegrams", "With items"), ("items_delivered", "Items delivered"),
    ("acks_expected", "ACKs due"), ("acks_received", "ACKs received"), ("lost", "Lost"),
    ("duplicated", "Duplicated"), ("out_of_order", "Out of order"), ("foreign", "Foreign"),
    ("wrong_fields", "Wrong fields"), ("unexpected_acks", "Unexpected ACKs"), ("untaken", "Untaken"),
    ("taken_in_part", "Taken in part"), ("withdrawn", "Withdrawn"), ("host_late", "Host late"),
    ("logged", "Log lines"), ("log_mismatches", "Log mismatches"), ("seconds", "Seconds"),
]


def soak_section(trees):
    rows, mix = [], None
    for name, _, tests, _, _, figures in trees:
        for stem, soak in figures.items():
            if not stem.startswith("soak"):
                continue
            result = tests.get("reliability_" + stem, {}).get("status", "figures only").replace("Test ", "")
            rows.append([f"{name} ({stem})"] + [number(soak.get(key, "")) for key, _ in SOAK_COLUMNS] + [result])
            mix = mix or soak.get("kinds")
    lines = ["## Soak", "",
             "Mixed telegrams through the whole path (device double on a pseudo terminal, reader thread, log, "
             "decoder, hand-off, exported calls), the device waiting for each ACK, the host taking items after "
             "random delays, some telegrams never or only partly taken. Reader waits shortened 50-fold (40 ms idle, "
             "140 ms hand-off). Lost, duplicated, out of order, foreign, wrong fields, unexpected ACKs and log "
             "mismatches must all be 0; withdrawn telegrams (untaken or taken in part) are never acknowledged.", ""]
    if not rows:
        return lines + ["No soak figures found."]
    lines.append(table(["Build"] + [title for _, title in SOAK_COLUMNS] + ["Result"], rows))
    if mix:
        lines += ["", "Telegram mix of the first soak:", "",
                  table(["Kind", "Sent"], [[kind["kind"], number(kind["sent"])]
                                           for kind in sorted(mix, key=lambda kind: kind["kind"])])]
    return lines


def faults_section(trees):
    builds = [(name, figures) for name, _, _, _, _, figures in trees
              if any(stem.startswith("faults") for stem in figures)]
    lines = ["## Fault injection", "",
             "Each test injects its faults and then checks that the driver still delivers and acknowledges "
             "correctly, or stops on request, without hanging or crashing. A fault counts as survived when its "
             "test passed.", ""]
    if not builds:
        return lines + ["No fault figures found."]
    injected, survived = {}, {}
    for build, figures in builds:
        for stem, faults in figures.items():
            if not stem.startswith("faults"):
                continue
            for test in faults.get("tests", []):
                injected.setdefault(test["test"], test["injected"])
                survived[(test["test"], build)] = test["survived"]
    totals = [[build] + [number(sum(faults.get(key, 0) for stem, faults in figures.items()
                                    if stem.startswith("faults"))) for key in ("injected", "survived")]
              for build, figures in builds]
    rows = [[test, number(count)] + [{True: "yes", False: "**no**"}.get(survived.get((test, build)), "not run")
                                     for build, _ in builds]
            for test, count in injected.items()]
    return lines + [table(["Build", "Faults injected", "Survived"], totals), "",
                    table(["Test", "Faults injected"] + [f"Survived ({build})" for build, _ in builds], rows)]


def fuzz_section(trees):
    rows = []
    for name, _, tests, _, _, _ in trees:
        for test, result in sorted(tests.items()):
            if not test.endswith("_smoke"):
                continue
            done = FUZZ_DONE.findall(result["output"])
            coverage = FUZZ_COVERAGE.findall(result["output"])
            runs, seconds = (int(done[-1][0]), int(done[-1][1])) if done else (None, None)
            rate = number(runs // seconds) if runs is not None and seconds else ""
            cov, _, corpus = coverage[-1] if coverage else ("", "", "")
            rows.append([name, test[: -len("_smoke")], number(runs) if runs is not None else "no \"Done\" line",
                         seconds if seconds is not None else "", rate, cov, corpus,
                         result["status"].replace("Test ", "")])
    lines = ["## Fuzzing", "",
             "libFuzzer with ASan and UBSan, each target run by its ctest entry for ZENTROK_FUZZ_SECONDS over "
             "its seed corpus (tests/fuzz/corpus/<target>).", ""]
    if not rows:
        return lines + ["No fuzz runs found."]
    return lines + [table(["Build", "Target", "Executions", "Seconds", "Exec/s", "Coverage", "Corpus", "Result"],
                          rows)]


def main():
    args, tree_specs = parse_args()
    trees = []
    for name, tree in tree_specs:
        tests, started = read_ctest_log(tree)
        trees.append((name, tree, tests, started, sanitizer_of(tree), read_figures(tree, tests)))

    commit = git("rev-parse", "--short", "HEAD") or "unknown"
    if git("status", "--porcelain"):
        commit += " with uncommitted changes"
    now = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    command = "scripts/reliability-report.py " + " ".join(shlex.quote(arg) for arg in sys.argv[1:])

    lines = ["# Reliability report", "",
             f"Generated {now} at commit {commit}, by `{command.strip()}` from the build trees "
             + ", ".join(f"`{name}` ({tree.relative_to(ROOT) if tree.is_relative_to(ROOT) else tree})"
                         for name, tree, *_ in trees)
             + ", after their ctest runs. Do not edit: run the tests and the script again.", ""]
    for section in (summary_section, soak_section, faults_section, fuzz_section):
        lines += section(trees) + [""]

    out = Path(args.out)
    out.parent.mkdir(parents=True, exist_ok=True)
    out.write_text("\n".join(lines))
    print(f"reliability-report: wrote {out}")


if __name__ == "__main__":
    main()
