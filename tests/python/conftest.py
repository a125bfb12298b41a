"""Shared fixtures of the Python module's tests: where the corpus and the built
tools are (from the environment CTest sets), scratch folders that are removed
afterwards, and images made in numpy and written as PPM files, so that no
image library beyond the module itself is needed."""

from __future__ import annotations

import os
import pathlib
import shutil
import tempfile

import numpy as np
import pytest


def environment_path(variable: str) -> pathlib.Path | None:
    value = os.environ.get(variable, "")
    return pathlib.Path(value) if value else None


@pytest.fixture(scope="session")
def conformance_dir() -> pathlib.Path:
    """The reference corpus (input/, expected/, expected.tsv)."""
    directory = environment_path("DEMOSAIC_CONFORMANCE_DIR")
    if directory is None or not (directory / "expected.tsv").is_file():
        pytest.skip(
            "reference corpus not found: set DEMOSAIC_CONFORMANCE_DIR to a folder with input/, "
            f"expected/ and expected.tsv (now '{directory or ''}')"
        )
    return directory


def built_program(variable: str) -> pathlib.Path:
    program = environment_path(variable)
    if program is None or not program.is_file():
        pytest.skip(f"{variable} does not name a built program (run the tests through CTest)")
    return program


@pytest.fixture(scope="session")
def eval_binary() -> pathlib.Path:
    return built_program("DEMOSAIC_EVAL_BINARY")


@pytest.fixture(scope="session")
def bench_binary() -> pathlib.Path:
    return built_program("DEMOSAIC_BENCH_BINARY")


@pytest.fixture
def scratch() -> pathlib.Path:
    """A scratch folder, removed after the test whatever its outcome (pytest's
    own tmp_path keeps the last runs' folders)."""
    directory = tempfile.mkdtemp(prefix="demosaic-pytest-")
    try:
        yield pathlib.Path(directory)
    finally:
        shutil.rmtree(directory)


def scene(height: int, width: int, seed: int = 0) -> np.ndarray:
    """A photo-like B, G, R image: smooth ramps in each channel, a diagonal
    colour edge and a little noise, on which the methods give finite and
    distinct figures."""
    rows, columns = np.mgrid[0:height, 0:width]
    noise = np.random.default_rng(seed).integers(0, 12, (height, width, 3))
    image = np.stack(
        [40 + (rows * 3) % 150, 60 + columns % 90, 220 - (rows + columns) % 100], axis=-1
    )
    edge = columns > rows + width // 4
    image[edge] = [30, 200, 90]
    return (image + noise).clip(0, 255).astype(np.uint8)


def write_ppm(path: pathlib.Path, bgr: np.ndarray) -> pathlib.Path:
    """Writes a B, G, R image as a binary PPM (whose samples are R, G, B)."""
    height, width, _ = bgr.shape
    header = f"P6\n{width} {height}\n255\n".encode()
    path.write_bytes(header + np.ascontiguousarray(bgr[:, :, ::-1]).tobytes())
    return path
