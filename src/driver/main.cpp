// demosaic-eval REFERENCE OUTPUT: simulates a GRBG Bayer capture of the
// reference, reconstructs it, writes the reconstruction and prints its PSNR.
//
// Standard output carries the report line or one of the fixed messages (no
// line end); the exit status is 0 after a complete run and -1 (255)
// otherwise. Everything but the printing is the shared pipeline's.
#include <cstdio>
#include <exception>
#include <string>

#include "cli/console.h"
#include "driver/report_line.h"
#include "pipeline/tool_run.h"

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = -1;  // the shell sees 255

int Fail(std::string_view message) {
  std::fwrite(message.data(), 1, message.size(), stdout);
  std::fflush(stdout);
  return kExitFailure;
}

}  // namespace

int main(int argc, char** argv) {
  std::FILE* messages = demosaic::DivertLibraryMessages();
  if (argc != 3) {
    std::fputs("usage: demosaic-eval REFERENCE OUTPUT\n", messages);
    return Fail("wrong argument number.");
  }
  const std::string reference_path = argv[1];
  demosaic::ToolRun run;
  try {
    run = demosaic::RunTool(reference_path, argv[2]);
  } catch (const std::exception& e) {
    std::fprintf(messages, "demosaic-eval: internal error: %s\n", e.what());
    return kExitFailure;
  }
  if (run.failure != demosaic::Failure::kNone) return Fail(demosaic::ToolMessage(run.failure));
  std::fputs(demosaic::FormatReportLine(reference_path, run.figures).c_str(), stdout);
  std::fflush(stdout);
  if (!run.saved) {
    std::fputs("Error in image writing.\n", messages);
    return kExitFailure;
  }
  return kExitSuccess;
}
