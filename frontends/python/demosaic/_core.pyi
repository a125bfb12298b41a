# Type stubs of the compiled module demosaic._core, for editors and type
# checkers. The public calls are re-exported by the package demosaic; the
# names from method_names on serve `python3 -m demosaic.evaluate`.
import os
from typing import Iterable, Literal, Sequence, TypeAlias, overload

import numpy
import numpy.typing

__version__: str
FRAME_WIDTH: int
MINIMUM_SIDE: int

Pattern: TypeAlias = Literal["GRBG", "RGGB", "BGGR", "GBRG"] | str
Order: TypeAlias = Literal["BGR", "RGB"] | str
UInt8Array: TypeAlias = numpy.typing.NDArray[numpy.uint8]
UInt16Array: TypeAlias = numpy.typing.NDArray[numpy.uint16]
SampleArray: TypeAlias = UInt8Array | UInt16Array
PathLike: TypeAlias = str | bytes | os.PathLike[str] | os.PathLike[bytes]

@overload
def sample_mosaic(
    image: UInt8Array,
    pattern: Pattern,
    order: Order = "BGR",
    noise: str | None = None,
    seed: int = 0,
    name: str = "",
) -> UInt8Array: ...
@overload
def sample_mosaic(
    image: UInt16Array,
    pattern: Pattern,
    order: Order = "BGR",
    noise: None = None,
    seed: int = 0,
    name: str = "",
) -> UInt16Array: ...
def sample_mosaic(
    image: SampleArray,
    pattern: Pattern,
    order: Order = "BGR",
    noise: str | None = None,
    seed: int = 0,
    name: str = "",
) -> SampleArray:
    """Samples the Bayer mosaic (H x W, the image's dtype) of an H x W x 3
    uint8 or uint16 image through the tile ``pattern`` (any letter case; no
    default: pass the same tile to ``reconstruct``).

    ``noise="gaussian:5"`` or ``"poisson-gaussian:A,B"`` adds that noise
    after sampling, the same bytes as demosaic-bench's ``--noise`` for the
    same ``seed`` and image ``name`` (uint8 images only).

    ``order="RGB"`` for arrays in R, G, B order (imageio, Pillow); the default
    "BGR" is OpenCV's. TypeError for a wrong dtype or rank, ValueError for a
    wrong channel count, pattern or order. Crops and row slices are read in
    place; other views (``image[:, :, ::-1]``, ``image[:, ::2]``) are copied.
    """

@overload
def reconstruct(
    mosaic: UInt8Array,
    pattern: Pattern,
    order: Order = "BGR",
    threads: int = 1,
    white_level: int | None = None,
) -> UInt8Array: ...
@overload
def reconstruct(
    mosaic: UInt16Array,
    pattern: Pattern,
    order: Order = "BGR",
    threads: int = 1,
    white_level: int | None = None,
) -> UInt16Array: ...
def reconstruct(
    mosaic: SampleArray,
    pattern: Pattern,
    order: Order = "BGR",
    threads: int = 1,
    white_level: int | None = None,
) -> SampleArray:
    """Reconstructs an H x W x 3 image from an H x W uint8 or uint16 mosaic
    (the result has the mosaic's dtype) taken through the tile ``pattern``
    (the one given to ``sample_mosaic``).

    Bit for bit the reconstruction of ``demosaic-eval``; a black 3-pixel frame.
    ``white_level`` (uint16 only; None means 65535) is the largest sample
    value: the bounds scale with it, and a sample above it is a ValueError
    naming its position and value. At least 7 x 7 (ValueError otherwise);
    TypeError for a wrong dtype or rank. Releases the GIL: Python threads run
    reconstructions in parallel.
    """

def measure(
    reference: SampleArray,
    reconstruction: SampleArray,
    border: int = 3,
    order: Order = "BGR",
    metrics: str | Sequence[str] = "psnr",
    white_level: int | None = None,
) -> dict[str, float]:
    """PSNR_R, PSNR_G, PSNR_B and CPSNR in dB (``math.inf`` where a channel is
    exact), SSIM, DE2000 and zipper over the pixels at least ``border`` from
    every edge; ``metrics`` picks them ("psnr" alone is the quickest). SSIM is
    NaN under an 11 x 11 measured region, zipper under 3 x 3. Both arrays
    uint8, or both uint16 with ``white_level`` (None means 65535) as the PSNR
    peak, the SSIM data range and the sRGB white of CIEDE2000 and zipper.

    TypeError for a wrong or mixed dtype or rank; ValueError for shapes that
    differ, a negative border or one that leaves nothing to measure, an
    unknown metric, a white level outside 1 to 65535 or a sample above it.
    """

# Private: the run of demosaic.evaluate over image files.

MethodOutcome: TypeAlias = tuple[float, float, float, float, float]
# (skip_reason, width, height, outcomes[, white_level[, from_raw]]); without
# the white level, 255; without from_raw, not from a camera raw file.
Outcome: TypeAlias = (
    tuple[str, int, int, Sequence[MethodOutcome]]
    | tuple[str, int, int, Sequence[MethodOutcome], int]
    | tuple[str, int, int, Sequence[MethodOutcome], int, bool]
)

class Run:
    def inputs(self) -> list[tuple[str, str, str]]: ...
    def accept(self, index: int, outcome: Outcome) -> None: ...
    def message(self, text: str) -> None: ...
    def finish(self) -> int: ...

def start_run(
    paths: Iterable[PathLike],
    csv: PathLike,
    pattern: str,
    border: int,
    message_fd: int = 2,
    depth: str = "8",
    white_level: int = 0,
    space: str = "native",
    white_balance: str = "none",
) -> Run: ...
def evaluate_file(
    path: PathLike,
    pattern: str,
    border: int,
    depth: str = "8",
    white_level: int = 0,
    space: str = "native",
    white_balance: str = "none",
) -> Outcome: ...
def progress_text(done: int, total: int, width: int = 30) -> str: ...
def load_image(path: PathLike) -> UInt8Array: ...
