// Option parsing of demosaic-bench with CLI11.
#include "options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <limits>
#include <string>
#include <thread>

#include "evaluation/figures.h"
#include "evaluation/noise.h"

namespace demosaic::bench {
namespace {

Error Usage(std::string problem) {
  return {ErrorKind::kInvalidArgument, std::move(problem)};
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
Expected<ComparedMethod> ParseCompared(const std::string& argument,
                                       const std::vector<ComparedMethod>& earlier) {
  const auto problem = [&](const std::string& text) {
    return Usage("--compare '" + argument + "': " + text);
  };
  const std::size_t equals = argument.find('=');
  if (equals == std::string::npos || equals == 0 || equals + 1 == argument.size()) {
    return problem("expected NAME=DIR");
  }
  ComparedMethod compared{argument.substr(0, equals), argument.substr(equals + 1)};
  if (compared.name.front() == '.' ||
      !std::all_of(compared.name.begin(), compared.name.end(), IsNameCharacter)) {
    return problem("NAME may hold only letters, digits, '-', '_' and '.', and not start with '.'");
  }
  if (MethodFromName(compared.name)) {
    return problem("'" + compared.name + "' is the name of a built-in method");
  }
  for (const ComparedMethod& other : earlier) {
    if (other.name == compared.name) {
      return problem("the name '" + compared.name + "' is given twice");
    }
  }
  std::error_code error;
  if (!std::filesystem::is_directory(compared.directory, error)) {
    return problem("'" + compared.directory.string() + "' is not a directory");
  }
  return compared;
}

Expected<BayerPattern> ParsePatternOption(const std::string& name) {
  if (const std::optional<BayerPattern> pattern = ParsePattern(name)) return *pattern;
  return Usage("--pattern: unknown tile '" + name + "' (known: GRBG, RGGB, BGGR, GBRG)");
}

Expected<std::int32_t> ParseBorderOption(const std::string& text) {
  const std::optional<std::int64_t> border = ParseDecimal(text, 1 << 20);
  if (!border) return Usage("--border: '" + text + "' is not a decimal count");
  if (*border < kFrameWidth) {
    return Usage("--border " + std::to_string(*border) +
                 " is too small: the method leaves a black 3-pixel frame, so the border must be "
                 "at least 3");
  }
  return static_cast<std::int32_t>(*border);
}

Expected<int> ParseJobsOption(const std::string& text) {
  const std::optional<std::int64_t> jobs = ParseDecimal(text, 1024);
  if (!jobs || *jobs < 1)
    return Usage("--jobs: '" + text + "' is not a decimal count from 1 to 1024");
  return static_cast<int>(*jobs);
}

// The methods named, distinct, in the order given; all three when the
// option is absent.
Expected<std::vector<Method>> ParseMethodsOption(const std::string& list, bool given) {
  if (!given) return std::vector<Method>(kAllMethods.begin(), kAllMethods.end());
  std::vector<Method> methods;
  for (const std::string& name : SplitList(list)) {
    const std::optional<Method> method = MethodFromName(name);
    if (!method) {
      return Usage("--methods: unknown method '" + name +
                   "' (known: method, bilinear, edge-aware)");
    }
    if (std::find(methods.begin(), methods.end(), *method) != methods.end()) {
      return Usage("--methods: '" + name + "' is listed twice");
    }
    methods.push_back(*method);
  }
  return methods;
}

Expected<MetricSet> ParseMetricsOption(const std::string& list) {
  Expected<MetricSet> metrics = ParseMetricList(list);
  if (!metrics.ok()) return Usage("--metrics: " + metrics.error().detail);
  return metrics;
}

// Every level of every --noise argument, in the order given, each once;
// {none} without the option.
Expected<std::vector<NoiseLevel>> ParseNoiseOption(const std::vector<std::string>& arguments) {
  if (arguments.empty()) return std::vector<NoiseLevel>{NoiseLevel{}};
  std::vector<NoiseLevel> levels;
  std::vector<std::string> names;
  for (const std::string& argument : arguments) {
    Expected<std::vector<NoiseLevel>> parsed = ParseNoiseLevels(argument);
    if (!parsed.ok()) return Usage("--noise " + parsed.error().detail);
    for (const NoiseLevel& level : parsed.value()) {
      const std::string name = NoiseName(level);
      if (std::find(names.begin(), names.end(), name) != names.end()) {
        return Usage("--noise: the level " + name + " is given twice");
      }
      names.push_back(name);
      levels.push_back(level);
    }
  }
  return levels;
}

Expected<double> ParseDecibels(const std::string& text) {
  double value = 0.0;
  const char* end = text.data() + text.size();
  const std::from_chars_result read = std::from_chars(text.data(), end, value);
  if (text.empty() || text.front() < '0' || text.front() > '9' || read.ec != std::errc() ||
      read.ptr != end || !std::isfinite(value)) {
    return Usage("--fail-if-worse: '" + text + "' is not a decimal number of dB, 0 or more");
  }
  return value;
}

// The depth, white level and space options together: a white level only
// means something for 16-bit samples.
Status ParseDepthOptions(const std::string& depth, const std::string& white, bool white_given,
                         const std::string& space, RunOptions& options) {
  if (depth == "8") {
    options.depth = SampleDepth::kEight;
  } else if (depth == "native") {
    options.depth = SampleDepth::kNative;
  } else {
    return Usage("--depth: unknown depth '" + depth + "' (known: 8, native)");
  }
  if (white_given) {
    const std::optional<std::int64_t> level = ParseDecimal(white, kMaxWhiteLevel);
    if (!level || *level < 1) {
      return Usage("--white-level: '" + white + "' is not a decimal white level from 1 to " +
                   std::to_string(kMaxWhiteLevel));
    }
    if (options.depth == SampleDepth::kEight) {
      return Usage(
          "--white-level needs --depth native: at --depth 8 every sample is read at 8 bits, "
          "white level 255");
    }
    options.white_level = static_cast<std::int32_t>(*level);
  }
  const std::optional<SampleSpace> parsed_space = SpaceFromName(space);
  if (!parsed_space) return Usage("--space: unknown space '" + space + "' (known: native, srgb)");
  options.space = *parsed_space;
  return {};
}

// An option given with an empty value names nothing to write.
Status CheckNamed(const std::string& value, std::size_t count, const std::string& option,
                  const std::string& what) {
  if (value.empty() && count > 0) return Usage(option + " needs a " + what);
  return {};
}

constexpr const char* kDescription =
    "Compares this project's demosaicing method with OpenCV's bilinear and edge-aware Bayer\n"
    "demosaicing. Every reference image is sampled once through a Bayer filter (GRBG unless\n"
    "--pattern says otherwise); each method reconstructs that same mosaic and is measured by\n"
    "the same PSNR function over the same interior.\n\n"
    "Standard output: one row per image with each method's CPSNR in dB, a mean row (the mean\n"
    "of the per-image dB figures) and each method's reconstruction throughput in megapixels\n"
    "per second (reconstruction alone, one thread). With --noise, one block of rows per noise\n"
    "level; with two or more methods, each is compared with the first (mean difference, 95 %\n"
    "paired-bootstrap interval, wins, ties and losses). Exit status: 0 when every image was\n"
    "measured and every file written, 1 otherwise (or a method worse than --baseline by more\n"
    "than --fail-if-worse), 2 for a bad command line.\n";

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

Expected<std::optional<RunOptions>> ParseBenchOptions(int argc, const char* const* argv) {
  RunOptions options;
  options.program = "demosaic-bench";
  CLI::App app(kDescription, "demosaic-bench");
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
                 "PSNR_R, PSNR_G, PSNR_B, CPSNR, milliseconds, pattern, border, noise, "
                 "white_level (full precision, inf when exact)")
      ->type_name("FILE");
  app.add_option("--save", options.save_dir,
                 "Write NAME.METHOD.png (the reconstruction, 16-bit for a 16-bit reference) and "
                 "NAME.METHOD.err.png (its per-pixel error, 32 levels of 255 reaching the top of "
                 "the viridis colour map, the unmeasured frame black) into DIR, created if "
                 "missing")
      ->type_name("DIR");
  app.add_option("--report", options.report_dir,
                 "Write an HTML report to DIR/index.html, created if missing: the settings, the "
                 "sortable table, a chart, and for each image the region where the methods "
                 "differ most, magnified, with the full-size images in DIR/images; opens from "
                 "file:// with no network")
      ->type_name("DIR");

  std::vector<std::string> noise_arguments;
  app.add_option(
         "--noise", noise_arguments,
         "Add noise to every mosaic after sampling, one block of rows per level: "
         "gaussian:S[,S...] (standard deviation S on the 8-bit scale, scaled to W at 16 bits), "
         "poisson-gaussian:A,B[,A,B...] (variance A x value + B), none (the clean "
         "mosaic). Repeatable; every method reconstructs the same noisy mosaic and is "
         "measured against the clean reference")
      ->type_name("LEVELS");
  std::string seed_text = "0";
  app.add_option("--seed", seed_text,
                 "Seed of the noise and of the bootstrap, in decimal (default 0); the noise of "
                 "a site depends only on the seed, the image's name, the level and the site")
      ->type_name("N");
  app.add_option("--summary", options.summary_path,
                 "Write a JSON summary to FILE: the options, each method's means, the paired "
                 "comparisons with the first method and each reference's SHA-256")
      ->type_name("FILE");
  app.add_option("--baseline", options.baseline_path,
                 "Compare each method's means with an earlier CSV of this tool (same columns, "
                 "tile and border), over the images both runs share")
      ->type_name("OLD.csv");
  std::string depth_text = "8";
  app.add_option("--depth", depth_text,
                 "8: every reference read at 8 bits, 16-bit samples by their high byte (the "
                 "default); native: 16-bit references (PNG, PNM, PAM, TIFF, JPEG 2000) kept at 16 "
                 "bits with the "
                 "white level W = 65535 (or --white-level), figures with peak W, "
                 "reconstructions saved as 16-bit PNG; 8-bit references stay 8-bit (W = 255) "
                 "and floating-point ones are read at 8 bits as at --depth 8")
      ->type_name("8|native");
  std::string white_text;
  app.add_option("--white-level", white_text,
                 "With --depth native: the largest sample value of 16-bit references, in "
                 "decimal from 1 to 65535, for data stored in a wider container (4095 for 12-bit "
                 "samples); a reference with a sample above it is skipped, never clamped")
      ->type_name("N");
  std::string space_text = "native";
  app.add_option("--space", space_text,
                 "native: figures on the samples as stored (the default); srgb: for linear data, "
                 "the sRGB transfer curve applied to reference and reconstruction before every "
                 "figure, each sample rounded back to the same white level")
      ->type_name("native|srgb");
  std::string balance_text = "none";
  app.add_option("--white-balance", balance_text,
                 "With --depth native, for camera raw files (.dng .cr2 .cr3 .nef .arw .raf .orf "
                 ".rw2 .pef ...), each taken as its half-size image (each 2 x 2 quad of the "
                 "sensor one pixel, black subtracted, at its own white level): none (the "
                 "default) or camera, the file's as-shot multipliers (green's 1), "
                 "min(W, round(v * m)) per channel")
      ->type_name("none|camera");
  std::string fail_text;
  app.add_option("--fail-if-worse", fail_text,
                 "With --baseline: exit 1 when a method's mean CPSNR at any noise level is more "
                 "than DB below the baseline's")
      ->type_name("DB");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return std::optional<RunOptions>();
  } catch (const CLI::ParseError& e) {
    return Usage(e.what());
  }

