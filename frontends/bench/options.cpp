// Option parsing of demosaic-bench with CLI11.
#include "options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>

namespace demosaic::bench {
namespace {

int UsageError(std::FILE* messages, const std::string& message) {
  std::fprintf(messages, "demosaic-bench: %s\nRun 'demosaic-bench --help' for the options.\n",
               message.c_str());
  return kExitUsage;
}

// "a,b,c" as its items; "" is one empty item, so that it is reported.
std::vector<std::string> SplitList(const std::string& list) {
  std::vector<std::string> items(1);
  for (const char ch : list) {
    if (ch == ',') {
      items.emplace_back();
    } else {
      items.back() += ch;
    }
  }
  return items;
}

bool IsNameCharacter(char ch) {
  return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') ||
         ch == '-' || ch == '_' || ch == '.';
}

// NAME=DIR, with a NAME that can stand in file names and is not yet taken.
std::optional<ComparedMethod> ParseCompared(const std::string& argument,
                                            const BenchOptions& options, std::string& problem) {
  const std::size_t equals = argument.find('=');
  if (equals == std::string::npos || equals == 0 || equals + 1 == argument.size()) {
    problem = "expected NAME=DIR";
    return std::nullopt;
  }
  ComparedMethod compared{argument.substr(0, equals), argument.substr(equals + 1)};
  if (compared.name.front() == '.' ||
      !std::all_of(compared.name.begin(), compared.name.end(), IsNameCharacter)) {
    problem = "NAME may hold only letters, digits, '-', '_' and '.', and not start with '.'";
    return std::nullopt;
  }
  if (MethodFromName(compared.name)) {
    problem = "'" + compared.name + "' is the name of a built-in method";
    return std::nullopt;
  }
  for (const ComparedMethod& earlier : options.compared) {
    if (earlier.name == compared.name) {
      problem = "the name '" + compared.name + "' is given twice";
      return std::nullopt;
    }
  }
  std::error_code error;
  if (!std::filesystem::is_directory(compared.directory, error)) {
    problem = "'" + compared.directory.string() + "' is not a directory";
    return std::nullopt;
  }
  return compared;
}

int DefaultJobs() {
  return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

}  // namespace

std::optional<std::int64_t> ParseDecimal(const std::string& text, std::int64_t maximum) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  std::int64_t value = 0;
  for (const char ch : text) {
    if (ch < '0' || ch > '9') return std::nullopt;
    value = value * 10 + (ch - '0');
  }
  if (value > maximum) return std::nullopt;
  return value;
}

std::optional<BenchOptions> ParseBenchOptions(int argc, const char* const* argv,
                                              std::FILE* messages, int& exit_status) {
  BenchOptions options;
  CLI::App app(
      "Compares this project's demosaicing method with OpenCV's bilinear and edge-aware Bayer\n"
      "demosaicing. Every reference image is sampled once through a Bayer filter (GRBG unless\n"
      "--pattern says otherwise); each method reconstructs that same mosaic and is measured by\n"
      "the same PSNR function over the same interior.\n\n"
      "Standard output: one row per image with each method's CPSNR in dB, a mean row (the mean\n"
      "of the per-image dB figures) and each method's reconstruction throughput in megapixels\n"
      "per second (reconstruction alone, one thread). Exit status: 0 when every image was\n"
      "measured and every file written, 1 otherwise, 2 for a bad command line.\n",
      "demosaic-bench");
  app.add_option("PATH", options.paths,
                 "Image files, or directories whose images (by extension, not recursive) are "
                 "taken in name order")
      ->required();
  std::string method_list;
  app.add_option("--methods", method_list,
                 "Comma-separated methods to compare, in table order: method, bilinear, "
                 "edge-aware (default: all three)")
      ->type_name("LIST");
  std::string pattern_name = "GRBG";
  app.add_option("--pattern", pattern_name,
                 "The Bayer tile, its four colours read from the top-left site row by row: "
                 "GRBG, RGGB, BGGR or GBRG, any letter case (default GRBG)")
      ->type_name("TILE");
  std::string border_text = std::to_string(kFrameWidth);
  app.add_option("--border", border_text,
                 "Pixels left out of the measurement at every edge, in decimal; at least 3, the "
                 "method's black frame (default 3; published tables often use 10)")
      ->type_name("N");
  std::string jobs_text = std::to_string(DefaultJobs());
  app.add_option("--jobs", jobs_text,
                 "Images evaluated at once, in decimal (default: the number of cores, here " +
                     jobs_text + "); the table, CSV and saved files do not depend on it")
      ->type_name("N");
  std::string metric_list = "psnr";
  app.add_option("--metrics", metric_list,
                 "Comma-separated figures for the table and the CSV: psnr (CPSNR; with --detail "
                 "PSNR_R, PSNR_G, PSNR_B too), ssim, de2000 (mean CIEDE2000), zipper (share of "
                 "pixels with zipper artefacts) (default: psnr; the CSV always has the PSNR "
                 "columns)")
      ->type_name("LIST");
  std::vector<std::string> compare_arguments;
  app.add_option("--compare", compare_arguments,
                 "Also measure another method's reconstructions: DIR holds one image per "
                 "reference, named after the reference without its extension; NAME is the "
                 "method's name in the table (letters, digits, '-', '_', '.'). Repeatable")
      ->type_name("NAME=DIR");
  app.add_flag("--detail", options.detail, "Also show PSNR_R, PSNR_G and PSNR_B of every method");
  app.add_option("--csv", options.csv_path,
                 "Write one line per image and method to FILE: image, width, height, method, "
                 "PSNR_R, PSNR_G, PSNR_B, CPSNR, milliseconds, pattern, border (full precision, "
                 "inf when exact)")
      ->type_name("FILE");
  app.add_option("--save", options.save_dir,
                 "Write NAME.METHOD.png (the reconstruction) and NAME.METHOD.err.png (its "
                 "per-pixel error, 32 levels reaching the top of the viridis colour map, the "
                 "unmeasured frame black) into DIR, created if missing")
      ->type_name("DIR");
  app.add_option("--report", options.report_dir,
                 "Write an HTML report to DIR/index.html, created if missing: the settings, the "
                 "sortable table, a chart, and for each image the region where the methods "
                 "differ most, magnified, with the full-size images in DIR/images; opens from "
                 "file:// with no network")
      ->type_name("DIR");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    exit_status = kExitAllMeasured;
    return std::nullopt;
  } catch (const CLI::ParseError& e) {
    exit_status = UsageError(messages, e.what());
    return std::nullopt;
  }

