#!/usr/bin/env python3
"""Keeps what host developers read first in step with the code.

Checks, without reading prose for meaning:
- the exported calls: the header's declarations, the .def, the version
  script and the README's call table name the same calls, and every
  qen_/Qen_ name in the header, README.md and docs/ is one of them;
- every ZENTROK_ variable or option named in README.md and docs/ is used
  somewhere outside the documents;
- links between the documents (files and #anchors) lead somewhere, and the
  header's pointer to a README section names a heading that exists;
- every event of the trace examples in README.md and docs/ is one the
  driver writes (its opening words stand in src/link/trace.cpp).

Exit status: 0 when all agree, 1 with one line per disagreement.
"""
import pathlib
import re
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
HEADER = ROOT / "include" / "zentrok.h"
DOCS = [ROOT / "README.md", *sorted((ROOT / "docs").glob("*.md"))]
CALL = re.compile(r"\b[qQ]en_[A-Z]\w*")


def exports():
    header = HEADER.read_text()
    declared = set(re.findall(r"ZENTROK_CALL\s+([qQ]en_\w+)\s*\(", header))
    in_def = set(re.findall(r"^\s+([qQ]en_\w+)@\d+", (ROOT / "src/zentrok.def").read_text(), re.M))
    in_map = set(re.findall(r"^\s+([qQ]en_\w+);", (ROOT / "src/zentrok.map").read_text(), re.M))
    readme = (ROOT / "README.md").read_text()
    table = set(re.findall(r"^\| `[^`|]*?\b([qQ]en_\w+)\(", readme, re.M))
    problems = []
    for name, found in (("zentrok.def", in_def), ("zentrok.map", in_map), ("README.md's call table", table)):
        if found != declared:
            problems.append(f"{name} names {sorted(found)}, the header declares {sorted(declared)}")
    for doc in [HEADER, *DOCS]:
        for name in sorted(set(CALL.findall(doc.read_text())) - declared):
            problems.append(f"{doc.relative_to(ROOT)} names {name}, which is no exported call")
    return problems


def tracked_text(exclude_suffix=".md"):
    files = subprocess.run(["git", "ls-files"], cwd=ROOT, capture_output=True, text=True, check=True).stdout.split()
    text = []
    for name in files:
        path = ROOT / name
        if path.suffix == exclude_suffix or not path.is_file():
            continue
        try:
            text.append(path.read_text())
        except UnicodeDecodeError:
            pass
    return "\n".join(text)


def variables():
    code = tracked_text()
    problems = []
    for doc in DOCS:
        for name in sorted(set(re.findall(r"\bZENTROK_[A-Z][A-Z0-9_]*", doc.read_text()))):
            if name not in code:
                problems.append(f"{doc.relative_to(ROOT)} names {name}, which nothing outside the documents uses")
    return problems


def anchor(heading):
    slug = heading.strip().lower()
    slug = re.sub(r"[^\w\- ]", "", slug)
    return slug.replace(" ", "-")


def headings(path):
    return {anchor(h) for h in re.findall(r"^#+\s+(.*)$", path.read_text(), re.M)}


def links():
    problems = []
    for doc in DOCS:
        for target in re.findall(r"\]\(([^)\s]+)\)", doc.read_text()):
            if re.match(r"[a-z]+://", target):
                continue
            file_part, _, fragment = target.partition("#")
            path = (doc.parent / file_part).resolve() if file_part else doc
            if not path.exists():
                problems.append(f"{doc.relative_to(ROOT)} links to {target}, which does not exist")
            elif fragment and path.suffix == ".md" and fragment not in headings(path):
                problems.append(f"{doc.relative_to(ROOT)} links to {target}, a heading that does not exist")
    for section in re.findall(r'README\.md, "([^"]+)"', HEADER.read_text()):
        if anchor(section) not in headings(ROOT / "README.md"):
            problems.append(f'include/zentrok.h points to README section "{section}", which does not exist')
    return problems


def trace_events():
    source = (ROOT / "src/link/trace.cpp").read_text()
    literals = "".join(re.findall(r'"((?:[^"\\]|\\.)*)"', source))
    problems = []
    line = re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} COM\d+ (.*)$", re.M)
    for doc in DOCS:
        for event in line.findall(doc.read_text()):
            words = []
            for word in event.split():
                if not re.fullmatch(r"[A-Za-z]+", word):
                    break
                words.append(word)
            opening = " ".join(words) or event.split()[0]
            if opening not in literals:
                problems.append(f"{doc.relative_to(ROOT)} shows the trace event \"{event[:60]}\", "
                                "which the driver does not write")
    return problems


def main():
    problems = exports() + variables() + links() + trace_events()
    for problem in problems:
        print("check-docs:", problem)
    if not problems:
        print("check-docs: the header, README.md and docs/ agree with the code")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
