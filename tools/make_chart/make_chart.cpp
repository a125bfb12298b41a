// make-chart [--stress] OUTPUT [WIDTH HEIGHT]: writes the camera chart (or,
// with --stress, the stress chart), scaled to WIDTH x HEIGHT when given (for
// memory and speed measurements on large images).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "chart.h"

int main(int argc, char** argv) {
  const bool stress = argc > 1 && std::strcmp(argv[1], "--stress") == 0;
  char** arguments = argv + (stress ? 2 : 1);
  const int count = argc - (stress ? 2 : 1);
  const bool help =
      argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0);
  if (help || (count != 1 && count != 3)) {
    std::fputs(
        "usage: make-chart [--stress] OUTPUT [WIDTH HEIGHT]\n"
        "Writes the camera chart (band-limited, as a lens delivers a scene to a sensor) or,\n"
        "with --stress, the stress chart (detail up to the sampling limit).\n",
        help ? stdout : stderr);
    return help ? 0 : 2;
  }
  cv::Mat chart = stress ? demosaic::DrawStressChart() : demosaic::DrawCameraChart();
  if (count == 3) {
    const int width = std::atoi(arguments[1]);
    const int height = std::atoi(arguments[2]);
    if (width < 1 || height < 1) {
      std::fputs("make-chart: WIDTH and HEIGHT must be positive\n", stderr);
      return 2;
    }
    cv::resize(chart, chart, cv::Size(width, height), 0, 0, cv::INTER_CUBIC);
  }
  // OpenCV throws for a name without a known image extension.
  bool written = false;
  try {
    written = cv::imwrite(arguments[0], chart);
  } catch (const cv::Exception&) {
    written = false;
  }
  if (!written) {
    std::fprintf(stderr, "make-chart: cannot write %s (a .png, .ppm, .tif or other image name)\n",
                 arguments[0]);
    return 1;
  }
  return 0;
}