  const std::optional<BayerPattern> pattern = ParsePattern(pattern_name);
  if (!pattern) {
    exit_status = UsageError(
        messages, "--pattern: unknown tile '" + pattern_name + "' (known: GRBG, RGGB, BGGR, GBRG)");
    return std::nullopt;
  }
  options.pattern = *pattern;
  const std::optional<std::int64_t> border = ParseDecimal(border_text, 1 << 20);
  if (!border) {
    exit_status = UsageError(messages, "--border: '" + border_text + "' is not a decimal count");
    return std::nullopt;
  }
  options.border = static_cast<std::int32_t>(*border);
  if (options.border < kFrameWidth) {
    exit_status = UsageError(messages, "--border " + std::to_string(options.border) +
                                           " is too small: the method leaves a black 3-pixel "
                                           "frame, so the border must be at least 3");
    return std::nullopt;
  }
  const std::optional<std::int64_t> jobs = ParseDecimal(jobs_text, 1024);
  if (!jobs || *jobs < 1) {
    exit_status =
        UsageError(messages, "--jobs: '" + jobs_text + "' is not a decimal count from 1 to 1024");
    return std::nullopt;
  }
  options.jobs = static_cast<int>(*jobs);
  if (app.count("--methods") == 0) {
    options.methods.assign(kAllMethods.begin(), kAllMethods.end());
  }
  const std::vector<std::string> method_names =
      app.count("--methods") == 0 ? std::vector<std::string>{} : SplitList(method_list);
  for (const std::string& name : method_names) {
    const std::optional<Method> method = MethodFromName(name);
    if (!method) {
      exit_status = UsageError(messages, "--methods: unknown method '" + name +
                                             "' (known: method, bilinear, edge-aware)");
      return std::nullopt;
    }
    if (std::find(options.methods.begin(), options.methods.end(), *method) !=
        options.methods.end()) {
      exit_status = UsageError(messages, "--methods: '" + name + "' is listed twice");
      return std::nullopt;
    }
    options.methods.push_back(*method);
  }
  std::string metric_problem;
  const std::optional<MetricSet> metrics = ParseMetricList(metric_list, metric_problem);
  if (!metrics) {
    exit_status = UsageError(messages, "--metrics: " + metric_problem);
    return std::nullopt;
  }
  options.metrics = *metrics;
  for (const std::string& argument : compare_arguments) {
    std::string problem;
    const std::optional<ComparedMethod> compared = ParseCompared(argument, options, problem);
    if (!compared) {
      exit_status = UsageError(messages, "--compare '" + argument + "': " + problem);
      return std::nullopt;
    }
    options.compared.push_back(*compared);
  }
  if (options.csv_path.empty() && app.count("--csv") > 0) {
    exit_status = UsageError(messages, "--csv needs a file name");
    return std::nullopt;
  }
  if (options.save_dir.empty() && app.count("--save") > 0) {
    exit_status = UsageError(messages, "--save needs a directory name");
    return std::nullopt;
  }
  if (options.report_dir.empty() && app.count("--report") > 0) {
    exit_status = UsageError(messages, "--report needs a directory name");
    return std::nullopt;
  }
  return options;
}

}  // namespace demosaic::bench
