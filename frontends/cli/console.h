// The console of the command-line tools: the codecs behind the image library
// (libpng, libjpeg, libtiff) print warnings straight to file descriptor 2,
// which would mix with the tools' own messages.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace demosaic {

// Points file descriptor 2 at /dev/null for the rest of the process and
// returns a stream on the original standard error for the program's own
// messages (sanitizer reports follow it too). Returns stderr itself when the
// descriptor cannot be duplicated. Call once, first thing in main.
std::FILE* DivertLibraryMessages();

}  // namespace demosaic
