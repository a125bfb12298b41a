"""The module's three calls on numpy arrays: what they compute on worked
examples, how they read strided views, every argument they refuse, uint16
arrays and their white level, and the GIL released during the work."""

from __future__ import annotations

import concurrent.futures
import math
import threading
import time
import tracemalloc

import numpy as np
import pytest

import demosaic
from conftest import scene

PATTERNS = ["GRBG", "RGGB", "BGGR", "GBRG"]
BGR_INDEX = {"B": 0, "G": 1, "R": 2}


def channel_at(pattern: str, row: int, column: int) -> int:
    """The B, G, R index of the colour the tile passes at (row, column)."""
    return BGR_INDEX[pattern[2 * (row % 2) + column % 2]]


# ------------------------------------------------------------ sample_mosaic


@pytest.mark.parametrize("pattern", PATTERNS)
def test_mosaic_keeps_the_channel_the_tile_passes_at_each_site(pattern):
    image = scene(10, 13)
    mosaic = demosaic.sample_mosaic(image, pattern)
    assert mosaic.shape == (10, 13) and mosaic.dtype == np.uint8
    for row in range(2):
        for column in range(2):
            channel = channel_at(pattern, row, column)
            np.testing.assert_array_equal(
                mosaic[row::2, column::2], image[row::2, column::2, channel]
            )


def test_the_tile_is_required_and_may_be_given_by_keyword():
    image = scene(8, 8)
    with pytest.raises(TypeError, match="incompatible function arguments"):
        demosaic.sample_mosaic(image)
    with pytest.raises(TypeError, match="incompatible function arguments"):
        demosaic.reconstruct(demosaic.sample_mosaic(image, "GRBG"))
    with pytest.raises(TypeError, match="incompatible function arguments"):
        demosaic.reconstruct(demosaic.sample_mosaic(image, "GRBG"), order="BGR")
    mosaic = demosaic.sample_mosaic(image=image, pattern="GRBG")
    np.testing.assert_array_equal(mosaic, demosaic.sample_mosaic(image, "GRBG"))
    assert mosaic[0, 1] == image[0, 1, 2]  # red at row 0, column 1
    np.testing.assert_array_equal(
        demosaic.reconstruct(mosaic=mosaic, pattern="grbg"), demosaic.reconstruct(mosaic, "GRBG")
    )


def test_pattern_and_order_names_take_any_letter_case():
    image = scene(8, 9)
    np.testing.assert_array_equal(
        demosaic.sample_mosaic(image[:, :, ::-1], "rggb", order="rgb"),
        demosaic.sample_mosaic(image, "RGGB"),
    )


def test_rgb_order_reads_red_from_the_first_channel():
    bgr = scene(9, 11)
    rgb = np.ascontiguousarray(bgr[:, :, ::-1])
    np.testing.assert_array_equal(
        demosaic.sample_mosaic(rgb, "GRBG", order="RGB"), demosaic.sample_mosaic(bgr, "GRBG")
    )
    # Taken as B, G, R, the same array gives blue where red belongs.
    assert not np.array_equal(
        demosaic.sample_mosaic(rgb, "GRBG"), demosaic.sample_mosaic(bgr, "GRBG")
    )


def test_tiny_and_empty_images_are_sampled():
    pixel = np.array([[[10, 20, 30]]], np.uint8)  # B, G, R
    assert demosaic.sample_mosaic(pixel, "GRBG").tolist() == [[20]]
    assert demosaic.sample_mosaic(pixel, "RGGB").tolist() == [[30]]
    assert demosaic.sample_mosaic(pixel, "BGGR").tolist() == [[10]]
    assert demosaic.sample_mosaic(np.zeros((0, 5, 3), np.uint8), "GBRG").shape == (0, 5)


# -------------------------------------------------------------- reconstruct


@pytest.mark.parametrize("pattern", PATTERNS)
def test_reconstruction_keeps_every_interior_sample_and_a_black_frame(pattern):
    image = scene(21, 26)
    mosaic = demosaic.sample_mosaic(image, pattern)
    output = demosaic.reconstruct(mosaic, pattern)
    assert output.shape == (21, 26, 3) and output.dtype == np.uint8
    frame = np.ones((21, 26), bool)
    frame[3:-3, 3:-3] = False
    assert not output[frame].any()
    for row in range(3, 18):
        for column in range(3, 23):
            assert output[row, column, channel_at(pattern, row, column)] == mosaic[row, column]


