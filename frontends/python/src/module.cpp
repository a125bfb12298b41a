// demosaic._core: the compiled part of the Python package `demosaic`. The
// public calls work on numpy arrays through the library's views; the private
// ones serve `python3 -m demosaic.evaluate`.
#include <pybind11/pybind11.h>

#include "array_functions.h"
#include "demosaic/reconstruct.h"
#include "demosaic/version.h"
#include "file_evaluation.h"

PYBIND11_MODULE(_core, module) {
  module.doc() =
      "Bayer mosaic sampling, directional colour-difference demosaicing and PSNR measurement "
      "over numpy arrays (the compiled part of the package demosaic).";
  module.attr("__version__") = demosaic::Version();
  module.attr("FRAME_WIDTH") = demosaic::kFrameWidth;
  module.attr("MINIMUM_SIDE") = demosaic::kMinimumSide;
  demosaic::python::AddArrayFunctions(module);
  demosaic::python::AddFileEvaluation(module);
}
