// io-floor REFERENCE OUTPUT: what any evaluation of REFERENCE must at least
// spend, with the same library calls and settings as demosaic-eval: read the
// file, decode it as 8-bit colour, encode it in OUTPUT's format and write it
// in one step, synced to disk. The speed benchmark sets a whole
// demosaic-eval run against this floor.
#include <cstdio>
#include <opencv2/core.hpp>
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
    demosaic::Expected<cv::Mat> decoded = source.ok() ? demosaic::DecodeColorImage(source.value())
                                                      : demosaic::Expected<cv::Mat>(source.error());
    if (!decoded.ok()) {
      std::fprintf(messages, "io-floor: cannot read %s\n", argv[1]);
      return 1;
    }
    image = std::move(decoded).value();
  }
  if (!demosaic::SaveImageAtomically(argv[2], image).ok()) {
    std::fprintf(messages, "io-floor: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
