"""The package's version is the project's: the one in the repository's
CMakeLists.txt two folders up, or, in an installed tree
(share/zentrok/bindings/python), the VERSION file that cmake --install
writes beside this file. The rest of the metadata is in pyproject.toml."""
import pathlib
import re

from setuptools import setup

HERE = pathlib.Path(__file__).resolve().parent


def project_version():
    cmake = HERE.parent.parent / "CMakeLists.txt"
    if cmake.is_file():
        found = re.search(r"project\(\s*zentrok\s+VERSION\s+([0-9.]+)", cmake.read_text())
        if found:
            return found.group(1)
    stamped = HERE / "VERSION"
    if stamped.is_file():
        return stamped.read_text().strip()
    raise SystemExit("zentrok: no version found (neither %s nor %s)" % (cmake, stamped))


setup(version=project_version(), packages=["zentrok"])
