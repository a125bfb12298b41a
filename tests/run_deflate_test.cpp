// The deflater for filtered rows: zlib's own inflater reads back exactly the
// input, whatever its bytes, within the bound; runs shrink to almost nothing.
#include "io/run_deflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace demosaic {
namespace {

std::vector<unsigned char> Deflated(const std::vector<unsigned char>& input) {
  const std::size_t bound = DeflateImageRowsBound(input.size());
  // A guard after the bound shows any write beyond it.
  std::vector<unsigned char> out(bound + 16, 0xA5);
  const std::size_t length = DeflateImageRows(input, out.data());
  EXPECT_LE(length, bound);
  EXPECT_TRUE(std::all_of(out.begin() + static_cast<std::ptrdiff_t>(bound), out.end(),
                          [](unsigned char b) { return b == 0xA5; }));
  out.resize(std::min(length, bound));
  return out;
}

void ExpectInflatesTo(const std::vector<unsigned char>& input, const std::string& what) {
  const std::vector<unsigned char> stream = Deflated(input);
  std::vector<unsigned char> back(input.size() + 1);
  uLongf back_size = static_cast<uLongf>(back.size());
  ASSERT_EQ(uncompress(back.data(), &back_size, stream.data(), static_cast<uLong>(stream.size())),
            Z_OK)
      << what;
  back.resize(back_size);
  EXPECT_TRUE(back == input) << what;
}

TEST(RunDeflate, ZlibInflatesEveryKindOfInputBackExactly) {
  std::mt19937 random(7);
  ExpectInflatesTo({}, "empty");
  ExpectInflatesTo({42}, "one byte");
  ExpectInflatesTo(std::vector<unsigned char>(700000, 0), "zeros over several blocks");

  std::vector<unsigned char> noise(300000);
  for (unsigned char& b : noise) b = static_cast<unsigned char>(random());
  ExpectInflatesTo(noise, "noise (stored blocks)");

  // Runs of every length from 1 to 300 (each length code and its extra
  // bits, and runs cut at 258), between bytes that break them.
  std::vector<unsigned char> runs = {1, 2, 3};
  for (int length = 1; length <= 300; ++length) {
    const auto value = static_cast<unsigned char>(random());
    for (int i = 0; i < length; ++i) runs.push_back(runs[runs.size() - 3]);
    runs.push_back(static_cast<unsigned char>(runs[runs.size() - 3] + 1 + value % 200));
  }
  ExpectInflatesTo(runs, "runs of every length");

  // Counts in the Fibonacci sequence: the optimal code would be 24 bits
  // deep, past deflate's 15.
  std::vector<unsigned char> skewed;
  std::uint32_t previous = 1, count = 1;
  for (int symbol = 0; symbol < 25; ++symbol) {
    skewed.insert(skewed.end(), count, static_cast<unsigned char>(symbol * 10));
    count += std::exchange(previous, count);
  }
  std::shuffle(skewed.begin(), skewed.end(), random);
  ExpectInflatesTo(skewed, "counts deeper than 15 bits");
}

TEST(RunDeflate, RunsOfAPixelShrinkToAlmostNothing) {
  std::vector<unsigned char> flat;
  for (int i = 0; i < 300000; ++i) flat.push_back(static_cast<unsigned char>(i % 3 * 50));
  EXPECT_LT(Deflated(flat).size(), flat.size() / 100);
}

}  // namespace
}  // namespace demosaic
