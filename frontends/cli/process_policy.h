// Process-wide settings that only a program's main() makes, never library
// code: how the program meets closed standard descriptors, the signals of a
// full file or a closed pipe, and a bound on what it may allocate.
#pragma once

#include <cstddef>

namespace demosaic {

// Makes sure descriptors 0, 1 and 2 are open, so that no file the program
// opens later takes the place of one (a report printed to a closed standard
// output would land in it). A closed one is opened on /dev/null for reading
// only, so that writing to it still fails, as it would have closed. Call
// first thing in main, before anything opens a file.
void OccupyStandardDescriptors();

// Ignores SIGXFSZ, so that a file-size limit (ulimit -f) makes a write fail
// with EFBIG, reported like any other write error, instead of killing the
// program without a word; and restores SIGPIPE's default action, so that a
// closed pipe on standard output ends the program quietly, as it does other
// command-line tools. Call before any thread starts.
void SetWriteSignals();

// Lowers the soft data limit (RLIMIT_DATA: heap and private mappings) to
// what the process holds now plus `bytes_left`; never raises it, and leaves
// the hard limit alone. Any allocation beyond it then fails where it is made
// (std::bad_alloc, OpenCV's out-of-memory error, a decoder's own failure)
// instead of the system killing the process. Returns false when the limit
// cannot be read or set.
bool BoundDataAllocations(std::size_t bytes_left);

// BoundDataAllocations with AvailableMemoryBytes() (memory, memory groups and
// limits); does nothing when none of them is known. Call once, before any
// thread starts: the limit is the whole process's.
bool BoundDataAllocationsToAvailableMemory();

}  // namespace demosaic
