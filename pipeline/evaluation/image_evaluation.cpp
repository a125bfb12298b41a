// One reference through every requested method, and where each failure is
// decided.
#include "evaluation/image_evaluation.h"

#include <algorithm>
#include <chrono>
#include <opencv2/core.hpp>
#include <utility>

#include "demosaic/transfer.h"
#include "evaluation/failure.h"
#include "evaluation/mat_views.h"
#include "io/image_files.h"
#include "report/error_map.h"

namespace demosaic {
namespace {

// Reconstructing in place holds the decoded reference, replaced by its
// reconstruction row by row, and the encoded output (at most about the raw
// size; 4 bytes a pixel leaves room for encoders' own buffers and files that
// do not compress).
constexpr std::size_t kInPlaceBytesPerPixel = 4;

// Bytes per pixel that saving adds: the error levels, their colours, the
// PNG encoder's filtered copy and an encoded file (at most about the raw
// size).
constexpr std::size_t kSavingBytesPerPixel = 1 + 3 + 3 + 3;

// True when nothing but the method's reconstruction and its PSNR is kept and
// nothing is timed: the reconstruction can then replace the reference row by
// row, each row measured against the original just before, with no mosaic
// and no second image.
bool ReconstructsInPlace(const EvaluationRequest& request, const EvaluationOutputs& outputs) {
  const MetricSet psnr_only;
  return !request.timed && !AddsNoise(request) && request.noise.size() == 1 &&
         request.depth == SampleDepth::kEight && request.space == SampleSpace::kNative &&
         request.methods.size() == 1 && request.methods.front() == Method::kDirectional &&
         request.compared.empty() && request.metrics.ssim == psnr_only.ssim &&
         request.metrics.de2000 == psnr_only.de2000 && request.metrics.zipper == psnr_only.zipper &&
         outputs.report.dir.empty() &&
         std::all_of(outputs.error_map_files.begin(), outputs.error_map_files.end(),
                     [](const std::string& file) { return file.empty(); });
}

}  // namespace

bool AddsNoise(const EvaluationRequest& request) {
  return std::any_of(request.noise.begin(), request.noise.end(),
                     [](const NoiseLevel& level) { return level.kind != NoiseKind::kNone; });
}

RunMemory PlannedMemory(const EvaluationRequest& request, const EvaluationOutputs& outputs) {
  if (ReconstructsInPlace(request, outputs)) {
    RunMemory memory;
    memory.bytes_per_pixel = kInPlaceBytesPerPixel;
    memory.bytes_per_column = ReconstructionWorkingBytes(1);
    return memory;
  }
  const bool reporting = !outputs.report.dir.empty();
  const auto named = [](const std::vector<std::string>& files) {
    return std::any_of(files.begin(), files.end(), [](const std::string& f) { return !f.empty(); });
  };
  const bool keep =
      reporting || named(outputs.reconstruction_files) || named(outputs.error_map_files);
  // A compared method's image is read one at a time, unless the report
  // keeps every method's image.
  const std::size_t compared_bytes =
      request.compared.empty() ? 0 : 3 * (reporting ? request.compared.size() : 1);
  // Figures in the sRGB space are taken on curved copies: the reference's,
  // and one reconstruction's at a time.
  const std::size_t curved_bytes = request.space == SampleSpace::kSrgb ? 2 * 3 : 0;
  // The report shows 16-bit images through 8-bit renderings of the
  // reference and of every method's image.
  const std::size_t rendered_bytes =
      request.depth == SampleDepth::kNative && reporting
          ? 3 * (1 + request.methods.size() + request.compared.size())
          : 0;
  RunMemory memory = EvaluationMemory(
      request.methods.size(), keep,
      (keep ? kSavingBytesPerPixel : 0) + compared_bytes + curved_bytes + rendered_bytes);
  if (request.depth == SampleDepth::kNative) {
    // Counted as if every reference were 16-bit, until its depth is known.
    memory.sample_bytes = 2;
    memory.bytes_per_column = ReconstructionWorkingBytes(1, {}, 2);
  }
  return memory;
}

namespace {

bool NamesAnOutputOf(const std::filesystem::path& reference, const EvaluationOutputs& outputs) {
  for (const auto* files : {&outputs.reconstruction_files, &outputs.error_map_files}) {
    for (const std::string& file : *files) {
      if (!file.empty() && IsSameFile(reference, file)) return true;
    }
  }
  return false;
}

// Writes one image unless its name is empty or it would replace one of the
// run's inputs; a file not written is named in `unwritten`.
bool MayWrite(const std::string& file, const EvaluationOutputs& outputs,
              std::vector<std::string>& unwritten) {
  if (file.empty()) return false;
  for (const std::filesystem::path& input : outputs.protected_files) {
    if (IsSameFile(input, file)) {
      unwritten.push_back(file + " (would overwrite an input image)");
      return false;
    }
  }
  return true;
}

void SaveOutput(const std::string& file, const cv::Mat& image, const EvaluationOutputs& outputs,
                std::vector<std::string>& unwritten) {
  if (!MayWrite(file, outputs, unwritten)) return;
  if (const Status saved = SaveImageAtomically(file, image); !saved.ok()) {
    unwritten.push_back(UnwrittenNote(file, saved));
  }
}

// SaveOutput of an image not needed afterwards, which it may spend.
void SaveLastOutput(const std::string& file, cv::Mat& image, const EvaluationOutputs& outputs,
                    std::vector<std::string>& unwritten) {
  if (!MayWrite(file, outputs, unwritten)) return;
  if (const Status saved = SaveImageSpendingIt(file, image); !saved.ok()) {
    unwritten.push_back(UnwrittenNote(file, saved));
  }
}

std::string FileOf(const std::vector<std::string>& files, std::size_t index) {
  return index < files.size() ? files[index] : std::string();
}

Expected<cv::Mat> LoadReference(const ReferenceInput& reference, const RunMemory& memory,
                                SampleDepth depth) {
  const LoadRequest load{memory, std::nullopt, depth == SampleDepth::kNative};
  if (reference.bytes.empty()) return LoadImageFile(reference.path, load);
  Expected<ImageSource> source = ImageSourceOfBytes(reference.bytes);
  if (!source.ok()) return source.error();
  return LoadImage(source.value(), load);
}

// A raw file's half-size reference. `memory` is the run's plan for the
// reference, counted for 16-bit samples; the raw file's sites are four a
// reference pixel.
Expected<DeepImage> LoadRawReference(const ReferenceInput& reference, const RunMemory& memory,
                                     RawWhiteBalance balance) {
  RunMemory per_site = memory;
  per_site.bytes_per_pixel = (memory.bytes_per_pixel + 3) * 2 / 4 + 1;
  per_site.sample_bytes = 1;
  Expected<RawMosaic> raw = Error{ErrorKind::kUnreadable, ""};
  if (reference.bytes.empty()) {
    raw = UnpackRawFileAt(reference.path, per_site);
  } else {
    Expected<ImageSource> source = ImageSourceOfBytes(reference.bytes);
    if (!source.ok()) return source.error();
    raw = UnpackRawFile(source.value(), per_site);
  }
  // The reason a raw file is refused is kept: "cannot be read as an image"
  // would not say what is wrong with it.
  if (!raw.ok() && raw.error().kind == ErrorKind::kUnreadable && !raw.error().detail.empty() &&
      raw.error().detail != "cannot be read") {
    return Error{ErrorKind::kOther, "raw file " + raw.error().detail};
  }
  if (!raw.ok()) return raw.error();
  return HalfSizeReference(raw.value(), balance);
}

// The decoded reference, its white level, and the image the figures compare
// with: itself, or its copy through the sRGB curve.
struct ReferenceImage {
  cv::Mat image;
  std::int32_t white_level = 255;
  cv::Mat measured;
};

// `image` as the figures see it: itself, or a copy through the sRGB curve.
cv::Mat InSpace(const cv::Mat& image, std::int32_t white_level, SampleSpace space) {
  if (space == SampleSpace::kNative) return image;
  cv::Mat curved = image.clone();
  if (curved.depth() == CV_16U) {
    ApplySrgbCurve(MutableImageView16Of(curved, white_level));
  } else {
    ApplySrgbCurve(MutableImageViewOf(curved));
  }
  return curved;
}

// A reconstruction's figures against the reference, at the reference's
// depth and in the request's space.
MethodFigures Measure(const ReferenceImage& reference, const cv::Mat& reconstruction,
                      const EvaluationRequest& request) {
  const std::int32_t white = reference.white_level;
  const cv::Mat measured = InSpace(reconstruction, white, request.space);
  if (reference.image.depth() == CV_16U) {
    return MeasureFigures(ImageView16Of(reference.measured, white), ImageView16Of(measured, white),
                          request.border, request.metrics, request.metric_threads);
  }
  return MeasureFigures(ImageViewOf(reference.measured), ImageViewOf(measured), request.border,
                        request.metrics, request.metric_threads);
}

// "sample 4096 (red) at row 2, column 7 is above the white level 4095".
std::string AboveWhiteText(const SampleAboveWhite& sample, std::int32_t white_level) {
  static constexpr const char* kChannels[] = {"blue", "green", "red"};
  const std::string channel = sample.channel >= 0 && sample.channel < 3
                                  ? kChannels[sample.channel]
                                  : std::to_string(sample.channel);
  return "sample " + std::to_string(sample.value) + " (" + channel + ") at row " +
         std::to_string(sample.row) + ", column " + std::to_string(sample.column) +
         " is above the white level " + std::to_string(white_level);
}

// The reference replaced by the method's reconstruction, measured row by
// row as it goes: the figures are those of the pixels that are saved.
void EvaluateInPlace(cv::Mat& image, const EvaluationRequest& request,
                     const EvaluationOutputs& outputs, ImageOutcome& outcome) {
  MethodOutcome method;
  method.figures.psnr =
      ReconstructInPlace(MutableImageViewOf(image), request.pattern, {}, request.border);
  outcome.methods.push_back(method);
  SaveLastOutput(FileOf(outputs.reconstruction_files, 0), image, outputs, outcome.unwritten);
}

// Another method's reconstruction of the reference named `stem`, read from
// its directory; what stops it, as the table's message names it.
// A 16-bit reference's compared images are read at 16 bits, and must be
// 16-bit within its white level: an 8-bit one is refused, never rescaled.
Expected<cv::Mat> LoadCompared(const ComparedSource& compared, const std::string& stem,
                               const ReferenceImage& reference, std::size_t memory_ceiling) {
  const Expected<std::filesystem::path> file = FindComparedFile(compared.files, stem);
  if (!file.ok()) return file.error();
  RunMemory memory;
  memory.ceiling = memory_ceiling;
  const bool deep = reference.image.depth() == CV_16U;
  memory.sample_bytes = deep ? 2 : 1;
  const std::string path = file.value().string();
  Expected<cv::Mat> image = LoadImageFile(path, {memory, reference.image.size(), deep});
  if (!image.ok()) {
    const std::string& detail = image.error().detail;
    return Error{image.error().kind,
                 path + " " + (detail.empty() ? "cannot be read as an image" : detail)};
  }
  if (!deep) return image;
  const std::string white = std::to_string(reference.white_level);
  if (image.value().depth() != CV_16U) {
    return Error{ErrorKind::kUnreadable, path +
                                             " has 8-bit samples, the reference 16-bit ones "
                                             "(white level " +
                                             white + "); not rescaled"};
  }
  if (const std::optional<SampleAboveWhite> above =
          FindSampleAboveWhite(ImageView16Of(image.value(), reference.white_level))) {
    return Error{ErrorKind::kUnreadable,
                 path + ": " + AboveWhiteText(*above, reference.white_level)};
  }
  return image;
}

// The mosaic of one noise level: sampled from the clean reference, then the
// level's noise added, keyed by the reference's name.
cv::Mat NoisyMosaicOf(const ReferenceImage& reference, const EvaluationRequest& request,
                      const NoiseLevel& level, const std::string& name) {
  cv::Mat mosaic = SampleMosaicOf(reference.image, request.pattern, reference.white_level);
  if (level.kind == NoiseKind::kNone) return mosaic;
  const std::uint64_t key = NoiseKey(request.seed, name, level);
  const std::size_t rows = static_cast<std::size_t>(mosaic.rows);
  if (mosaic.depth() == CV_16U) {
    // The level's figures are on the 8-bit scale; AddNoise scales them to
    // the white level.
    const std::size_t stride = mosaic.step[0] / sizeof(std::uint16_t);
    AddNoise(std::span<std::uint16_t>(mosaic.ptr<std::uint16_t>(), stride * rows), mosaic.cols,
             mosaic.rows, stride, static_cast<std::uint32_t>(reference.white_level), level, key);
  } else {
    const std::size_t stride = mosaic.step[0];
    AddNoise(std::span<std::uint8_t>(mosaic.ptr<std::uint8_t>(), stride * rows), mosaic.cols,
             mosaic.rows, stride, level, key);
  }
  return mosaic;
}

// One mosaic of noise level `level`, every built-in method's reconstruction
// of it, measured against the clean reference and written as asked, appended
// to `methods`; `kept` gets the reconstructions when the report needs them.
void EvaluateLevel(const ReferenceImage& reference, const std::string& name, std::size_t level,
                   const EvaluationRequest& request, const EvaluationOutputs& outputs,
                   bool reporting, std::vector<MethodOutcome>& methods, std::vector<cv::Mat>& kept,
                   std::vector<std::string>& unwritten) {
  const cv::Mat& image = reference.image;
  const cv::Mat mosaic = NoisyMosaicOf(reference, request, request.noise[level], name);
  const std::size_t first_file = level * request.methods.size();
  // Every method writes into an image whose pages were touched before its
  // clock starts, so that each time is the method's own and not the
  // system's first-touch page faults: one image reused, or a fresh one per
  // method where the report keeps them all.
  cv::Mat output;
  for (std::size_t m = 0; m < request.methods.size(); ++m) {
    if (reporting || output.empty()) {
      output = cv::Mat(image.rows, image.cols, image.type(), cv::Scalar::all(0));
    }
    const auto start = std::chrono::steady_clock::now();
    Reconstruct(request.methods[m], request.pattern, mosaic, output, reference.white_level);
    const auto stop = std::chrono::steady_clock::now();
    MethodOutcome method;
    method.milliseconds = std::chrono::duration<double, std::milli>(stop - start).count();
    method.figures = Measure(reference, output, request);
    methods.push_back(method);
    SaveOutput(FileOf(outputs.reconstruction_files, first_file + m), output, outputs, unwritten);
    if (const std::string file = FileOf(outputs.error_map_files, first_file + m); !file.empty()) {
      SaveOutput(file, MakeErrorMap(image, output, request.border, reference.white_level), outputs,
                 unwritten);
    }
    if (reporting) kept.push_back(output);
  }
}

// Every noise level's mosaic, every method's reconstruction of it, and the
// compared methods' files, each measured and written as asked. The report
// shows the first level.
void EvaluateMethods(const ReferenceImage& reference, const std::string& stem,
                     const std::string& name, const EvaluationRequest& request,
                     const EvaluationOutputs& outputs, std::size_t memory_ceiling,
                     ImageOutcome& outcome) {
  const bool reporting = !outputs.report.dir.empty();
  std::vector<cv::Mat> kept;
  std::vector<MethodOutcome> compared_outcomes;
  EvaluateLevel(reference, name, 0, request, outputs, reporting, outcome.methods, kept,
                outcome.unwritten);
  for (std::size_t k = 0; k < request.compared.size(); ++k) {
    const ComparedSource& compared = request.compared[k];
    MethodOutcome method;
    Expected<cv::Mat> image = LoadCompared(compared, stem, reference, memory_ceiling);
    method.measured = image.ok();
    if (!image.ok()) {
      outcome.unmeasured.push_back(compared.name + ": " + image.error().detail);
    } else {
      method.figures = Measure(reference, image.value(), request);
      const std::string file =
          FileOf(outputs.error_map_files, request.noise.size() * request.methods.size() + k);
      if (!file.empty()) {
        SaveOutput(
            file,
            MakeErrorMap(reference.image, image.value(), request.border, reference.white_level),
            outputs, outcome.unwritten);
      }
    }
    compared_outcomes.push_back(method);
    // An unmeasured method has an empty image: the report shows no crop.
    if (reporting) kept.push_back(image.ok() ? std::move(image).value() : cv::Mat());
  }
  outcome.methods.insert(outcome.methods.end(), compared_outcomes.begin(), compared_outcomes.end());
  // A compared method's files are the same at every level: measured once,
  // shown at each.
  for (std::size_t level = 1; level < request.noise.size(); ++level) {
    std::vector<MethodOutcome> methods;
    std::vector<cv::Mat> unused;
    EvaluateLevel(reference, name, level, request, outputs, false, methods, unused,
                  outcome.unwritten);
    methods.insert(methods.end(), compared_outcomes.begin(), compared_outcomes.end());
    outcome.later_levels.push_back(std::move(methods));
  }
  if (reporting) {
    std::vector<std::string> names;
    for (const Method method : request.methods) names.emplace_back(MethodName(method));
    for (const ComparedSource& compared : request.compared) names.push_back(compared.name);
    outcome.report = WriteReportImages(outputs.report, outputs.report_index, outputs.report_name,
                                       reference.image, kept, names, outcome.methods,
                                       request.border, reference.white_level);
    outcome.unwritten.insert(outcome.unwritten.end(), outcome.report.unwritten.begin(),
                             outcome.report.unwritten.end());
  }
}

}  // namespace

RunMemory EvaluationMemory(std::size_t method_count, bool keep_outputs,
                           std::size_t extra_bytes_per_pixel) {
  RunMemory memory;
  const std::size_t outputs = keep_outputs ? method_count : 1;
  memory.bytes_per_pixel = 1 + 3 * outputs + extra_bytes_per_pixel;
  memory.bytes_per_column = ReconstructionWorkingBytes(1);
  return memory;
}

Status CheckMeasurable(std::int32_t width, std::int32_t height, std::int32_t border,
                       const MetricSet& metrics) {
  if (width < kMinimumSide || height < kMinimumSide) return Error{ErrorKind::kTooSmall, ""};
  const std::int64_t side = 2 * std::int64_t{border} + MinimumMeasuredSide(metrics);
  if (width >= side && height >= side) return {};
  const std::string needed =
      "at least " + std::to_string(side) + " x " + std::to_string(side) + " pixels are needed";
  if (width >= 2 * std::int64_t{border} + 1 && height >= 2 * std::int64_t{border} + 1) {
    const std::int32_t window = MinimumMeasuredSide(metrics);
    const std::string sides = std::to_string(window) + " x " + std::to_string(window);
    const std::string what = metrics.ssim ? "SSIM's " + sides + " window"
                                          : "the zipper figure's " + sides + " neighbourhood";
    return Error{ErrorKind::kTooSmall, "too small for " + what + " with --border " +
                                           std::to_string(border) + ": " + needed};
  }
  return Error{ErrorKind::kTooSmall,
               "too small for --border " + std::to_string(border) + ": " + needed};
}

ImageOutcome EvaluateReference(const ReferenceInput& reference, const EvaluationRequest& request,
                               const EvaluationOutputs& outputs, std::size_t memory_ceiling) {
  ImageOutcome outcome;
  if (reference.bytes.empty() && NamesAnOutputOf(reference.path, outputs)) {
    outcome.status = Error{ErrorKind::kOverwritesReference, ""};
    return outcome;
  }
  const bool in_place = ReconstructsInPlace(request, outputs);
  RunMemory memory = PlannedMemory(request, outputs);
  memory.ceiling = memory_ceiling;
  // A raw file has no 8-bit reading: its samples are the sensor's.
  const bool from_raw = HasRawExtension(reference.path);
  if (from_raw && request.depth != SampleDepth::kNative) {
    outcome.status = Error{ErrorKind::kOther,
                           "a camera raw file is evaluated at its own depth: use --depth native"};
    return outcome;
  }
  std::int32_t raw_white_level = 0;
  Expected<cv::Mat> loaded = cv::Mat();
  if (from_raw) {
    Expected<DeepImage> raw = LoadRawReference(reference, memory, request.raw_white_balance);
    if (raw.ok()) {
      raw_white_level = raw.value().white_level;
      loaded = std::move(raw.value().image);
    } else {
      loaded = raw.error();
    }
  } else {
    loaded = LoadReference(reference, memory, request.depth);
  }
  if (!loaded.ok()) {
    outcome.status = loaded.error();
    return outcome;
  }
  outcome.from_raw = from_raw;
  cv::Mat& image = loaded.value();
  outcome.width = image.cols;
  outcome.height = image.rows;
  outcome.status = CheckMeasurable(image.cols, image.rows, request.border, request.metrics);
  if (!outcome.status.ok()) return outcome;
  const bool deep = image.depth() == CV_16U;
  const std::int32_t white_level = !deep                      ? 255
                                   : from_raw                 ? raw_white_level
                                   : request.white_level != 0 ? request.white_level
                                                              : kMaxWhiteLevel;
  if (deep) {
    // Never clamped: a sample above the declared white level means the
    // declaration, or the file, is wrong.
    if (const std::optional<SampleAboveWhite> above =
            FindSampleAboveWhite(ImageView16Of(image, white_level))) {
      outcome.status = Error{ErrorKind::kOther, AboveWhiteText(*above, white_level)};
      return outcome;
    }
  }
  outcome.white_level = white_level;
  try {
    if (in_place) {
      EvaluateInPlace(image, request, outputs, outcome);
    } else {
      const std::string stem = std::filesystem::path(reference.path).stem().string();
      const ReferenceImage measured{image, white_level, InSpace(image, white_level, request.space)};
      EvaluateMethods(measured, stem, reference.name, request, outputs, memory_ceiling, outcome);
    }
  } catch (...) {
    // Anything but running out of memory is a fault for the caller to
    // report as such.
    outcome.status = OutOfMemoryOrRethrow();
    outcome.methods.clear();
    outcome.later_levels.clear();
    outcome.unmeasured.clear();
  }
  return outcome;
}

}  // namespace demosaic
