"""Bayer mosaic sampling, directional colour-difference demosaicing and PSNR
measurement on numpy arrays.

    import cv2, demosaic
    reference = cv2.imread("kodim01.png")               # H x W x 3 uint8, B G R
    mosaic = demosaic.sample_mosaic(reference, "GRBG")  # H x W uint8, GRBG tile
    reconstruction = demosaic.reconstruct(mosaic, "GRBG")  # H x W x 3 uint8, B G R
    print(demosaic.measure(reference, reconstruction))  # {'PSNR_R': ..., 'CPSNR': ...}

Arrays from imageio or Pillow (R, G, B order) take ``order="RGB"``. The
reconstruction is bit for bit that of the ``demosaic-eval`` tool. Large image
sets: ``python3 -m demosaic.evaluate --help`` (Dask).
"""

from ._core import FRAME_WIDTH, MINIMUM_SIDE, __version__, measure, reconstruct, sample_mosaic

__all__ = [
    "FRAME_WIDTH",
    "MINIMUM_SIDE",
    "__version__",
    "measure",
    "reconstruct",
    "sample_mosaic",
]
