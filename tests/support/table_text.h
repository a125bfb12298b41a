// Reading what the tools print and write: lines, words, CSV rows.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "support/run_program.h"

namespace demosaic::testing {

inline std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> fields;
  std::istringstream in(text);
  for (std::string field; std::getline(in, field, separator);) fields.push_back(field);
  return fields;
}

inline std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream in(line);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// The CSV file as rows of fields, the header included (no quoted fields).
inline std::vector<std::vector<std::string>> ReadCsv(const std::string& path) {
  std::vector<std::vector<std::string>> rows;
  for (const std::string& line : Split(ReadFileBytes(path), '\n')) {
    if (!line.empty()) rows.push_back(Split(line, ','));
  }
  return rows;
}

}  // namespace demosaic::testing
