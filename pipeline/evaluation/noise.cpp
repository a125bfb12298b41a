// The noise generator and the noise levels. Everything here is integer
// arithmetic modulo 2^64 or IEEE double +, -, *, /, sqrt and floor, in an
// order fixed by the code (the project builds with -ffp-contract=off), so the
// bytes never depend on the compiler or its library.
#include "evaluation/noise.h"

#include <charconv>
#include <cmath>

#include "report/table.h"

namespace demosaic {
namespace {

constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15ULL;
constexpr std::uint64_t kFnvPrime = 0x100000001b3ULL;
constexpr double kLargestParameter = 10000.0;

// One number of a level: plain decimal (digits, one point, an exponent),
// finite, 0 to kLargestParameter.
Expected<double> ParseParameter(std::string_view text, std::string_view level) {
  double value = 0.0;
  const char* end = text.data() + text.size();
  const std::from_chars_result read =
      std::from_chars(text.data(), end, value, std::chars_format::general);
  const bool plain = !text.empty() && (text.front() >= '0' && text.front() <= '9');
  if (!plain || read.ec != std::errc() || read.ptr != end || !std::isfinite(value) || value < 0.0 ||
      value > kLargestParameter) {
    std::string detail(1, '\'');
    detail.append(level).append("': '").append(text);
    return Error{ErrorKind::kInvalidArgument, detail + "' is not a decimal number from 0 to 10000"};
  }
  return value;
}

std::vector<std::string_view> SplitAtCommas(std::string_view text) {
  std::vector<std::string_view> items;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = text.find(',', start);
    items.push_back(text.substr(start, comma == std::string_view::npos ? comma : comma - start));
    if (comma == std::string_view::npos) return items;
    start = comma + 1;
  }
}

double StandardDeviation(std::uint32_t value, double scale, const NoiseLevel& level) {
  if (level.kind == NoiseKind::kGaussian) return level.a * scale;
  // Variance a x value + b on the 8-bit scale, its root back at this scale.
  const double value8 = static_cast<double>(value) / scale;
  return std::sqrt(level.a * value8 + level.b) * scale;
}

template <typename Sample>
void AddNoiseTo(std::span<Sample> samples, std::int32_t width, std::int32_t height,
                std::size_t stride, std::uint32_t white, const NoiseLevel& level,
                std::uint64_t key) {
  if (level.kind == NoiseKind::kNone) return;
  for (std::int32_t r = 0; r < height; ++r) {
    Sample* row = samples.data() + static_cast<std::size_t>(r) * stride;
    const std::uint64_t first = static_cast<std::uint64_t>(r) * static_cast<std::uint64_t>(width);
    for (std::int32_t c = 0; c < width; ++c) {
      const double z = NormalDeviate(key, first + static_cast<std::uint64_t>(c));
      row[c] = static_cast<Sample>(NoisySample(row[c], white, level, z));
    }
  }
}

}  // namespace

std::string NoiseName(const NoiseLevel& level) {
  switch (level.kind) {
    case NoiseKind::kNone:
      return "none";
    case NoiseKind::kGaussian:
      return "gaussian:" + FullPrecision(level.a);
    case NoiseKind::kPoissonGaussian:
      return "poisson-gaussian:" + FullPrecision(level.a) + "," + FullPrecision(level.b);
  }
  return "none";
}

Expected<std::vector<NoiseLevel>> ParseNoiseLevels(std::string_view text) {
  const auto problem = [&](const std::string& what) {
    std::string detail(1, '\'');
    detail.append(text).append("': ").append(what);
    return Error{ErrorKind::kInvalidArgument, detail};
  };
  if (text == "none") return std::vector<NoiseLevel>{NoiseLevel{}};
  const std::size_t colon = text.find(':');
  const std::string_view kind = text.substr(0, colon);
  if (colon == std::string_view::npos || (kind != "gaussian" && kind != "poisson-gaussian")) {
    return problem("expected none, gaussian:S[,S...] or poisson-gaussian:A,B[,A,B...]");
  }
  std::vector<double> numbers;
  for (const std::string_view item : SplitAtCommas(text.substr(colon + 1))) {
    const Expected<double> number = ParseParameter(item, text);
    if (!number.ok()) return number.error();
    numbers.push_back(number.value());
  }
  std::vector<NoiseLevel> levels;
  if (kind == "gaussian") {
    for (const double s : numbers) levels.push_back({NoiseKind::kGaussian, s, 0.0});
    return levels;
  }
  if (numbers.size() % 2 != 0) return problem("poisson-gaussian takes pairs A,B");
  for (std::size_t k = 0; k < numbers.size(); k += 2) {
    levels.push_back({NoiseKind::kPoissonGaussian, numbers[k], numbers[k + 1]});
  }
  return levels;
}

