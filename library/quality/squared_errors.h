// Sums of squared channel errors, the basis of every PSNR figure: kept here
// so that measuring an image pair at once and measuring rows as a
// reconstruction produces them give the same figures.
#pragma once

#include <cstdint>

#include "demosaic/image.h"
#include "demosaic/quality.h"

namespace demosaic {

// Sums formed exactly: every term is an integer (at most 65025 for 8-bit
// samples, 65535^2 for 16-bit ones), and each row's sum is formed in integers
// and added as a whole, so the totals are exact in double while they stay
// below 2^53: for 8-bit samples far beyond any image size, for 16-bit ones
// for any image with MSE below 2^53 / pixels (beyond, the total is within a
// relative 1e-16 of the exact one).
struct SquaredErrors {
  double red = 0.0;
  double green = 0.0;
  double blue = 0.0;
};

// Adds the squared differences of columns [first_column, end_column) of one
// row pair, each row's pixels in its own channel order.
void AddRowSquaredErrors(const std::uint8_t* reference_row, ChannelOrder reference_order,
                         const std::uint8_t* reconstruction_row, ChannelOrder reconstruction_order,
                         std::int32_t first_column, std::int32_t end_column, SquaredErrors& sums);
void AddRowSquaredErrors(const std::uint16_t* reference_row, ChannelOrder reference_order,
                         const std::uint16_t* reconstruction_row, ChannelOrder reconstruction_order,
                         std::int32_t first_column, std::int32_t end_column, SquaredErrors& sums);

// The figures of sums over `columns` x `rows` pixels: MSE = sum / columns /
// rows, PSNR = 10 log10(W^2 / MSE) for the white level W (255 for 8-bit
// samples); CPSNR from the mean of the three sums.
QualityFigures FiguresFromSquaredErrors(const SquaredErrors& sums, std::int64_t columns,
                                        std::int64_t rows, std::int32_t white_level = 255);

}  // namespace demosaic
