"""The package as pip installs it, the two ways python/README.md gives: a
plain venv (pip fetches the build tools and numpy from PyPI) and Debian's
(a venv over the system's packages, its numpy, nothing fetched)."""

import os
import shutil
import socket
import subprocess
import sys
import tomllib
from pathlib import Path

import pytest

PACKAGE = Path(__file__).resolve().parents[1]


def _name(requirement: str) -> str:
    return requirement.split(";")[0].split("[")[0].split(">")[0].split("<")[0].split("=")[0].strip()


def _pypi_reachable() -> bool:
    try:
        socket.create_connection(("pypi.org", 443), timeout=3).close()
        return True
    except OSError:
        return False


def test_pyproject_declares_numpy_and_the_build_tools():
    meta = tomllib.loads((PACKAGE / "pyproject.toml").read_text())
    assert "numpy" in {_name(r) for r in meta["project"]["dependencies"]}
    # With build isolation pip installs these; without, the venv must have them.
    assert {"setuptools", "wheel"} <= {_name(r) for r in meta["build-system"]["requires"]}


@pytest.mark.parametrize("way", ["debian", "plain"])
def test_pip_installs_it_in_a_venv(tmp_path, way):
    if way == "plain" and not _pypi_reachable():
        pytest.skip("PyPI is out of reach: a plain venv fetches the build tools and numpy from it")
    venv = tmp_path / "venv"
    flags = ["--system-site-packages", "--without-pip"] if way == "debian" else []
    subprocess.run([sys.executable, "-m", "venv", *flags, str(venv)], check=True)
    source = tmp_path / "python"  # pip builds in the tree it installs from
    shutil.copytree(PACKAGE, source, ignore=shutil.ignore_patterns("__pycache__", "tests"))
    pip = [str(venv / "bin" / "python"), "-m", "pip", "install", "--quiet"]
    if way == "debian":
        pip += ["--no-build-isolation", "--no-deps", "--no-index"]
    # The installed package alone: not the checkout the tests run from.
    env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    subprocess.run([*pip, str(source)], check=True, env=env)
    probe = "import importlib.metadata as m, ru3, numpy; print(ru3.__file__, m.requires('ru3'))"
    out = subprocess.run([str(venv / "bin" / "python"), "-c", probe], check=True, capture_output=True, text=True,
                         cwd=tmp_path, env=env).stdout
    assert "site-packages" in out and "numpy" in out
