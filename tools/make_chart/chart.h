// The bundled colour test chart, drawn in code so that no image of other
// origin ships with the project.
#pragma once

#include <opencv2/core/mat.hpp>

namespace demosaic {

// 768 x 512, 8-bit B, G, R: a colour zone plate, saturated colour bars, fine
// line patterns and smooth gradients, one per quarter.
cv::Mat DrawTestChart();

}  // namespace demosaic
