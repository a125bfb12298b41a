// The bundled colour test charts, drawn in code so that no image of other
// origin ships with the project.
#pragma once

#include <opencv2/core/mat.hpp>

namespace demosaic {

// 768 x 512, 8-bit B, G, R: what a camera's lens could deliver to its sensor.
// Slanted edges at six angles, 24 colour patches, a zone plate up to 0.3
// cycles per pixel, gradients and small coloured text, all drawn at four
// times the resolution and low-pass filtered down, so that no pattern holds
// detail finer than a Bayer sensor samples. Demosaicing figures on it are of
// the order of those on photographs. Deterministic: the same pixels every
// call.
cv::Mat DrawCameraChart();

// 768 x 512, 8-bit B, G, R: the stress chart, one hard case per quarter: a
// colour zone plate up to the sampling limit, saturated colour bars with
// hard edges, one- to three-pixel line patterns and smooth gradients. Detail
// no lens would pass: every method scores far below its figures on
// photographs here.
cv::Mat DrawStressChart();

// The stress chart, under the name the speed benchmarks have always scaled
// up, so that their figures stay comparable from release to release.
inline cv::Mat DrawTestChart() {
  return DrawStressChart();
}

}  // namespace demosaic
