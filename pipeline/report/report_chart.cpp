// Drawing the report's dot chart as SVG text.
#include "report/report_chart.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>

#include "report/table.h"

namespace demosaic {
namespace {

// Layout in the SVG's own units, about pixels on a phone: the page scales
// the whole drawing to its width, up to about 1.4 times on a laptop.
constexpr double kWidth = 400.0;
constexpr double kLabelWidth = 118.0;  // image names on the left
constexpr double kRightMargin = 34.0;  // room for the "inf" column
constexpr double kTop = 10.0;
constexpr double kRowHeight = 20.0;
constexpr double kAxisHeight = 40.0;
constexpr std::size_t kLongestLabel = 16;

std::string Number(double value, int decimals) {
  return FixedDecimals(value, decimals);
}

// A tick step of 1, 2 or 5 times a power of ten giving at most about six
// ticks over `span`.
double TickStep(double span) {
  const double rough = span / 6.0;
  const double power = std::pow(10.0, std::floor(std::log10(rough)));
  for (const double factor : {1.0, 2.0, 5.0}) {
    if (factor * power >= rough) return factor * power;
  }
  return 10.0 * power;
}

// " dB" for a column in decibels, "" for a plain number.
std::string UnitSuffix(const FigureColumn& column) {
  std::string suffix;
  if (!column.unit.empty()) {
    suffix = " ";
    suffix += EscapeHtml(column.unit);
  }
  return suffix;
}

std::string Label(const std::string& name) {
  if (name.size() <= kLongestLabel) return name;
  // Cut at a character boundary of UTF-8: never inside a multi-byte one.
  std::size_t end = kLongestLabel - 1;
  while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
  return name.substr(0, end) + "\u2026";
}

}  // namespace

std::string_view MethodColour(std::size_t index) {
  // Okabe and Ito's palette for colour-blind readers, darkest yellow last.
  static constexpr std::array<std::string_view, 8> kColours = {
      "#0072b2", "#e69f00", "#009e73", "#cc79a7", "#56b4e9", "#d55e00", "#000000", "#c9b400"};
  return kColours[index % kColours.size()];
}

std::string EscapeHtml(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char ch : text) {
    switch (ch) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&#39;";
        break;
      default:
        escaped += ch;
    }
  }
  return escaped;
}

std::string RenderFigureChart(const FigureColumn& column, const std::vector<std::string>& names,
                              const std::vector<std::string>& methods,
                              const std::vector<std::vector<double>>& values,
                              const std::vector<double>& means) {
  std::vector<std::vector<double>> rows = values;
  rows.push_back(means);
  double low = std::numeric_limits<double>::infinity();
  double high = -low;
  for (const std::vector<double>& row : rows) {
    for (const double value : row) {
      if (!std::isfinite(value)) continue;
      low = std::min(low, value);
      high = std::max(high, value);
    }
  }
  if (!std::isfinite(low)) low = high = 0.0;
  const double step = TickStep(std::max(high - low, 1.0));
  const double axis_low = std::floor(low / step) * step;
  const double axis_high = std::max(std::ceil(high / step) * step, axis_low + step);
  const double plot_left = kLabelWidth;
  const double plot_right = kWidth - kRightMargin;
  auto x_of = [&](double value) {
    return plot_left + (value - axis_low) / (axis_high - axis_low) * (plot_right - plot_left);
  };
  const double inf_x = plot_right + kRightMargin / 2.0;
  const double rows_bottom = kTop + kRowHeight * (static_cast<double>(rows.size()) + 0.5);
  const double height = rows_bottom + kAxisHeight;

  std::string svg = "<svg class=\"dot-chart\" viewBox=\"0 0 " + Number(kWidth, 0) + " " +
                    Number(height, 0) + "\" role=\"img\" aria-label=\"" + EscapeHtml(column.name) +
                    " of each image per method\">\n";
  // Ticks and grid lines.
  for (double tick = axis_low; tick <= axis_high + step / 2; tick += step) {
    const std::string x = Number(x_of(tick), 1);
    svg += "<line class=\"grid\" x1=\"" + x + "\" x2=\"" + x + "\" y1=\"" + Number(kTop, 1) +
           "\" y2=\"" + Number(rows_bottom, 1) + "\"/>";
    svg += "<text class=\"tick\" x=\"" + x + "\" y=\"" + Number(rows_bottom + 14, 1) +
           "\" text-anchor=\"middle\">" + Number(tick, step < 1 ? 1 : 0) + "</text>\n";
  }
  svg += "<text class=\"axis-title\" x=\"" + Number((plot_left + plot_right) / 2, 1) + "\" y=\"" +
         Number(height - 6, 1) + "\" text-anchor=\"middle\">" + EscapeHtml(column.name);
  if (!column.unit.empty()) svg += " (" + EscapeHtml(column.unit) + ")";
  svg += std::string(column.higher_is_better ? ", higher is better \u2192"
                                             : ", lower is better \u2190") +
         "</text>\n";
  if (std::any_of(rows.begin(), rows.end(), [](const std::vector<double>& row) {
        return std::any_of(row.begin(), row.end(), [](double v) { return std::isinf(v); });
      })) {
    svg += "<text class=\"tick\" x=\"" + Number(inf_x, 1) + "\" y=\"" +
           Number(rows_bottom + 14, 1) + "\" text-anchor=\"middle\">inf</text>\n";
  }

  const double spread = std::min(4.0, 12.0 / std::max<double>(1.0, methods.size()));
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const bool mean = i + 1 == rows.size();
    const std::string name = mean ? "mean" : names[i];
    const double y =
        kTop + kRowHeight * (static_cast<double>(i) + 0.5) + (mean ? kRowHeight / 2 : 0);
    svg += "<g class=\"row" + std::string(mean ? " mean" : "") + "\">";
    svg += "<line class=\"rule\" x1=\"" + Number(plot_left, 1) + "\" x2=\"" +
           Number(plot_right, 1) + "\" y1=\"" + Number(y, 1) + "\" y2=\"" + Number(y, 1) + "\"/>";
    svg += "<text class=\"label\" x=\"" + Number(plot_left - 6, 1) + "\" y=\"" + Number(y + 4, 1) +
           "\" text-anchor=\"end\"><title>" + EscapeHtml(name) + "</title>" +
           EscapeHtml(Label(name)) + "</text>";
    for (std::size_t m = 0; m < methods.size(); ++m) {
      const double value = rows[i][m];
      if (std::isnan(value)) continue;  // not measured: no dot
      // Methods a little apart vertically, so that equal figures stay visible.
      const double dy = (static_cast<double>(m) - (methods.size() - 1) / 2.0) * spread;
      const bool exact = std::isinf(value);
      svg += "<circle cx=\"" + Number(exact ? inf_x : x_of(value), 1) + "\" cy=\"" +
             Number(y + dy, 1) + "\" r=\"4.5\" ";
      svg += exact ? "fill=\"#fff\" stroke=\"" : "stroke=\"#fff\" fill=\"";
      svg += MethodColour(m);
      svg += "\"><title>" + EscapeHtml(name) + ", " + EscapeHtml(methods[m]) + ": ";
      svg += exact ? std::string("inf") : Number(value, column.decimals);
      svg += UnitSuffix(column) + "</title></circle>";
    }
    svg += "</g>\n";
  }
  svg += "</svg>\n";
  return svg;
}

}  // namespace demosaic
