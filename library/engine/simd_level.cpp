// Which of the compiled instruction sets this processor runs. Off x86 only
// the baseline is compiled, so it is the only level any processor runs.
#include "engine/simd.h"
#include "engine/stages.h"

namespace demosaic::engine {

bool ProcessorSupports(SimdLevel level) {
  switch (level) {
    case SimdLevel::kAvx512:
#if DEMOSAIC_X86_VARIANTS
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
             __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512dq");
#else
      return false;
#endif
    case SimdLevel::kAvx2:
#if DEMOSAIC_X86_VARIANTS
      return __builtin_cpu_supports("avx2");
#else
      return false;
#endif
    case SimdLevel::kBaseline:
      break;
  }
  return true;
}

SimdLevel BestSimdLevel() {
  if (ProcessorSupports(SimdLevel::kAvx512)) return SimdLevel::kAvx512;
  if (ProcessorSupports(SimdLevel::kAvx2)) return SimdLevel::kAvx2;
  return SimdLevel::kBaseline;
}

}  // namespace demosaic::engine
