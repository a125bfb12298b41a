"""Camera raw files through python3 -m demosaic.evaluate: the same CSV rows as
demosaic-bench's for the same options, the rows said to come from a raw file."""

from __future__ import annotations

import os
import subprocess

from conftest import built_program
from test_evaluate import read_rows, run_bench, run_evaluate


def test_raw_reference_gives_the_bench_csv(bench_binary, scratch):
    dng = scratch / "shot.dng"
    subprocess.run([str(built_program("DEMOSAIC_WRITE_DNG")), str(dng)], check=True)
    options = ["--depth", "native", "--white-balance", "camera", "--pattern", "RGGB"]
    ours, bench = scratch / "ours.csv", scratch / "bench.csv"
    code, _, err = run_evaluate(scratch, dng, "--csv", ours, "--workers", "1", *options)
    assert code == 0, err
    bench_code, _, bench_err = run_bench(bench_binary, dng, "--csv", bench, *options)
    assert bench_code == 0, bench_err
    header, rows = read_rows(ours)
    bench_header, bench_rows = read_rows(bench)
    assert header == bench_header
    columns = header.split(",")
    assert columns[-2:] == ["white_level", "reference"]
    timing = columns.index("milliseconds")
    assert len(rows) == len(bench_rows) == 3
    for row, bench_row in zip(rows, bench_rows):
        row[timing] = bench_row[timing] = ""
        assert row == bench_row
        assert row[-1] == "raw" and row[-2] == "4055"


def test_white_balance_needs_native_depth(scratch):
    dng = scratch / "shot.dng"
    subprocess.run([str(built_program("DEMOSAIC_WRITE_DNG")), str(dng)], check=True)
    code, _, err = run_evaluate(
        scratch, dng, "--csv", scratch / "x.csv", "--white-balance", "camera"
    )
    assert code == 2
    assert "--white-balance needs --depth native" in err
    assert not os.path.exists(scratch / "x.csv")
