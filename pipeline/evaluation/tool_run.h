// The run of demosaic-eval on one reference: load, sample the GRBG mosaic,
// reconstruct, measure, save. The command line and the file fuzzer both run
// it; only printing is left to them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "demosaic/quality.h"
#include "evaluation/image_loading.h"

namespace demosaic {

struct ToolRun {
  Status status;           // what stopped the run before its figures
  QualityFigures figures;  // set when status is ok
  bool saved = false;      // the output file was written
};

// What the run needs beyond the decoded reference, which the reconstruction
// replaces in place: the encoded output (at most about the raw size) and the
// engine's row buffers.
RunMemory ToolRunMemory(std::size_t ceiling = SIZE_MAX);

// Reads and decodes the reference at `reference_path`, then the run. Refuses
// with kOverwritesReference, before reading, an output that is the reference
// itself; any other failure leaves `output_path` untouched. The figures are
// those of the reconstruction as saved; a failed save still reports them.
ToolRun RunTool(const std::string& reference_path, const std::string& output_path,
                std::size_t memory_ceiling = SIZE_MAX);

// The same from the reference file's bytes, decoded through an unnamed
// in-memory copy of them.
ToolRun RunToolOnBytes(std::span<const unsigned char> file, const std::string& output_path,
                       std::size_t memory_ceiling = SIZE_MAX);

}  // namespace demosaic
