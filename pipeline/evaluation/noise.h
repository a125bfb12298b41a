// Sensor noise added to a mosaic after sampling, reproducible by
// construction: the noise at a site depends only on the seed, the image's
// name, the noise level and the site, through a specified counter-based
// generator and a specified transform to a normal deviate that uses IEEE
// +, -, *, / and sqrt only, so that every machine, compiler and standard
// library gives the same bytes, whatever the number of jobs or threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "io/status.h"

namespace demosaic {

enum class NoiseKind { kNone, kGaussian, kPoissonGaussian };

// One noise level, its parameters on the 8-bit scale: kGaussian adds white
// Gaussian noise of standard deviation `a`; kPoissonGaussian noise of
// variance a x value + b. At white level W both scale by W / 255 (the
// variance by its square).
struct NoiseLevel {
  NoiseKind kind = NoiseKind::kNone;
  double a = 0.0;
  double b = 0.0;
};

// "none", "gaussian:S" or "poisson-gaussian:A,B", each number in its
// shortest exact decimal form: the CSV's noise column, and part of the key.
std::string NoiseName(const NoiseLevel& level);

// The levels of one --noise argument: "none", "gaussian:S[,S...]" or
// "poisson-gaussian:A,B[,A,B...]", numbers decimal, finite, 0 to 10000.
// kInvalidArgument saying what was expected otherwise.
Expected<std::vector<NoiseLevel>> ParseNoiseLevels(std::string_view text);

// The generator's key for one image at one level: FNV-1a (64 bits) over
// the seed's 8 bytes (least significant first), the name's bytes, one zero
// byte and NoiseName(level)'s bytes.
std::uint64_t NoiseKey(std::uint64_t seed, std::string_view name, const NoiseLevel& level);

// FNV-1a (64 bits) of `bytes`, continuing from `hash` (the offset basis to
// start).
std::uint64_t Fnv1a64(std::span<const unsigned char> bytes,
                      std::uint64_t hash = 0xcbf29ce484222325ULL);

// The SplitMix64 finaliser.
std::uint64_t Mix64(std::uint64_t z);

// Word `draw` of counter `counter` under `key`:
// Mix64(Mix64(key + counter * G) + draw * G), G = 0x9E3779B97F4A7C15,
// arithmetic modulo 2^64.
std::uint64_t CounterWord(std::uint64_t key, std::uint64_t counter, std::uint64_t draw);

// The natural logarithm of x > 0 (finite) from IEEE-exact operations only:
// x = m 2^e with m in [sqrt(1/2), sqrt(2)), ln m = 2 atanh((m-1)/(m+1)) by
// its series to the power 41, plus e ln 2. Within a few units in the last
// place of the true value; the same bits everywhere.
double PortableLog(double x);

// The standard normal deviate of counter `counter` under `key` (Marsaglia's
// polar method): for draw d = 0, 1, ..., the word's high and low 32 bits
// h, l give u = (h + 0.5) / 2^31 - 1 and v = (l + 0.5) / 2^31 - 1; the first
// draw with 0 < s = u^2 + v^2 < 1 gives u sqrt(-2 PortableLog(s) / s).
double NormalDeviate(std::uint64_t key, std::uint64_t counter);

// The noisy value of `value` at white level `white`, with deviate z: value
// plus z times the level's standard deviation at that value, rounded to
// nearest (halves up) and clamped to 0..white.
std::uint32_t NoisySample(std::uint32_t value, std::uint32_t white, const NoiseLevel& level,
                          double z);

// Adds the level's noise to a width x height mosaic whose row r starts at
// samples[r * stride] (8-bit, white level 255; 16-bit, white level
// `white`). The site at row r, column c takes counter r x width + c, so the
// bytes depend on nothing but the key, the level and the samples. Requires
// `samples` to hold every row. A kNone level changes nothing.
void AddNoise(std::span<std::uint8_t> samples, std::int32_t width, std::int32_t height,
              std::size_t stride, const NoiseLevel& level, std::uint64_t key);
void AddNoise(std::span<std::uint16_t> samples, std::int32_t width, std::int32_t height,
              std::size_t stride, std::uint32_t white, const NoiseLevel& level, std::uint64_t key);

}  // namespace demosaic
