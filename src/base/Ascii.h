// Upper case of the ASCII letters only, for names (fields, tags, files,
// functions) that dBase compares without regard to case. Text in a table's
// code page has its own case mapping (CodePage::Upper).
#pragma once

#include <string>
#include <string_view>

namespace klv::base {

inline char UpperAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

inline std::string UpperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = UpperAscii(c);
  return out;
}

inline bool EqualNoCaseAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  return true;
}

}  // namespace klv::base
