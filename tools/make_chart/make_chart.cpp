// make-chart OUTPUT [WIDTH HEIGHT]: writes the bundled colour test chart,
// scaled to WIDTH x HEIGHT when given (for memory and speed measurements on
// large images).
#include <cstdio>
#include <cstdlib>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "chart.h"

int main(int argc, char** argv) {
  if (argc != 2 && argc != 4) {
    std::fputs("usage: make-chart OUTPUT [WIDTH HEIGHT]\n", stderr);
    return 2;
  }
  cv::Mat chart = demosaic::DrawTestChart();
  if (argc == 4) {
    const int width = std::atoi(argv[2]);
    const int height = std::atoi(argv[3]);
    if (width < 1 || height < 1) {
      std::fputs("make-chart: WIDTH and HEIGHT must be positive\n", stderr);
      return 2;
    }
    cv::resize(chart, chart, cv::Size(width, height), 0, 0, cv::INTER_CUBIC);
  }
  if (!cv::imwrite(argv[1], chart)) {
    std::fprintf(stderr, "make-chart: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
