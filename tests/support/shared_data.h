// Where the shared reference data lives (the conformance corpus, the
// independent metric figures): the environment variable of the given name at
// test time, else the location configured at build time; empty when neither
// says, and the tests that need it then skip with a message.
#pragma once

#include <cstdlib>
#include <string>

namespace demosaic::testing {

inline std::string SharedDataDir(const char* variable, const char* configured) {
  if (const char* dir = std::getenv(variable); dir != nullptr && *dir) return dir;
  return configured;
}

}  // namespace demosaic::testing
