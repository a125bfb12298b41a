// Writing to an open file descriptor, shared by the files the tools write
// and the unnamed in-memory files references are decoded from.
#pragma once

#include <span>

namespace demosaic {

// Writes every byte, resuming after interrupted and partial writes. False on
// any other failure, with errno as the failing write left it.
bool WriteAll(int fd, std::span<const unsigned char> bytes);

}  // namespace demosaic