@pytest.mark.parametrize("pattern", PATTERNS)
def test_flat_colour_is_reconstructed_exactly(pattern):
    image = np.empty((12, 15, 3), np.uint8)
    image[:] = (50, 120, 200)
    output = demosaic.reconstruct(demosaic.sample_mosaic(image, pattern), pattern)
    np.testing.assert_array_equal(output[3:-3, 3:-3], image[3:-3, 3:-3])


def test_the_tile_given_to_reconstruct_matters():
    mosaic = demosaic.sample_mosaic(scene(20, 20), "RGGB")
    assert not np.array_equal(
        demosaic.reconstruct(mosaic, "RGGB"), demosaic.reconstruct(mosaic, "GRBG")
    )


def test_rgb_output_is_the_bgr_output_with_channels_swapped():
    mosaic = demosaic.sample_mosaic(scene(17, 19), "GRBG")
    np.testing.assert_array_equal(
        demosaic.reconstruct(mosaic, "GRBG", order="RGB"),
        demosaic.reconstruct(mosaic, "GRBG")[:, :, ::-1],
    )


def test_every_thread_count_gives_the_same_bytes():
    mosaic = demosaic.sample_mosaic(scene(61, 47), "GBRG")
    single = demosaic.reconstruct(mosaic, "GBRG", threads=1)
    for threads in (2, 3, 7, 200):
        np.testing.assert_array_equal(demosaic.reconstruct(mosaic, "GBRG", threads=threads), single)


def test_smallest_mosaic_has_one_interior_pixel():
    output = demosaic.reconstruct(demosaic.sample_mosaic(scene(7, 7), "RGGB"), "RGGB")
    assert output[3, 3].any()
    assert np.count_nonzero(output.any(axis=2)) <= 1


# ------------------------------------------------------------------ measure


def test_unit_error_in_red_is_48_13_db_and_cpsnr_52_90():
    reference = np.zeros((9, 10, 3), np.uint8)
    reconstruction = reference.copy()
    reconstruction[:, :, 2] = 1  # red one level off everywhere
    figures = demosaic.measure(reference, reconstruction, metrics="psnr")
    assert list(figures) == ["PSNR_R", "PSNR_G", "PSNR_B", "CPSNR"]
    assert figures["PSNR_R"] == pytest.approx(48.1308036086791, abs=1e-9)
    assert figures["PSNR_G"] == math.inf and figures["PSNR_B"] == math.inf
    assert figures["CPSNR"] == pytest.approx(52.90201615587573, abs=1e-9)


def test_the_other_metrics_come_under_the_bench_csv_column_names():
    image = scene(40, 50)
    assert list(demosaic.measure(image, image)) == ["PSNR_R", "PSNR_G", "PSNR_B", "CPSNR"]
    figures = demosaic.measure(image, image, metrics="psnr,ssim,de2000,zipper")
    assert list(figures) == ["PSNR_R", "PSNR_G", "PSNR_B", "CPSNR", "SSIM", "DE2000", "zipper"]
    assert figures["SSIM"] == 1.0 and figures["DE2000"] == 0.0 and figures["zipper"] == 0.0
    output = demosaic.reconstruct(demosaic.sample_mosaic(image, "GRBG"), "GRBG")
    figures = demosaic.measure(image, output, metrics="zipper,ssim")
    assert list(figures) == ["SSIM", "zipper"]
    assert 0 < figures["SSIM"] < 1 and 0 <= figures["zipper"] <= 1
    # Symmetric in its two images, as SSIM is.
    assert demosaic.measure(output, image, metrics="ssim")["SSIM"] == figures["SSIM"]


def test_metrics_are_named_by_a_list_or_tuple_as_by_the_comma_string():
    image = scene(30, 34)
    output = image.copy()
    output[10, 12] = 7
    by_text = demosaic.measure(image, output, metrics="de2000,psnr")
    assert demosaic.measure(image, output, metrics=["de2000", "psnr"]) == by_text
    assert demosaic.measure(image, output, metrics=("de2000", "psnr")) == by_text
    with pytest.raises(ValueError, match="listed twice"):
        demosaic.measure(image, output, metrics=["psnr", "psnr"])
    with pytest.raises(TypeError, match="metrics"):
        demosaic.measure(image, output, metrics=["psnr", 3])


