// The evaluation of one reference, which every front end calls: load it,
// sample its mosaic, reconstruct that mosaic with each method, measure every
// reconstruction (and any other method's, read from its files) by the same
// functions over the same interior, and write what was asked: the
// reconstructions, error maps and the report's images.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <opencv2/core/mat.hpp>
#include <span>
#include <string>
#include <vector>

#include "demosaic/bayer.h"
#include "demosaic/reconstruct.h"
#include "evaluation/compared_methods.h"
#include "evaluation/figures.h"
#include "evaluation/image_loading.h"
#include "evaluation/methods.h"
#include "evaluation/noise.h"
#include "io/raw_file.h"
#include "io/status.h"
#include "report/html_report.h"

namespace demosaic {

// A compared method with the files of its directory, listed once per run.
struct ComparedSource {
  std::string name;
  ComparedFiles files;
};

struct EvaluationRequest {
  BayerPattern pattern = BayerPattern::kGRBG;
  std::int32_t border = kFrameWidth;
  std::vector<Method> methods{kAllMethods.begin(), kAllMethods.end()};
  // Measured after the built-in methods, in this order.
  std::vector<ComparedSource> compared;
  MetricSet metrics;
  // Threads each metric beyond PSNR may share its rows among (the figures
  // are the same for any number).
  int metric_threads = 1;
  // Each reconstruction is timed on its own, for a throughput figure. An
  // untimed evaluation that keeps nothing but the method's reconstruction
  // and its PSNR reconstructs in place: no mosaic, no second image.
  bool timed = true;
  // The noise levels, each evaluated in turn on the one decoded reference:
  // each level's noise is added to a freshly sampled mosaic, which every
  // built-in method reconstructs; the reference stays clean. The noise at a
  // site depends on `seed`, the reference's name, the level and the site
  // only. A request with noise never reconstructs in place.
  std::vector<NoiseLevel> noise{NoiseLevel{}};
  std::uint64_t seed = 0;
  // Also give the SHA-256 of the reference file (a regular file only).
  bool hash_reference = false;
  // References at 8 bits, or 16-bit ones kept at 16 bits, of white level
  // `white_level` (0: none declared, kMaxWhiteLevel). A 16-bit reference's
  // reconstructions, saved files and compared images are 16-bit too; a
  // sample above the white level skips the reference. Its noise is the
  // level's scaled to the white level (AddNoise).
  SampleDepth depth = SampleDepth::kEight;
  std::int32_t white_level = 0;
  // Figures on the samples as stored, or after the sRGB curve.
  SampleSpace space = SampleSpace::kNative;
  // A camera raw file (HasRawExtension) is taken, at depth kNative only, as
  // its half-size reference (HalfSizeReference) with this white balance,
  // at its own white level whatever `white_level` declares.
  RawWhiteBalance raw_white_balance = RawWhiteBalance::kNone;
};

// True when some level of the request adds noise.
bool AddsNoise(const EvaluationRequest& request);

// What to write of the evaluation. Empty names write nothing.
struct EvaluationOutputs {
  // Per noise level, per built-in method in the request's order (index
  // level x methods + method): where its reconstruction is saved.
  std::vector<std::string> reconstruction_files;
  // Where error maps are saved: per noise level, per built-in method (as
  // above), then per compared method (whose files do not depend on the
  // level: saved once).
  std::vector<std::string> error_map_files;
  // The report's images of this reference (report.dir empty: no report):
  // image `report_index` of the run, in the folder named after `report_name`.
  ReportTarget report;
  std::size_t report_index = 0;
  std::string report_name;
  // Files that are never written, whatever the names above say: the run's
  // inputs.
  std::vector<std::filesystem::path> protected_files;
};

struct ImageOutcome {
  // Ok when the reference was measured, else why it was not.
  Status status;
  std::int32_t width = 0;
  std::int32_t height = 0;
  // The measured reference's white level: 255 for 8-bit samples.
  std::int32_t white_level = 0;
  // True when the reference is a camera raw file's half-size reference.
  bool from_raw = false;
  std::vector<MethodOutcome> methods;  // built-in then compared, at the first noise level
  // The same for each further noise level of the request, in its order.
  std::vector<std::vector<MethodOutcome>> later_levels;
  std::string sha256;                   // lower-case hex, when asked and the reference is a file
  std::vector<std::string> unmeasured;  // "NAME: PATH problem", per compared method not measured
  std::vector<std::string> unwritten;   // "PATH (reason)", per file not written
  ImageSection report;                  // what the report shows of it
};

// Where a reference comes from: the file at `path`, or, when `bytes` is not
// empty, those bytes (the file fuzzer's input), decoded through an unnamed
// in-memory file.
struct ReferenceInput {
  std::string path;
  std::span<const unsigned char> bytes;
  // The name that keys its noise (the run's image name, a file name).
  std::string name;
};

// What an evaluation holds beyond the decoded reference: the mosaic, the
// reconstructions (one reused, or one per method when `keep_outputs`), the
// engine's row buffers and `extra_bytes_per_pixel` of the caller's own.
RunMemory EvaluationMemory(std::size_t method_count, bool keep_outputs,
                           std::size_t extra_bytes_per_pixel);

// The memory EvaluateReference counts on for this request and these
// outputs beyond the decoded reference: in place (demosaic-eval's run), about
// 4 bytes a pixel for the encoded output and a few rows; otherwise the
// mosaic, the reconstructions kept, what saving and compared images add.
RunMemory PlannedMemory(const EvaluationRequest& request, const EvaluationOutputs& outputs);

// kTooSmall, with the reason, when a width x height reference cannot be
// measured with `border` and `metrics`.
Status CheckMeasurable(std::int32_t width, std::int32_t height, std::int32_t border,
                       const MetricSet& metrics);

// Evaluates the reference. Its status says why it was not measured:
// kOverwritesReference (before reading anything) when an output names the
// reference itself; the loader's errors; kTooSmall for the border and
// figures asked; kOutOfMemory when the run does not fit in `memory_ceiling`
// or what the system can give. A compared method's file that cannot be
// measured leaves that method's outcome unmeasured and is named in
// `unmeasured`; a file that cannot be written is named in `unwritten` and the
// figures stand. Throws only for faults (anything but running out of memory).
ImageOutcome EvaluateReference(const ReferenceInput& reference, const EvaluationRequest& request,
                               const EvaluationOutputs& outputs,
                               std::size_t memory_ceiling = SIZE_MAX);

}  // namespace demosaic
