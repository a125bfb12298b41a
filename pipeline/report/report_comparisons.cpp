// Drawing the paired comparisons of the HTML report.
#include "report/report_comparisons.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "report/report_chart.h"

namespace demosaic {
namespace {

constexpr double kWidth = 400.0;
constexpr double kLabelWidth = 150.0;
constexpr double kRightMargin = 16.0;
constexpr double kTop = 10.0;
constexpr double kRowHeight = 22.0;
constexpr double kAxisHeight = 34.0;

std::string Number(double value, int decimals, bool sign) {
  if (std::isnan(value)) return "-";
  char text[64];
  std::snprintf(text, sizeof text, sign ? "%+.*f" : "%.*f", decimals, value);
  return text;
}

std::string RowLabel(const PairedComparison& comparison, bool show_noise) {
  return show_noise ? comparison.noise + " \u00b7 " + comparison.method : comparison.method;
}

}  // namespace

std::string RenderIntervalChart(const FigureColumn& column,
                                const std::vector<PairedComparison>& comparisons, bool show_noise) {
  // The axis spans every finite interval and zero, with a little room.
  double low = 0.0;
  double high = 0.0;
  for (const PairedComparison& c : comparisons) {
    if (!std::isfinite(c.ci95.low) || !std::isfinite(c.ci95.high)) continue;
    low = std::min(low, c.ci95.low);
    high = std::max(high, c.ci95.high);
  }
  if (high - low <= 0.0) high = low + 1.0;
  const double pad = (high - low) * 0.05;
  low -= pad;
  high += pad;
  const double plot = kWidth - kLabelWidth - kRightMargin;
  const auto x = [&](double value) { return kLabelWidth + (value - low) / (high - low) * plot; };
  const double height = kTop + kRowHeight * static_cast<double>(comparisons.size()) + kAxisHeight;
  const int decimals = column.decimals + 1;
  std::string svg =
      "<svg class=\"interval-plot\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " +
      Number(kWidth, 0, false) + " " + Number(height, 0, false) + "\" role=\"img\" aria-label=\"" +
      EscapeHtml("difference from " +
                 (comparisons.empty() ? std::string() : comparisons[0].against) + " in " +
                 column.name) +
      "\">\n";
  const double bottom = kTop + kRowHeight * static_cast<double>(comparisons.size());
  svg += "<line class=\"zero\" x1=\"" + Number(x(0.0), 1, false) + "\" y1=\"" +
         Number(kTop - 4, 1, false) + "\" x2=\"" + Number(x(0.0), 1, false) + "\" y2=\"" +
         Number(bottom, 1, false) + "\" stroke=\"#888\" stroke-dasharray=\"3 3\"/>\n";
  for (std::size_t k = 0; k < comparisons.size(); ++k) {
    const PairedComparison& c = comparisons[k];
    const double y = kTop + kRowHeight * (static_cast<double>(k) + 0.5);
    svg += "<text x=\"" + Number(kLabelWidth - 6, 1, false) + "\" y=\"" + Number(y + 4, 1, false) +
           "\" text-anchor=\"end\" font-size=\"11\">" + EscapeHtml(RowLabel(c, show_noise)) +
           "</text>\n";
    if (!std::isfinite(c.mean_difference)) continue;
    svg += "<line x1=\"" + Number(x(c.ci95.low), 1, false) + "\" y1=\"" + Number(y, 1, false) +
           "\" x2=\"" + Number(x(c.ci95.high), 1, false) + "\" y2=\"" + Number(y, 1, false) +
           "\" stroke=\"#1f5fa8\" stroke-width=\"3\"/>\n";
    svg += "<circle cx=\"" + Number(x(c.mean_difference), 1, false) + "\" cy=\"" +
           Number(y, 1, false) + "\" r=\"4\" fill=\"#d1495b\"><title>" +
           EscapeHtml(RowLabel(c, show_noise) + ": " + Number(c.mean_difference, decimals, true) +
                      " [" + Number(c.ci95.low, decimals, true) + ", " +
                      Number(c.ci95.high, decimals, true) + "]") +
           "</title></circle>\n";
  }
  // The axis: its ends and zero.
  const double axis = bottom + 6;
  svg += "<line x1=\"" + Number(kLabelWidth, 1, false) + "\" y1=\"" + Number(axis, 1, false) +
         "\" x2=\"" + Number(kLabelWidth + plot, 1, false) + "\" y2=\"" + Number(axis, 1, false) +
         "\" stroke=\"#444\"/>\n";
  // Zero, and each end of the axis unless it would crowd zero's label.
  for (const double tick : {low, 0.0, high}) {
    if (tick != 0.0 && std::fabs(x(tick) - x(0.0)) < 48.0) continue;
    svg += "<text x=\"" + Number(x(tick), 1, false) + "\" y=\"" + Number(axis + 14, 1, false) +
           "\" text-anchor=\"middle\" font-size=\"10\">" +
           (tick == 0.0 ? std::string("0") : Number(tick, decimals, true)) + "</text>\n";
  }
  svg += "<text x=\"" + Number(kLabelWidth + plot / 2, 1, false) + "\" y=\"" +
         Number(axis + 27, 1, false) + "\" text-anchor=\"middle\" font-size=\"10\">" +
         EscapeHtml(column.name + (column.unit.empty() ? "" : " (" + column.unit + ")") +
                    ", difference: > 0 is better") +
         "</text>\n";
  return svg + "</svg>\n";
}

std::string ComparisonSection(const std::vector<FigureColumn>& columns,
                              const std::vector<PairedComparison>& comparisons, bool show_noise,
                              std::uint64_t seed) {
  if (comparisons.empty()) return "";
  const std::string against = EscapeHtml(comparisons.front().against);
  std::string html =
      "<section id=\"comparisons\">\n<h2>Paired comparisons with " + against +
      "</h2>\n<p class=\"note\">For each image, the difference of each method's figure from " +
      against +
      "'s, signed so that above 0 is better (for DE2000 and zipper, lower figures); the dot is "
      "the mean difference, the bar its 95 % paired-bootstrap percentile interval (" +
      std::to_string(kBootstrapResamples) + " resamples over the images, seed " +
      std::to_string(seed) + ").</p>\n";
  for (const FigureColumn& column : columns) {
    std::vector<PairedComparison> rows;
    for (const PairedComparison& c : comparisons) {
      if (c.figure == column.figure) rows.push_back(c);
    }
    if (rows.empty()) continue;
    html += "<h3>" + EscapeHtml(column.name) + "</h3>\n<div class=\"interval-chart\">\n" +
            RenderIntervalChart(column, rows, show_noise) + "</div>\n";
    html += "<div class=\"table-scroll\"><table>\n<tr>" +
            std::string(show_noise ? "<th>noise</th>" : "") +
            "<th>method</th><th>mean</th><th>95 % interval</th><th>wins</th><th>ties</th>"
            "<th>losses</th></tr>\n";
    const int decimals = column.decimals + 1;
    for (const PairedComparison& c : rows) {
      html += "<tr>" + (show_noise ? "<td>" + EscapeHtml(c.noise) + "</td>" : std::string()) +
              "<td>" + EscapeHtml(c.method) + "</td><td>" +
              Number(c.mean_difference, decimals, true) + "</td><td>" +
              Number(c.ci95.low, decimals, true) + " to " + Number(c.ci95.high, decimals, true) +
              "</td><td>" + std::to_string(c.wins) + "</td><td>" + std::to_string(c.ties) +
              "</td><td>" + std::to_string(c.losses) + "</td></tr>\n";
    }
    html += "</table></div>\n";
  }
  return html + "</section>\n";
}

}  // namespace demosaic
