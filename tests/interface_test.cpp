// The public interface's guards against misuse: a mosaic carries its tile
// from sampling to reconstruction, crops carry the tile as it falls at their
// corner, a std::vector makes the view its constness calls for, every metric
// leaves out the same default border, and the library reports its version.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "demosaic/demosaic.h"

namespace demosaic {
namespace {

constexpr BayerPattern kAllPatterns[] = {BayerPattern::kGRBG, BayerPattern::kRGGB,
                                         BayerPattern::kBGGR, BayerPattern::kGBRG};

std::vector<std::uint8_t> RandomBytes(std::size_t count, std::uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<std::uint8_t> bytes(count);
  for (auto& v : bytes) v = static_cast<std::uint8_t>(random() % 256);
  return bytes;
}

std::string Describe(BayerPattern pattern, int x, int y) {
  return std::string(PatternName(pattern)) + " cropped at (" + std::to_string(x) + ", " +
         std::to_string(y) + ")";
}

// ------------------------------------------------------------ the tile

// No call leaves the tile to a default: a mosaic view cannot be made without
// one (nor with a stride where the tile belongs), sampling and reconstruction
// take no other tile than the view's, and the in-place reconstruction, which
// has no mosaic, requires one.
template <class Bytes>
constexpr bool kViewWithoutTile = requires(Bytes& bytes) {
  MakeMosaicView(bytes, 1, 1);
};
template <class Bytes>
constexpr bool kViewWithStrideForTile = requires(Bytes& bytes) {
  MakeMosaicView(bytes, 1, 1, std::ptrdiff_t{1});
};
template <class Image, class Mosaic>
constexpr bool kSamplingWithOtherTile = requires(Image image, Mosaic mosaic) {
  SampleMosaic(image, mosaic, BayerPattern::kGRBG);
};
template <class Image>
constexpr bool kInPlaceWithoutTile = requires(Image image) {
  ReconstructInPlace(image);
};
template <class Options>
constexpr bool kTileInOptions = requires(Options options) {
  options.pattern;
};
// The same checks do see the calls that name the tile.
template <class Bytes, class Image>
constexpr bool kCallsWithTheTile = requires(Bytes& bytes, Image image) {
  SampleMosaic(image, MakeMosaicView(bytes, 1, 1, BayerPattern::kRGGB, std::ptrdiff_t{1}));
  ReconstructInPlace(image, BayerPattern::kRGGB);
};
static_assert(kCallsWithTheTile<std::vector<std::uint8_t>, ImageView>);
static_assert(!kViewWithoutTile<std::vector<std::uint8_t>>);
static_assert(!kViewWithStrideForTile<std::vector<std::uint8_t>>);
static_assert(!kSamplingWithOtherTile<ConstImageView, MosaicView>);
static_assert(!kInPlaceWithoutTile<ImageView>);
static_assert(!kTileInOptions<ReconstructionOptions>);

// A flat colour comes back exactly through any tile, with no option to set:
// the mosaic view tells the reconstruction which tile it was sampled through.
TEST(MosaicTile, ReconstructionFollowsTheTileTheMosaicWasSampledThrough) {
  const int w = 16;
  const int h = 12;
  std::vector<std::uint8_t> flat(3 * w * h);
  for (std::size_t i = 0; i < flat.size(); i += 3) {
    flat[i] = 40;
    flat[i + 1] = 130;
    flat[i + 2] = 220;
  }
  for (const BayerPattern pattern : kAllPatterns) {
    std::vector<std::uint8_t> mosaic(w * h);
    std::vector<std::uint8_t> output(flat.size());
    const MosaicView mosaic_view = MakeMosaicView(mosaic, w, h, pattern);
    SampleMosaic(MakeImageView(std::as_const(flat), w, h), mosaic_view);
    ReconstructFromMosaic(mosaic_view, MakeImageView(output, w, h));
    EXPECT_TRUE(std::isinf(
        ComputeQuality(MakeImageView(std::as_const(flat), w, h), MakeImageView(output, w, h))
            .cpsnr))
        << PatternName(pattern);
  }
}

TEST(MosaicTile, ConvertingAWritableViewKeepsTheTile) {
  std::vector<std::uint8_t> mosaic(4);
  for (const BayerPattern pattern : kAllPatterns) {
    const ConstMosaicView view = MakeMosaicView(mosaic, 2, 2, pattern);
    EXPECT_EQ(view.pattern, pattern);
  }
}

// ------------------------------------------------------------ crops

// Every tile cropped at each parity of row and column: reconstructing the
// crop of the mosaic gives what reconstructing the cropped reference, sampled
// afresh with the crop's tile, gives, and that tile puts each site's colour
// where the whole mosaic has it.
TEST(CropMosaic, CarriesTheTileAsItFallsAtTheCropsCorner) {
  const int w = 31;
  const int h = 27;
  const auto reference = RandomBytes(3 * static_cast<std::size_t>(w) * h, 5);
  const ConstImageView reference_view = MakeImageView(reference, w, h);
  for (const BayerPattern pattern : kAllPatterns) {
    std::vector<std::uint8_t> mosaic(static_cast<std::size_t>(w) * h);
    SampleMosaic(reference_view, MakeMosaicView(mosaic, w, h, pattern));
    const ConstMosaicView whole = MakeMosaicView(std::as_const(mosaic), w, h, pattern);
    for (const auto& [x, y] :
         {std::pair{2, 4}, std::pair{3, 4}, std::pair{2, 5}, std::pair{5, 3}}) {
      const int cw = 19;
      const int ch = 15;
      const ConstMosaicView crop = CropMosaic(whole, x, y, cw, ch);
      for (int r = 0; r < ch; ++r) {
        for (int c = 0; c < cw; ++c) {
          ASSERT_EQ(CfaClassOf(crop.pattern, r, c), CfaClassOf(pattern, r + y, c + x))
              << Describe(pattern, x, y) << " at " << r << "," << c;
        }
      }
      std::vector<std::uint8_t> from_crop(3 * static_cast<std::size_t>(cw) * ch);
      ReconstructFromMosaic(crop, MakeImageView(from_crop, cw, ch));

      std::vector<std::uint8_t> resampled(static_cast<std::size_t>(cw) * ch);
      const MosaicView resampled_view = MakeMosaicView(resampled, cw, ch, crop.pattern);
      SampleMosaic(CropImage(reference_view, x, y, cw, ch), resampled_view);
      std::vector<std::uint8_t> from_resampled(from_crop.size());
      ReconstructFromMosaic(resampled_view, MakeImageView(from_resampled, cw, ch));
      ASSERT_EQ(from_crop, from_resampled) << Describe(pattern, x, y);
    }
  }
}

TEST(CropImage, SharesTheParentsPixelsStrideAndOrder) {
  const int w = 9;
  const int h = 7;
  auto image = RandomBytes(3 * w * h, 9);
  const ImageView parent = MakeImageView(image, w, h, 0, ChannelOrder::kRGB);
  const ImageView crop = CropImage(parent, 2, 3, 4, 3);
  EXPECT_EQ(crop.width, 4);
  EXPECT_EQ(crop.height, 3);
  EXPECT_EQ(crop.stride, parent.stride);
  EXPECT_EQ(crop.order, ChannelOrder::kRGB);
  for (int r = 0; r < crop.height; ++r) {
    for (int k = 0; k < 3 * crop.width; ++k) {
      ASSERT_EQ(crop.Row(r)[k], image[3 * ((r + 3) * w + 2) + k]) << r << "," << k;
    }
  }
  // Writes through the crop land in the parent's region and nowhere else.
  const auto before = image;
  crop.Row(0)[0] = static_cast<std::uint8_t>(before[3 * (3 * w + 2)] + 1);
  for (std::size_t i = 0; i < image.size(); ++i) {
    EXPECT_EQ(image[i] != before[i], i == 3 * (3 * w + 2)) << "byte " << i;
  }
}

TEST(CropMosaic, WritingACropTouchesOnlyItsSites) {
  const int w = 10;
  const int h = 8;
  std::vector<std::uint8_t> mosaic(w * h, 0xEE);
  const auto image = RandomBytes(3 * 4 * 3, 11);
  const MosaicView crop = CropMosaic(MakeMosaicView(mosaic, w, h, BayerPattern::kRGGB), 5, 3, 4, 3);
  SampleMosaic(MakeImageView(image, 4, 3), crop);
  for (int r = 0; r < h; ++r) {
    for (int c = 0; c < w; ++c) {
      const bool inside = r >= 3 && r < 6 && c >= 5 && c < 9;
      if (!inside) {
        EXPECT_EQ(mosaic[r * w + c], 0xEE) << r << "," << c;
      }
    }
  }
}

TEST(Crops, WholeAndEmptyRegionsAreAllowedAndAnythingOutsideRefused) {
  std::vector<std::uint8_t> pixels(3 * 6 * 5);
  std::vector<std::uint8_t> samples(6 * 5);
  const ConstImageView image = MakeImageView(std::as_const(pixels), 6, 5);
  const ConstMosaicView mosaic = MakeMosaicView(std::as_const(samples), 6, 5, BayerPattern::kGRBG);
  EXPECT_NO_THROW(CropImage(image, 0, 0, 6, 5));
  EXPECT_NO_THROW(CropMosaic(mosaic, 6, 5, 0, 0));
  const int kMax = 2147483647;
  for (const auto& [x, y, w, h] :
       {std::tuple{1, 0, 6, 5}, std::tuple{0, 1, 6, 5}, std::tuple{-1, 0, 2, 2},
        std::tuple{0, -1, 2, 2}, std::tuple{0, 0, -1, 2}, std::tuple{0, 0, 2, -1},
        std::tuple{7, 0, 0, 0}, std::tuple{3, 3, kMax, 1}, std::tuple{3, 3, 1, kMax}}) {
    EXPECT_THROW(CropImage(image, x, y, w, h), std::invalid_argument) << x << " " << y;
    EXPECT_THROW(CropMosaic(mosaic, x, y, w, h), std::invalid_argument) << x << " " << y;
  }
}

// ------------------------------------------------------------ vectors

// A std::vector converts to both a read-only and a writable span; the
// vector's own constness picks the view, and a temporary is refused.
template <class Bytes>
constexpr bool kMakesImageView = requires(Bytes&& bytes) {
  MakeImageView(std::forward<Bytes>(bytes), 1, 1);
};
template <class Bytes>
constexpr bool kMakesMosaicView = requires(Bytes&& bytes) {
  MakeMosaicView(std::forward<Bytes>(bytes), 1, 1, BayerPattern::kGRBG);
};
using Bytes = std::vector<std::uint8_t>;
static_assert(kMakesImageView<Bytes&> && kMakesImageView<const Bytes&>);
static_assert(kMakesMosaicView<Bytes&> && kMakesMosaicView<const Bytes&>);
static_assert(!kMakesImageView<Bytes&&> && !kMakesMosaicView<Bytes&&>,
              "a view of a temporary vector would dangle");

TEST(VectorViews, AVectorsConstnessPicksTheView) {
  Bytes writable(3 * 4 * 2, 7);
  const Bytes read_only(3 * 4 * 2, 9);
  const auto image = MakeImageView(writable, 4, 2);
  const auto const_image = MakeImageView(read_only, 4, 2, 0, ChannelOrder::kRGB);
  const auto mosaic = MakeMosaicView(writable, 4, 2, BayerPattern::kBGGR);
  const auto const_mosaic = MakeMosaicView(read_only, 4, 2, BayerPattern::kGBRG, 5);
  static_assert(std::is_same_v<decltype(image), const ImageView>);
  static_assert(std::is_same_v<decltype(const_image), const ConstImageView>);
  static_assert(std::is_same_v<decltype(mosaic), const MosaicView>);
  static_assert(std::is_same_v<decltype(const_mosaic), const ConstMosaicView>);
  EXPECT_EQ(image.data, writable.data());
  EXPECT_EQ(const_image.data, read_only.data());
  EXPECT_EQ(const_image.order, ChannelOrder::kRGB);
  EXPECT_EQ(mosaic.pattern, BayerPattern::kBGGR);
  EXPECT_EQ(const_mosaic.stride, 5);
  EXPECT_EQ(const_mosaic.pattern, BayerPattern::kGBRG);
  // The geometry is still checked against the vector's size.
  EXPECT_THROW(MakeImageView(writable, 5, 2), std::invalid_argument);
  EXPECT_THROW(MakeMosaicView(read_only, 4, 7, BayerPattern::kGRBG), std::invalid_argument);
}

// ------------------------------------------------------------ metrics

// Two images that differ in one ring of pixels `distance` from the edges.
struct RingPair {
  static constexpr int kSide = 24;
  explicit RingPair(int distance)
      : reference(RandomBytes(3 * kSide * kSide, 17)), changed(reference) {
    for (int r = 0; r < kSide; ++r) {
      for (int c = 0; c < kSide; ++c) {
        const int from_edge = std::min({r, c, kSide - 1 - r, kSide - 1 - c});
        if (from_edge != distance) continue;
        for (int k = 0; k < 3; ++k) changed[3 * (r * kSide + c) + k] ^= 0x80;
      }
    }
  }
  ConstImageView A() const { return MakeImageView(reference, kSide, kSide); }
  ConstImageView B() const { return MakeImageView(changed, kSide, kSide); }
  std::vector<std::uint8_t> reference;
  std::vector<std::uint8_t> changed;
};

// Every figure leaves out the reconstruction's frame by default, and no more:
// a change in the frame is not seen, one just inside it is.
TEST(MetricDefaults, EveryFigureLeavesOutTheFrameAndNoMore) {
  const RingPair in_frame(kFrameWidth - 1);
  EXPECT_TRUE(std::isinf(ComputeQuality(in_frame.A(), in_frame.B()).cpsnr));
  EXPECT_EQ(ComputeSsim(in_frame.A(), in_frame.B()), 1.0);
  EXPECT_EQ(ComputeDe2000(in_frame.A(), in_frame.B()), 0.0);
  EXPECT_EQ(ComputeZipper(in_frame.A(), in_frame.B()), 0.0);

  const RingPair inside(kFrameWidth);
  EXPECT_FALSE(std::isinf(ComputeQuality(inside.A(), inside.B()).cpsnr));
  EXPECT_LT(ComputeSsim(inside.A(), inside.B()), 1.0);
  EXPECT_GT(ComputeDe2000(inside.A(), inside.B()), 0.0);
  EXPECT_EQ(ComputeDe2000(inside.A(), inside.B()),
            ComputeDe2000(inside.A(), inside.B(), kFrameWidth));
}

// The named window sides are the smallest interiors the figures accept.
TEST(MetricDefaults, WindowSidesAreTheSmallestMeasurableInteriors) {
  // The 8-bit overloads (each name also has a 16-bit one).
  using Metric = double (*)(ConstImageView, ConstImageView, std::int32_t, int);
  for (const auto& [side, metric] :
       {std::pair{kSsimWindowSide, static_cast<Metric>(&ComputeSsim)},
        std::pair{kZipperNeighbourhoodSide, static_cast<Metric>(&ComputeZipper)}}) {
    const int fits = side + 2 * kFrameWidth;
    const auto image = RandomBytes(3 * static_cast<std::size_t>(fits) * fits, 23);
    EXPECT_NO_THROW(
        metric(MakeImageView(image, fits, fits), MakeImageView(image, fits, fits), kFrameWidth, 1));
    EXPECT_THROW(metric(MakeImageView(image, fits - 1, fits), MakeImageView(image, fits - 1, fits),
                        kFrameWidth, 1),
                 std::invalid_argument);
  }
}

// ------------------------------------------------------------ version

TEST(Version, TheLibraryReportsTheVersionOfItsHeaders) {
  EXPECT_EQ(std::string(Version()), DEMOSAIC_VERSION_STRING);
  EXPECT_EQ(std::string(Version()), std::to_string(DEMOSAIC_VERSION_MAJOR) + "." +
                                        std::to_string(DEMOSAIC_VERSION_MINOR) + "." +
                                        std::to_string(DEMOSAIC_VERSION_PATCH));
  EXPECT_EQ(DEMOSAIC_VERSION_MAJOR, 2) << "the interface of release 2 (tile in the mosaic view)";
}

}  // namespace
}  // namespace demosaic
