// demosaic-eval REFERENCE OUTPUT: simulates a GRBG Bayer capture of the
// reference, reconstructs it, writes the reconstruction and prints its PSNR.
#include "driver/evaluation_run.h"

int main(int argc, char** argv) {
  return demosaic::RunEvaluationTool(argc, argv);
}
