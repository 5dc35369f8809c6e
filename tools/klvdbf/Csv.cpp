#include "Csv.h"

#include <stdexcept>

namespace klv::tools {

std::optional<std::vector<std::string>> CsvReader::Next() {
  // Straight from the stream's buffer: a formatted get per character costs
  // more than all the rest of reading a row.
  std::streambuf& buf = *in_.rdbuf();
  int c = buf.sbumpc();
  if (c == EOF) return std::nullopt;
  row_line_ = line_;
  std::vector<std::string> row;
  std::string cell;
  bool quoted = false, in_quotes = false;
  for (;; c = buf.sbumpc()) {
    if (c == EOF) {
      if (in_quotes) {
        throw std::runtime_error("line " + std::to_string(row_line_) +
                                 ": a quoted value is not closed");
      }
      row.push_back(std::move(cell));
      return row;
    }
    char ch = static_cast<char>(c);
    if (in_quotes) {
      if (ch == '"') {
        if (buf.sgetc() == '"') {
          buf.sbumpc();
          cell += '"';
        } else {
          in_quotes = false;
        }
      } else {
        if (ch == '\n') ++line_;
        cell += ch;
      }
      continue;
    }
    if (ch == '"' && cell.empty() && !quoted) {
      quoted = in_quotes = true;
    } else if (ch == ',') {
      row.push_back(std::move(cell));
      cell.clear();
      quoted = false;
    } else if (ch == '\r' && buf.sgetc() == '\n') {
      continue;
    } else if (ch == '\n') {
      ++line_;
      row.push_back(std::move(cell));
      return row;
    } else {
      cell += ch;
    }
  }
}

std::string CsvLine(const std::vector<std::string>& cells) {
  std::string out;
  for (size_t i = 0; i < cells.size(); ++i) {
    if (i) out += ',';
    const std::string& v = cells[i];
    if (v.find_first_of(",\"\r\n") == std::string::npos) {
      out += v;
      continue;
    }
    out += '"';
    for (char ch : v) {
      if (ch == '"') out += '"';
      out += ch;
    }
    out += '"';
  }
  return out;
}

}  // namespace klv::tools
