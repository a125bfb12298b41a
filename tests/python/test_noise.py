"""Noise on the mosaic from Python, the same as demosaic-bench's, and the
bench's --summary checked against its own CSV."""

from __future__ import annotations

import csv
import hashlib
import json
import pathlib
import subprocess

import numpy as np
import pytest

import demosaic
from conftest import scene, write_ppm
from demosaic import _core


def run_bench(bench: pathlib.Path, *arguments: str) -> subprocess.CompletedProcess:
    return subprocess.run(
        [str(bench), *arguments], capture_output=True, text=True, check=False, timeout=120
    )


def test_noisy_mosaic_is_the_benchs_byte_for_byte(bench_binary, scratch):
    """The bench's saved reconstruction of a noisy level is the method's
    reconstruction of Python's noisy mosaic for the same name, seed and level:
    the mosaics are the same (a different one would not reconstruct alike)."""
    (scratch / "in").mkdir()
    image = scene(30, 41, seed=3)
    write_ppm(scratch / "in" / "shot.ppm", image)
    result = run_bench(
        bench_binary,
        "--noise", "gaussian:6",
        "--noise", "poisson-gaussian:0.5,3",
        "--seed", "9",
        "--methods", "method",
        "--save", str(scratch / "out"),
        str(scratch / "in"),
    )
    assert result.returncode == 0, result.stderr
    for level, tag in (("gaussian:6", "gaussian-6"), ("poisson-gaussian:0.5,3", "poisson-gaussian-0.5_3")):
        mosaic = demosaic.sample_mosaic(image, "GRBG", noise=level, seed=9, name="shot.ppm")
        saved = _core.load_image(str(scratch / "out" / f"shot.method.{tag}.png"))
        assert np.array_equal(demosaic.reconstruct(mosaic, "GRBG"), saved), level
        assert np.array_equal(demosaic.reconstruct(mosaic, "GRBG", threads=3), saved), level
        other = demosaic.sample_mosaic(image, "GRBG", noise=level, seed=9, name="other.ppm")
        assert not np.array_equal(other, mosaic)


def test_noise_arguments():
    image = scene(20, 20)
    clean = demosaic.sample_mosaic(image, "GRBG")
    assert np.array_equal(demosaic.sample_mosaic(image, "GRBG", noise="gaussian:0", name="x"), clean)
    noisy = demosaic.sample_mosaic(image, "GRBG", noise="gaussian:5", seed=1)
    assert not np.array_equal(noisy, clean)
    assert np.array_equal(demosaic.sample_mosaic(image, "GRBG", noise="gaussian:5", seed=1), noisy)
    assert not np.array_equal(demosaic.sample_mosaic(image, "GRBG", noise="gaussian:5", seed=2), noisy)
    for bad in ("gaussian:5,10", "gaussian:-1", "laplace:2"):
        with pytest.raises(ValueError):
            demosaic.sample_mosaic(image, "GRBG", noise=bad)
    with pytest.raises(TypeError):
        demosaic.sample_mosaic(image, "GRBG", noise=5)


def test_summary_agrees_with_the_csv(bench_binary, scratch):
    """Every comparison of the summary recomputed from the CSV's figures: the
    mean of the per-image differences (signed so that > 0 is better) and the
    wins, ties and losses; the interval holds the mean; each reference's
    SHA-256 is its file's."""
    (scratch / "in").mkdir()
    for k in range(5):
        write_ppm(scratch / "in" / f"s{k}.ppm", scene(28 + k, 36, seed=k))
    result = run_bench(
        bench_binary,
        "--noise", "none",
        "--noise", "gaussian:4",
        "--metrics", "psnr,de2000",
        "--csv", str(scratch / "f.csv"),
        "--summary", str(scratch / "s.json"),
        str(scratch / "in"),
    )
    assert result.returncode == 0, result.stderr
    assert "paired comparison with method" in result.stdout
    summary = json.loads((scratch / "s.json").read_text())
    with open(scratch / "f.csv", newline="") as f:
        rows = list(csv.DictReader(f))
    figures = {}
    for row in rows:
        figures[(row["noise"], row["method"], row["image"])] = row
    comparisons = summary["comparisons"]
    assert len(comparisons) == 2 * 2 * 5  # levels, methods after the first, CSV figures
    for c in comparisons:
        noise = c["noise"] or "none"
        sign = -1.0 if c["figure"] == "DE2000" else 1.0
        differences = []
        for k in range(5):
            image = f"s{k}.ppm"
            a = float(figures[(noise, c["method"], image)][c["figure"]])
            b = float(figures[(noise, c["against"], image)][c["figure"]])
            differences.append(sign * (a - b))
        assert c["wins"] == sum(d > 0 for d in differences)
        assert c["ties"] == sum(d == 0 for d in differences)
        assert c["losses"] == sum(d < 0 for d in differences)
        assert c["mean_difference"] == pytest.approx(sum(differences) / 5, rel=1e-12, abs=1e-12)
        low, high = c["ci95"]
        assert low <= c["mean_difference"] <= high
    assert summary["methods"]["method"]["CPSNR"] == pytest.approx(
        sum(float(figures[("none", "method", f"s{k}.ppm")]["CPSNR"]) for k in range(5)) / 5
    )
    assert [level["noise"] for level in summary["levels"]] == [None, "gaussian:4"]
    for reference in summary["references"]:
        path = pathlib.Path(reference["path"])
        assert reference["sha256"] == hashlib.sha256(path.read_bytes()).hexdigest()
    assert summary["options"]["seed"] == 0

    again = run_bench(
        bench_binary, "--noise", "none", "--noise", "gaussian:4", "--metrics", "psnr,de2000",
        "--summary", str(scratch / "t.json"), "--jobs", "1", str(scratch / "in"),
    )
    assert again.returncode == 0, again.stderr
    assert json.loads((scratch / "t.json").read_text())["comparisons"] == comparisons
