"""Evaluates the method and OpenCV's two Bayer baselines over image files with
Dask, as demosaic-bench does on one machine.

    python3 -m demosaic.evaluate PATH... --csv FILE [--pattern P] [--border N]
                                 [--workers N | --scheduler ADDRESS]

Each image is one task: the worker reads and decodes the file itself, so only
file names and figures cross the network. The CSV file has the columns and,
for the same images and options, the rows of ``demosaic-bench --csv`` in the
same order (the milliseconds are each run's own). Standard output gets the
bench's table; standard error a progress bar where it is a terminal, a line
for each image skipped and a closing summary. Exit status: 0 when every image
was measured and the CSV written, 1 otherwise, 2 for a bad command line.
"""

from __future__ import annotations

import argparse
import contextlib
import os
import sys
import tempfile
from typing import BinaryIO, Iterator, Sequence

from demosaic import _core

PROGRAM = "demosaic.evaluate"
EXIT_ALL_MEASURED = 0
EXIT_SOME_FAILED = 1
EXIT_USAGE = 2

# The largest --workers count, as the bench bounds --jobs.
MAXIMUM_WORKERS = 1024


def evaluate_image(path: str, pattern: str, border: int) -> _core.Evaluation:
    """The task of one image, run on a worker: (skip_reason, width, height,
    outcomes), outcomes in the order of _core.method_names()."""
    return _core.evaluate_file(path, pattern, border)


def worker_version() -> str:
    """What a worker reports before the run: the package version it imports."""
    return _core.__version__


def progress_text(done: int, total: int, width: int = 30) -> str:
    """The progress bar for `done` of `total` images, e.g.
    ``[#######.......................] 12/43 images``."""
    filled = width if total == 0 else done * width // total
    return "[" + "#" * filled + "." * (width - filled) + f"] {done}/{total} images"


class Console:
    """Standard error: the progress bar, overwritten in place and only where
    the stream is a terminal (in a log file it would be noise), and the
    program's messages, each on a line of its own."""

    def __init__(self, stream: BinaryIO, shown: bool) -> None:
        self.stream = stream
        self.shown = shown
        self.bar = b""

    def show(self, done: int, total: int) -> None:
        if self.shown:
            self.bar = progress_text(done, total).encode()
            self.stream.write(b"\r\033[K" + self.bar)
            self.stream.flush()

    def clear(self) -> None:
        if self.shown and self.bar:
            self.stream.write(b"\r\033[K")
            self.stream.flush()

    def restore(self) -> None:
        if self.shown and self.bar:
            self.stream.write(self.bar)
            self.stream.flush()

    def message(self, text: bytes) -> None:
        self.clear()
        self.stream.write(PROGRAM.encode() + b": " + text + b"\n")
        self.stream.flush()
        self.restore()


def parse_arguments(argv: Sequence[str] | None) -> argparse.Namespace:
    parser = argparse.ArgumentParser(
        prog=f"python3 -m {PROGRAM}",
        description=(
            "Compares the directional colour-difference method with OpenCV's bilinear and "
            "edge-aware Bayer demosaicing over image files, one Dask task per image. The CSV "
            "file has the columns and rows of demosaic-bench --csv."
        ),
        epilog=(
            "Exit status: 0 when every image was measured and the CSV written, 1 otherwise, 2 "
            "for a bad command line."
        ),
    )
    parser.add_argument(
        "paths",
        nargs="+",
        metavar="PATH",
        help="image files, or directories whose images (by extension, not recursive, hidden "
        "files left out) are taken in name order",
    )
    parser.add_argument("--csv", required=True, metavar="FILE", help="the CSV file to write")
    parser.add_argument(
        "--pattern",
        default="GRBG",
        metavar="TILE",
        help="the Bayer tile, its colours read row by row from the top-left site: GRBG, RGGB, "
        "BGGR or GBRG, any letter case (default GRBG)",
    )
    parser.add_argument(
        "--border",
        default="3",
        metavar="N",
        help="pixels left out of the measurement at every edge, at least 3, the method's black "
        "frame (default 3; published tables often use 10)",
    )
    where = parser.add_mutually_exclusive_group()
    where.add_argument(
        "--workers",
        metavar="N",
        help="start a local Dask cluster of N worker processes, one thread each (default: one "
        "per core)",
    )
    where.add_argument(
        "--scheduler",
        metavar="ADDRESS",
        help="join a running Dask cluster through its scheduler: its address (e.g. "
        "tcp://host:8786) or the file 'dask scheduler --scheduler-file FILE' writes; every "
        "worker must import the same version of the package demosaic",
    )
    arguments = parser.parse_args(argv)

    try:
        arguments.pattern = pattern_name(arguments.pattern)
    except ValueError:
        parser.error(
            f"--pattern: unknown tile '{arguments.pattern}' (known: GRBG, RGGB, BGGR, GBRG)"
        )
    arguments.border = decimal_count(parser, "--border", arguments.border, 1 << 20)
    if arguments.border < _core.FRAME_WIDTH:
        parser.error(
            f"--border {arguments.border} is too small: the method leaves a black 3-pixel frame, "
            "so the border must be at least 3"
        )
    if arguments.workers is not None:
        arguments.workers = decimal_count(parser, "--workers", arguments.workers, MAXIMUM_WORKERS)
        if arguments.workers < 1:
            parser.error(f"--workers: must be from 1 to {MAXIMUM_WORKERS}")
    elif arguments.scheduler is None:
        arguments.workers = max(1, len(os.sched_getaffinity(0)))
    if arguments.csv == "":
        parser.error("--csv needs a file name")
    return arguments


