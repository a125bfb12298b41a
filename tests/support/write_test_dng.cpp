// write-test-dng FILE: writes the DNG the Python tests evaluate (a 64 x 48
// BGGR sensor of 12-bit samples with a 2 x 2 black pattern), with the same
// writer the C++ tests use.
#include <cstdio>
#include <fstream>

#include "support/dng_writer.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: write-test-dng FILE\n", stderr);
    return 2;
  }
  demosaic::testing::DngContents dng;
  dng.width = 64;
  dng.height = 48;
  dng.samples = demosaic::testing::TestSensorSamples(dng.width, dng.height, 3);
  dng.pattern = demosaic::BayerPattern::kBGGR;
  dng.black_rows = dng.black_columns = 2;
  dng.black_levels = {40, 44, 48, 52};
  const std::vector<unsigned char> bytes = demosaic::testing::WriteDng(dng);
  std::ofstream out(argv[1], std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return out ? 0 : 1;
}
