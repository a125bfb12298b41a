// Writing to an open file descriptor, shared by the files the tools write
// and the unnamed in-memory files references are decoded from.
#pragma once

#include <cerrno>
#include <cstddef>
#include <span>

namespace demosaic {

// Writes every byte, resuming after interrupted and partial writes. False on
// any other failure, with errno as the failing write left it.
bool WriteAll(int fd, std::span<const unsigned char> bytes);

// True for the errno of an open that failed because the process (EMFILE)
// or the system (ENFILE) has no descriptor left: a limit of the run, not a
// fault of the file.
inline bool OutOfDescriptors(int error) {
  return error == EMFILE || error == ENFILE;
}

// Descriptors this process may still open under its limit (RLIMIT_NOFILE),
// counting those open now; SIZE_MAX when the limit is too high to matter.
std::size_t DescriptorsLeft();

}  // namespace demosaic
