// The Python module's public calls on numpy arrays.
#pragma once

#include <pybind11/pybind11.h>

namespace demosaic::python {

// Adds sample_mosaic, reconstruct and measure to `module`.
void AddArrayFunctions(pybind11::module_& module);

}  // namespace demosaic::python
