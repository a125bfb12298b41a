"""python3 -m demosaic.evaluate against demosaic-bench: the same CSV rows and
table for the same images and options, on a local cluster of worker
processes and on a running cluster it joins; the same skips; the command line
refused before anything starts; and nothing left behind (no worker process,
no scratch file)."""

from __future__ import annotations

import csv
import json
import os
import pathlib
import pty
import subprocess
import sys
import time
import types

import numpy as np
import psutil
import pytest

from conftest import scene, write_ppm
from demosaic import evaluate

CSV_HEADER = (
    "image,width,height,method,PSNR_R,PSNR_G,PSNR_B,CPSNR,milliseconds,pattern,border,noise,"
    "white_level"
)


def session_processes(session: int) -> list[psutil.Process]:
    found = []
    for process in psutil.process_iter():
        try:
            if os.getsid(process.pid) == session:
                found.append(process)
        except (ProcessLookupError, PermissionError, psutil.Error):
            pass
    return found


def run_evaluate(scratch: pathlib.Path, *arguments, stderr=subprocess.PIPE, env=None, cwd=None):
    """Runs the module in a session of its own with its temporary folder in
    `scratch`, and checks that it leaves neither a process nor a file there."""
    temporary = scratch / "tmp"
    temporary.mkdir(exist_ok=True)
    environment = dict(os.environ, TMPDIR=str(temporary), **(env or {}))
    process = subprocess.Popen(
        [sys.executable, "-m", "demosaic.evaluate", *map(str, arguments)],
        stdout=subprocess.PIPE,
        stderr=stderr,
        env=environment,
        cwd=cwd,
        start_new_session=True,
    )
    try:
        stdout, stderr_bytes = process.communicate(timeout=120)
    finally:
        if process.poll() is None:
            os.killpg(process.pid, 9)
    expect_nothing_left(process.pid, temporary)
    return process.returncode, stdout.decode(), (stderr_bytes or b"").decode()


def expect_nothing_left(session: int, temporary: pathlib.Path) -> None:
    """No process of the session still running, nothing in its temporary
    folder."""
    deadline = time.monotonic() + 10
    while session_processes(session) and time.monotonic() < deadline:
        time.sleep(0.1)
    left = session_processes(session)
    for straggler in left:
        straggler.kill()
    assert not left, f"worker processes left running: {[p.cmdline() for p in left]}"
    assert list(temporary.iterdir()) == [], "scratch files left behind"


def run_bench(bench_binary, *arguments, cwd=None):
    result = subprocess.run(
        [bench_binary, "--jobs", "2", *map(str, arguments)], capture_output=True, text=True,
        cwd=cwd,
    )
    return result.returncode, result.stdout, result.stderr


def read_rows(path: pathlib.Path) -> tuple[str, list[list[str]]]:
    lines = path.read_text().splitlines()
    return lines[0], [row for row in csv.reader(lines[1:])]


def assert_same_rows(ours: pathlib.Path, bench: pathlib.Path) -> int:
    """The two CSV files agree in every field but the timing, which must be
    a positive number of milliseconds; returns the row count."""
    header, rows = read_rows(ours)
    bench_header, bench_rows = read_rows(bench)
    assert header == bench_header == CSV_HEADER
    assert len(rows) == len(bench_rows)
    timing = CSV_HEADER.split(",").index("milliseconds")
    for row, bench_row in zip(rows, bench_rows):
        assert float(row[timing]) > 0
        row[timing] = bench_row[timing] = ""
        assert row == bench_row
    return len(rows)


def table_without_throughput(stdout: str) -> list[str]:
    return [line for line in stdout.splitlines() if not line.startswith("MP/s")]


def messages(stderr: str, program: str) -> list[str]:
    """The lines of a program's standard error without its name."""
    prefix = program + ": "
    return [line[len(prefix):] for line in stderr.splitlines() if line.startswith(prefix)]


