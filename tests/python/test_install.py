"""The package as `make install` puts it: the files installed into a fresh
prefix, importable from there alone, in the folder where this interpreter
looks for packages of the /usr/local prefix."""

from __future__ import annotations

import os
import pathlib
import site
import subprocess
import sys

import pytest


@pytest.fixture(scope="module")
def install_dir() -> str:
    relative = os.environ.get("DEMOSAIC_PYTHON_INSTALL_DIR", "")
    if not relative or not os.environ.get("DEMOSAIC_BUILD_DIR"):
        pytest.skip("DEMOSAIC_BUILD_DIR and DEMOSAIC_PYTHON_INSTALL_DIR are set by CTest")
    return relative


def test_local_prefix_installs_where_this_interpreter_looks(install_dir):
    # Debian's interpreter reads /usr/local/lib/python3.X/dist-packages.
    assert os.path.join("/usr/local", install_dir) in site.getsitepackages()


def test_installed_package_imports_and_runs_from_the_prefix_alone(install_dir, scratch):
    prefix = scratch / "prefix"
    subprocess.run(
        ["cmake", "--install", os.environ["DEMOSAIC_BUILD_DIR"], "--prefix", prefix,
         "--component", "python"],
        check=True,
        capture_output=True,
    )
    package = prefix / install_dir / "demosaic"
    installed = {path.name for path in package.iterdir()}
    extensions = {name for name in installed if name.endswith(".so")}
    assert installed - extensions == {"__init__.py", "_core.pyi", "evaluate.py", "py.typed"}
    assert len(extensions) == 1 and extensions.pop().startswith("_core.cpython-")
    environment = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    environment["PYTHONPATH"] = str(prefix / install_dir)
    script = (
        "import numpy, demosaic\n"
        "image = numpy.full((9, 9, 3), 77, numpy.uint8)\n"
        "output = demosaic.reconstruct(demosaic.sample_mosaic(image, 'GRBG'), 'GRBG')\n"
        "print(demosaic.__file__, demosaic.measure(image, output)['CPSNR'])\n"
    )
    run = subprocess.run(
        [sys.executable, "-c", script], env=environment, cwd=scratch, capture_output=True,
        text=True, check=True,
    )
    where, figure = run.stdout.split()
    assert pathlib.Path(where).is_relative_to(prefix) and figure == "inf"
    help_text = subprocess.run(
        [sys.executable, "-m", "demosaic.evaluate", "--help"], env=environment, cwd=scratch,
        capture_output=True, text=True, check=True,
    ).stdout
    assert "--scheduler ADDRESS" in help_text and "--workers N" in help_text


def test_type_stubs_declare_every_function_of_the_extension():
    import ast

    from demosaic import _core

    stub_path = pathlib.Path(_core.__file__).with_name("_core.pyi")
    tree = ast.parse(stub_path.read_text())
    declared = {
        node.name: node for node in tree.body if isinstance(node, (ast.FunctionDef, ast.ClassDef))
    }
    compiled = {name for name in dir(_core) if not name.startswith("_") and not name.isupper()}
    assert set(declared) == compiled
    for name in ("sample_mosaic", "reconstruct", "measure"):
        stub_arguments = [a.arg for a in declared[name].args.args]
        signature = getattr(_core, name).__doc__.splitlines()[0]
        assert signature.startswith(f"{name}({stub_arguments[0]}:")
        for argument in stub_arguments:
            assert f"{argument}:" in signature, (name, argument)
