// demosaic-eval REFERENCE OUTPUT: simulates a GRBG Bayer capture of the
// reference, reconstructs it, writes the reconstruction and prints its PSNR.
//
// Standard output carries the report line or one of the fixed messages (no
// line end); the exit status is 0 after a complete run and -1 (255)
// otherwise. Everything but the printing and the process-wide settings is the
// pipeline's evaluation of one reference.
#include <cstdio>
#include <exception>
#include <string>

#include "cli/console.h"
#include "cli/process_policy.h"
#include "evaluation/failure.h"
#include "evaluation/image_evaluation.h"
#include "io/standard_output.h"
#include "report/report_line.h"

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = -1;  // the shell sees 255

// Prints `text` on standard output; false, with a message on `messages`
// unless the reader of a pipe has gone, when standard output cannot take it.
bool Print(std::string_view text, std::FILE* messages) {
  const demosaic::Status printed = demosaic::PutStandardOutput(text);
  if (printed.ok()) return true;
  if (const std::string& problem = printed.error().detail; !problem.empty()) {
    std::fprintf(messages, "demosaic-eval: %s\n", problem.c_str());
  }
  return false;
}

int Fail(std::string_view message, std::FILE* messages) {
  Print(message, messages);
  return kExitFailure;
}

// The method alone on the GRBG tile, its PSNR over the 3-pixel frame,
// untimed: the evaluation reconstructs in place.
demosaic::EvaluationRequest ToolRequest() {
  demosaic::EvaluationRequest request;
  request.methods = {demosaic::Method::kDirectional};
  request.timed = false;
  return request;
}

}  // namespace

int main(int argc, char** argv) {
  demosaic::OccupyStandardDescriptors();
  std::FILE* messages = demosaic::DivertLibraryMessages();
  demosaic::SetWriteSignals();
  if (argc != 3) {
    std::fputs("usage: demosaic-eval REFERENCE OUTPUT\n", messages);
    return Fail("wrong argument number.", messages);
  }
  // Any decoder that asks for more than the system can give now fails where
  // it asks, and the run ends with "Not enough memory." instead of a kill.
  demosaic::BoundDataAllocationsToAvailableMemory();
  const std::string reference_path = argv[1];
  demosaic::EvaluationOutputs outputs;
  outputs.reconstruction_files = {argv[2]};
  demosaic::ImageOutcome outcome;
  try {
    outcome = demosaic::EvaluateReference({reference_path, {}, reference_path}, ToolRequest(), outputs);
  } catch (const std::exception& e) {
    std::fprintf(messages, "demosaic-eval: internal error: %s\n", e.what());
    return kExitFailure;
  }
  if (!outcome.status.ok()) {
    return Fail(demosaic::ToolMessage(outcome.status.error().kind), messages);
  }
  const bool printed = Print(
      demosaic::FormatReportLine(reference_path, outcome.methods.front().figures.psnr), messages);
  if (!outcome.unwritten.empty()) {
    std::fputs("Error in image writing.\n", messages);
    return kExitFailure;
  }
  return printed ? kExitSuccess : kExitFailure;
}