std::uint64_t Fnv1a64(std::span<const unsigned char> bytes, std::uint64_t hash) {
  for (const unsigned char byte : bytes) {
    hash ^= byte;
    hash *= kFnvPrime;
  }
  return hash;
}

std::uint64_t NoiseKey(std::uint64_t seed, std::string_view name, const NoiseLevel& level) {
  unsigned char seed_bytes[8];
  for (int k = 0; k < 8; ++k) seed_bytes[k] = static_cast<unsigned char>(seed >> (8 * k));
  const auto bytes_of = [](std::string_view text) {
    return std::span<const unsigned char>(reinterpret_cast<const unsigned char*>(text.data()),
                                          text.size());
  };
  const unsigned char zero = 0;
  std::uint64_t hash = Fnv1a64(seed_bytes);
  hash = Fnv1a64(bytes_of(name), hash);
  hash = Fnv1a64(std::span<const unsigned char>(&zero, 1), hash);
  return Fnv1a64(bytes_of(NoiseName(level)), hash);
}

std::uint64_t Mix64(std::uint64_t z) {
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

std::uint64_t CounterWord(std::uint64_t key, std::uint64_t counter, std::uint64_t draw) {
  return Mix64(Mix64(key + counter * kGolden) + draw * kGolden);
}

double PortableLog(double x) {
  // ln 2 split so that e x kLn2High is exact for every exponent a double has
  // (the split of fdlibm's log).
  constexpr double kLn2High = 6.93147180369123816490e-01;
  constexpr double kLn2Low = 1.90821492927058770002e-10;
  constexpr double kSqrtHalf = 0.70710678118654752440;
  int exponent = 0;
  double m = std::frexp(x, &exponent);  // exact: x = m 2^exponent, m in [1/2, 1)
  if (m < kSqrtHalf) {
    m *= 2.0;
    --exponent;
  }
  // |t| <= 0.172, so t^43 / 43 is far below the last place of the sum.
  const double t = (m - 1.0) / (m + 1.0);
  const double t2 = t * t;
  double sum = 0.0;
  for (int k = 41; k >= 1; k -= 2) sum = sum * t2 + 1.0 / static_cast<double>(k);
  const double e = static_cast<double>(exponent);
  return e * kLn2High + (e * kLn2Low + 2.0 * t * sum);
}

double NormalDeviate(std::uint64_t key, std::uint64_t counter) {
  constexpr double kScale = 2147483648.0;  // 2^31
  for (std::uint64_t draw = 0;; ++draw) {
    const std::uint64_t word = CounterWord(key, counter, draw);
    const double u = (static_cast<double>(word >> 32) + 0.5) / kScale - 1.0;
    const double v = (static_cast<double>(word & 0xffffffffULL) + 0.5) / kScale - 1.0;
    const double s = u * u + v * v;
    if (s > 0.0 && s < 1.0) return u * std::sqrt(-2.0 * PortableLog(s) / s);
  }
}

std::uint32_t NoisySample(std::uint32_t value, std::uint32_t white, const NoiseLevel& level,
                          double z) {
  if (level.kind == NoiseKind::kNone) return value;
  const double scale = static_cast<double>(white) / 255.0;
  const double noisy =
      std::floor(static_cast<double>(value) + StandardDeviation(value, scale, level) * z + 0.5);
  if (noisy <= 0.0) return 0;
  if (noisy >= static_cast<double>(white)) return white;
  return static_cast<std::uint32_t>(noisy);
}

void AddNoise(std::span<std::uint8_t> samples, std::int32_t width, std::int32_t height,
              std::size_t stride, const NoiseLevel& level, std::uint64_t key) {
  AddNoiseTo(samples, width, height, stride, 255, level, key);
}

void AddNoise(std::span<std::uint16_t> samples, std::int32_t width, std::int32_t height,
              std::size_t stride, std::uint32_t white, const NoiseLevel& level, std::uint64_t key) {
  AddNoiseTo(samples, width, height, stride, white, level, key);
}

}  // namespace demosaic
