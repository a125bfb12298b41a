// SHA-256 through OpenSSL's EVP interface, read in blocks.
#include "evaluation/file_digest.h"

#include <openssl/evp.h>

#include <fstream>
#include <memory>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace demosaic {
namespace {

using DigestContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

DigestContext NewSha256() {
  DigestContext context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
    throw std::runtime_error("SHA-256 is not available from libcrypto");
  }
  return context;
}

std::string FinalHex(EVP_MD_CTX* context) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context, digest, &length) != 1) {
    throw std::runtime_error("SHA-256 could not be completed");
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  for (unsigned int k = 0; k < length; ++k) {
    text += kHex[digest[k] >> 4];
    text += kHex[digest[k] & 15];
  }
  return text;
}

}  // namespace

std::string Sha256Hex(std::span<const unsigned char> bytes) {
  DigestContext context = NewSha256();
  if (EVP_DigestUpdate(context.get(), bytes.data(), bytes.size()) != 1) {
    throw std::runtime_error("SHA-256 could not be computed");
  }
  return FinalHex(context.get());
}

std::optional<std::string> FileSha256(const std::filesystem::path& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  DigestContext context = NewSha256();
  std::vector<char> block(1 << 16);
  while (file) {
    file.read(block.data(), static_cast<std::streamsize>(block.size()));
    const std::streamsize got = file.gcount();
    if (got > 0 &&
        EVP_DigestUpdate(context.get(), block.data(), static_cast<std::size_t>(got)) != 1) {
      return std::nullopt;
    }
  }
  if (file.bad()) return std::nullopt;
  return FinalHex(context.get());
}

}  // namespace demosaic
