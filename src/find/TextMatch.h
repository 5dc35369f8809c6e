// Comparing stored text without regard to case straight from a record's
// bytes, for filters and scans that see every row of a large table.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <QList>
#include <QString>

#include "db/dbf/Base.h"

namespace klv::find {

// Case folding of one code page's bytes that agrees with UpperText on the
// decoded text: two bytes fold to the same byte exactly when their
// characters have the same upper case. A needle folded by Fold() occurs in
// FoldByte(stored bytes) exactly when UpperText(needle) occurs in
// UpperText(decoded stored text).
class FoldedBytes {
 public:
  explicit FoldedBytes(const dbf::CodePage& page);
  uint8_t FoldByte(uint8_t byte) const { return fold_[byte]; }
  // The folded bytes of a text, or nullopt when it holds a character no
  // byte of the page has as its upper case: such a text occurs in no
  // stored text.
  std::optional<std::string> Fold(const QString& text) const;
  // Whether the folded needle occurs in the stored bytes.
  bool Contains(std::string_view stored, std::string_view folded_needle) const;

 private:
  uint8_t fold_[256];
  char32_t upper_[256];
};

}  // namespace klv::find
