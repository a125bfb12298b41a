// Formatting of the table and the CSV lines, and the mean and throughput
// arithmetic behind their summary rows.
#include "report/table.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "io/raw_file.h"

namespace demosaic {
namespace {

constexpr std::size_t kSizeWidth = 13;   // "99999 x 99999"
constexpr std::size_t kFigureWidth = 7;  // "PSNR_R", "100.00", "0.9876"
constexpr std::size_t kMinimumColumn = 8;
constexpr const char* kMeanLabel = "mean";
constexpr const char* kThroughputLabel = "MP/s";
constexpr const char* kMissing = "-";
constexpr const char* kRawMark = " (raw)";

std::string Pad(std::string_view text, std::size_t width, bool right) {
  const std::string fill(width > text.size() ? width - text.size() : 0, ' ');
  return right ? fill + std::string(text) : std::string(text) + fill;
}

// A method whose group is one column shows its name as that column's
// heading; wider groups have their name on a line of its own above.
bool OneColumnGroups(const TableLayout& layout) {
  return layout.figures.size() == 1;
}

std::size_t GroupWidth(const TableLayout& layout, const MethodColumn& method) {
  if (OneColumnGroups(layout)) return std::max(kMinimumColumn, method.name.size());
  return layout.figures.size() * (kFigureWidth + 1) - 1;
}

// The start of every line: the name and the size columns.
std::string Lead(const TableLayout& layout, std::string_view name, std::string_view size) {
  return Pad(name, layout.name_width, false) + "  " + Pad(size, kSizeWidth, false);
}

// The cells of one row, a group of layout.figures.size() cells per method. An
// empty string leaves a cell blank.
std::string Cells(const TableLayout& layout, const std::vector<std::vector<std::string>>& cells) {
  std::string line;
  for (std::size_t m = 0; m < layout.methods.size(); ++m) {
    line += "  ";
    if (OneColumnGroups(layout)) {
      line += Pad(cells[m][0], GroupWidth(layout, layout.methods[m]), true);
      continue;
    }
    for (const std::string& cell : cells[m]) {
      line += ' ';
      line += Pad(cell, kFigureWidth, true);
    }
  }
  return line;
}

std::vector<std::string> FigureCells(const TableLayout& layout,
                                     const std::optional<MethodFigures>& figures) {
  std::vector<std::string> cells;
  for (const Figure figure : layout.figures) {
    cells.push_back(figures ? FixedDecimals(FigureValue(*figures, figure), FigureDecimals(figure))
                            : kMissing);
  }
  return cells;
}

bool OnlyPsnr(const TableLayout& layout) {
  for (const Figure figure : layout.figures) {
    if (figure == Figure::kSsim || figure == Figure::kDe2000 || figure == Figure::kZipper) {
      return false;
    }
  }
  return true;
}

}  // namespace

TableLayout MakeTableLayout(const std::vector<MethodColumn>& methods, const MetricSet& metrics,
                            bool detail, BayerPattern pattern, std::int32_t border,
                            const std::vector<std::string>& image_names) {
  TableLayout layout{methods, TableFigures(metrics, detail),   CsvFigures(metrics), pattern,
                     border,  std::string_view("image").size()};
  for (const std::string& name : image_names) {
    const std::size_t mark = HasRawExtension(name) ? std::string_view(kRawMark).size() : 0;
    layout.name_width = std::max(layout.name_width, name.size() + mark);
  }
  return layout;
}

std::string FormatTableHeader(const TableLayout& layout) {
  const std::string_view tile = PatternName(layout.pattern);
  const auto pair = [&](std::size_t at) { return std::string{tile[at], ' ', tile[at + 1]}; };
  std::string text = std::string(tile) + " Bayer mosaic (" + pair(0) + " on even rows, " + pair(2) +
                     " on odd rows); " + (OnlyPsnr(layout) ? "PSNR in dB" : "figures") +
                     " over the pixels at least " + std::to_string(layout.border) +
                     " from every edge; mean = mean of the per-image " +
                     (OnlyPsnr(layout) ? "dB figures" : "figures") +
                     (layout.srgb ? "; figures after the sRGB transfer curve" : "") + "\n";
  if (layout.raw_references) {
    text += std::string(
                "(raw): a camera raw file's half-size image (each 2 x 2 quad of the sensor "
                "one pixel), black subtracted, ") +
            (layout.raw_white_balance ? "as-shot white balance" : "no white balance") + "\n";
  }
  std::vector<std::vector<std::string>> headings;
  if (OneColumnGroups(layout)) {
    for (const MethodColumn& method : layout.methods) headings.push_back({method.name});
    return text + Lead(layout, "image", "size") + Cells(layout, headings) + "\n";
  }
  std::string line = Lead(layout, "", "");
  for (const MethodColumn& method : layout.methods) {
    line += "   ";
    line += Pad(method.name, GroupWidth(layout, method), true);
  }
  text += line + "\n";
  std::vector<std::string> names;
  for (const Figure figure : layout.figures) names.emplace_back(FigureName(figure));
  headings.assign(layout.methods.size(), names);
  return text + Lead(layout, "image", "size") + Cells(layout, headings) + "\n";
}

bool ShowsNoise(const TableLayout& layout) {
  return layout.noise.size() > 1 || (layout.noise.size() == 1 && layout.noise.front() != "none");
}

std::string FormatNoiseLine(const TableLayout& layout, std::size_t level) {
  return "noise: " + layout.noise.at(level) + "\n";
}

std::string FormatImageRow(const TableLayout& layout, const ImageResult& image) {
  std::vector<std::vector<std::string>> cells;
  for (const MethodOutcome& outcome : image.methods) {
    cells.push_back(FigureCells(
        layout, outcome.measured ? std::optional<MethodFigures>(outcome.figures) : std::nullopt));
  }
  const std::string size = std::to_string(image.width) + " x " + std::to_string(image.height);
  const std::string name = image.from_raw ? image.name + kRawMark : image.name;
  return Lead(layout, name, size) + Cells(layout, cells) + "\n";
}

std::vector<std::optional<MethodFigures>> MeanFigures(const std::vector<ImageResult>& images) {
  std::vector<std::optional<MethodFigures>> means(images.front().methods.size(), MethodFigures{});
  for (const ImageResult& image : images) {
    for (std::size_t m = 0; m < means.size(); ++m) {
      const MethodOutcome& outcome = image.methods[m];
      if (!outcome.measured) means[m].reset();
      if (!means[m]) continue;
      means[m]->psnr.psnr_r += outcome.figures.psnr.psnr_r;
      means[m]->psnr.psnr_g += outcome.figures.psnr.psnr_g;
      means[m]->psnr.psnr_b += outcome.figures.psnr.psnr_b;
      means[m]->psnr.cpsnr += outcome.figures.psnr.cpsnr;
      means[m]->ssim += outcome.figures.ssim;
      means[m]->de2000 += outcome.figures.de2000;
      means[m]->zipper += outcome.figures.zipper;
    }
  }
  const double count = static_cast<double>(images.size());
  for (std::optional<MethodFigures>& mean : means) {
    if (!mean) continue;
    mean->psnr.psnr_r /= count;
    mean->psnr.psnr_g /= count;
    mean->psnr.psnr_b /= count;
    mean->psnr.cpsnr /= count;
    mean->ssim /= count;
    mean->de2000 /= count;
    mean->zipper /= count;
  }
  return means;
}

std::string FormatMeanRow(const TableLayout& layout, const std::vector<ImageResult>& images) {
  std::vector<std::vector<std::string>> cells;
  for (const std::optional<MethodFigures>& mean : MeanFigures(images)) {
    cells.push_back(FigureCells(layout, mean));
  }
  const std::string count =
      std::to_string(images.size()) + (images.size() == 1 ? " image" : " images");
  return Lead(layout, kMeanLabel, count) + Cells(layout, cells) + "\n";
}

std::vector<std::optional<double>> Throughput(const TableLayout& layout,
                                              const std::vector<ImageResult>& images) {
  std::vector<std::optional<double>> rates;
  for (std::size_t m = 0; m < layout.methods.size(); ++m) {
    if (!layout.methods[m].timed) {
      rates.emplace_back();
      continue;
    }
    double megapixels = 0.0;
    double seconds = 0.0;
    for (const ImageResult& image : images) {
      megapixels += static_cast<double>(image.width) * static_cast<double>(image.height) / 1e6;
      seconds += image.methods[m].milliseconds / 1e3;
    }
    rates.emplace_back(megapixels / seconds);
  }
  return rates;
}

std::string FormatThroughputRow(const TableLayout& layout, const std::vector<ImageResult>& images) {
  std::vector<std::vector<std::string>> cells;
  for (const std::optional<double>& rate : Throughput(layout, images)) {
    const std::string text = rate && std::isfinite(*rate) ? FixedDecimals(*rate, 1) : kMissing;
    // Under the last column of each group.
    std::vector<std::string> group(layout.figures.size());
    group.back() = text;
    cells.push_back(group);
  }
  return Lead(layout, kThroughputLabel, "") + Cells(layout, cells) + "\n";
}

std::string CsvHeader(const TableLayout& layout) {
  std::string header = "image,width,height,method";
  for (const Figure figure : layout.csv_figures) {
    header += ',';
    header += FigureName(figure);
  }
  return header + ",milliseconds,pattern,border,noise,white_level" +
         (layout.raw_references ? ",reference" : "") + "\n";
}

std::string CsvLines(const TableLayout& layout, const ImageResult& image, std::size_t level) {
  std::string settings = ",";
  settings += PatternName(layout.pattern);
  settings += ',';
  settings += std::to_string(layout.border);
  settings += ',';
  settings += CsvField(layout.noise.at(level));
  settings += ',';
  settings += std::to_string(image.white_level);
  if (layout.raw_references) settings += image.from_raw ? ",raw" : ",image";
  settings += '\n';
  std::string lines;
  for (std::size_t m = 0; m < layout.methods.size(); ++m) {
    const MethodOutcome& outcome = image.methods[m];
    std::string line = CsvField(image.name);
    line += ',';
    line += std::to_string(image.width);
    line += ',';
    line += std::to_string(image.height);
    line += ',';
    line += CsvField(layout.methods[m].name);
    for (const Figure figure : layout.csv_figures) {
      line += ',';
      if (outcome.measured) line += FullPrecision(FigureValue(outcome.figures, figure));
    }
    line += ',';
    if (outcome.measured && layout.methods[m].timed) line += FullPrecision(outcome.milliseconds);
    lines += line + settings;
  }
  return lines;
}

// Quoted when it holds a separator, a quote, a line break or a tab (which
// readers that guess the separator take for one), or starts or ends with a
// space (which some readers trim).
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

std::string FixedDecimals(double value, int decimals) {
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  if (std::isnan(value)) return "nan";
  char text[400];
  const std::to_chars_result end =
      std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  return std::string(text, end.ptr);
}

std::string FullPrecision(double value) {
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char text[64];
  const std::to_chars_result end = std::to_chars(text, text + sizeof text, value);
  return std::string(text, end.ptr);
}

}  // namespace demosaic
