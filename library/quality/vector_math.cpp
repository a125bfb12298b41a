// The array forms of the transcendental functions. On x86-64: the widest
// lanes the processor runs (AVX-512, AVX2, else SSE2, which every x86-64
// processor has), then SLEEF's portable C form for the last few values, all
// SLEEF's deterministic forms, so the split never changes a bit. Elsewhere:
// the C library's functions.
#include "quality/vector_math.h"

#include <cmath>

#if defined(__x86_64__)
#include <sleef.h>

#include "engine/stages.h"
#endif

namespace demosaic::quality {
#if defined(__x86_64__)
namespace {

using engine::SimdLevel;

// SSE2's two lanes, which every x86-64 processor has: each handles count
// rounded down to 2 and returns how many values it handled.
std::size_t Atan2ValuesSse2(const double* y, const double* x, double* out, std::size_t count) {
  std::size_t i = 0;
  for (; i + 2 <= count; i += 2) {
    _mm_storeu_pd(out + i, Sleef_cinz_atan2d2_u10sse2(_mm_loadu_pd(y + i), _mm_loadu_pd(x + i)));
  }
  return i;
}

std::size_t SinCosValuesSse2(const double* v, double* sines, double* cosines, std::size_t count) {
  std::size_t i = 0;
  for (; i + 2 <= count; i += 2) {
    const Sleef___m128d_2 both = Sleef_cinz_sincosd2_u10sse2(_mm_loadu_pd(v + i));
    _mm_storeu_pd(sines + i, both.x);
    _mm_storeu_pd(cosines + i, both.y);
  }
  return i;
}

std::size_t SinValuesSse2(const double* v, double* out, std::size_t count) {
  std::size_t i = 0;
  for (; i + 2 <= count; i += 2) {
    _mm_storeu_pd(out + i, Sleef_cinz_sind2_u10sse2(_mm_loadu_pd(v + i)));
  }
  return i;
}

std::size_t ExpValuesSse2(const double* v, double* out, std::size_t count) {
  std::size_t i = 0;
  for (; i + 2 <= count; i += 2) {
    _mm_storeu_pd(out + i, Sleef_cinz_expd2_u10sse2(_mm_loadu_pd(v + i)));
  }
  return i;
}

}  // namespace

// Each takes the widest lanes this processor runs, then SLEEF's portable C
// form for the values left over.
void Atan2Values(const double* y, const double* x, double* out, std::size_t count) {
  const SimdLevel level = engine::BestSimdLevel();
  std::size_t i = level == SimdLevel::kAvx512 ? Atan2ValuesAvx512(y, x, out, count)
                  : level == SimdLevel::kAvx2 ? Atan2ValuesAvx2(y, x, out, count)
                                              : Atan2ValuesSse2(y, x, out, count);
  for (; i < count; ++i) out[i] = Sleef_cinz_atan2d1_u10purec(y[i], x[i]);
}

void SinCosValues(const double* v, double* sines, double* cosines, std::size_t count) {
  const SimdLevel level = engine::BestSimdLevel();
  std::size_t i = level == SimdLevel::kAvx512 ? SinCosValuesAvx512(v, sines, cosines, count)
                  : level == SimdLevel::kAvx2 ? SinCosValuesAvx2(v, sines, cosines, count)
                                              : SinCosValuesSse2(v, sines, cosines, count);
  for (; i < count; ++i) {
    const Sleef_double_2 both = Sleef_cinz_sincosd1_u10purec(v[i]);
    sines[i] = both.x;
    cosines[i] = both.y;
  }
}

void SinValues(const double* v, double* out, std::size_t count) {
  const SimdLevel level = engine::BestSimdLevel();
  std::size_t i = level == SimdLevel::kAvx512 ? SinValuesAvx512(v, out, count)
                  : level == SimdLevel::kAvx2 ? SinValuesAvx2(v, out, count)
                                              : SinValuesSse2(v, out, count);
  for (; i < count; ++i) out[i] = Sleef_cinz_sind1_u10purec(v[i]);
}

void ExpValues(const double* v, double* out, std::size_t count) {
  const SimdLevel level = engine::BestSimdLevel();
  std::size_t i = level == SimdLevel::kAvx512 ? ExpValuesAvx512(v, out, count)
                  : level == SimdLevel::kAvx2 ? ExpValuesAvx2(v, out, count)
                                              : ExpValuesSse2(v, out, count);
  for (; i < count; ++i) out[i] = Sleef_cinz_expd1_u10purec(v[i]);
}

#else

void Atan2Values(const double* y, const double* x, double* out, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) out[i] = std::atan2(y[i], x[i]);
}

void SinCosValues(const double* v, double* sines, double* cosines, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    sines[i] = std::sin(v[i]);
    cosines[i] = std::cos(v[i]);
  }
}

void SinValues(const double* v, double* out, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) out[i] = std::sin(v[i]);
}

void ExpValues(const double* v, double* out, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) out[i] = std::exp(v[i]);
}

#endif
}  // namespace demosaic::quality
