// Tests of the bundled charts: the camera chart holds no detail a Bayer
// sensor cannot sample and gives the method figures of the order of those on
// photographs, well above the baselines; the stress chart is as hard as its
// name says.
#include "chart.h"

#include <gtest/gtest.h>

#include <cmath>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "evaluation/image_evaluation.h"

namespace demosaic {
namespace {

// The share of a channel's spectral energy (mean removed, Hann window
// against the edges' leakage) at spatial frequencies above `cutoff` cycles
// per pixel, over the three channels.
double EnergyAbove(const cv::Mat& image, double cutoff) {
  cv::Mat window;
  cv::createHanningWindow(window, image.size(), CV_64F);
  std::vector<cv::Mat> channels;
  cv::split(image, channels);
  double above = 0.0;
  double total = 0.0;
  for (cv::Mat& channel : channels) {
    cv::Mat values;
    channel.convertTo(values, CV_64F);
    values -= cv::mean(values)[0];
    values = values.mul(window);
    cv::Mat spectrum;
    cv::dft(values, spectrum, cv::DFT_COMPLEX_OUTPUT);
    for (int r = 0; r < spectrum.rows; ++r) {
      const double fy =
          static_cast<double>(r <= spectrum.rows / 2 ? r : r - spectrum.rows) / spectrum.rows;
      for (int c = 0; c < spectrum.cols; ++c) {
        const double fx =
            static_cast<double>(c <= spectrum.cols / 2 ? c : c - spectrum.cols) / spectrum.cols;
        const cv::Vec2d z = spectrum.at<cv::Vec2d>(r, c);
        const double energy = z[0] * z[0] + z[1] * z[1];
        total += energy;
        if (std::hypot(fx, fy) > cutoff) above += energy;
      }
    }
  }
  return above / total;
}

// The chart through the evaluation every front end calls, from its PNG
// bytes, with every method.
std::vector<MethodOutcome> Evaluate(const cv::Mat& chart) {
  std::vector<unsigned char> png;
  EXPECT_TRUE(cv::imencode(".png", chart, png));
  const ImageOutcome outcome = EvaluateReference({"chart.png", png, "chart.png"}, EvaluationRequest{}, {});
  EXPECT_TRUE(outcome.status.ok());
  return outcome.methods;
}

TEST(CameraChart, SameSizeAndPixelsEveryTime) {
  const cv::Mat chart = DrawCameraChart();
  EXPECT_EQ(chart.cols, 768);
  EXPECT_EQ(chart.rows, 512);
  EXPECT_EQ(chart.type(), CV_8UC3);
  EXPECT_EQ(cv::norm(chart, DrawCameraChart(), cv::NORM_INF), 0.0);
}

// What a lens passes: almost no energy near the sampling limit. The stress
// chart, drawn pixel by pixel, has plenty there: the measure tells them apart.
TEST(CameraChart, BandLimitedUnlikeTheStressChart) {
  const double camera = EnergyAbove(DrawCameraChart(), 0.4);
  const double stress = EnergyAbove(DrawStressChart(), 0.4);
  RecordProperty("camera_energy_above_0_4", std::to_string(camera));
  RecordProperty("stress_energy_above_0_4", std::to_string(stress));
  EXPECT_LT(camera, 1e-3) << "stress chart: " << stress;
  EXPECT_GT(stress, 1e-2) << "camera chart: " << camera;
}

// The demo's promise: on a scene a camera could see, the method scores in
// the range it reaches on photographs and well above both baselines.
TEST(CameraChart, MethodInThePhotographRangeAndWellAboveBothBaselines) {
  const std::vector<MethodOutcome> outcomes = Evaluate(DrawCameraChart());
  ASSERT_EQ(outcomes.size(), 3u);
  const double method = outcomes[0].figures.psnr.cpsnr;
  EXPECT_GT(method, 34.0);
  EXPECT_LT(method, 45.0);
  EXPECT_GT(method, outcomes[1].figures.psnr.cpsnr + 4.0) << "bilinear";
  EXPECT_GT(method, outcomes[2].figures.psnr.cpsnr + 4.0) << "edge-aware";
}

TEST(StressChart, EveryMethodFarBelowItsPhotographFigures) {
  for (const MethodOutcome& outcome : Evaluate(DrawStressChart())) {
    EXPECT_LT(outcome.figures.psnr.cpsnr, 20.0);
  }
}

}  // namespace
}  // namespace demosaic
