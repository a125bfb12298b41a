// demosaic-develop [options] RAW OUTPUT: reconstructs a camera raw file's
// own Bayer mosaic at full resolution and writes it, developed to sRGB or as
// linear 16-bit samples.
//
// Errors follow demosaic-eval: one of its fixed messages on standard output
// (no line end), the reason on standard error, exit status -1 (255); nothing
// is printed on standard output after a complete run, which exits 0.
#include <CLI/CLI.hpp>
#include <cctype>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "cli/console.h"
#include "cli/process_policy.h"
#include "demosaic/reconstruct.h"
#include "evaluation/failure.h"
#include "evaluation/raw_development.h"
#include "io/image_files.h"
#include "io/raw_file.h"
#include "io/standard_output.h"

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = -1;  // the shell sees 255

constexpr const char* kDescription =
    "Reconstructs the Bayer mosaic of a camera raw file (DNG, CR2, CR3, NEF, ARW, RAF, ORF, RW2,\n"
    "PEF, ...; LibRaw unpacks it) at full resolution and writes it to OUTPUT. The mosaic is the\n"
    "file's visible area less its black levels; its white level is the file's white less black.\n"
    "\n"
    "By default the reconstruction is developed: the as-shot white balance, the file's camera\n"
    "matrix (camera to sRGB, rows summing to 1) and the sRGB curve. OUTPUT's extension chooses\n"
    "the format and the depth: .tif/.tiff are written with 16-bit samples, every other format\n"
    "(.png, .jpg, ...) with 8-bit ones; --bits 16 writes 16-bit PNG (or PPM) instead.\n"
    "\n"
    "With --linear the black-subtracted reconstruction itself is written, no colour processing,\n"
    "as 16-bit samples from 0 to the white level (white less black): OUTPUT must be .png, .tif,\n"
    ".tiff or .ppm.\n"
    "\n"
    "Errors print one of demosaic-eval's messages on standard output ('Error in image reading.',\n"
    "'Not enough memory.', 'Output would overwrite the reference.', 'Error in image writing.')\n"
    "with the reason on standard error, and exit with status 255.";

bool Print(std::string_view text, std::FILE* messages) {
  const demosaic::Status printed = demosaic::PutStandardOutput(text);
  if (printed.ok()) return true;
  if (const std::string& problem = printed.error().detail; !problem.empty()) {
    std::fprintf(messages, "demosaic-develop: %s\n", problem.c_str());
  }
  return false;
}

// The fixed message on standard output and the reason on standard error.
int Fail(const demosaic::Error& error, const std::string& path, std::FILE* messages) {
  std::string message = demosaic::ToolMessage(error.kind);
  if (message.empty()) message = "Invalid argument.";
  if (!error.detail.empty() && error.detail != path) {
    std::fprintf(messages, "demosaic-develop: %s: %s\n", path.c_str(), error.detail.c_str());
  }
  Print(message, messages);
  return kExitFailure;
}

struct Arguments {
  std::string raw;
  std::string output;
  std::string method = "method";
  bool linear = false;
  int bits = 0;  // 0: by OUTPUT's extension
  bool camera_white_balance = true;
};

// The output's sample size: what --bits says, else 16 for TIFF and 8 for
// everything else; --linear is always 16. Empty with the reason when the
// extension cannot hold it.
demosaic::Expected<int> OutputBits(const Arguments& arguments) {
  const std::string extension = [&] {
    std::string text = std::filesystem::path(arguments.output).extension().string();
    for (char& ch : text) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return text;
  }();
  const bool tiff = extension == ".tif" || extension == ".tiff";
  int bits = arguments.bits != 0 ? arguments.bits : tiff ? 16 : 8;
  if (arguments.linear) {
    if (arguments.bits == 8) {
      return demosaic::Error{demosaic::ErrorKind::kInvalidArgument,
                             "--linear writes 16-bit samples; --bits 8 is refused"};
    }
    bits = 16;
  }
  if (bits == 16 && !demosaic::CanHold16Bit(arguments.output)) {
    return demosaic::Error{demosaic::ErrorKind::kInvalidArgument,
                           "16-bit samples need a .png, .tif, .tiff or .ppm output"};
  }
  return bits;
}

}  // namespace

