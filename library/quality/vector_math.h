// The transcendental functions CIEDE2000 needs, over arrays of doubles. On
// x86-64 they are SLEEF's (Debian libsleef-dev), in its deterministic
// ("cinz") forms: the same bits on every instruction set, so a value is the
// same whether it was computed in a row of eight lanes, in a row's tail or
// alone, and every figure the same on every x86-64 processor. Each result is
// within one unit in the last place of the true value. Elsewhere they are
// the C library's, one value at a time.
#pragma once

#include <cstddef>

namespace demosaic::quality {

// out[i] = atan2(y[i], x[i]) in radians, for i < count.
void Atan2Values(const double* y, const double* x, double* out, std::size_t count);
// sines[i] = sin(v[i]) and cosines[i] = cos(v[i]).
void SinCosValues(const double* v, double* sines, double* cosines, std::size_t count);
// out[i] = sin(v[i]).
void SinValues(const double* v, double* out, std::size_t count);
// out[i] = exp(v[i]).
void ExpValues(const double* v, double* out, std::size_t count);
#if defined(__x86_64__)
// The lanes of each instruction set, compiled apart with that set enabled and
// called only where the processor runs it: each handles count rounded down to
// its lane width and returns how many values it handled.
std::size_t Atan2ValuesAvx2(const double* y, const double* x, double* out, std::size_t count);
std::size_t SinCosValuesAvx2(const double* v, double* sines, double* cosines, std::size_t count);
std::size_t SinValuesAvx2(const double* v, double* out, std::size_t count);
std::size_t ExpValuesAvx2(const double* v, double* out, std::size_t count);
std::size_t Atan2ValuesAvx512(const double* y, const double* x, double* out, std::size_t count);
std::size_t SinCosValuesAvx512(const double* v, double* sines, double* cosines, std::size_t count);
std::size_t SinValuesAvx512(const double* v, double* out, std::size_t count);
std::size_t ExpValuesAvx512(const double* v, double* out, std::size_t count);

#endif

}  // namespace demosaic::quality
