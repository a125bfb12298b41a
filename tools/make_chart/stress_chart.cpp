// The stress chart: 768 x 512, a hard case for demosaicing in
// four panels: a colour zone plate (aliasing), saturated colour bars with sharp edges (colour
// fringes), fine line patterns near the sampling limit (zipper artefacts) and smooth gradients
// (false detail in flat areas).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <opencv2/core.hpp>

#include "chart.h"

namespace demosaic {
namespace {

constexpr int kWidth = 768;
constexpr int kHeight = 512;
constexpr int kPanelW = kWidth / 2;
constexpr int kPanelH = kHeight / 2;

std::uint8_t ToByte(double v) {
  return static_cast<std::uint8_t>(std::lround(std::fmin(255.0, std::fmax(0.0, v))));
}

void SetPixel(cv::Mat& image, int r, int c, double red, double green, double blue) {
  cv::Vec3b& px = image.at<cv::Vec3b>(r, c);
  px[0] = ToByte(blue);
  px[1] = ToByte(green);
  px[2] = ToByte(red);
}

// Concentric rings whose frequency grows with the radius, each channel phase
// shifted, so that every frequency and orientation up to Nyquist appears.
void DrawZonePlate(cv::Mat& image, int top, int left) {
  const double k = std::numbers::pi / (2.0 * kPanelH);
  for (int r = 0; r < kPanelH; ++r) {
    for (int c = 0; c < kPanelW; ++c) {
      const double y = r - kPanelH / 2.0;
      const double x = c - kPanelW / 2.0;
      const double phase = k * (x * x + y * y);
      SetPixel(image, top + r, left + c, 127.5 + 127.5 * std::cos(phase),
               127.5 + 127.5 * std::cos(phase + 2.0 * std::numbers::pi / 3.0),
               127.5 + 127.5 * std::cos(phase + 4.0 * std::numbers::pi / 3.0));
    }
  }
}

// Eight saturated bars with hard vertical edges, over a strip of the same
// bars with horizontal edges.
void DrawColourBars(cv::Mat& image, int top, int left) {
  static constexpr int kBars[8][3] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                                      {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};
  // The strip's bars are kPanelH / 3 / 8 rows high; the panel's last row
  // (the strip has one more than 8 of them) stays in the eighth bar.
  constexpr int kStripTop = kPanelH * 2 / 3;
  for (int r = 0; r < kPanelH; ++r) {
    for (int c = 0; c < kPanelW; ++c) {
      const int bar =
          r < kStripTop ? c * 8 / kPanelW : std::min(7, (r - kStripTop) * 8 / (kPanelH / 3));
      SetPixel(image, top + r, left + c, kBars[bar][0], kBars[bar][1], kBars[bar][2]);
    }
  }
}

// Bands of one-, two- and three-pixel lines, horizontal, vertical and
// diagonal, in complementary colours.
void DrawLinePatterns(cv::Mat& image, int top, int left) {
  for (int r = 0; r < kPanelH; ++r) {
    for (int c = 0; c < kPanelW; ++c) {
      const int period = 1 + (c * 3 / kPanelW);  // 1, 2 or 3 pixels per line
      const int band = r * 3 / kPanelH;          // horizontal, vertical, diagonal
      const int coordinate = band == 0 ? r : (band == 1 ? c : r + c);
      const bool on = (coordinate / period) % 2 == 0;
      if (on) {
        SetPixel(image, top + r, left + c, 240, 220, 30);
      } else {
        SetPixel(image, top + r, left + c, 20, 40, 200);
      }
    }
  }
}

// Hue sweeping left to right, fading to white at the top and to black at
// the bottom.
void DrawGradients(cv::Mat& image, int top, int left) {
  for (int r = 0; r < kPanelH; ++r) {
    const double t = static_cast<double>(r) / (kPanelH - 1);
    for (int c = 0; c < kPanelW; ++c) {
      const double hue = 2.0 * std::numbers::pi * c / kPanelW;
      double rgb[3];
      for (int k = 0; k < 3; ++k) {
        rgb[k] = 127.5 + 127.5 * std::cos(hue - 2.0 * std::numbers::pi * k / 3.0);
      }
      for (double& v : rgb) v = t < 0.5 ? v + (255.0 - v) * (1.0 - 2.0 * t) : v * (2.0 - 2.0 * t);
      SetPixel(image, top + r, left + c, rgb[0], rgb[1], rgb[2]);
    }
  }
}

}  // namespace

cv::Mat DrawStressChart() {
  cv::Mat chart(kHeight, kWidth, CV_8UC3);
  DrawZonePlate(chart, 0, 0);
  DrawColourBars(chart, 0, kPanelW);
  DrawLinePatterns(chart, kPanelH, 0);
  DrawGradients(chart, kPanelH, kPanelW);
  return chart;
}

}  // namespace demosaic
