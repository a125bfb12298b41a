// What running out of memory looks like to the pipeline.
#include "io/status.h"

#include <new>
#include <opencv2/core.hpp>

namespace demosaic {

Error OutOfMemoryOrRethrow() {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return {ErrorKind::kOutOfMemory, ""};
  } catch (const cv::Exception& e) {
    // The image library signals its own allocation failures this way.
    if (e.code != cv::Error::StsNoMem) throw;
    return {ErrorKind::kOutOfMemory, ""};
  }
}

}  // namespace demosaic
