// The camera chart: a 768 x 512 scene of the kind a lens delivers to a Bayer
// sensor. Everything is drawn at four times the resolution, in linear light,
// then blurred and averaged down, as a lens and an optical low-pass filter
// would: no pattern carries detail the sensor cannot sample, and every edge
// is anti-aliased. Panels: rotated squares (slanted edges at six angles),
// 24 colour patches, a zone plate limited to the usable band, gradients and
// lines of small coloured text.
#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>

#include "chart.h"

namespace demosaic {
namespace {

constexpr int kWidth = 768;
constexpr int kHeight = 512;
// Samples per output pixel along each axis while drawing.
constexpr int kScale = 4;
// The Gaussian part of the optics' blur, in output pixels; with the pixel's
// own area it leaves about 20 % contrast at the sampling limit and 65 % at
// half of it, as a camera with an optical low-pass filter does.
constexpr double kBlurSigma = 0.5;
// The zone plate stops at this frequency, in cycles per pixel: the red and
// blue sites of a Bayer tile sample up to 0.25 and green up to 0.5.
constexpr double kZonePlateMaximum = 0.3;

using Rgb = std::array<double, 3>;

// sRGB value (0..255) to linear light (0..1) and back.
double ToLinear(double value) {
  const double v = value / 255.0;
  return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}
double FromLinear(double linear) {
  const double v = std::clamp(linear, 0.0, 1.0);
  return 255.0 * (v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055);
}

// An OpenCV colour (B, G, R order, linear light) from an sRGB triple.
cv::Scalar Linear(const Rgb& rgb) {
  return cv::Scalar(ToLinear(rgb[2]), ToLinear(rgb[1]), ToLinear(rgb[0]));
}

// The high-resolution canvas area covering output pixels [x, x + w) x [y, y + h).
cv::Rect Area(int x, int y, int w, int h) {
  return cv::Rect(x * kScale, y * kScale, w * kScale, h * kScale);
}

// Six squares, each rotated by its own angle, light on dark or dark on
// light, some of them coloured: edges at 4 to 45 degrees and their right
// angles, the slanted edges of lens-sharpness charts.
void DrawSlantedEdges(cv::Mat& canvas, int left, int top) {
  struct Tile {
    double degrees;
    Rgb background;
    Rgb square;
  };
  static constexpr Tile kTiles[] = {
      {4.0, {200, 200, 200}, {45, 45, 45}},   {11.0, {40, 40, 40}, {215, 215, 210}},
      {22.0, {205, 190, 160}, {60, 80, 120}}, {30.0, {70, 90, 60}, {225, 200, 120}},
      {38.0, {180, 200, 215}, {150, 60, 55}}, {45.0, {90, 60, 90}, {190, 210, 170}},
  };
  constexpr int kTileSide = 128;
  constexpr double kSquareSide = 76.0;
  for (int k = 0; k < 6; ++k) {
    const int x = left + (k % 3) * kTileSide;
    const int y = top + (k / 3) * kTileSide;
    canvas(Area(x, y, kTileSide, kTileSide)).setTo(Linear(kTiles[k].background));
    const cv::RotatedRect square(cv::Point2f(static_cast<float>((x + kTileSide / 2.0) * kScale),
                                             static_cast<float>((y + kTileSide / 2.0) * kScale)),
                                 cv::Size2f(static_cast<float>(kSquareSide * kScale),
                                            static_cast<float>(kSquareSide * kScale)),
                                 static_cast<float>(kTiles[k].degrees));
    cv::Point2f corners[4];
    square.points(corners);
    cv::Point polygon[4];
    for (int i = 0; i < 4; ++i)
      polygon[i] = cv::Point(cvRound(corners[i].x), cvRound(corners[i].y));
    cv::fillConvexPoly(canvas, polygon, 4, Linear(kTiles[k].square), cv::LINE_8);
  }
}

// A 6 x 4 grid of patches in the colours of the common 24-patch colour
// checker (approximate sRGB values), on a dark surround.
void DrawColourPatches(cv::Mat& canvas, int left, int top) {
  static constexpr Rgb kPatches[24] = {
      {115, 82, 68},   {194, 150, 130}, {98, 122, 157}, {87, 108, 67},   {133, 128, 177},
      {103, 189, 170}, {214, 126, 44},  {80, 91, 166},  {193, 90, 99},   {94, 60, 108},
      {157, 188, 64},  {224, 163, 46},  {56, 61, 150},  {70, 148, 73},   {175, 54, 60},
      {231, 199, 31},  {187, 86, 149},  {8, 133, 161},  {243, 243, 242}, {200, 200, 200},
      {160, 160, 160}, {122, 122, 121}, {85, 85, 85},   {52, 52, 52}};
  canvas(Area(left, top, 384, 256)).setTo(Linear({28, 28, 28}));
  constexpr int kPitchX = 62;
  constexpr int kPitchY = 62;
  constexpr int kGap = 10;
  for (int k = 0; k < 24; ++k) {
    const int x = left + 11 + (k % 6) * kPitchX;
    const int y = top + 7 + (k / 6) * kPitchY;
    canvas(Area(x, y, kPitchX - kGap, kPitchY - kGap)).setTo(Linear(kPatches[k]));
  }
}

// Concentric rings whose frequency grows from 0 at the centre to
// kZonePlateMaximum at the rim, fading out over the outer fifth so that the
// pattern ends without an edge; neutral grey around it.
void DrawZonePlate(cv::Mat& canvas, int left, int top, int side) {
  const double radius = side / 2.0;
  for (int r = 0; r < side * kScale; ++r) {
    cv::Vec3f* row = canvas.ptr<cv::Vec3f>(top * kScale + r) + left * kScale;
    const double y = (r + 0.5) / kScale - radius;
    for (int c = 0; c < side * kScale; ++c) {
      const double x = (c + 0.5) / kScale - radius;
      const double distance = std::hypot(x, y);
      // Local frequency kZonePlateMaximum * distance / radius: the phase is
      // its integral over the distance, times 2 pi.
      const double phase = std::numbers::pi * kZonePlateMaximum * distance * distance / radius;
      const double fade = std::clamp((radius - distance) / (0.2 * radius), 0.0, 1.0);
      const double weight = fade * fade * (3.0 - 2.0 * fade);
      const double value = 128.0 + 100.0 * weight * std::cos(phase);
      row[c] = cv::Vec3f(static_cast<float>(ToLinear(value)), static_cast<float>(ToLinear(value)),
                         static_cast<float>(ToLinear(value * 0.96 + 6.0)));
    }
  }
}

// Three smooth bands: a hue sweep at moderate saturation, a grey ramp from
// black to white, and a warm-to-cool sweep of the kind skies and skin give.
void DrawGradients(cv::Mat& canvas, int left, int top, int width) {
  for (int r = 0; r < 128 * kScale; ++r) {
    cv::Vec3f* row = canvas.ptr<cv::Vec3f>(top * kScale + r) + left * kScale;
    const int band = r / (kScale * 128 / 3 + 1);
    for (int c = 0; c < width * kScale; ++c) {
      const double t = (c + 0.5) / (width * kScale);
      Rgb rgb;
      if (band == 0) {
        for (int k = 0; k < 3; ++k) {
          rgb[k] = 140.0 + 70.0 * std::cos(2.0 * std::numbers::pi * (t - k / 3.0));
        }
      } else if (band == 1) {
        rgb = {255.0 * t, 255.0 * t, 255.0 * t};
      } else {
        rgb = {225.0 - 140.0 * t, 170.0 - 20.0 * t, 130.0 + 90.0 * t};
      }
      row[c] = cv::Vec3f(static_cast<float>(ToLinear(rgb[2])), static_cast<float>(ToLinear(rgb[1])),
                         static_cast<float>(ToLinear(rgb[0])));
    }
  }
}

// Lines of small text in several colours on light and dark grounds, capitals
// 10 down to 7 pixels high: fine detail with colour, like print,
// signs and foliage in a photograph.
void DrawText(cv::Mat& canvas, int left, int top, int width) {
  struct Line {
    double height;  // of a capital, in output pixels
    Rgb ground;
    Rgb ink;
  };
  static constexpr Line kLines[] = {
      {10.0, {236, 232, 220}, {40, 40, 40}}, {9.0, {236, 232, 220}, {150, 40, 40}},
      {8.0, {236, 232, 220}, {30, 70, 140}}, {7.0, {236, 232, 220}, {40, 110, 50}},
      {10.0, {45, 45, 50}, {235, 225, 180}}, {9.0, {45, 45, 50}, {230, 190, 60}},
      {8.0, {45, 45, 50}, {120, 200, 220}},  {7.0, {45, 45, 50}, {220, 140, 150}},
  };
  static const std::string kText =
      "Sphinx of black quartz, judge my vow 0123456789 THE QUICK BROWN FOX JUMPS";
  const int line_height = 128 / 8;
  for (int k = 0; k < 8; ++k) {
    const int y = top + k * line_height;
    canvas(Area(left, y, width, line_height)).setTo(Linear(kLines[k].ground));
    // A Hershey capital is about 22 font units high at scale 1.
    const double scale = kLines[k].height * kScale / 22.0;
    const int thickness =
        std::max(1, static_cast<int>(std::lround(kLines[k].height * kScale / 9.0)));
    // As many words of the text as fit the panel, so that no line is cut.
    std::string text = kText;
    int baseline = 0;
    while (cv::getTextSize(text, cv::FONT_HERSHEY_SIMPLEX, scale, thickness, &baseline).width >
           (width - 8) * kScale) {
      text.erase(text.find_last_of(' '));
    }
    const cv::Point origin((left + 4) * kScale,
                           static_cast<int>((y + (line_height + kLines[k].height) / 2.0) * kScale));
    cv::putText(canvas, text, origin, cv::FONT_HERSHEY_SIMPLEX, scale, Linear(kLines[k].ink),
                thickness, cv::LINE_AA);
  }
}

}  // namespace

cv::Mat DrawCameraChart() {
  cv::Mat canvas(kHeight * kScale, kWidth * kScale, CV_32FC3, Linear({128, 128, 128}));
  DrawSlantedEdges(canvas, 0, 0);
  DrawColourPatches(canvas, 384, 0);
  DrawZonePlate(canvas, 0, 256, 256);
  DrawGradients(canvas, 256, 256, 512);
  DrawText(canvas, 256, 384, 512);

  // The optics: a Gaussian blur, then each output pixel the mean of the
  // light that falls on it.
  cv::GaussianBlur(canvas, canvas, cv::Size(), kBlurSigma * kScale, kBlurSigma * kScale,
                   cv::BORDER_REFLECT);
  cv::Mat linear;
  cv::resize(canvas, linear, cv::Size(kWidth, kHeight), 0, 0, cv::INTER_AREA);

  cv::Mat chart(kHeight, kWidth, CV_8UC3);
  for (int r = 0; r < kHeight; ++r) {
    const cv::Vec3f* in = linear.ptr<cv::Vec3f>(r);
    cv::Vec3b* out = chart.ptr<cv::Vec3b>(r);
    for (int c = 0; c < kWidth; ++c) {
      for (int k = 0; k < 3; ++k) {
        out[c][k] = static_cast<std::uint8_t>(std::lround(FromLinear(in[c][k])));
      }
    }
  }
  return chart;
}

}  // namespace demosaic
