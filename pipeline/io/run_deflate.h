// A zlib stream made for filtered image rows, several times faster than
// general-purpose deflating: every byte is Huffman-coded, and a run of bytes
// each equal to the one three before it (after the Sub filter, a flat or
// evenly graded stretch of RGB pixels) becomes one back-reference. Nothing
// else is searched for, so pictures that repeat themselves at other distances
// compress less than with zlib's fastest level.
#pragma once

#include <cstddef>
#include <span>

namespace demosaic {

// The most bytes DeflateImageRows writes for `input_bytes` bytes of input:
// the input's size and a little more, whatever the bytes are.
std::size_t DeflateImageRowsBound(std::size_t input_bytes);

// Writes a zlib stream of `input` (deflate, 32 KiB window, Adler-32) to
// `out` and returns its length. Requires room for
// DeflateImageRowsBound(input.size()) bytes at `out`; never writes beyond
// it. Any zlib inflater gives back exactly `input`. Blocks of input that
// would not get smaller are stored as they are. Throws std::bad_alloc when
// its working memory (under 1 MiB) cannot be allocated.
std::size_t DeflateImageRows(std::span<const unsigned char> input, unsigned char* out);

}  // namespace demosaic