int main(int argc, char** argv) {
  demosaic::OccupyStandardDescriptors();
  std::FILE* messages = demosaic::DivertLibraryMessages();
  demosaic::SetWriteSignals();

  Arguments arguments;
  CLI::App app(kDescription, "demosaic-develop");
  app.add_option("RAW", arguments.raw, "the camera raw file")->required();
  app.add_option("OUTPUT", arguments.output, "where the developed image goes")->required();
  app.add_option("--method", arguments.method,
                 "method (this project's, the default), bilinear or edge-aware (OpenCV's)")
      ->check(CLI::IsMember({"method", "bilinear", "edge-aware"}));
  app.add_flag("--linear", arguments.linear,
               "write the black-subtracted reconstruction as 16-bit samples, no colour processing");
  app.add_option("--bits", arguments.bits,
                 "output sample size, 8 or 16 (default: 16 for TIFF, 8 for other formats)")
      ->check(CLI::IsMember({8, 16}));
  std::string balance = "camera";
  app.add_option("--white-balance", balance, "camera (the as-shot balance, the default) or none")
      ->check(CLI::IsMember({"camera", "none"}));
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::fputs(app.help().c_str(), stdout);
    return kExitSuccess;
  } catch (const CLI::ParseError& e) {
    std::fprintf(messages, "demosaic-develop: %s\n", e.what());
    std::fputs(
        "usage: demosaic-develop [--method NAME] [--linear] [--bits 8|16] "
        "[--white-balance camera|none] RAW OUTPUT\n",
        messages);
    Print("wrong arguments.", messages);
    return kExitFailure;
  }
  arguments.camera_white_balance = balance == "camera";
  const demosaic::Method method = *demosaic::MethodFromName(arguments.method);

  const demosaic::Expected<int> bits = OutputBits(arguments);
  if (!bits.ok()) {
    std::fprintf(messages, "demosaic-develop: %s: %s\n", arguments.output.c_str(),
                 bits.error().detail.c_str());
    Print(demosaic::ToolMessage(demosaic::ErrorKind::kUnwritable), messages);
    return kExitFailure;
  }
  if (demosaic::IsSameFile(arguments.raw, arguments.output)) {
    return Fail({demosaic::ErrorKind::kOverwritesReference, ""}, arguments.raw, messages);
  }
  // As demosaic-eval: an allocation beyond what the system can give fails
  // where it is made, and the run ends with "Not enough memory.".
  demosaic::BoundDataAllocationsToAvailableMemory();
  try {
    demosaic::RunMemory memory;
    memory.bytes_per_pixel = demosaic::kDevelopmentBytesPerSite;
    memory.bytes_per_column =
        demosaic::ReconstructionWorkingBytes(1 << 12, {}, sizeof(std::uint16_t)) / (1 << 12) + 1;
    demosaic::Expected<demosaic::RawMosaic> raw = demosaic::UnpackRawFileAt(arguments.raw, memory);
    if (!raw.ok()) return Fail(raw.error(), arguments.raw, messages);
    demosaic::Expected<demosaic::DeepImage> linear =
        demosaic::ReconstructRawMosaic(raw.value(), method);
    if (!linear.ok()) return Fail(linear.error(), arguments.raw, messages);
    cv::Mat written;
    if (arguments.linear) {
      written = std::move(linear.value().image);
    } else {
      demosaic::Expected<cv::Mat> developed = demosaic::DevelopColours(
          linear.value(), raw.value(), {arguments.camera_white_balance, bits.value()});
      if (!developed.ok()) return Fail(developed.error(), arguments.raw, messages);
      linear.value().image.release();
      written = std::move(developed.value());
    }
    raw.value().samples = {};
    if (const demosaic::Status saved = demosaic::SaveImageAtomically(arguments.output, written);
        !saved.ok()) {
      return Fail(saved.error(), arguments.output, messages);
    }
  } catch (const std::exception& e) {
    std::fprintf(messages, "demosaic-develop: internal error: %s\n", e.what());
    return kExitFailure;
  }
  return kExitSuccess;
}
