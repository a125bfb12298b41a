// The Python module's private calls behind `python3 -m demosaic.evaluate`:
// the pipeline's path expansion and evaluation of one image file, and the
// bench's table and CSV formatting, so that both front ends give the same
// rows for the same images.
#pragma once

#include <pybind11/pybind11.h>

namespace demosaic::python {

// Adds expand_paths, evaluate_file, load_image, method_names, table_layout,
// the table and CSV formatters, write_file_atomically and is_same_file to
// `module`.
void AddFileEvaluation(pybind11::module_& module);

}  // namespace demosaic::python