@pytest.fixture
def small_set(scratch) -> pathlib.Path:
    """Three photo-like images of different sizes, written as PPM files."""
    folder = scratch / "images"
    folder.mkdir()
    for k, (height, width) in enumerate([(40, 52), (33, 31), (64, 48)]):
        write_ppm(folder / f"scene{k}.ppm", scene(height, width, seed=k))
    return folder


# ------------------------------------------------------ against the bench


def test_corpus_on_two_local_workers_gives_the_bench_csv(
    conformance_dir, bench_binary, scratch
):
    inputs = conformance_dir / "input"
    status, stdout, stderr = run_evaluate(
        scratch, inputs, "--csv", scratch / "dask.csv", "--workers", "2"
    )
    bench_status, bench_stdout, _ = run_bench(bench_binary, "--csv", scratch / "bench.csv", inputs)
    assert (status, bench_status) == (0, 0), stderr
    assert assert_same_rows(scratch / "dask.csv", scratch / "bench.csv") == 3 * 43
    assert table_without_throughput(stdout) == table_without_throughput(bench_stdout)
    assert messages(stderr, "demosaic.evaluate") == ["43 images measured, 0 skipped"]


def write_ppm16(path: pathlib.Path, bgr: np.ndarray) -> pathlib.Path:
    """Writes a 16-bit B, G, R image as a binary PPM of maximum 65535 (its
    samples R, G, B, big-endian)."""
    height, width, _ = bgr.shape
    header = f"P6\n{width} {height}\n65535\n".encode()
    path.write_bytes(header + np.ascontiguousarray(bgr[:, :, ::-1]).astype(">u2").tobytes())
    return path


def test_native_depth_gives_the_bench_csv(small_set, bench_binary, scratch):
    # 12-bit data in 16-bit files beside the 8-bit ones, which stay 8-bit.
    for k, (height, width) in enumerate([(36, 44), (50, 40)]):
        twelve = scene(height, width, seed=10 + k).astype(np.uint16) * 16 + k
        write_ppm16(small_set / f"deep{k}.ppm", twelve)
    options = ["--depth", "native", "--white-level", "4095", "--space", "srgb"]
    status, stdout, stderr = run_evaluate(
        scratch, small_set, "--csv", scratch / "dask.csv", "--workers", "2", *options
    )
    bench_status, bench_stdout, _ = run_bench(
        bench_binary, "--csv", scratch / "bench.csv", *options, small_set
    )
    assert (status, bench_status) == (0, 0), stderr
    assert assert_same_rows(scratch / "dask.csv", scratch / "bench.csv") == 3 * 5
    assert table_without_throughput(stdout) == table_without_throughput(bench_stdout)
    _, rows = read_rows(scratch / "dask.csv")
    white = {row[0]: row[-1] for row in rows}
    assert white == {
        "deep0.ppm": "4095", "deep1.ppm": "4095",
        "scene0.ppm": "255", "scene1.ppm": "255", "scene2.ppm": "255",
    }


@pytest.mark.parametrize(
    "arguments, problem",
    [
        (["--depth", "16"], "--depth: unknown depth '16' (known: 8, native)"),
        (["--depth", "native", "--white-level", "0"], "--white-level: '0' is not"),
        (["--depth", "native", "--white-level", "65536"], "--white-level: '65536' is not"),
        (["--white-level", "4095"], "--white-level needs --depth native"),
        (["--space", "linear"], "--space: unknown space 'linear'"),
    ],
)
def test_bad_depth_options_are_refused(small_set, scratch, arguments, problem):
    status, stdout, stderr = run_evaluate(
        scratch, small_set, "--csv", scratch / "out.csv", *arguments
    )
    assert status == 2
    assert problem in stderr
    assert not (scratch / "out.csv").exists()


