// The SHA-256 of a reference file, so that a summary names exactly the bytes
// its figures were measured on. OpenSSL's libcrypto computes it.
#pragma once

#include <filesystem>
#include <optional>
#include <span>
#include <string>

namespace demosaic {

// The SHA-256 of `bytes` in lower-case hexadecimal.
std::string Sha256Hex(std::span<const unsigned char> bytes);

// The SHA-256 of the regular file at `path` (links followed), in lower-case
// hexadecimal; nothing for anything else (a pipe, which a second reading
// would drain, a device) or a file that cannot be read.
std::optional<std::string> FileSha256(const std::filesystem::path& path);

}  // namespace demosaic
