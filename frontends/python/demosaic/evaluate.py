"""Evaluates the method and OpenCV's two Bayer baselines over image files with
Dask, as demosaic-bench does on one machine.

    python3 -m demosaic.evaluate PATH... --csv FILE [--pattern P] [--border N]
                                 [--depth 8|native] [--white-level N] [--space native|srgb]
                                 [--white-balance none|camera]
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
import signal
import sys
import tempfile
import threading
from typing import Iterator, Sequence

from demosaic import _core

PROGRAM = "demosaic.evaluate"
EXIT_ALL_MEASURED = 0
EXIT_SOME_FAILED = 1
EXIT_USAGE = 2

# The largest --workers count, as the bench bounds --jobs.
MAXIMUM_WORKERS = 1024
# The largest white level of 16-bit samples.
MAXIMUM_WHITE_LEVEL = 65535


def evaluate_image(
    path: str,
    pattern: str,
    border: int,
    depth: str = "8",
    white_level: int = 0,
    space: str = "native",
    white_balance: str = "none",
) -> _core.Outcome:
    """The task of one image, run on a worker: (skip_reason, width, height,
    outcomes, white_level, from_raw), one outcome per method: method, bilinear,
    edge-aware."""
    return _core.evaluate_file(path, pattern, border, depth, white_level, space, white_balance)


def worker_version() -> str:
    """What a worker reports before the run: the package version it imports."""
    return _core.__version__


def progress_text(done: int, total: int, width: int = 30) -> str:
    """The progress bar for `done` of `total` images, e.g.
    ``[#######.......................] 12/43 images``, as the run draws it."""
    return _core.progress_text(done, total, width)


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
    parser.add_argument(
        "--depth",
        default="8",
        metavar="8|native",
        help="8: every reference read at 8 bits, 16-bit samples by their high byte (default); "
        "native: 16-bit references (PNG, PNM, PAM, TIFF, JPEG 2000) kept at 16 bits with the "
        "white level W = 65535 (or --white-level), figures with peak W; 8-bit references stay "
        "8-bit (W = 255), floating-point ones are read at 8 bits",
    )
    parser.add_argument(
        "--white-level",
        metavar="N",
        help="with --depth native: the largest sample value of 16-bit references, 1 to 65535, "
        "for data stored in a wider container (4095 for 12-bit samples); a reference with a "
        "sample above it is skipped, never clamped",
    )
    parser.add_argument(
        "--space",
        default="native",
        metavar="native|srgb",
        help="native: figures on the samples as stored (default); srgb: for linear data, the "
        "sRGB transfer curve applied to reference and reconstruction before every figure, each "
        "sample rounded back to the same white level",
    )
    parser.add_argument(
        "--white-balance",
        default="none",
        metavar="none|camera",
        help="with --depth native, for camera raw files (.dng .cr2 .nef .arw ...), each taken as "
        "its half-size image (each 2 x 2 quad of the sensor one pixel, black subtracted, at its "
        "own white level): none (default) or camera, the file's as-shot white balance",
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
    if arguments.depth not in ("8", "native"):
        parser.error(f"--depth: unknown depth '{arguments.depth}' (known: 8, native)")
    if arguments.white_level is None:
        arguments.white_level = 0
    else:
        text = arguments.white_level
        if not text.isascii() or not text.isdigit() or len(text) > 18 or not (
            1 <= int(text) <= MAXIMUM_WHITE_LEVEL
        ):
            parser.error(
                f"--white-level: '{text}' is not a decimal white level from 1 to "
                f"{MAXIMUM_WHITE_LEVEL}"
            )
        if arguments.depth == "8":
            parser.error(
                "--white-level needs --depth native: at --depth 8 every sample is read at 8 "
                "bits, white level 255"
            )
        arguments.white_level = int(text)
    if arguments.space not in ("native", "srgb"):
        parser.error(f"--space: unknown space '{arguments.space}' (known: native, srgb)")
    if arguments.white_balance not in ("none", "camera"):
        parser.error(
            f"--white-balance: unknown balance '{arguments.white_balance}' (known: none, camera)"
        )
    if arguments.white_balance != "none" and arguments.depth != "native":
        parser.error(
            "--white-balance needs --depth native: camera raw files are evaluated at their own "
            "depth"
        )
    if arguments.workers is not None:
        arguments.workers = decimal_count(parser, "--workers", arguments.workers, MAXIMUM_WORKERS)
        if arguments.workers < 1:
            parser.error(f"--workers: must be from 1 to {MAXIMUM_WORKERS}")
    elif arguments.scheduler is None:
        arguments.workers = max(1, len(os.sched_getaffinity(0)))
    if arguments.csv == "":
        parser.error("--csv needs a file name")
    if arguments.scheduler is not None and os.path.isfile(arguments.scheduler):
        if problem := scheduler_file_problem(arguments.scheduler):
            parser.error(f"--scheduler: '{arguments.scheduler}' {problem}")
    return arguments


def scheduler_file_problem(path: str) -> str:
    """Why the file at `path` is not one 'dask scheduler --scheduler-file'
    writes (a JSON object with the scheduler's address), or ""."""
    import json

    try:
        with open(path, "rb") as file:
            content = json.loads(file.read() or b"null")
    except (OSError, ValueError) as error:
        return f"is not a Dask scheduler file: {error}"
    if not isinstance(content, dict):
        return "is not a Dask scheduler file: no JSON object in it"
    if not isinstance(content.get("address"), str) or not content["address"]:
        return "is not a Dask scheduler file: no scheduler address in it"
    return ""


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
        with started_in_existing_folder(scratch), LocalCluster(
            n_workers=workers,
            threads_per_worker=1,
            processes=True,
            dashboard_address=None,
            local_directory=scratch,
        ) as cluster, Client(cluster) as client:
            yield client


@contextlib.contextmanager
def started_in_existing_folder(fallback: str) -> Iterator[None]:
    """Worker processes start in the working folder, and cannot start at all
    where it no longer exists (removed after the run was started). They are
    then started in `fallback`, and the removed folder is the working folder
    again on leaving. Tasks get paths from the root, and relative inputs in a
    removed folder are already reported missing, so no path changes meaning.
    The import path's entry for the working folder ("", as `python -c` puts
    it) names nothing any more: the workers are started without it."""
    try:
        os.getcwd()
    except FileNotFoundError:
        pass
    else:
        yield
        return
    removed = os.open(".", os.O_RDONLY | os.O_DIRECTORY)
    import_path = list(sys.path)
    try:
        os.chdir(fallback)
        sys.path[:] = [entry for entry in import_path if entry != ""]
        yield
    finally:
        sys.path[:] = import_path
        os.fchdir(removed)
        os.close(removed)


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


def run(arguments: argparse.Namespace) -> int:
    """The run the arguments ask for: planned, printed and finished by the
    pipeline as demosaic-bench's is; each image evaluated by one task."""
    try:
        report = _core.start_run(
            arguments.paths,
            arguments.csv,
            arguments.pattern,
            arguments.border,
            depth=arguments.depth,
            white_level=arguments.white_level,
            space=arguments.space,
            white_balance=arguments.white_balance,
        )
    except ValueError as problem:
        sys.stderr.write(f"{PROGRAM}: {problem}\n")
        return EXIT_USAGE
    inputs = report.inputs()
    if any(not listing_error for _, _, listing_error in inputs):
        if not evaluate_on_cluster(arguments, report, inputs):
            return EXIT_SOME_FAILED
    else:
        # Nothing to evaluate: no cluster is needed to say so.
        for i, (_, _, listing_error) in enumerate(inputs):
            report.accept(i, (listing_error, 0, 0, []))
    return report.finish()


def evaluate_on_cluster(
    arguments: argparse.Namespace, report: _core.Run, inputs: Sequence[tuple[str, str, str]]
) -> bool:
    """evaluate_all on the cluster the options name; False, the problem said,
    when that cluster cannot be had or its workers cannot run the tasks."""
    with contextlib.ExitStack() as cluster:
        try:
            client = cluster.enter_context(dask_client(arguments.workers, arguments.scheduler))
        except Exception as error:  # an unreachable scheduler, workers that fail to start
            where = arguments.scheduler or f"a local cluster of {arguments.workers} workers"
            report.message(f"cannot start the evaluation on {where}: {error}")
            return False
        if problem := check_workers(client):
            report.message(problem)
            return False
        evaluate_all(client, arguments, report, inputs)
        return True


def evaluate_all(
    client: object,
    arguments: argparse.Namespace,
    report: _core.Run,
    inputs: Sequence[tuple[str, str, str]],
) -> None:
    """Every input's evaluation, one task per image file, each handed to the
    report as it finishes."""
    from dask.distributed import as_completed

    pending = {}
    for i, (path, _, listing_error) in enumerate(inputs):
        if listing_error:
            report.accept(i, (listing_error, 0, 0, []))
            continue
        # Workers on other machines, or started elsewhere, have another
        # working folder: they get the path from the root (not normalised, so
        # that ".." still follows links as the file system does), while every
        # message keeps the path as given.
        on_worker = path_from_root(path)
        future = client.submit(
            evaluate_image,
            on_worker,
            arguments.pattern,
            arguments.border,
            arguments.depth,
            arguments.white_level,
            arguments.space,
            arguments.white_balance,
            pure=False,
        )
        pending[future.key] = (i, future)
    for future in as_completed([future for _, future in pending.values()]):
        i, _ = pending.pop(future.key)
        report.accept(i, outcome_of(future))
        future.release()


def path_from_root(path: str) -> str:
    """`path` from the root: as it is when absolute, else from the working
    folder; as it is where the working folder no longer exists (its task then
    reports the file missing, as any other missing file)."""
    if os.path.isabs(path):
        return path
    try:
        return os.path.join(os.getcwd(), path)
    except OSError:
        return path


def outcome_of(future: object) -> _core.Outcome:
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


class Terminated(BaseException):
    """SIGTERM, met as an interruption: the cluster is stopped and its scratch
    folder removed on the way out, and the CSV file is left as it was."""


def on_terminate(signum: int, frame: object) -> None:
    raise Terminated()


def main(argv: Sequence[str] | None = None) -> int:
    # Closed standard streams: the run goes on, and writes its CSV; what
    # cannot be shown is not shown (the table's own failure is reported by
    # the run, where standard error is open).
    if sys.stderr is None:
        sys.stderr = open(os.devnull, "w")
    if sys.stdout is None:
        sys.stdout = open(os.devnull, "w")
    arguments = parse_arguments(argv)
    # Only the main thread may take a signal; a program calling main() from
    # another thread keeps its own handling.
    in_main_thread = threading.current_thread() is threading.main_thread()
    previous = signal.signal(signal.SIGTERM, on_terminate) if in_main_thread else None
    try:
        return run(arguments)
    except (KeyboardInterrupt, Terminated) as stop:
        clear = "\r\033[K" if sys.stderr.isatty() else ""
        terminated = isinstance(stop, Terminated)
        sys.stderr.write(f"{clear}{PROGRAM}: {'terminated' if terminated else 'interrupted'}\n")
        return 128 + (signal.SIGTERM if terminated else signal.SIGINT)
    finally:
        if in_main_thread:
            signal.signal(signal.SIGTERM, previous)


if __name__ == "__main__":
    sys.exit(main())