def test_joining_a_running_cluster_with_other_options(small_set, bench_binary, scratch):
    from dask.distributed import LocalCluster

    options = ["--pattern", "rggb", "--border", "5"]
    with LocalCluster(
        n_workers=2,
        threads_per_worker=1,
        processes=True,
        dashboard_address=None,
        local_directory=str(scratch / "workers"),
    ) as cluster:
        # The workers run in another folder: a relative path must still
        # name the same file there.
        assert os.getcwd() != str(scratch)
        status, stdout, stderr = run_evaluate(
            scratch, "images", "--csv", "dask.csv",
            "--scheduler", cluster.scheduler_address, *options, cwd=scratch,
        )
        # The same cluster through the file a batch job's scheduler writes.
        scheduler_file = scratch / "scheduler.json"
        scheduler_file.write_text(json.dumps({"address": cluster.scheduler_address}))
        file_status, _, file_stderr = run_evaluate(
            scratch, "images", "--csv", "file.csv", "--scheduler", scheduler_file, *options,
            cwd=scratch,
        )
        evaluated = cluster.scheduler.task_prefixes["evaluate_image"].state_counts["memory"]
    assert status == 0, stderr
    assert file_status == 0, file_stderr
    assert evaluated == 6  # one task per image and run, on the cluster joined
    assert assert_same_rows(scratch / "file.csv", scratch / "dask.csv") == 9
    bench_status, bench_stdout, _ = run_bench(
        bench_binary, "--csv", scratch / "bench.csv", *options, small_set
    )
    assert bench_status == 0
    assert assert_same_rows(scratch / "dask.csv", scratch / "bench.csv") == 9
    assert "RGGB" in stdout.splitlines()[0] and "at least 5 from every edge" in stdout
    assert table_without_throughput(stdout) == table_without_throughput(bench_stdout)


def test_unreadable_and_small_files_are_skipped_as_the_bench_skips_them(
    small_set, bench_binary, scratch
):
    (small_set / "broken.png").write_bytes(b"\x89PNG\r\n\x1a\n" + bytes(range(200)))
    write_ppm(small_set / "tiny.ppm", scene(6, 9))
    (small_set / "notes.txt").write_text("not an image: left out of the folder's images")
    # Paths relative to the working folder, reported as given.
    arguments = ["images", "images/absent.png", "images/notes.txt"]
    status, stdout, stderr = run_evaluate(
        scratch, "--workers", "1", "--csv", "dask.csv", *arguments, cwd=scratch
    )
    bench_status, bench_stdout, bench_stderr = run_bench(
        bench_binary, "--csv", "bench.csv", *arguments, cwd=scratch
    )
    assert status == bench_status == 1
    assert assert_same_rows(scratch / "dask.csv", scratch / "bench.csv") == 9
    ours = messages(stderr, "demosaic.evaluate")
    assert ours == messages(bench_stderr, "demosaic-bench")
    assert "images/broken.png: skipped, cannot be read as an image" in ours
    assert "images/tiny.ppm: skipped, too small: at least 7 x 7 pixels are needed" in ours
    assert "images/absent.png: skipped, no such file or directory" in ours
    assert "images/notes.txt: skipped, cannot be read as an image" in ours
    assert ours[-1].startswith("3 images measured, 4 skipped: ")
    assert table_without_throughput(stdout) == table_without_throughput(bench_stdout)
    assert "\r" not in stderr  # no progress bar where standard error is not a terminal


def test_no_images_writes_the_header_alone_and_fails(scratch):
    (scratch / "empty").mkdir()
    status, _, stderr = run_evaluate(scratch, scratch / "empty", "--csv", scratch / "out.csv")
    assert status == 1
    assert (scratch / "out.csv").read_text() == CSV_HEADER + "\n"
    assert messages(stderr, "demosaic.evaluate") == [
        "no images found",
        "0 images measured, 0 skipped",
    ]


