// Reading a baseline CSV back, strictly, and the change of the means.
#include "report/baseline.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

namespace demosaic {
namespace {

Error Refused(const std::string& text) {
  return {ErrorKind::kInvalidArgument, text};
}

std::vector<std::string> SplitHeader(const std::string& header_line) {
  std::vector<std::string> names(1);
  for (const char ch : header_line) {
    if (ch == '\n') break;
    if (ch == ',') {
      names.emplace_back();
    } else {
      names.back() += ch;
    }
  }
  return names;
}

std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (std::size_t k = 0; k < items.size(); ++k) text += (k == 0 ? "" : ",") + items[k];
  return text;
}

// A figure as the CSV writes it: full precision, "inf", or empty.
bool ParseFigure(const std::string& text, std::optional<double>& value) {
  if (text.empty()) {
    value.reset();
    return true;
  }
  if (text == "inf" || text == "-inf") {
    value = text == "inf" ? HUGE_VAL : -HUGE_VAL;
    return true;
  }
  double number = 0.0;
  const char* end = text.data() + text.size();
  const std::from_chars_result read = std::from_chars(text.data(), end, number);
  if (read.ec != std::errc() || read.ptr != end || std::isnan(number)) return false;
  value = number;
  return true;
}

bool IsCount(const std::string& text) {
  return !text.empty() && text.size() < 10 &&
         text.find_first_not_of("0123456789") == std::string::npos;
}

std::string Format(double value, int decimals, bool sign) {
  char text[48];
  std::snprintf(text, sizeof text, sign ? "%+.*f" : "%.*f", decimals, value);
  return text;
}

std::string Pad(const std::string& text, std::size_t width, bool right) {
  const std::string fill(width > text.size() ? width - text.size() : 0, ' ');
  return right ? fill + text : text + fill;
}

}  // namespace

Expected<std::vector<std::vector<std::string>>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> records;
  std::vector<std::string> record;
  std::string field;
  bool quoted = false;      // inside a quoted field
  bool was_quoted = false;  // the field's closing quote has been read
  bool field_started = false;
  const auto end_field = [&] {
    record.push_back(field);
    field.clear();
    was_quoted = false;
    field_started = false;
  };
  for (std::size_t k = 0; k < text.size(); ++k) {
    const char ch = text[k];
    if (quoted) {
      if (ch != '"') {
        field += ch;
      } else if (k + 1 < text.size() && text[k + 1] == '"') {
        field += '"';
        ++k;
      } else {
        quoted = false;
        was_quoted = true;
      }
      continue;
    }
    if (ch == ',') {
      end_field();
    } else if (ch == '\n' || (ch == '\r' && k + 1 < text.size() && text[k + 1] == '\n')) {
      if (ch == '\r') ++k;
      end_field();
      records.push_back(std::move(record));
      record.clear();
    } else if (ch == '"' && !field_started) {
      quoted = true;
      field_started = true;
    } else if (was_quoted) {
      return Refused("text after a closing quote on line " + std::to_string(records.size() + 1));
    } else {
      field += ch;
      field_started = true;
    }
  }
  if (quoted) return Refused("a quoted field is never closed");
  if (field_started || !record.empty()) {
    end_field();
    records.push_back(std::move(record));
  }
  return records;
}

Expected<BaselineTable> ReadBaseline(const std::string& path, const TableLayout& layout) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return Refused("cannot read '" + path + "'");
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) return Refused("cannot read '" + path + "'");
  return ParseBaseline(text, path, layout);
}

