// Reading what the tools print and write: lines, words, CSV rows.
#pragma once

#include <map>
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

// The CSV file's rows of one image, by method, each as column name -> field
// (a later row of a method replaces an earlier one).
inline std::map<std::string, std::map<std::string, std::string>> CsvRowsByMethod(
    const std::string& path) {
  const std::vector<std::vector<std::string>> rows = ReadCsv(path);
  std::map<std::string, std::map<std::string, std::string>> by_method;
  for (std::size_t r = 1; r < rows.size(); ++r) {
    std::map<std::string, std::string> row;
    for (std::size_t c = 0; c < rows[0].size() && c < rows[r].size(); ++c) {
      row[rows[0][c]] = rows[r][c];
    }
    by_method[row["method"]] = row;
  }
  return by_method;
}

}  // namespace demosaic::testing