def test_a_region_too_small_for_a_window_gives_nan_for_that_figure_only():
    reference = scene(12, 14)  # 6 x 8 measured pixels: too few for SSIM's 11 x 11
    output = reference.copy()
    output[5, 5] = 0
    figures = demosaic.measure(reference, output, metrics="psnr,ssim,de2000,zipper")
    assert math.isnan(figures["SSIM"])
    assert not math.isnan(figures["zipper"]) and figures["DE2000"] > 0
    with pytest.raises(ValueError, match="not a metric"):
        demosaic.measure(reference, output, metrics="psnr,mse")


def test_errors_outside_the_border_are_not_measured():
    reference = np.full((12, 12, 3), 100, np.uint8)
    reconstruction = reference.copy()
    reconstruction[:3] = 0
    reconstruction[:, -3:] = 255
    assert demosaic.measure(reference, reconstruction)["CPSNR"] == math.inf
    assert demosaic.measure(reference, reconstruction, border=2)["CPSNR"] < 20


def test_error_on_part_of_the_interior_is_averaged_over_all_of_it():
    reference = np.zeros((10, 10, 3), np.uint8)
    reconstruction = reference.copy()
    reconstruction[3:5, 3:7, 1] = 4  # 8 of the 16 measured pixels, squared error 16
    figures = demosaic.measure(reference, reconstruction)
    assert figures["PSNR_G"] == pytest.approx(10 * math.log10(65025 / 8), abs=1e-9)


def test_rgb_order_puts_the_first_channel_in_psnr_r():
    reference = np.zeros((9, 9, 3), np.uint8)
    reconstruction = reference.copy()
    reconstruction[:, :, 0] = 2
    bgr = demosaic.measure(reference, reconstruction)
    rgb = demosaic.measure(reference, reconstruction, order="RGB")
    assert bgr["PSNR_B"] == pytest.approx(42.11020369539948) and bgr["PSNR_R"] == math.inf
    assert rgb["PSNR_R"] == pytest.approx(42.11020369539948) and rgb["PSNR_B"] == math.inf


def test_measure_of_the_method_matches_its_reconstruction_of_a_scene():
    image = scene(40, 50)
    output = demosaic.reconstruct(demosaic.sample_mosaic(image, "GRBG"), "GRBG")
    figures = demosaic.measure(image, output)
    assert 20 < figures["CPSNR"] < math.inf
    squared = (image[3:-3, 3:-3].astype(float) - output[3:-3, 3:-3]) ** 2
    assert figures["PSNR_G"] == pytest.approx(10 * math.log10(65025 / squared[:, :, 1].mean()))


# --------------------------------------------------------- strided arrays


def big_image() -> np.ndarray:
    return np.random.default_rng(7).integers(0, 256, (1500, 2000, 3), dtype=np.uint8)


VIEWS = {
    "crop": lambda a: a[5:40, 3:51],
    "row step": lambda a: a[::2, :48],
    "rows flipped": lambda a: a[::-1, :40],
    "column step": lambda a: a[:40, ::3],
    "columns flipped": lambda a: a[:40, ::-1],
    "transposed": lambda a: a[:50, :40].transpose(1, 0, 2),
    "fortran order": lambda a: np.asfortranarray(a[:30, :40]),
    # Rows that overlap one another within the buffer (each starts one pixel
    # after the last): legal for numpy, read from a packed copy.
    "overlapping rows": lambda a: np.lib.stride_tricks.as_strided(
        a, shape=(20, 30, 3), strides=(a.strides[1], a.strides[1], a.strides[2])
    ),
}


@pytest.mark.parametrize("view", VIEWS.values(), ids=VIEWS.keys())
def test_views_give_what_their_packed_copies_give(view):
    image = view(scene(80, 60))
    packed = np.ascontiguousarray(image)
    mosaic = demosaic.sample_mosaic(image, "BGGR")
    np.testing.assert_array_equal(mosaic, demosaic.sample_mosaic(packed, "BGGR"))
    mosaic_view = view(np.stack([scene(80, 60)[:, :, 1]] * 3, axis=-1))[:, :, 0]
    np.testing.assert_array_equal(
        demosaic.reconstruct(mosaic_view, "BGGR"),
        demosaic.reconstruct(np.ascontiguousarray(mosaic_view), "BGGR"),
    )
    other = view(scene(80, 60, seed=5))
    assert demosaic.measure(image, other) == demosaic.measure(packed, np.ascontiguousarray(other))


