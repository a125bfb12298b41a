// The paired comparisons' text and the JSON summary.
#include "report/run_summary.h"

#include <cmath>
#include <cstdio>
#include <optional>

#include "demosaic/version.h"

namespace demosaic {
namespace {

std::string Pad(const std::string& text, std::size_t width, bool right) {
  const std::string fill(width > text.size() ? width - text.size() : 0, ' ');
  return right ? fill + text : text + fill;
}

std::string Decimals(double value, int decimals, bool sign) {
  if (std::isnan(value)) return "-";
  char text[48];
  std::snprintf(text, sizeof text, sign ? "%+.*f" : "%.*f", decimals, value);
  return text;
}

std::string JsonNumber(double value) {
  return std::isfinite(value) ? FullPrecision(value) : "null";
}

std::string JsonList(const std::vector<std::string>& items) {
  std::string text = "[";
  for (std::size_t k = 0; k < items.size(); ++k)
    text += (k == 0 ? "" : ", ") + JsonString(items[k]);
  return text + "]";
}

std::string NoiseJson(const std::string& noise) {
  return noise == "none" ? "null" : JsonString(noise);
}

std::string MetricNames(const MetricSet& metrics) {
  std::vector<std::string> names;
  if (metrics.psnr) names.emplace_back("psnr");
  if (metrics.ssim) names.emplace_back("ssim");
  if (metrics.de2000) names.emplace_back("de2000");
  if (metrics.zipper) names.emplace_back("zipper");
  return JsonList(names);
}

std::string OptionsJson(const RunPlan& plan) {
  const RunOptions& options = plan.options;
  std::vector<std::string> methods;
  for (const Method method : options.methods) methods.emplace_back(MethodName(method));
  std::string compared = "{";
  for (std::size_t k = 0; k < options.compared.size(); ++k) {
    compared += (k == 0 ? "" : ", ") + JsonString(options.compared[k].name) + ": " +
                JsonString(options.compared[k].directory.string());
  }
  compared += "}";
  return "{\"paths\": " + JsonList(options.paths) +
         ", \"pattern\": " + JsonString(std::string(PatternName(options.pattern))) +
         ", \"border\": " + std::to_string(options.border) +
         ", \"metrics\": " + MetricNames(options.metrics) + ", \"methods\": " + JsonList(methods) +
         ", \"compare\": " + compared + ", \"noise\": " + JsonList(plan.layout.noise) +
         ", \"seed\": " + std::to_string(options.seed) +
         ", \"bootstrap_resamples\": " + std::to_string(kBootstrapResamples) +
         ", \"depth\": " + JsonString(options.depth == SampleDepth::kNative ? "native" : "8") +
         ", \"white_level\": " +
         (options.white_level != 0 ? std::to_string(options.white_level) : std::string("null")) +
         ", \"space\": " + JsonString(std::string(SpaceName(options.space))) + "}";
}

// {NAME: {FIGURE: mean, ...}, ...} over one level's images.
std::string MeansJson(const TableLayout& layout, const std::vector<ImageResult>& images) {
  std::vector<std::optional<MethodFigures>> means(layout.methods.size());
  if (!images.empty()) means = MeanFigures(images);
  std::string text = "{";
  for (std::size_t m = 0; m < layout.methods.size(); ++m) {
    text += (m == 0 ? "" : ", ") + JsonString(layout.methods[m].name) + ": {";
    for (std::size_t f = 0; f < layout.csv_figures.size(); ++f) {
      const Figure figure = layout.csv_figures[f];
      text += (f == 0 ? "" : ", ") + JsonString(std::string(FigureName(figure))) + ": " +
              (means[m] ? JsonNumber(FigureValue(*means[m], figure)) : "null");
    }
    text += "}";
  }
  return text + "}";
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string quoted = "\"";
  for (const char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    if (ch == '"' || ch == '\\') {
      quoted += '\\';
      quoted += ch;
    } else if (byte < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", byte);
      quoted += escape;
    } else {
      quoted += ch;
    }
  }
  return quoted + "\"";
}

std::string FormatPairedComparisons(const std::vector<PairedComparison>& comparisons,
                                    const TableLayout& layout, std::uint64_t seed) {
  if (comparisons.empty()) return "";
  std::string text = "\npaired comparison with " + comparisons.front().against +
                     " (difference > 0: better than " + comparisons.front().against +
                     "; mean of the per-image differences, its 95 % paired-bootstrap interval "
                     "over " +
                     std::to_string(kBootstrapResamples) + " resamples, seed " +
                     std::to_string(seed) + "; wins, ties and losses per image)\n";
  std::size_t method_width = 6;
  for (const PairedComparison& c : comparisons)
    method_width = std::max(method_width, c.method.size());
  std::size_t noise_width = 5;
  for (const std::string& noise : layout.noise) noise_width = std::max(noise_width, noise.size());
  const bool noise = ShowsNoise(layout);
  text += (noise ? Pad("noise", noise_width, false) + "  " : "") +
          Pad("method", method_width, false) +
          "  figure      mean   ci95 low  ci95 high  wins  ties  losses\n";
  for (const PairedComparison& c : comparisons) {
    const int decimals = FigureDecimals(c.figure) + 1;
    text += (noise ? Pad(c.noise, noise_width, false) + "  " : "") +
            Pad(c.method, method_width, false) + "  " +
            Pad(std::string(FigureName(c.figure)), 7, false) +
            Pad(Decimals(c.mean_difference, decimals, true), 9, true) +
            Pad(Decimals(c.ci95.low, decimals, true), 11, true) +
            Pad(Decimals(c.ci95.high, decimals, true), 11, true) +
            Pad(std::to_string(c.wins), 6, true) + Pad(std::to_string(c.ties), 6, true) +
            Pad(std::to_string(c.losses), 8, true) + "\n";
  }
  return text;
}

std::string SummaryJson(const RunPlan& plan, const std::vector<std::vector<ImageResult>>& levels,
                        const std::vector<SummaryReference>& references,
                        const std::vector<PairedComparison>& comparisons) {
  const TableLayout& layout = plan.layout;
  std::string text =
      "{\n  \"program\": " + JsonString(plan.options.program) +
      ",\n  \"version\": " + JsonString(Version()) + ",\n  \"options\": " + OptionsJson(plan) +
      ",\n  \"images\": " + std::to_string(references.size()) + ",\n  \"references\": [";
  for (std::size_t k = 0; k < references.size(); ++k) {
    const SummaryReference& reference = references[k];
    text += std::string(k == 0 ? "\n" : ",\n") + "    {\"image\": " + JsonString(reference.image) +
            ", \"path\": " + JsonString(reference.path) +
            ", \"sha256\": " + (reference.sha256.empty() ? "null" : JsonString(reference.sha256)) +
            "}";
  }
  text += references.empty() ? "]" : "\n  ]";
  text += ",\n  \"methods\": " + MeansJson(layout, levels.front()) + ",\n  \"levels\": [";
  for (std::size_t level = 0; level < levels.size(); ++level) {
    text += std::string(level == 0 ? "\n" : ",\n") +
            "    {\"noise\": " + NoiseJson(layout.noise[level]) +
            ", \"methods\": " + MeansJson(layout, levels[level]) + "}";
  }
  text += "\n  ],\n  \"comparisons\": [";
  for (std::size_t k = 0; k < comparisons.size(); ++k) {
    const PairedComparison& c = comparisons[k];
    text += std::string(k == 0 ? "\n" : ",\n") + "    {\"method\": " + JsonString(c.method) +
            ", \"against\": " + JsonString(c.against) +
            ", \"figure\": " + JsonString(std::string(FigureName(c.figure))) +
            ", \"noise\": " + NoiseJson(c.noise) + ", \"images\": " + std::to_string(c.images) +
            ", \"mean_difference\": " + JsonNumber(c.mean_difference) + ", \"ci95\": [" +
            JsonNumber(c.ci95.low) + ", " + JsonNumber(c.ci95.high) +
            "], \"wins\": " + std::to_string(c.wins) + ", \"ties\": " + std::to_string(c.ties) +
            ", \"losses\": " + std::to_string(c.losses) + "}";
  }
  text += comparisons.empty() ? "]\n}\n" : "\n  ]\n}\n";
  return text;
}

}  // namespace demosaic