Expected<BaselineTable> ParseBaseline(const std::string& text, const std::string& path,
                                      const TableLayout& layout) {
  const std::string what = "'" + path + "'";
  Expected<std::vector<std::vector<std::string>>> parsed = ParseCsv(text);
  if (!parsed.ok()) {
    return Refused(what + " is not a CSV file of demosaic-bench: " + parsed.error().detail);
  }
  const std::vector<std::vector<std::string>>& records = parsed.value();
  // Earlier runs wrote no white_level column, and before that no noise
  // column; their files are still baselines.
  const std::vector<std::string> expected = SplitHeader(CsvHeader(layout));
  const std::vector<std::string> without_white(expected.begin(), expected.end() - 1);
  const std::vector<std::string> without_noise(expected.begin(), expected.end() - 2);
  const std::vector<std::string> lead{"image", "width", "height", "method"};
  if (records.empty() || records[0].size() < lead.size() ||
      !std::equal(lead.begin(), lead.end(), records[0].begin())) {
    return Refused(what +
                   " is not a CSV file of demosaic-bench (its first line should begin "
                   "image,width,height,method)");
  }
  const std::vector<std::string>& header = records[0];
  const bool has_noise = header == expected || header == without_white;
  const bool clean_run = layout.noise.size() == 1 && layout.noise.front() == "none";
  if (!has_noise && !(clean_run && header == without_noise)) {
    return Refused(what + " has the columns " + Joined(header) + "; this run writes " +
                   Joined(expected) + " (give the same --metrics)");
  }
  const std::size_t figure_count = layout.csv_figures.size();
  const std::size_t pattern_column = 4 + figure_count + 1;
  BaselineTable table{path, {}};
  for (std::size_t line = 1; line < records.size(); ++line) {
    const std::vector<std::string>& record = records[line];
    const std::string where = what + ", record " + std::to_string(line + 1);
    if (record.size() != header.size()) {
      return Refused(where + ": " + std::to_string(record.size()) + " fields, not " +
                     std::to_string(header.size()));
    }
    if (!IsCount(record[1]) || !IsCount(record[2])) {
      return Refused(where + ": the width and height are not counts");
    }
    if (record[pattern_column] != PatternName(layout.pattern) ||
        record[pattern_column + 1] != std::to_string(layout.border)) {
      return Refused(where + ": made with tile " + record[pattern_column] + " and border " +
                     record[pattern_column + 1] + "; this run uses " +
                     std::string(PatternName(layout.pattern)) + " and " +
                     std::to_string(layout.border));
    }
    BaselineRow row{record[0], record[3], has_noise ? record[pattern_column + 2] : "none", {}};
    if (header == expected) {
      const std::string& white = record[pattern_column + 3];
      if (!IsCount(white) || white.size() > 5 || std::stoi(white) < 1 ||
          std::stoi(white) > kMaxWhiteLevel) {
        return Refused(where + ": '" + white + "' is not a white level");
      }
      row.white_level = std::stoi(white);
    }
    for (std::size_t f = 0; f < figure_count; ++f) {
      std::optional<double> value;
      if (!ParseFigure(record[4 + f], value)) {
        return Refused(where + ": '" + record[4 + f] + "' in column " + header[4 + f] +
                       " is not a number");
      }
      row.figures.push_back(value);
    }
    table.rows.push_back(std::move(row));
  }
  return table;
}