def test_progress_bar_is_drawn_on_a_terminal(small_set, scratch):
    controller, terminal = pty.openpty()
    try:
        status, _, _ = run_evaluate(
            scratch, small_set, "--csv", scratch / "out.csv", "--workers", "1", stderr=terminal
        )
        os.close(terminal)
        terminal = -1
        shown = b""
        while True:
            try:
                chunk = os.read(controller, 4096)
            except OSError:  # the terminal's other side is closed: all read
                break
            if not chunk:
                break
            shown += chunk
    finally:
        os.close(controller)
        if terminal >= 0:
            os.close(terminal)
    assert status == 0
    assert b"\r\x1b[K[" + b"." * 30 + b"] 0/3 images" in shown
    assert b"\r\x1b[K[" + b"#" * 30 + b"] 3/3 images" in shown
    assert shown.rstrip().endswith(b"demosaic.evaluate: 3 images measured, 0 skipped")


# ----------------------------------------------------- refused at the start

USAGE_ERRORS = {
    "border below the frame": (["--border", "2"], "--border 2 is too small"),
    "border not a count": (["--border", "-4"], "--border: '-4' is not a decimal count"),
    "unknown tile": (["--pattern", "GGRB"], "--pattern: unknown tile 'GGRB'"),
    "no workers": (["--workers", "0"], "--workers: must be from 1"),
    "workers not a count": (["--workers", "two"], "--workers: 'two' is not a decimal count"),
    "workers and scheduler": (
        ["--workers", "2", "--scheduler", "tcp://127.0.0.1:8786"],
        "not allowed with argument",
    ),
}


@pytest.mark.parametrize("options,message", USAGE_ERRORS.values(), ids=USAGE_ERRORS.keys())
def test_bad_options_are_refused_before_anything_runs(options, message, small_set, scratch):
    status, stdout, stderr = run_evaluate(
        scratch, small_set, "--csv", scratch / "out.csv", *options
    )
    assert status == 2 and message in stderr and stdout == ""
    assert not (scratch / "out.csv").exists()


def test_csv_is_required(small_set, scratch):
    status, _, stderr = run_evaluate(scratch, small_set)
    assert status == 2 and "--csv" in stderr


def test_csv_destination_is_checked_before_any_image_is_read(small_set, scratch):
    for destination, message in [
        (scratch / "missing" / "out.csv", f"directory '{scratch / 'missing'}' does not exist"),
        (small_set, "is a directory"),
        (small_set / "scene1.ppm", "is one of the images"),
    ]:
        before = {p: p.read_bytes() for p in small_set.iterdir()}
        status, stdout, stderr = run_evaluate(scratch, small_set, "--csv", destination)
        assert status == 2 and message in stderr, stderr
        assert stdout == ""
        assert {p: p.read_bytes() for p in small_set.iterdir()} == before


def test_unreachable_scheduler_fails_with_a_message(small_set, scratch):
    with socket_that_refuses() as address:
        status, _, stderr = run_evaluate(
            scratch, small_set, "--csv", scratch / "out.csv", "--scheduler", address,
            env={"DASK_DISTRIBUTED__COMM__TIMEOUTS__CONNECT": "2s"},
        )
    assert status == 1
    assert f"cannot start the evaluation on {address}" in stderr
    assert not (scratch / "out.csv").exists()


class socket_that_refuses:
    """A loopback address where nothing listens: a port bound but never
    listened on refuses connections."""

    def __enter__(self) -> str:
        import socket

        self.socket = socket.socket()
        self.socket.bind(("127.0.0.1", 0))
        return f"tcp://127.0.0.1:{self.socket.getsockname()[1]}"

    def __exit__(self, *_) -> None:
        self.socket.close()


# ------------------------------------------------------------ the pieces


def test_progress_text_fills_in_proportion():
    assert evaluate.progress_text(0, 4, width=8) == "[........] 0/4 images"
    assert evaluate.progress_text(3, 4, width=8) == "[######..] 3/4 images"
    assert evaluate.progress_text(4, 4, width=8) == "[########] 4/4 images"
    assert evaluate.progress_text(0, 0, width=4) == "[####] 0/0 images"


