// SLEEF's four-lane AVX functions over arrays. This file alone is compiled
// with AVX2 enabled (SLEEF declares its vector forms only where the
// compiler may use them) and holds nothing but these loops, so no code built
// for AVX2 can be reached on a processor without it.
#include <sleef.h>

#include "quality/vector_math.h"

namespace demosaic::quality {

std::size_t Atan2ValuesAvx2(const double* y, const double* x, double* out, std::size_t count) {
  std::size_t i = 0;
  for (; i + 4 <= count; i += 4) {
    _mm256_storeu_pd(out + i,
                     Sleef_cinz_atan2d4_u10avx(_mm256_loadu_pd(y + i), _mm256_loadu_pd(x + i)));
  }
  return i;
}

std::size_t SinCosValuesAvx2(const double* v, double* sines, double* cosines, std::size_t count) {
  std::size_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const Sleef___m256d_2 both = Sleef_cinz_sincosd4_u10avx(_mm256_loadu_pd(v + i));
    _mm256_storeu_pd(sines + i, both.x);
    _mm256_storeu_pd(cosines + i, both.y);
  }
  return i;
}

std::size_t SinValuesAvx2(const double* v, double* out, std::size_t count) {
  std::size_t i = 0;
  for (; i + 4 <= count; i += 4)
    _mm256_storeu_pd(out + i, Sleef_cinz_sind4_u10avx(_mm256_loadu_pd(v + i)));
  return i;
}

std::size_t ExpValuesAvx2(const double* v, double* out, std::size_t count) {
  std::size_t i = 0;
  for (; i + 4 <= count; i += 4)
    _mm256_storeu_pd(out + i, Sleef_cinz_expd4_u10avx(_mm256_loadu_pd(v + i)));
  return i;
}
}  // namespace demosaic::quality
