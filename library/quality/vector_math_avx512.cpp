// SLEEF's eight-lane AVX-512 functions over arrays (its forms without fused
// multiply-add, which give the same bits as every other set). This file
// alone is compiled with AVX-512F enabled and holds nothing but these loops,
// so no code built for AVX-512 can be reached on a processor without it.
#include <sleef.h>

#include "quality/vector_math.h"

namespace demosaic::quality {

std::size_t Atan2ValuesAvx512(const double* y, const double* x, double* out, std::size_t count) {
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    _mm512_storeu_pd(out + i, Sleef_cinz_atan2d8_u10avx512fnofma(_mm512_loadu_pd(y + i),
                                                                 _mm512_loadu_pd(x + i)));
  }
  return i;
}

std::size_t SinCosValuesAvx512(const double* v, double* sines, double* cosines, std::size_t count) {
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const Sleef___m512d_2 both = Sleef_cinz_sincosd8_u10avx512fnofma(_mm512_loadu_pd(v + i));
    _mm512_storeu_pd(sines + i, both.x);
    _mm512_storeu_pd(cosines + i, both.y);
  }
  return i;
}

std::size_t SinValuesAvx512(const double* v, double* out, std::size_t count) {
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8)
    _mm512_storeu_pd(out + i, Sleef_cinz_sind8_u10avx512fnofma(_mm512_loadu_pd(v + i)));
  return i;
}

std::size_t ExpValuesAvx512(const double* v, double* out, std::size_t count) {
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8)
    _mm512_storeu_pd(out + i, Sleef_cinz_expd8_u10avx512fnofma(_mm512_loadu_pd(v + i)));
  return i;
}
}  // namespace demosaic::quality