class FailedFuture:
    def __init__(self, status, error):
        self.status = status
        self.error = error

    def exception(self):
        if self.status == "cancelled":
            raise self.error
        return self.error


def test_a_task_that_failed_gives_its_image_a_skip_reason():
    from distributed.scheduler import KilledWorker

    worker = types.SimpleNamespace(address="tcp://10.0.0.1:4000")
    killed = FailedFuture("error", KilledWorker("evaluate_image-1", worker, 3))
    reason, width, height, outcomes = evaluate.outcome_of(killed)
    assert reason.startswith("error: KilledWorker: ") and "tcp://10.0.0.1:4000" in reason
    assert (width, height, outcomes) == (0, 0, [])
    from concurrent.futures import CancelledError

    reason, *_ = evaluate.outcome_of(FailedFuture("cancelled", CancelledError()))
    assert reason == "error: CancelledError"
    # An error that cannot even describe itself still gives a reason.
    reason, *_ = evaluate.outcome_of(FailedFuture("error", KilledWorker("x", "no address", 3)))
    assert reason.startswith("error: KilledWorker")


class FakeClient:
    def __init__(self, answers):
        self.answers = answers

    def run(self, function, on_error):
        assert on_error == "return"
        return self.answers


def test_workers_must_import_this_version():
    from demosaic import _core

    assert evaluate.check_workers(FakeClient({"tcp://a:1": _core.__version__})) == ""
    assert evaluate.check_workers(FakeClient({})) == ""  # workers may join later
    older = evaluate.check_workers(FakeClient({"tcp://a:1": _core.__version__, "tcp://b:1": "0.9"}))
    assert "tcp://b:1 has demosaic 0.9" in older
    missing = evaluate.check_workers(
        FakeClient({"tcp://c:1": ModuleNotFoundError("No module named 'demosaic'")})
    )
    assert "tcp://c:1 cannot run the evaluation" in missing and "demosaic" in missing


# ------------------------------------------------- hostile systems and names


def test_paths_with_a_nul_byte_are_refused_as_the_system_refuses_them(scratch):
    from demosaic import _core

    for call in (
        lambda: _core.load_image("kodim\0.png"),
        lambda: _core.evaluate_file("a\0b.png", "GRBG", 3),
        lambda: _core.start_run(["images\0"], scratch / "out.csv", "GRBG", 3),
        lambda: _core.start_run([scratch], str(scratch / "out\0.csv"), "GRBG", 3),
    ):
        with pytest.raises(ValueError, match="embedded null byte"):
            call()
    assert not (scratch / "out.csv").exists()


def test_sigterm_stops_the_run_like_an_interruption(small_set, scratch):
    """Status 143, the CSV as it was, no worker and no scratch folder left."""
    temporary = scratch / "tmp"
    temporary.mkdir()
    (scratch / "out.csv").write_text("earlier run\n")
    # A task that never ends keeps the run going until the signal comes.
    slow = scratch / "slow.ppm"
    os.mkfifo(slow)
    process = subprocess.Popen(
        [sys.executable, "-m", "demosaic.evaluate", str(small_set), str(slow),
         "--csv", str(scratch / "out.csv"), "--workers", "1"],
        stdout=subprocess.PIPE, stderr=subprocess.PIPE,
        env=dict(os.environ, TMPDIR=str(temporary)), start_new_session=True,
    )
    try:
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline and not any(
            "demosaic.evaluate" not in " ".join(p.cmdline()) for p in session_processes(process.pid)
            if p.pid != process.pid
        ):
            time.sleep(0.2)
        time.sleep(3)  # the workers at work
        process.terminate()
        _, stderr = process.communicate(timeout=60)
    finally:
        if process.poll() is None:
            os.killpg(process.pid, 9)
    assert process.returncode == 143, stderr.decode()
    assert b"demosaic.evaluate: terminated" in stderr
    assert (scratch / "out.csv").read_text() == "earlier run\n"
    expect_nothing_left(process.pid, temporary)


