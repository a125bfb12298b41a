// Telling, before a long run, whether its files can be written where they
// go: a read-only file system or a folder the user may not write would
// otherwise be found only when the results are ready.
#pragma once

#include <filesystem>

#include "io/status.h"

namespace demosaic {

// Creates and removes a probe file in `directory` (an unnamed one where the
// file system offers them, else a hidden named one removed at once).
// kUnwritable with the system's reason when no file can be created there.
Status CheckWritableDirectory(const std::filesystem::path& directory);

}  // namespace demosaic