def test_channel_reversed_view_is_read_as_rgb():
    image = scene(30, 33)
    np.testing.assert_array_equal(
        demosaic.sample_mosaic(image[:, :, ::-1], "GRBG", order="RGB"),
        demosaic.sample_mosaic(image, "GRBG"),
    )
    output = demosaic.reconstruct(demosaic.sample_mosaic(image, "GRBG"), "GRBG")
    assert demosaic.measure(image[:, :, ::-1], output[:, :, ::-1], order="RGB") == (
        demosaic.measure(image, output)
    )


def test_read_only_and_broadcast_arrays_are_read():
    image = scene(12, 12)
    image.flags.writeable = False
    assert demosaic.sample_mosaic(image, "GRBG").shape == (12, 12)
    flat = np.broadcast_to(np.array([10, 20, 30], np.uint8), (9, 9, 3))
    np.testing.assert_array_equal(demosaic.sample_mosaic(flat, "GRBG")[0], [20, 30] * 4 + [20])


def test_inputs_are_never_modified():
    image = scene(20, 20)
    keep = image.copy()
    mosaic = demosaic.sample_mosaic(image, "GRBG")
    mosaic_keep = mosaic.copy()
    output = demosaic.reconstruct(mosaic, "GRBG")
    demosaic.measure(image, output)
    np.testing.assert_array_equal(image, keep)
    np.testing.assert_array_equal(mosaic, mosaic_keep)


def peak_bytes(call) -> int:
    """Peak numpy and Python allocation during call() (numpy reports its data
    buffers to tracemalloc)."""
    tracemalloc.start()
    try:
        call()
        return tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()


def test_crops_and_row_slices_are_read_in_place():
    image = big_image()  # 9 MB
    crop = image[10:1210, 20:1620]  # 5.8 MB, rows 6000 bytes apart
    other = image[11:1211, 20:1620]
    assert peak_bytes(lambda: demosaic.measure(crop, other)) < 100_000
    assert peak_bytes(lambda: demosaic.measure(image[::2], image[1::2])) < 100_000
    mosaic = np.ascontiguousarray(image[:, :, 1])
    mosaic_crop = mosaic[4:1204, 6:1606]
    output_bytes = 1200 * 1600 * 3
    assert peak_bytes(lambda: demosaic.sample_mosaic(crop, "GRBG")) < 1200 * 1600 + 100_000
    assert peak_bytes(lambda: demosaic.reconstruct(mosaic_crop, "GRBG")) < output_bytes + 100_000


# ------------------------------------------------------------- bad input

MOSAIC = np.zeros((8, 8), np.uint8)
IMAGE = np.zeros((8, 8, 3), np.uint8)

TYPE_ERRORS = {
    "list image": (lambda: demosaic.sample_mosaic([[[1, 2, 3]]], "GRBG"), "numpy.ndarray"),
    "None mosaic": (lambda: demosaic.reconstruct(None, "GRBG"), "numpy.ndarray"),
    "float image": (lambda: demosaic.sample_mosaic(IMAGE.astype(np.float32), "GRBG"), "float32"),
    "int16 mosaic": (lambda: demosaic.reconstruct(MOSAIC.astype(np.int16), "GRBG"), "int16"),
    "int8 mosaic": (lambda: demosaic.reconstruct(MOSAIC.astype(np.int8), "GRBG"), "int8"),
    "bool image": (lambda: demosaic.measure(IMAGE.astype(bool), IMAGE), "bool"),
    "uint16 reconstruction": (
        lambda: demosaic.measure(IMAGE, IMAGE.astype(np.uint16)),
        "reconstruction must have dtype uint8",
    ),
    "2-D image": (lambda: demosaic.sample_mosaic(MOSAIC, "GRBG"), "must have 3 axes"),
    "3-D mosaic": (lambda: demosaic.reconstruct(IMAGE, "GRBG"), "must have 2 axes"),
    "4-D image": (lambda: demosaic.measure(IMAGE[None], IMAGE[None]), "must have 3 axes"),
    "float threads": (lambda: demosaic.reconstruct(MOSAIC, "GRBG", threads=2.0), ""),
    "pattern not text": (lambda: demosaic.sample_mosaic(IMAGE, pattern=4), ""),
}


