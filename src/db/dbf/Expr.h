// dBase index key expressions: parsing and evaluation against a raw record.
//
// Supported: field names (case-insensitive), string literals in '' or "",
// numeric literals, '+' (string concatenation, or addition of numbers), and
// UPPER, LOWER, LEFT, RIGHT, SUBSTR, TRIM, LTRIM, RTRIM, STR(n[,len[,dec]]),
// DTOS, DTOC, VAL (function names case-insensitive). Anything else is
// rejected at parse time with DbfError kBadExpression and a message naming
// what was not understood.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace klv::dbf {

class CodePage;

// Describes one field of the record layout an expression is bound to.
struct ExprField {
  std::string name;  // as in the file, upper case
  char type;         // 'C', 'N', 'F', 'D', 'L' (others: not usable in expressions)
  int offset;        // byte offset in the record buffer (the deletion flag is byte 0)
  int length;
  int decimals;
};

// The value of an evaluated expression. Character values are in the table's
// code page, padded to the expression's fixed width.
struct ExprValue {
  char type = 'C';   // 'C', 'N' or 'D'
  std::string text;  // for 'C'
  double number = 0; // for 'N'; for 'D' the Julian day number, 0 for a blank date
};

class Expression {
 public:
  // Parses text against the given fields; throws DbfError kBadExpression.
  static Expression Parse(std::string_view text, const std::vector<ExprField>& fields,
                          const CodePage& cp);

  Expression(Expression&&) noexcept;
  Expression& operator=(Expression&&) noexcept;
  ~Expression();

  // 'C', 'N' or 'D'.
  char ResultType() const;
  // The fixed width of a character result (every evaluation is padded or cut
  // to it); 8 for dates, 12 for numbers (key widths as dBase stores them).
  int ResultLength() const;
  // The expression as given.
  const std::string& text() const;

  // Evaluates against a full record buffer (record_length bytes).
  ExprValue Evaluate(const uint8_t* record) const;

  struct Node;

 private:
  Expression();
  std::unique_ptr<Node> root_;
  std::string text_;
  const CodePage* cp_ = nullptr;
};

// Julian day number of a calendar date (proleptic Gregorian), as dBase keeps
// date keys; and back. JulianDay(1, 1, 1) etc. are valid; 0 means "no date".
int64_t JulianDay(int year, int month, int day);
void CivilFromJulian(int64_t jd, int* year, int* month, int* day);

}  // namespace klv::dbf