def pattern_name(text: str) -> str:
    """The canonical name of a tile given in any letter case; ValueError for
    anything else."""
    name = text.upper()
    if name not in ("GRBG", "RGGB", "BGGR", "GBRG"):
        raise ValueError(text)
    return name


def decimal_count(parser: argparse.ArgumentParser, option: str, text: str, maximum: int) -> int:
    """A count written in decimal digits only, up to `maximum` (as the bench
    reads its counts: no sign, no base prefix)."""
    if not text.isascii() or not text.isdigit() or len(text) > 18 or int(text) > maximum:
        parser.error(f"{option}: '{text}' is not a decimal count up to {maximum}")
    return int(text)


def destination_problem(csv_path: str, inputs: Sequence[tuple[str, str, str]]) -> str:
    """Why the CSV file could not be written where asked, checked before any
    image is read so that a long run cannot end with its results unwritable;
    "" when it can."""
    directory = os.path.dirname(csv_path) or "."
    if not os.path.isdir(directory):
        return f"--csv: directory '{directory}' does not exist"
    if os.path.isdir(csv_path):
        return f"--csv: '{csv_path}' is a directory"
    if any(_core.is_same_file(path, csv_path) for path, _, _ in inputs):
        return f"--csv: '{csv_path}' is one of the images"
    return ""


@contextlib.contextmanager
def dask_client(workers: int | None, scheduler: str | None) -> Iterator[object]:
    """A client of the cluster at `scheduler` (an address or a scheduler
    file), or of a local cluster of
    `workers` processes with one thread each, closed (workers stopped, their
    scratch space removed) on leaving."""
    from dask.distributed import Client, LocalCluster

    if scheduler is not None:
        # A batch job's scheduler writes its address, unknown beforehand, to
        # a file (dask scheduler --scheduler-file FILE).
        if os.path.isfile(scheduler):
            connection = Client(scheduler_file=scheduler)
        else:
            connection = Client(scheduler)
        with connection as client:
            yield client
        return
    # Workers keep their scratch files in a folder of their own, removed with
    # the cluster, rather than in a shared dask-worker-space left behind.
    with tempfile.TemporaryDirectory(prefix="demosaic-dask-") as scratch:
        with LocalCluster(
            n_workers=workers,
            threads_per_worker=1,
            processes=True,
            dashboard_address=None,
            local_directory=scratch,
        ) as cluster, Client(cluster) as client:
            yield client


def check_workers(client: object) -> str:
    """Why the cluster's workers cannot run the evaluation ("" when they can):
    each must import this same version of the package, so that every figure
    comes from the same code."""
    try:
        versions = client.run(worker_version, on_error="return")
    except Exception as error:  # the scheduler itself failed
        return f"cannot reach the workers: {error}"
    for address, version in sorted(versions.items()):
        if isinstance(version, BaseException):
            return f"worker {address} cannot run the evaluation: {version!r}"
        if version != _core.__version__:
            return (
                f"worker {address} has demosaic {version}, this program {_core.__version__}: "
                "install one version everywhere"
            )
    return ""


def summary_line(measured: int, skipped: list[tuple[str, str]], unwritten: list[str]) -> bytes:
    line = f"{measured} image{'' if measured == 1 else 's'} measured, {len(skipped)} skipped"
    for i, (path, reason) in enumerate(skipped):
        line += (": " if i == 0 else ", ") + f"{path} ({reason})"
    if unwritten:
        line += f"; {len(unwritten)} not written: " + ", ".join(unwritten)
    return os.fsencode(line)


def run(arguments: argparse.Namespace, console: Console, table: BinaryIO) -> int:
    inputs = _core.expand_paths(arguments.paths)
    if problem := destination_problem(arguments.csv, inputs):
        console.message(os.fsencode(problem))
        return EXIT_USAGE
    layout = _core.table_layout(arguments.pattern, arguments.border, [n for _, n, _ in inputs])
    table.write(_core.format_table_header(layout))
    table.flush()

    report = OrderedReport(inputs, layout, console, table)
    if all(listing_error for _, _, listing_error in inputs):
        # Nothing to evaluate: no cluster is needed to say so.
        for i, (_, _, listing_error) in enumerate(inputs):
            report.finish(i, (listing_error, 0, 0, []))
        evaluations = report.close()
    else:
        evaluations = evaluate_on_cluster(arguments, report)
        if evaluations is None:
            return EXIT_SOME_FAILED

    measured: list[_core.Result] = []
    skipped: list[tuple[str, str]] = []
    csv = bytearray(_core.csv_header(layout))
    for (path, name, _), (reason, width, height, outcomes) in zip(inputs, evaluations):
        if reason:
            skipped.append((path, reason))
            continue
        result = (name, width, height, outcomes)
        measured.append(result)
        csv += _core.csv_lines(layout, result)
    if measured:
        table.write(_core.format_mean_row(layout, measured))
        table.write(_core.format_throughput_row(layout, measured))
        table.flush()
    unwritten = []
    if not _core.write_file_atomically(arguments.csv, bytes(csv)):
        unwritten.append(f"{arguments.csv} (cannot be written)")
    if not inputs:
        console.message(b"no images found")
    console.message(summary_line(len(measured), skipped, unwritten))
    complete = not skipped and not unwritten and bool(inputs)
    return EXIT_ALL_MEASURED if complete else EXIT_SOME_FAILED