@pytest.mark.parametrize("call,message", TYPE_ERRORS.values(), ids=TYPE_ERRORS.keys())
def test_wrong_type_or_rank_raises_type_error(call, message):
    with pytest.raises(TypeError, match=message):
        call()


VALUE_ERRORS = {
    "four channels": (
        lambda: demosaic.sample_mosaic(np.zeros((8, 8, 4), np.uint8), "GRBG"),
        "3 channels.*image\\[..., :3\\]",
    ),
    "one channel": (lambda: demosaic.measure(IMAGE[:, :, :1], IMAGE[:, :, :1]), "3 channels"),
    "6 rows": (lambda: demosaic.reconstruct(MOSAIC[:6], "GRBG"), "8 x 6 pixels.*at least 7 x 7"),
    "6 columns": (
        lambda: demosaic.reconstruct(MOSAIC[:, :6], "GRBG"),
        "6 x 8 pixels.*at least 7 x 7",
    ),
    "empty mosaic": (lambda: demosaic.reconstruct(MOSAIC[:0], "GRBG"), "at least 7 x 7"),
    "shapes differ": (lambda: demosaic.measure(IMAGE, IMAGE[1:]), r"\(8, 8, 3\) and \(7, 8, 3\)"),
    "negative border": (lambda: demosaic.measure(IMAGE, IMAGE, border=-1), "negative"),
    "border leaves nothing": (
        lambda: demosaic.measure(IMAGE, IMAGE, border=4),
        "border 4 needs at least 9 x 9",
    ),
    "unknown pattern": (lambda: demosaic.reconstruct(MOSAIC, "GRGB"), '"GRBG", "RGGB"'),
    "empty pattern": (lambda: demosaic.sample_mosaic(IMAGE, ""), "pattern must be"),
    "unknown order": (lambda: demosaic.reconstruct(MOSAIC, "GRBG", order="BRG"), "order must be"),
    "zero threads": (lambda: demosaic.reconstruct(MOSAIC, "GRBG", threads=0), "at least 1"),
    "negative threads": (lambda: demosaic.reconstruct(MOSAIC, "GRBG", threads=-3), "at least 1"),
    "side beyond 32 bits": (
        lambda: demosaic.sample_mosaic(np.broadcast_to(IMAGE[:1, :1], (2**31, 1, 3)), "GRBG"),
        "too large",
    ),
}


@pytest.mark.parametrize("call,message", VALUE_ERRORS.values(), ids=VALUE_ERRORS.keys())
def test_wrong_shape_size_or_option_raises_value_error(call, message):
    with pytest.raises(ValueError, match=message):
        call()


# ----------------------------------------------------------- 16-bit arrays