@pytest.mark.parametrize(
    "content,problem",
    [(b"", "is not a Dask scheduler file"), (b"\x89garbage", "is not a Dask scheduler file"),
     (b'{"id": "Scheduler-1"}', "no scheduler address in it"), (b"[1, 2]", "no JSON object")],
    ids=["empty", "garbage", "no address", "not an object"],
)
def test_a_scheduler_file_that_is_not_one_is_named_as_such(content, problem, small_set, scratch):
    scheduler_file = scratch / "scheduler.json"
    scheduler_file.write_bytes(content)
    status, stdout, stderr = run_evaluate(
        scratch, small_set, "--csv", scratch / "out.csv", "--scheduler", scheduler_file
    )
    assert status == 2 and problem in stderr and "NoneType" not in stderr
    assert stdout == "" and not (scratch / "out.csv").exists()


@pytest.mark.parametrize("closed", ["stdout", "stderr"])
def test_a_closed_standard_stream_still_gives_the_csv(closed, small_set, scratch):
    temporary = scratch / "tmp"
    temporary.mkdir()
    result = subprocess.run(
        [sys.executable, "-c",
         "import os, sys; os.close(1 if sys.argv[1] == 'stdout' else 2); "
         "from demosaic import evaluate; sys.exit(evaluate.main(sys.argv[2:]))",
         closed, str(small_set), "--csv", str(scratch / "out.csv"), "--workers", "1"],
        capture_output=True, env=dict(os.environ, TMPDIR=str(temporary)), timeout=120,
    )
    assert b"Traceback" not in result.stderr
    assert len((scratch / "out.csv").read_text().splitlines()) == 1 + 3 * 3
    # Without a table to show, the run is incomplete; with its messages
    # unseen, it is complete.
    assert result.returncode == (1 if closed == "stdout" else 0), result.stderr


def test_all_images_skipped_fails_as_the_bench_does(scratch, bench_binary):
    (scratch / "broken.png").write_bytes(b"not an image")
    status, _, _ = run_evaluate(scratch, scratch / "broken.png", "--csv", scratch / "out.csv")
    bench_status, _, _ = run_bench(bench_binary, scratch / "broken.png")
    assert status == bench_status == 1


def test_figures_are_written_with_a_point_in_a_decimal_comma_locale(small_set, scratch):
    locales = scratch / "locales"
    locales.mkdir()
    made = subprocess.run(
        ["localedef", "-i", "de_DE", "-f", "UTF-8", str(locales / "de_DE.UTF-8")],
        capture_output=True,
    )
    if made.returncode not in (0, 1) or not (locales / "de_DE.UTF-8").exists():
        pytest.skip(f"cannot make a de_DE locale here (localedef: {made.stderr.decode()[:200]})")
    temporary = scratch / "tmp"
    temporary.mkdir()
    result = subprocess.run(
        [sys.executable, "-c",
         "import locale, sys; locale.setlocale(locale.LC_ALL, 'de_DE.UTF-8'); "
         "assert locale.localeconv()['decimal_point'] == ','; "
         "from demosaic import evaluate; sys.exit(evaluate.main(sys.argv[1:]))",
         str(small_set), "--csv", str(scratch / "out.csv"), "--workers", "1"],
        capture_output=True, text=True, timeout=120,
        env=dict(os.environ, LOCPATH=str(locales), TMPDIR=str(temporary)),
    )
    assert result.returncode == 0, result.stderr
    rows = [line for line in result.stdout.splitlines() if line.startswith("scene")]
    assert len(rows) == 3 and all("," not in row and "." in row for row in rows), result.stdout
