"""Bit-exactness on the reference corpus: the module's reconstruction of each
input is byte for byte demosaic-eval's output and the corpus's expected image,
and its figures are those the tool prints; other tiles against demosaic-bench."""

from __future__ import annotations

import concurrent.futures
import csv
import pathlib
import subprocess

import numpy as np
import pytest

import demosaic
from demosaic import _core


def corpus_inputs(conformance_dir: pathlib.Path) -> list[pathlib.Path]:
    inputs = sorted((conformance_dir / "input").iterdir())
    assert len(inputs) >= 40, "the corpus holds 43 images"
    return inputs


def expected_figures(conformance_dir: pathlib.Path) -> dict[str, list[str]]:
    lines = (conformance_dir / "expected.tsv").read_text().splitlines()
    assert lines[0].split("\t") == ["image", "PSNR_R", "PSNR_G", "PSNR_B", "CPSNR"]
    return {fields[0]: fields[1:] for fields in (line.split("\t") for line in lines[1:])}


def printed(figures: dict[str, float]) -> list[str]:
    """The figures as demosaic-eval prints them: two decimals, inf when exact."""
    return [f"{figures[key]:.2f}" for key in ("PSNR_R", "PSNR_G", "PSNR_B", "CPSNR")]


def test_every_input_matches_the_expected_image_and_figures(conformance_dir):
    table = expected_figures(conformance_dir)
    inputs = corpus_inputs(conformance_dir)
    assert sorted(table) == sorted(path.name for path in inputs)
    for path in inputs:
        reference = _core.load_image(path)
        output = demosaic.reconstruct(demosaic.sample_mosaic(reference, "GRBG"), "GRBG")
        expected = _core.load_image(conformance_dir / "expected" / (path.stem + ".png"))
        mismatched = np.count_nonzero(output != expected)
        assert mismatched == 0, f"{path.name}: {mismatched} bytes differ from the expected image"
        assert printed(demosaic.measure(reference, output)) == table[path.name], path.name


def test_every_input_matches_what_demosaic_eval_writes_and_prints(
    conformance_dir, eval_binary, scratch
):
    def run_tool(path: pathlib.Path) -> tuple[pathlib.Path, pathlib.Path, list[str]]:
        written = scratch / (path.stem + ".png")
        run = subprocess.run(
            [eval_binary, path, written], capture_output=True, text=True, check=True
        )
        # "NAME\tPSNR_R = x\tPSNR_G = x\tPSNR_B = x\tCPSNR = x\r\n"
        figures = [field.split(" = ")[1] for field in run.stdout.strip().split("\t")[1:]]
        return path, written, figures

    # The tool syncs each output to disk: several runs at once wait together.
    with concurrent.futures.ThreadPoolExecutor(max_workers=8) as pool:
        runs = list(pool.map(run_tool, corpus_inputs(conformance_dir)))
    for path, written, tool_figures in runs:
        reference = _core.load_image(path)
        output = demosaic.reconstruct(demosaic.sample_mosaic(reference, "GRBG"), "GRBG", threads=3)
        np.testing.assert_array_equal(output, _core.load_image(written), err_msg=path.name)
        assert printed(demosaic.measure(reference, output)) == tool_figures, path.name


def test_rgb_arrays_give_the_same_reconstruction(conformance_dir):
    for path in corpus_inputs(conformance_dir)[:12]:
        bgr = _core.load_image(path)
        rgb = np.ascontiguousarray(bgr[:, :, ::-1])
        output = demosaic.reconstruct(
            demosaic.sample_mosaic(rgb, "GRBG", order="RGB"), "GRBG", order="RGB"
        )
        expected = _core.load_image(conformance_dir / "expected" / (path.stem + ".png"))
        np.testing.assert_array_equal(output[:, :, ::-1], expected, err_msg=path.name)
        assert demosaic.measure(rgb, output, order="RGB") == demosaic.measure(
            bgr, output[:, :, ::-1]
        )


@pytest.mark.parametrize("pattern", ["RGGB", "BGGR", "GBRG"])
def test_other_tiles_give_the_figures_of_demosaic_bench(
    pattern, conformance_dir, bench_binary, scratch
):
    inputs = [p for p in corpus_inputs(conformance_dir) if p.name.startswith("kodim0")][:3]
    inputs += [conformance_dir / "input" / "noise_7x8.png"]
    table = scratch / "bench.csv"
    run = subprocess.run(
        [bench_binary, "--methods", "method", "--border", "10", "--pattern", pattern,
         "--csv", table, *inputs],
        capture_output=True,
    )
    assert run.returncode == 1  # the 7 x 8 image is skipped
    rows = {row["image"]: row for row in csv.DictReader(table.open())}
    for path in inputs:
        reference = _core.load_image(path)
        output = demosaic.reconstruct(demosaic.sample_mosaic(reference, pattern), pattern)
        if path.name == "noise_7x8.png":  # too small for border 10: the bench skips it
            assert path.name not in rows
            continue
        figures = demosaic.measure(reference, output, border=10)
        for key in ("PSNR_R", "PSNR_G", "PSNR_B", "CPSNR"):
            assert float(rows[path.name][key]) == figures[key], (path.name, key)