def deep_scene(height: int, width: int, white: int, seed: int = 0) -> np.ndarray:
    """A uint16 B, G, R image within 0..white: the scene scaled up, with
    noise in the low bits and samples at 0 and at white."""
    rng = np.random.default_rng(seed)
    image = scene(height, width, seed).astype(np.int64) * white // 255
    image += rng.integers(-white // 64, white // 64 + 1, image.shape)
    image[::7, ::5] = white
    image[3::11, 2::7] = 0
    return image.clip(0, white).astype(np.uint16)


@pytest.mark.parametrize("pattern", PATTERNS)
def test_uint16_images_give_uint16_mosaics_and_reconstructions(pattern):
    image = deep_scene(17, 19, 65535)
    mosaic = demosaic.sample_mosaic(image, pattern)
    assert mosaic.dtype == np.uint16 and mosaic.shape == (17, 19)
    for row in range(2):
        for column in range(2):
            channel = channel_at(pattern, row, column)
            np.testing.assert_array_equal(
                mosaic[row::2, column::2], image[row::2, column::2, channel]
            )
    output = demosaic.reconstruct(mosaic, pattern)
    assert output.dtype == np.uint16 and output.shape == (17, 19, 3)
    for row in range(3, 14):
        for column in range(3, 16):
            assert output[row, column, channel_at(pattern, row, column)] == mosaic[row, column]


def test_reconstruction_stays_within_the_white_level_and_keeps_flat_colour():
    mosaic = demosaic.sample_mosaic(deep_scene(24, 30, 4095), "RGGB")
    output = demosaic.reconstruct(mosaic, "RGGB", white_level=4095)
    assert output.max() <= 4095
    flat = np.empty((12, 15, 3), np.uint16)
    flat[:] = (4000, 95, 4095)
    flat_mosaic = demosaic.sample_mosaic(flat, "GBRG")
    flat_output = demosaic.reconstruct(flat_mosaic, "GBRG", white_level=4095)
    np.testing.assert_array_equal(flat_output[3:-3, 3:-3], flat[3:-3, 3:-3])


def test_white_level_255_gives_the_uint8_pixels_and_figures():
    image = scene(26, 31)
    noisy = demosaic.sample_mosaic(image, "GRBG", noise="gaussian:6", seed=3)
    output8 = demosaic.reconstruct(noisy, "GRBG")
    output16 = demosaic.reconstruct(noisy.astype(np.uint16), "GRBG", white_level=255)
    assert output16.dtype == np.uint16
    np.testing.assert_array_equal(output16, output8)
    metrics = "psnr,ssim,de2000,zipper"
    figures8 = demosaic.measure(image, output8, metrics=metrics)
    figures16 = demosaic.measure(
        image.astype(np.uint16), output16, metrics=metrics, white_level=255
    )
    assert figures16 == figures8


def test_psnr_of_uint16_arrays_takes_the_white_level_as_peak():
    reference = deep_scene(20, 20, 16383)
    reconstruction = reference.copy()
    reconstruction[5:15, 5:15, 1] = np.maximum(reconstruction[5:15, 5:15, 1], 100) - 100
    figures = demosaic.measure(reference, reconstruction, white_level=16383)
    error = (reference[3:-3, 3:-3, 1].astype(float) - reconstruction[3:-3, 3:-3, 1]) ** 2
    assert figures["PSNR_G"] == pytest.approx(10 * math.log10(16383**2 / error.mean()), abs=1e-9)
    assert figures["PSNR_R"] == math.inf


def test_uint16_views_in_any_byte_order_alignment_or_stride_give_the_same_result():
    mosaic = demosaic.sample_mosaic(deep_scene(20, 24, 65535), "BGGR")
    expected = demosaic.reconstruct(mosaic, "BGGR")
    # Big-endian samples.
    np.testing.assert_array_equal(demosaic.reconstruct(mosaic.astype(">u2"), "BGGR"), expected)
    # Samples at odd addresses.
    buffer = np.zeros(mosaic.size * 2 + 1, np.uint8)
    unaligned = buffer[1:].view(np.uint16).reshape(mosaic.shape)
    unaligned[:] = mosaic
    assert unaligned.ctypes.data % 2 == 1
    np.testing.assert_array_equal(demosaic.reconstruct(unaligned, "BGGR"), expected)
    # A crop (read in place) and a column-stepped view (copied).
    wide = np.zeros((20, 48), np.uint16)
    wide[:, ::2] = mosaic
    np.testing.assert_array_equal(demosaic.reconstruct(wide[:, ::2], "BGGR"), expected)
    padded = np.zeros((22, 30), np.uint16)
    padded[1:21, 3:27] = mosaic
    np.testing.assert_array_equal(demosaic.reconstruct(padded[1:21, 3:27], "BGGR"), expected)


DEEP_MOSAIC = np.zeros((8, 8), np.uint16)
DEEP_IMAGE = np.zeros((8, 8, 3), np.uint16)


def above_white(array: np.ndarray, index: tuple[int, ...], value: int) -> np.ndarray:
    changed = array.copy()
    changed[index] = value
    return changed


DEEP_VALUE_ERRORS = {
    "mosaic sample above": (
        lambda: demosaic.reconstruct(
            above_white(DEEP_MOSAIC, (2, 5), 4096), "GRBG", white_level=4095
        ),
        r"mosaic\[2, 5\] is 4096, above the white level 4095",
    ),
    "reconstruction sample above": (
        lambda: demosaic.measure(
            DEEP_IMAGE, above_white(DEEP_IMAGE, (6, 1, 2), 1100), white_level=1023
        ),
        r"reconstruction\[6, 1, 2\] is 1100, above the white level 1023",
    ),
    "white level 0": (
        lambda: demosaic.reconstruct(DEEP_MOSAIC, "GRBG", white_level=0),
        "white_level must be from 1 to 65535, not 0",
    ),
    "white level 65536": (
        lambda: demosaic.measure(DEEP_IMAGE, DEEP_IMAGE, white_level=65536),
        "white_level must be from 1 to 65535, not 65536",
    ),
    "white level for uint8": (
        lambda: demosaic.reconstruct(MOSAIC, "GRBG", white_level=4095),
        "white_level 4095 applies to uint16 arrays only",
    ),
    "noise for uint16": (
        lambda: demosaic.sample_mosaic(DEEP_IMAGE, "GRBG", noise="gaussian:2"),
        "8-bit scale",
    ),
}


@pytest.mark.parametrize("call,message", DEEP_VALUE_ERRORS.values(), ids=DEEP_VALUE_ERRORS.keys())
def test_uint16_samples_and_white_levels_outside_the_rules_raise_value_error(call, message):
    with pytest.raises(ValueError, match=message):
        call()


def test_uint8_arrays_accept_white_level_255_or_none():
    np.testing.assert_array_equal(
        demosaic.reconstruct(MOSAIC, "GRBG", white_level=255), demosaic.reconstruct(MOSAIC, "GRBG")
    )


DEEP_TYPE_ERRORS = {
    "mixed dtypes": (
        lambda: demosaic.measure(DEEP_IMAGE, IMAGE),
        "reconstruction must have dtype uint16",
    ),
    "float mosaic": (
        lambda: demosaic.reconstruct(MOSAIC.astype(np.float64), "GRBG"),
        "uint8 or uint16.*not float64",
    ),
    "float mosaic with a white level": (
        lambda: demosaic.reconstruct(MOSAIC.astype(np.float32), "GRBG", white_level=4095),
        "not float32",
    ),
    "white level text": (
        lambda: demosaic.reconstruct(DEEP_MOSAIC, "GRBG", white_level="4095"),
        "white_level must be an int or None",
    ),
}


@pytest.mark.parametrize("call,message", DEEP_TYPE_ERRORS.values(), ids=DEEP_TYPE_ERRORS.keys())
def test_wrong_dtypes_and_white_level_types_raise_type_error(call, message):
    with pytest.raises(TypeError, match=message):
        call()


# -------------------------------------------------------------- threads


def test_python_threads_run_while_a_reconstruction_runs():
    """A Python thread ticks a clock while the main thread reconstructs a 12
    megapixel mosaic. With the GIL held for the call, the ticks would stop for
    the whole reconstruction; released, they go on throughout."""
    image = np.random.default_rng(7).integers(0, 256, (3000, 4000, 3), dtype=np.uint8)
    mosaic = demosaic.sample_mosaic(image, "GRBG")
    start = time.perf_counter()
    demosaic.reconstruct(mosaic, "GRBG")  # also loads pages and code before the timed call
    alone = time.perf_counter() - start
    ticks: list[float] = []
    stop = threading.Event()

    def tick() -> None:
        while not stop.is_set():
            ticks.append(time.perf_counter())

    ticker = threading.Thread(target=tick)
    ticker.start()
    try:
        time.sleep(0.02)
        start = time.perf_counter()
        demosaic.reconstruct(mosaic, "GRBG")
        end = time.perf_counter()
    finally:
        stop.set()
        ticker.join()
    during = [t for t in ticks if start <= t <= end]
    gaps = np.diff([start, *during, end])
    assert gaps.max() < 0.5 * alone, (gaps.max(), alone)


def test_threads_reconstructing_at_once_give_the_sequential_results():
    images = [scene(300, 400, seed=k) for k in range(8)]
    mosaics = [demosaic.sample_mosaic(image, "RGGB") for image in images]
    expected = [demosaic.reconstruct(mosaic, "RGGB") for mosaic in mosaics]
    expected_figures = [demosaic.measure(i, o) for i, o in zip(images, expected)]
    with concurrent.futures.ThreadPoolExecutor(max_workers=4) as pool:
        outputs = list(pool.map(demosaic.reconstruct, mosaics, ["RGGB"] * len(mosaics)))
        figures = list(pool.map(demosaic.measure, images, outputs))
    for output, wanted in zip(outputs, expected):
        np.testing.assert_array_equal(output, wanted)
    assert figures == expected_figures


def test_module_exposes_its_version_and_frame():
    assert demosaic.FRAME_WIDTH == 3 and demosaic.MINIMUM_SIDE == 7
    assert demosaic.__version__.count(".") == 2
    assert "bit for bit" in demosaic.reconstruct.__doc__
