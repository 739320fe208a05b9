#!/usr/bin/env python3
"""The Windows install tree as a host developer gets it.

Installs the build tree into a scratch prefix and checks that:
  - bin/zentrok.dll carries no debug sections and a version resource with
    the project's version, and the tree has its README for host developers;
  - a host built the MSVC way (clang for i686-pc-windows-msvc, lld-link with
    its default flags, /safeseh among them) links against lib/zentrok.lib
    and runs under Wine;
  - so does one linked against an import library made from lib/zentrok.def
    the way that file says (llvm-dlltool -k);
  - the MinGW-w64 line of the tree's README.md, run as written in the tree,
    builds the example host, which runs under Wine;
  - cpack packs the tree as zentrok-<version>-win32.zip, with the DLL, its
    import library and .def, the header, the tools, the bindings and docs.

Without clang, lld-link or llvm-dlltool (Debian packages clang, lld, llvm)
the check is skipped (exit status 77), and fails under CI (CI=true).

Usage: check_package.py --cmake C --build DIR --wine-run W --wine-prefix P
                        --objdump O --version V --clang C --lld-link L
                        --llvm-dlltool D --include DIR --host msvc_host.c
"""
import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import doc_blocks  # noqa: E402

SKIP = 77
EXPECTED = """\
Qen_GetName: ZENTROK 65533 2 3
qen_GetSysMsg: mask 1, entry 2 255, value 2
qen_InitComm(250, 1): null
qen_GetMsg, qen_GetLineState, qen_CloseComm of no port: 0 0 (record untouched) 0
"""
KERNEL32_DEF = "LIBRARY kernel32.dll\nEXPORTS\n  GetStdHandle@4\n  WriteFile@20\n  ExitProcess@4\n"
FIXED_FILE_INFO = struct.pack("<I", 0xFEEF04BD)


def run(command, **options):
    return subprocess.run(command, capture_output=True, text=True, **options)


def dll_problems(args, dll):
    found = []
    sections = re.findall(r"^\s*\d+\s+(\S+)", run([args.objdump, "-h", dll]).stdout, re.M)
    debug = [name for name in sections if name.startswith(".debug")]
    if debug:
        found.append(f"the installed DLL has debug sections {debug}")
    data = open(dll, "rb").read()
    at = data.find(FIXED_FILE_INFO)
    if at < 0:
        return found + ["the installed DLL has no version resource"]
    ms, ls = struct.unpack_from("<II", data, at + 8)
    version = f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}"
    if version != args.version or ls & 0xFFFF:
        found.append(f"the version resource says {version}.{ls & 0xFFFF}, expected {args.version}.0")
    return found


# What a host developer unpacks, under the zip's top folder.
ZIP_CONTENTS = ["README.md", "bin/zentrok.dll", "bin/zentrok-monitor.exe", "bin/zentrok-sim.exe",
                "include/zentrok.h", "lib/zentrok.lib", "lib/zentrok.def",
                "share/zentrok/bindings/pascal/zentrok.pas", "share/zentrok/bindings/dotnet/QenDriver.cs",
                "share/zentrok/bindings/python/pyproject.toml", "share/zentrok/bindings/python/VERSION",
                "share/doc/zentrok/README.md", "share/doc/zentrok/CHANGELOG.md",
                "share/doc/zentrok/WINDOWS-HOSTS.md"]


def zip_problems(args, work):
    cpack = os.path.join(os.path.dirname(args.cmake), "cpack")
    out = os.path.join(work, "zip")
    done = run([cpack, "--config", os.path.join(args.build, "CPackConfig.cmake"), "-G", "ZIP", "-B", out],
               cwd=work)
    name = f"zentrok-{args.version}-win32"
    path = os.path.join(out, name + ".zip")
    if done.returncode != 0 or not os.path.isfile(path):
        return [f"cpack made no {name}.zip: {done.stdout[-800:]}{done.stderr[-800:]}"]
    with zipfile.ZipFile(path) as archive:
        names = set(archive.namelist())
        missing = [entry for entry in ZIP_CONTENTS if f"{name}/{entry}" not in names]
        dll = archive.read(f"{name}/bin/zentrok.dll") if not missing else b""
    if missing:
        return [f"{name}.zip lacks {missing}"]
    with open(os.path.join(work, "zipped.dll"), "wb") as copy:
        copy.write(dll)
    found = [f"{name}.zip: {problem}" for problem in dll_problems(args, os.path.join(work, "zipped.dll"))]
    if not found:
        print(f"{name}.zip: {len(names)} entries, among them {', '.join(ZIP_CONTENTS[:7])}, bindings and docs")
    return found


def wine_runs_hosts():
    """False where the kernel runs no 32-bit programs (scripts/test-all.sh
    says so with ZENTROK_NO_WINE32=1): the hosts are built and linked, not run."""
    return os.environ.get("ZENTROK_NO_WINE32") != "1"


