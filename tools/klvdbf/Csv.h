// RFC 4180 comma-separated values: quoted fields may hold commas, quotes
// (doubled) and line breaks; lines end in CRLF or LF.
#pragma once

#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace klv::tools {

class CsvReader {
 public:
  explicit CsvReader(std::istream& in) : in_(in) {}
  // The next row, or nullopt at end of input. Throws std::runtime_error on
  // a quote left open at end of input.
  std::optional<std::vector<std::string>> Next();
  // The line number the last row returned began on (1-based).
  int line() const { return row_line_; }

 private:
  std::istream& in_;
  int line_ = 1;
  int row_line_ = 0;
};

// One CSV line (without the line break) from cells, quoting where needed.
std::string CsvLine(const std::vector<std::string>& cells);

}  // namespace klv::tools
