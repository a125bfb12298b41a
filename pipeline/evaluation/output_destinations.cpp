// Comparing outputs with the inputs and with one another as files, not as
// spellings.
#include "evaluation/output_destinations.h"

#include <algorithm>

namespace demosaic {
namespace {

namespace fs = std::filesystem;

// One file or directory: the same inode where both exist, else the same
// path once every existing link and "..", "." is resolved.
bool Same(const fs::path& a, const fs::path& b) {
  std::error_code error;
  const bool a_exists = fs::exists(a, error);
  const bool b_exists = fs::exists(b, error);
  if (a_exists && b_exists) return fs::equivalent(a, b, error) && !error;
  if (a_exists != b_exists) return false;
  const fs::path a_path = fs::weakly_canonical(a, error);
  if (error) return false;
  const fs::path b_path = fs::weakly_canonical(b, error);
  return !error && a_path == b_path;
}

// The directory a file output is written in (where its links lead).
fs::path DirectoryOf(const fs::path& file) {
  std::error_code error;
  fs::path resolved = fs::weakly_canonical(file, error);
  if (error) resolved = file;
  const fs::path directory = resolved.parent_path();
  return directory.empty() ? fs::path(".") : directory;
}

fs::path NameOf(const fs::path& file) {
  std::error_code error;
  const fs::path resolved = fs::weakly_canonical(file, error);
  return (error ? file : resolved).filename();
}

// A device, FIFO or socket (standard output among them): written in place,
// never in a directory, so never among the images or another output's files.
bool IsSpecial(const OutputClaim& claim) {
  std::error_code error;
  const fs::file_status status = fs::status(claim.path, error);
  return !error && fs::exists(status) && !fs::is_regular_file(status) && !fs::is_directory(status);
}

std::string Quoted(const fs::path& path) {
  std::string quoted = "'";
  quoted += path.string();
  quoted += '\'';
  return quoted;
}

Error Refused(std::string problem) {
  return {ErrorKind::kInvalidArgument, std::move(problem)};
}

// Whether `claim` may go where the inputs are.
Status CheckAgainstInputs(const OutputClaim& claim, const RunInputs& inputs) {
  if (!claim.directory) {
    for (const fs::path& file : inputs.files) {
      if (Same(claim.path, file))
        return Refused(claim.option + ": " + Quoted(claim.path) + " is one of the images");
    }
    if (!claim.image_like) return {};
  }
  const fs::path directory = claim.directory ? claim.path : DirectoryOf(claim.path);
  for (const fs::path& input_directory : inputs.directories) {
    if (Same(directory, input_directory)) {
      return Refused(claim.option + ": " + Quoted(claim.directory ? claim.path : directory) +
                     " is one of the image directories");
    }
  }
  for (const fs::path& file : inputs.files) {
    std::error_code error;
    if (!fs::exists(file, error)) continue;
    fs::path holder = file.parent_path();
    if (holder.empty()) holder = ".";
    if (Same(directory, holder)) {
      return Refused(claim.option + ": " + Quoted(claim.directory ? claim.path : directory) +
                     " holds the input image " + Quoted(file) +
                     "; outputs there would be taken for images by the next run");
    }
  }
  return {};
}

bool Claims(const OutputClaim& directory, const fs::path& name) {
  return directory.names.empty() || std::find(directory.names.begin(), directory.names.end(),
                                              name.string()) != directory.names.end();
}

bool NamesOverlap(const OutputClaim& a, const OutputClaim& b) {
  if (a.names.empty() || b.names.empty()) return true;
  return std::any_of(a.names.begin(), a.names.end(), [&](const std::string& name) {
    return std::find(b.names.begin(), b.names.end(), name) != b.names.end();
  });
}

// Whether two outputs would write one file.
Status CheckClash(const OutputClaim& a, const OutputClaim& b) {
  if (!a.directory && !b.directory) {
    if (!Same(a.path, b.path)) return {};
    return Refused(a.option + " and " + b.option + " both write " + Quoted(a.path));
  }
  if (a.directory && b.directory) {
    if (!Same(a.path, b.path) || !NamesOverlap(a, b)) return {};
    return Refused(a.option + " and " + b.option + " would write into the same directory " +
                   Quoted(a.path));
  }
  const OutputClaim& file = a.directory ? b : a;
  const OutputClaim& directory = a.directory ? a : b;
  if (!Same(DirectoryOf(file.path), directory.path) || !Claims(directory, NameOf(file.path))) {
    return {};
  }
  return Refused(file.option + ": " + Quoted(file.path) + " is one of the files " +
                 directory.option + " writes");
}

}  // namespace

Status CheckOutputClaims(const std::vector<OutputClaim>& claims, const RunInputs& inputs) {
  std::vector<const OutputClaim*> checked;
  for (const OutputClaim& claim : claims) {
    if (!IsSpecial(claim)) checked.push_back(&claim);
  }
  for (const OutputClaim* claim : checked) {
    if (const Status status = CheckAgainstInputs(*claim, inputs); !status.ok()) return status;
  }
  for (std::size_t i = 0; i < checked.size(); ++i) {
    for (std::size_t j = i + 1; j < checked.size(); ++j) {
      if (const Status status = CheckClash(*checked[i], *checked[j]); !status.ok()) return status;
    }
  }
  return {};
}

}  // namespace demosaic