def linked_host_problems(args, work, prefix, label, import_library):
    exe = os.path.join(prefix, "bin", f"msvc_host_{label}.exe")
    link = run([args.lld_link, "/nologo", "/subsystem:console", "/nodefaultlib", "/entry:mainCRTStartup",
                os.path.join(work, "msvc_host.obj"), os.path.join(work, "kernel32.lib"), import_library,
                f"/out:{exe}"])
    if link.returncode != 0:
        return [f"{label}: lld-link refused {import_library}: {link.stderr.strip()}"]
    if not wine_runs_hosts():
        print(f"{label}: lld-link with default flags took {os.path.relpath(import_library, prefix)}; not run")
        return []
    ran = run([args.wine_run, args.wine_prefix, exe], timeout=120)
    output = ran.stdout.replace("\r\n", "\n")
    if ran.returncode != 0 or output != EXPECTED:
        return [f"{label}: the host exited with {ran.returncode} and printed {output!r}{ran.stderr[-300:]!r}"]
    print(f"{label}: lld-link with default flags took {os.path.relpath(import_library, prefix)}; under Wine:")
    print("".join("    " + line for line in output.splitlines(True)), end="")
    return []


def mingw_line_problems(args, prefix):
    """The README's MinGW-w64 line, run in the tree; then its host under Wine,
    on a port that does not exist."""
    line = "".join(doc_blocks.blocks(os.path.join(prefix, "README.md"), "Linking with MinGW-w64", "sh"))
    built = run(["bash", "-euo", "pipefail", "-c", line], cwd=prefix)
    if built.returncode != 0:
        return [f"the MinGW-w64 line failed: {line.strip()}\n{built.stdout}{built.stderr}"]
    exe = re.search(r"-o (\S+\.exe)", line).group(1)
    if not wine_runs_hosts():
        print(f"mingw: {line.strip()}\n    built {exe}; not run")
        return []
    ran = run([args.wine_run, args.wine_prefix, exe, "250"], cwd=prefix, timeout=120)
    if ran.returncode != 1 or ran.stdout.replace("\r\n", "\n") != "driver ZENTROK (65533, 2, 3)\n" or \
            "port 250 did not open" not in ran.stderr:
        return [f"mingw: {exe} exited with {ran.returncode}, printed {ran.stdout!r} and {ran.stderr[-300:]!r}"]
    print(f"mingw: {line.strip()}\n    under Wine: {ran.stdout.strip()}; port 250 did not open")
    return []


def main():
    parser = argparse.ArgumentParser()
    for option in ("--cmake", "--build", "--wine-run", "--wine-prefix", "--objdump", "--version", "--clang",
                   "--lld-link", "--llvm-dlltool", "--include", "--host"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()

    missing = [tool for tool in (args.clang, args.lld_link, args.llvm_dlltool) if tool.endswith("NOTFOUND")]
    if missing:
        print("clang, lld-link or llvm-dlltool is not installed (Debian packages clang, lld, llvm)")
        return 1 if os.environ.get("CI") == "true" else SKIP

    work = tempfile.mkdtemp(prefix="zentrok-package-")
    try:
        prefix = os.path.join(work, "prefix")
        install = run([args.cmake, "--install", args.build, "--prefix", prefix])
        if install.returncode != 0:
            print(f"FAIL: the install failed: {install.stderr}")
            return 1
        found = dll_problems(args, os.path.join(prefix, "bin", "zentrok.dll"))
        readme = os.path.join(prefix, "README.md")
        if not os.path.isfile(readme) or "32-bit host process" not in open(readme).read():
            found.append("the install tree has no README.md for host developers")

        with open(os.path.join(work, "kernel32.def"), "w") as kernel32:
            kernel32.write(KERNEL32_DEF)
        own_library = os.path.join(prefix, "lib", "zentrok_from_def.lib")
        for command in ([args.clang, "--target=i686-pc-windows-msvc", "-ffreestanding", "-I", args.include, "-c",
                         args.host, "-o", os.path.join(work, "msvc_host.obj")],
                        [args.llvm_dlltool, "-m", "i386", "-k", "-d", os.path.join(work, "kernel32.def"),
                         "-l", os.path.join(work, "kernel32.lib")],
                        [args.llvm_dlltool, "-m", "i386", "-k", "-d", os.path.join(prefix, "lib", "zentrok.def"),
                         "-l", own_library]):
            done = run(command)
            if done.returncode != 0:
                print(f"FAIL: {' '.join(command)}: {done.stderr}")
                return 1
        found += linked_host_problems(args, work, prefix, "shipped", os.path.join(prefix, "lib", "zentrok.lib"))
        found += linked_host_problems(args, work, prefix, "from-def", own_library)
        found += mingw_line_problems(args, prefix)
        found += zip_problems(args, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)

    for problem in found:
        print(f"FAIL: {problem}")
    if not found:
        print(f"zentrok.dll {args.version}: no debug sections, version resource; README for host developers")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