BaselineComparison CompareWithBaseline(const BaselineTable& baseline, const TableLayout& layout,
                                       const std::vector<std::vector<ImageResult>>& levels) {
  // Images are keyed with their white level: figures at two white levels
  // are not one measurement.
  const auto keyed = [](const std::string& image, std::int32_t white_level) {
    return std::pair<std::string, std::int32_t>(image, white_level);
  };
  using Image = std::pair<std::string, std::int32_t>;
  using Key = std::tuple<std::string, std::string, Image>;  // noise, method, image
  std::map<Key, const BaselineRow*> old_rows;
  std::set<std::pair<std::string, Image>> old_images;  // noise, image
  for (const BaselineRow& row : baseline.rows) {
    old_rows[{row.noise, row.method, keyed(row.image, row.white_level)}] = &row;
    old_images.insert({row.noise, keyed(row.image, row.white_level)});
  }
  const auto label = [&](const Image& image, const std::string& noise) {
    const std::string name = image.second == 255
                                 ? image.first
                                 : image.first + " at white level " + std::to_string(image.second);
    return ShowsNoise(layout) ? name + " (" + noise + ")" : name;
  };
  BaselineComparison comparison;
  std::set<std::pair<std::string, Image>> new_images;
  for (std::size_t level = 0; level < levels.size(); ++level) {
    const std::string& noise = layout.noise.at(level);
    for (const ImageResult& image : levels[level]) {
      const Image key = keyed(image.name, image.white_level);
      new_images.insert({noise, key});
      if (!old_images.contains({noise, key})) comparison.only_here.push_back(label(key, noise));
    }
    for (std::size_t m = 0; m < layout.methods.size(); ++m) {
      const std::string& method = layout.methods[m].name;
      for (std::size_t f = 0; f < layout.csv_figures.size(); ++f) {
        BaselineChange change{noise, method, layout.csv_figures[f], 0, 0.0, 0.0};
        for (const ImageResult& image : levels[level]) {
          const auto old = old_rows.find({noise, method, keyed(image.name, image.white_level)});
          if (old == old_rows.end() || !old->second->figures[f] || !image.methods[m].measured) {
            continue;
          }
          ++change.images;
          change.old_mean += *old->second->figures[f];
          change.new_mean += FigureValue(image.methods[m].figures, layout.csv_figures[f]);
        }
        if (change.images == 0) continue;
        change.old_mean /= static_cast<double>(change.images);
        change.new_mean /= static_cast<double>(change.images);
        comparison.changes.push_back(change);
      }
    }
  }
  for (const auto& [noise, image] : old_images) {
    if (!new_images.contains({noise, image}))
      comparison.only_baseline.push_back(label(image, noise));
  }
  return comparison;
}

std::string FormatBaselineComparison(const BaselineComparison& comparison,
                                     const TableLayout& layout, const std::string& path) {
  std::string text = "\nchange against the baseline " + path +
                     " (means over the images both runs measured; this run minus the baseline)\n";
  std::size_t method_width = 6;
  for (const MethodColumn& method : layout.methods) {
    method_width = std::max(method_width, method.name.size());
  }
  std::size_t noise_width = 5;
  for (const std::string& noise : layout.noise) noise_width = std::max(noise_width, noise.size());
  const bool noise = ShowsNoise(layout);
  text += (noise ? Pad("noise", noise_width, false) + "  " : "") +
          Pad("method", method_width, false) + "  figure   images  baseline  this run    change\n";
  for (const BaselineChange& change : comparison.changes) {
    const int decimals = FigureDecimals(change.figure);
    text += (noise ? Pad(change.noise, noise_width, false) + "  " : "") +
            Pad(change.method, method_width, false) + "  " +
            Pad(std::string(FigureName(change.figure)), 7, false) +
            Pad(std::to_string(change.images), 7, true) +
            Pad(Format(change.old_mean, decimals, false), 10, true) +
            Pad(Format(change.new_mean, decimals, false), 10, true) +
            Pad(Format(change.new_mean - change.old_mean, decimals, true), 10, true) + "\n";
  }
  if (comparison.changes.empty()) text += "no image and method measured in both runs\n";
  const auto list = [&](const std::vector<std::string>& names, const std::string& where) {
    if (names.empty()) return;
    text += std::to_string(names.size()) + (names.size() == 1 ? " image" : " images") + " only " +
            where + ": ";
    for (std::size_t k = 0; k < names.size(); ++k) text += (k == 0 ? "" : ", ") + names[k];
    text += "\n";
  };
  list(comparison.only_here, "in this run");
  list(comparison.only_baseline, "in the baseline");
  return text;
}

std::vector<std::string> RegressionsOf(const BaselineComparison& comparison, double decibels) {
  std::vector<std::string> regressions;
  for (const BaselineChange& change : comparison.changes) {
    if (change.figure != Figure::kCpsnr) continue;
    // Written so that an exact baseline (+inf) is only matched by +inf.
    if (!(change.new_mean < change.old_mean - decibels)) continue;
    regressions.push_back(change.method + ": mean CPSNR " + Format(change.new_mean, 2, false) +
                          " dB against " + Format(change.old_mean, 2, false) +
                          " dB in the baseline at noise " + change.noise + ", more than " +
                          FullPrecision(decibels) + " dB below");
  }
  return regressions;
}

}  // namespace demosaic