  const Expected<BayerPattern> pattern = ParsePatternOption(pattern_name);
  if (!pattern.ok()) return pattern.error();
  options.pattern = pattern.value();
  const Expected<std::int32_t> border = ParseBorderOption(border_text);
  if (!border.ok()) return border.error();
  options.border = border.value();
  const Expected<int> jobs = ParseJobsOption(jobs_text);
  if (!jobs.ok()) return jobs.error();
  options.jobs = jobs.value();
  Expected<std::vector<Method>> methods =
      ParseMethodsOption(method_list, app.count("--methods") > 0);
  if (!methods.ok()) return methods.error();
  options.methods = std::move(methods).value();
  const Expected<MetricSet> metrics = ParseMetricsOption(metric_list);
  if (!metrics.ok()) return metrics.error();
  options.metrics = metrics.value();
  for (const std::string& argument : compare_arguments) {
    Expected<ComparedMethod> compared = ParseCompared(argument, options.compared);
    if (!compared.ok()) return compared.error();
    options.compared.push_back(std::move(compared).value());
  }
  Expected<std::vector<NoiseLevel>> noise = ParseNoiseOption(noise_arguments);
  if (!noise.ok()) return noise.error();
  options.noise = std::move(noise).value();
  if (const Status depth = ParseDepthOptions(depth_text, white_text, app.count("--white-level") > 0,
                                             space_text, options);
      !depth.ok()) {
    return depth.error();
  }
  if (balance_text == "camera") {
    options.raw_white_balance = RawWhiteBalance::kCamera;
  } else if (balance_text != "none") {
    return Usage("--white-balance: unknown balance '" + balance_text + "' (known: none, camera)");
  }
  if (app.count("--white-balance") > 0 && options.depth != SampleDepth::kNative) {
    return Usage(
        "--white-balance needs --depth native: camera raw files are evaluated at their "
        "own depth");
  }
  const std::optional<std::int64_t> seed =
      ParseDecimal(seed_text, std::numeric_limits<std::int64_t>::max());
  if (!seed) return Usage("--seed: '" + seed_text + "' is not a decimal count");
  options.seed = static_cast<std::uint64_t>(*seed);
  if (app.count("--fail-if-worse") > 0) {
    if (app.count("--baseline") == 0) return Usage("--fail-if-worse needs --baseline");
    const Expected<double> decibels = ParseDecibels(fail_text);
    if (!decibels.ok()) return decibels.error();
    options.fail_if_worse = decibels.value();
  }
  for (const Status& named :
       {CheckNamed(options.summary_path, app.count("--summary"), "--summary", "file name"),
        CheckNamed(options.baseline_path, app.count("--baseline"), "--baseline", "file name"),
        CheckNamed(options.csv_path, app.count("--csv"), "--csv", "file name"),
        CheckNamed(options.save_dir, app.count("--save"), "--save", "directory name"),
        CheckNamed(options.report_dir, app.count("--report"), "--report", "directory name")}) {
    if (!named.ok()) return named.error();
  }
  return std::optional<RunOptions>(std::move(options));
}

}  // namespace demosaic::bench
