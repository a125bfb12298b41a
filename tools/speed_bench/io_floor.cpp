// io-floor REFERENCE OUTPUT: what any evaluation of REFERENCE costs with
// OpenCV's own image I/O and nothing of the pipeline's: read the file,
// decode it as 8-bit colour with cv::imdecode, encode it in OUTPUT's format
// with cv::imencode's defaults and write it in one step, synced to disk, as
// demosaic-eval writes. The speed benchmark sets a whole demosaic-eval run
// (whose decoding and encoding are the pipeline's) against this floor.
#include <cstdio>
#include <filesystem>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <span>
#include <vector>

#include "cli/console.h"
#include "io/image_files.h"
#include "io/memory.h"

int main(int argc, char** argv) {
  std::FILE* messages = demosaic::DivertLibraryMessages();
  if (argc != 3) {
    std::fputs("usage: io-floor REFERENCE OUTPUT\n", messages);
    return 2;
  }
  cv::Mat image;
  {
    demosaic::Expected<demosaic::ImageSource> source =
        demosaic::OpenImageSource(argv[1], demosaic::AvailableMemoryBytes());
    if (source.ok()) image = cv::imdecode(source.value().bytes, cv::IMREAD_COLOR);
    if (image.empty()) {
      std::fprintf(messages, "io-floor: cannot read %s\n", argv[1]);
      return 1;
    }
  }
  std::vector<unsigned char> encoded;
  const std::string extension = std::filesystem::path(argv[2]).extension().string();
  if (!cv::imencode(extension, image, encoded) ||
      !demosaic::WriteFileAtomically(argv[2], std::span<const unsigned char>(encoded)).ok()) {
    std::fprintf(messages, "io-floor: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