def evaluate_on_cluster(
    arguments: argparse.Namespace, report: OrderedReport
) -> list[_core.Evaluation] | None:
    """evaluate_all on the cluster the options name; None, the problem said,
    when that cluster cannot be had or its workers cannot run the tasks."""
    with contextlib.ExitStack() as cluster:
        try:
            client = cluster.enter_context(dask_client(arguments.workers, arguments.scheduler))
        except Exception as error:  # an unreachable scheduler, workers that fail to start
            where = arguments.scheduler or f"a local cluster of {arguments.workers} workers"
            report.console.message(
                os.fsencode(f"cannot start the evaluation on {where}: {error}")
            )
            return None
        if problem := check_workers(client):
            report.console.message(os.fsencode(problem))
            return None
        return evaluate_all(client, arguments, report)


class OrderedReport:
    """Prints each image's table row, or its skip line, as soon as it and
    every image before it are done, and counts the images done in any order
    on the progress bar."""

    def __init__(
        self,
        inputs: Sequence[tuple[str, str, str]],
        layout: _core.TableLayout,
        console: Console,
        table: BinaryIO,
    ) -> None:
        self.inputs = inputs
        self.layout = layout
        self.console = console
        self.table = table
        self.evaluations: list[_core.Evaluation | None] = [None] * len(inputs)
        self.done = 0
        self.printed = 0

    def finish(self, i: int, evaluation: _core.Evaluation) -> None:
        self.evaluations[i] = evaluation
        self.done += 1
        self.console.show(self.done, len(self.inputs))
        while self.printed < len(self.inputs) and self.evaluations[self.printed] is not None:
            path, name, _ = self.inputs[self.printed]
            reason, width, height, outcomes = self.evaluations[self.printed]
            if reason:
                self.console.message(os.fsencode(f"{path}: skipped, {reason}"))
            else:
                self.console.clear()
                self.table.write(
                    _core.format_image_row(self.layout, (name, width, height, outcomes))
                )
                self.table.flush()
                self.console.restore()
            self.printed += 1

    def close(self) -> list[_core.Evaluation]:
        self.console.clear()
        self.console.bar = b""
        return self.evaluations


def evaluate_all(
    client: object, arguments: argparse.Namespace, report: OrderedReport
) -> list[_core.Evaluation]:
    """Every input's evaluation, in input order: one task per image file."""
    from dask.distributed import as_completed

    pending = {}
    report.console.show(0, len(report.inputs))
    for i, (path, _, listing_error) in enumerate(report.inputs):
        if listing_error:
            report.finish(i, (listing_error, 0, 0, []))
            continue
        # Workers on other machines, or started elsewhere, have another
        # working folder: they get the path from the root (not normalised, so
        # that ".." still follows links as the file system does), while every
        # message keeps the path as given.
        on_worker = os.path.join(os.getcwd(), path)
        future = client.submit(
            evaluate_image, on_worker, arguments.pattern, arguments.border, pure=False
        )
        pending[future.key] = (i, future)
    for future in as_completed([future for _, future in pending.values()]):
        i, _ = pending.pop(future.key)
        report.finish(i, outcome_of(future))
        future.release()
    return report.close()


def outcome_of(future: object) -> _core.Evaluation:
    """A finished task's evaluation. A task that failed (its worker died on
    the image, was killed or ran out of memory, or could not run it) gives the
    image a skip reason: it is reported, never lost."""
    if future.status == "finished":
        return tuple(future.result())
    try:
        error = future.exception()
    except BaseException as cancelled:  # a cancelled task has no exception to give
        error = cancelled
    try:
        text = str(error)
    except Exception:  # an exception whose message cannot be formed here
        text = ""
    return (f"error: {type(error).__name__}: {text}".rstrip(": "), 0, 0, [])


def main(argv: Sequence[str] | None = None) -> int:
    arguments = parse_arguments(argv)
    console = Console(sys.stderr.buffer, sys.stderr.isatty())
    try:
        return run(arguments, console, sys.stdout.buffer)
    except KeyboardInterrupt:
        console.clear()
        console.message(b"interrupted")
        return 130


if __name__ == "__main__":
    sys.exit(main())
