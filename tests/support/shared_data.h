// Where the shared reference data lives (the conformance corpus, the
// independent metric figures): the environment variable of the given name at
// test time, else the location configured at build time; empty when neither
// says, and the tests that need it then skip with a message.
#pragma once

#include <cctype>
#include <cstdlib>
#include <string>

namespace demosaic::testing {

inline std::string SharedDataDir(const char* variable, const char* configured) {
  if (const char* dir = std::getenv(variable); dir != nullptr && *dir) return dir;
  return configured;
}

// A corpus case's name as a test name: every character but letters and
// digits becomes '_' ("kodim01.png" -> "kodim01_png").
inline std::string CaseTestName(std::string name) {
  for (char& ch : name) {
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  }
  return name;
}

}  // namespace demosaic::testing
