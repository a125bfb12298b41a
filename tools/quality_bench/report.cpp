// Formatting of the table and the CSV lines, and the mean and throughput
// arithmetic behind their summary rows.
#include "report.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string_view>

namespace demosaic::bench {
namespace {

constexpr std::size_t kSizeWidth = 13;   // "99999 x 99999"
constexpr std::size_t kFigureWidth = 7;  // "PSNR_R", "100.00"
constexpr std::size_t kMinimumColumn = 8;
constexpr const char* kMeanLabel = "mean";
constexpr const char* kThroughputLabel = "MP/s";

std::string Pad(std::string_view text, std::size_t width, bool right) {
  const std::string fill(width > text.size() ? width - text.size() : 0, ' ');
  return right ? fill + std::string(text) : std::string(text) + fill;
}

// Two decimals, as demosaic-eval prints its figures; "inf" when exact.
std::string Decibels(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

std::string OneDecimal(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

std::size_t MethodColumnWidth(Method method) {
  return std::max(kMinimumColumn, MethodName(method).size());
}

constexpr std::size_t kDetailGroupWidth = 4 * kFigureWidth + 3;

// The start of every line: the name and the size columns.
std::string Lead(const TableLayout& layout, std::string_view name, std::string_view size) {
  return Pad(name, layout.name_width, false) + "  " + Pad(size, kSizeWidth, false);
}

// The figure cells of one row: per method either its CPSNR or, in detail,
// its four figures. An empty string leaves a cell blank.
std::string Cells(const TableLayout& layout, const std::vector<std::vector<std::string>>& cells) {
  std::string line;
  for (std::size_t m = 0; m < layout.methods.size(); ++m) {
    if (layout.detail) {
      line += "  ";
      for (std::size_t k = 0; k < 4; ++k) {
        line += ' ';
        line += Pad(cells[m][k], kFigureWidth, true);
      }
    } else {
      line += "  ";
      line += Pad(cells[m][0], MethodColumnWidth(layout.methods[m]), true);
    }
  }
  return line;
}

std::vector<std::string> FigureCells(const TableLayout& layout, const QualityFigures& figures) {
  if (!layout.detail) return {Decibels(figures.cpsnr)};
  return {Decibels(figures.psnr_r), Decibels(figures.psnr_g), Decibels(figures.psnr_b),
          Decibels(figures.cpsnr)};
}

// A field as CSV readers expect it: quoted when it holds a separator, a
// quote, a line break or a tab (which readers that guess the separator take
// for one), or starts or ends with a space (which some readers trim).
std::string CsvField(const std::string& text) {
  const bool plain = text.find_first_of(",\"\r\n\t") == std::string::npos &&
                     (text.empty() || (text.front() != ' ' && text.back() != ' '));
  if (plain) return text;
  std::string quoted = "\"";
  for (const char ch : text) {
    if (ch == '"') quoted += '"';
    quoted += ch;
  }
  return quoted + "\"";
}

}  // namespace

TableLayout MakeTableLayout(const std::vector<Method>& methods, BayerPattern pattern,
                            std::int32_t border, bool detail,
                            const std::vector<std::string>& image_names) {
  TableLayout layout{methods, pattern, border, detail, std::string_view("image").size()};
  for (const std::string& name : image_names) {
    layout.name_width = std::max(layout.name_width, name.size());
  }
  return layout;
}

std::string FormatTableHeader(const TableLayout& layout) {
  const std::string_view tile = PatternName(layout.pattern);
  const auto pair = [&](std::size_t at) { return std::string{tile[at], ' ', tile[at + 1]}; };
  std::string text = std::string(tile) + " Bayer mosaic (" + pair(0) + " on even rows, " + pair(2) +
                     " on odd rows); PSNR in dB over the pixels at least " +
                     std::to_string(layout.border) +
                     " from every edge; mean = mean of the per-image dB figures\n";
  if (layout.detail) {
    std::string line = Lead(layout, "", "");
    for (const Method method : layout.methods) {
      line += "   ";
      line += Pad(MethodName(method), kDetailGroupWidth, true);
    }
    text += line + "\n";
    std::vector<std::vector<std::string>> headings(layout.methods.size(),
                                                   {"PSNR_R", "PSNR_G", "PSNR_B", "CPSNR"});
    text += Lead(layout, "image", "size") + Cells(layout, headings) + "\n";
    return text;
  }
  std::vector<std::vector<std::string>> headings;
  for (const Method method : layout.methods) headings.push_back({std::string(MethodName(method))});
  return text + Lead(layout, "image", "size") + Cells(layout, headings) + "\n";
}

std::string FormatImageRow(const TableLayout& layout, const ImageResult& image) {
  std::vector<std::vector<std::string>> cells;
  for (const MethodOutcome& result : image.methods) {
    cells.push_back(FigureCells(layout, result.figures));
  }
  const std::string size = std::to_string(image.width) + " x " + std::to_string(image.height);
  return Lead(layout, image.name, size) + Cells(layout, cells) + "\n";
}

std::vector<QualityFigures> MeanFigures(const std::vector<ImageResult>& images) {
  std::vector<QualityFigures> means(images.front().methods.size());
  for (const ImageResult& image : images) {
    for (std::size_t m = 0; m < means.size(); ++m) {
      means[m].psnr_r += image.methods[m].figures.psnr_r;
      means[m].psnr_g += image.methods[m].figures.psnr_g;
      means[m].psnr_b += image.methods[m].figures.psnr_b;
      means[m].cpsnr += image.methods[m].figures.cpsnr;
    }
  }
  const double count = static_cast<double>(images.size());
  for (QualityFigures& mean : means) {
    mean.psnr_r /= count;
    mean.psnr_g /= count;
    mean.psnr_b /= count;
    mean.cpsnr /= count;
  }
  return means;
}

std::string FormatMeanRow(const TableLayout& layout, const std::vector<ImageResult>& images) {
  std::vector<std::vector<std::string>> cells;
  for (const QualityFigures& mean : MeanFigures(images)) cells.push_back(FigureCells(layout, mean));
  const std::string count =
      std::to_string(images.size()) + (images.size() == 1 ? " image" : " images");
  return Lead(layout, kMeanLabel, count) + Cells(layout, cells) + "\n";
}

std::vector<double> Throughput(const std::vector<ImageResult>& images) {
  std::vector<double> megapixels(images.front().methods.size(), 0.0);
  std::vector<double> seconds(megapixels.size(), 0.0);
  for (const ImageResult& image : images) {
    const double pixels = static_cast<double>(image.width) * static_cast<double>(image.height);
    for (std::size_t m = 0; m < megapixels.size(); ++m) {
      megapixels[m] += pixels / 1e6;
      seconds[m] += image.methods[m].milliseconds / 1e3;
    }
  }
  for (std::size_t m = 0; m < megapixels.size(); ++m) megapixels[m] /= seconds[m];
  return megapixels;
}

std::string FormatThroughputRow(const TableLayout& layout, const std::vector<ImageResult>& images) {
  std::vector<std::vector<std::string>> cells;
  for (const double rate : Throughput(images)) {
    const std::string text = std::isfinite(rate) ? OneDecimal(rate) : "-";
    cells.push_back(layout.detail ? std::vector<std::string>{"", "", "", text}
                                  : std::vector<std::string>{text});
  }
  return Lead(layout, kThroughputLabel, "") + Cells(layout, cells) + "\n";
}

std::string CsvHeader() {
  return "image,width,height,method,PSNR_R,PSNR_G,PSNR_B,CPSNR,milliseconds,pattern,border\n";
}

std::string CsvLines(const TableLayout& layout, const ImageResult& image) {
  const std::vector<Method>& methods = layout.methods;
  std::string settings = ",";
  settings += PatternName(layout.pattern);
  settings += ',';
  settings += std::to_string(layout.border);
  settings += '\n';
  std::string lines;
  for (std::size_t m = 0; m < methods.size(); ++m) {
    const MethodOutcome& result = image.methods[m];
    lines += CsvField(image.name) + "," + std::to_string(image.width) + "," +
             std::to_string(image.height) + "," + std::string(MethodName(methods[m])) + "," +
             FullPrecision(result.figures.psnr_r) + "," + FullPrecision(result.figures.psnr_g) +
             "," + FullPrecision(result.figures.psnr_b) + "," +
             FullPrecision(result.figures.cpsnr) + "," + FullPrecision(result.milliseconds) +
             settings;
  }
  return lines;
}

std::string FullPrecision(double value) {
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char text[64];
  const std::to_chars_result end = std::to_chars(text, text + sizeof text, value);
  return std::string(text, end.ptr);
}

}  // namespace demosaic::bench
