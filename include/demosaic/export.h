// DEMOSAIC_EXPORT marks the library's public functions. The library is
// compiled with every other symbol hidden, so a shared build exports these
// names and nothing of its internals; in a static build the mark changes
// nothing.
#pragma once

#if defined(__GNUC__) || defined(__clang__)
#define DEMOSAIC_EXPORT __attribute__((visibility("default")))
#else
#define DEMOSAIC_EXPORT
#endif
