// Where a run's outputs go, checked before any image is read: an output
// written among the inputs would be taken for an input by the next run, and
// two outputs on one file would lose one of them.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "io/status.h"

namespace demosaic {

// One option's outputs: a file, or a directory it writes files into.
struct OutputClaim {
  std::string option;  // as the user wrote it: "--csv", "--save", "--report"
  std::filesystem::path path;
  bool directory = false;
  // The files a directory output writes there; empty when any file in the
  // directory may be written (the whole directory is claimed).
  std::vector<std::string> names;
  // A file output that a later run would take for an image (it has an image
  // extension), so that it may not go where the images are either.
  bool image_like = false;
};

// The run's inputs: the directories given on the command line and every
// image file taken (from them or given as files, however named).
struct RunInputs {
  std::vector<std::filesystem::path> directories;
  std::vector<std::filesystem::path> files;
};

// Ok when the outputs may be written, else kInvalidArgument saying what is
// wrong, starting with the option: a directory output (or an image-like file output) in a directory
// that is one of the input directories or holds an input file; a file output
// that is an input; two outputs on one file (a file output among a directory
// output's files, two directory outputs sharing a directory where either
// claims the whole of it or both name one file). Paths are compared as
// files, through links and other spellings. Outputs that exist and are not
// regular files or directories (devices, FIFOs, standard output) take no
// part. Only looks at the file system; creates nothing.
Status CheckOutputClaims(const std::vector<OutputClaim>& claims, const RunInputs& inputs);

}  // namespace demosaic
