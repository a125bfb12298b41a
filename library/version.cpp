// The library's own version: the string of the headers it was built from,
// compiled in here, so that a program can compare it with the
// DEMOSAIC_VERSION_STRING of the headers it was itself compiled against.
#include "demosaic/version.h"

namespace demosaic {

const char* Version() {
  return DEMOSAIC_VERSION_STRING;
}

}  // namespace demosaic
