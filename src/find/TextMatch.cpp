#include "find/TextMatch.h"

#include <cstring>

#include "find/Criteria.h"

namespace klv::find {

FoldedBytes::FoldedBytes(const dbf::CodePage& page) {
  for (int b = 0; b < 256; ++b) {
    const QString text = QString::fromStdString(page.Decode(std::string(1, static_cast<char>(b))));
    const QList<uint> code_points = UpperText(text).toUcs4();
    upper_[b] = code_points.size() == 1 ? static_cast<char32_t>(code_points[0]) : 0xFFFFFFFFu;
    fold_[b] = static_cast<uint8_t>(b);
    for (int first = 0; first < b; ++first) {
      if (upper_[first] == upper_[b]) {
        fold_[b] = static_cast<uint8_t>(first);
        break;
      }
    }
  }
}

std::optional<std::string> FoldedBytes::Fold(const QString& text) const {
  std::string out;
  for (uint c : UpperText(text).toUcs4()) {
    int byte = -1;
    for (int b = 0; b < 256 && byte < 0; ++b)
      if (upper_[b] == static_cast<char32_t>(c)) byte = b;
    if (byte < 0) return std::nullopt;
    out += static_cast<char>(fold_[byte]);
  }
  return out;
}

bool FoldedBytes::Contains(std::string_view stored, std::string_view needle) const {
  if (needle.empty()) return true;
  if (needle.size() > stored.size()) return false;
  // Fields are at most a few hundred bytes: folding them whole into a buffer
  // on the stack and searching there beats folding at every candidate start.
  char folded[256];
  const size_t n = stored.size();
  if (n > sizeof folded) {
    std::string copy(stored);
    for (char& c : copy) c = static_cast<char>(fold_[static_cast<uint8_t>(c)]);
    return copy.find(needle) != std::string::npos;
  }
  for (size_t i = 0; i < n; ++i)
    folded[i] = static_cast<char>(fold_[static_cast<uint8_t>(stored[i])]);
  return std::string_view(folded, n).find(needle) != std::string_view::npos;
}

}  // namespace klv::find
