// PNG files of the common kind decoded with libdeflate, which inflates about
// twice as fast as the zlib behind OpenCV's PNG codec, and written with a
// deflater made for filtered rows (run_deflate.h), about three times as fast
// as zlib's fastest level. Everything else, and every file with anything
// unusual about it, is left to OpenCV.
#pragma once

#include <cstddef>
#include <memory>
#include <opencv2/core/mat.hpp>
#include <vector>

namespace demosaic {

// Decodes `bytes` when they are a PNG of 8-bit RGB samples, not interlaced,
// into 8-bit B, G, R with contiguous rows: the pixels OpenCV's colour
// decoding gives for the same bytes. Returns an empty
// image, with `bytes` as they were, for every other file and every other kind
// of PNG, and for any irregularity OpenCV might treat in its own way: a CRC
// that does not match, a critical chunk other than IHDR, IDAT and IEND, an
// eXIf chunk (OpenCV turns the image by its orientation), IDAT chunks apart,
// no IEND, a side over 1,000,000 or over 2^30 pixels, over 2^18 IDAT chunks, a zlib stream that
// does not inflate to exactly the image's rows or does not use all of the IDAT data, or an unknown
// filter. The caller then decodes with OpenCV. While decoding, the IDAT chunks' data is moved
// together within `bytes`, and moved back before an empty image is returned; so nothing but the
// image is allocated, with at least one byte a row to spare after its last row (see
// EncodePngInItsPlace). The image is advised huge pages. Throws std::bad_alloc when it cannot be
// allocated.
cv::Mat DecodeCommonPng(std::vector<unsigned char>& bytes);

// A file encoded in memory: `size` bytes at `bytes`.
struct EncodedFile {
  std::unique_ptr<unsigned char[]> bytes;
  std::size_t size = 0;
};

// A PNG of `image` (8-bit B, G, R): colour type 2, 8 bits, not interlaced,
// every row filtered by its left neighbour (Sub), one zlib stream from
// DeflateImageRows, in IDAT chunks of at most 1 MiB; any PNG decoder reads
// back exactly the image's pixels. The rows are filtered where the image is,
// so that no copy of it is made: the image's pixels are unspecified
// afterwards. Requires a continuous image with room for one byte a row after
// its last row (DecodeCommonPng's images have it). Returns an empty result,
// with the image unchanged, for any other image. Throws std::bad_alloc when
// memory for the file runs out, with the image's pixels unspecified.
EncodedFile EncodePngInItsPlace(cv::Mat& image);

// The same PNG of an image that stays as it is: made from a copy of it, so
// that it needs memory for the image once more besides the file. Empty for
// an image that is not 8-bit B, G, R.
EncodedFile EncodePng(const cv::Mat& image);

}  // namespace demosaic
