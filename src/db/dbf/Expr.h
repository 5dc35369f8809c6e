// dBase index key expressions: parsing and evaluation against a raw record.
//
// Supported: field names (case-insensitive) of types C, N, F and D, string
// literals in '' or "", numeric literals (digits with an optional point), '+'
// (string concatenation, or addition of numbers; mixing is an error),
// parentheses, and UPPER, LOWER, LEFT, RIGHT, SUBSTR, TRIM (= RTRIM), LTRIM,
// RTRIM, STR(n[,len[,dec]]), DTOS, DTOC, VAL (function names
// case-insensitive). Logical and memo fields are refused, as dBase refuses
// them in index keys. Anything else is rejected at parse time with DbfError
// kBadExpression and a message naming what was not understood and quoting
// the expression.
//
// Widths are fixed at parse time: a field has its length, a literal its
// length, a+b the sum, LEFT(s,n) and RIGHT(s,n) n (even when s is shorter:
// Upper(Left(Country,40)) on a 20-wide field is 40 wide), SUBSTR(s,i,n) n,
// SUBSTR(s,i) width(s)-i+1, STR(n,len,...) len, DTOS and DTOC 8; UPPER,
// LOWER and the trims keep their argument's width. The numeric arguments
// that decide a width or position (n, i, len, dec) must be integer literals.
// A value is blank padded to its width, except that the trims really remove
// blanks, so TRIM(LAST)+FIRST joins the texts as dBase does; the whole
// result is padded to ResultLength().
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/Calendar.h"
#include "db/dbf/Base.h"

namespace klv::dbf {

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
  char type = 'C';    // 'C', 'N' or 'D'
  std::string text;   // for 'C'
  double number = 0;  // for 'N'; for 'D' the Julian day number, 0 for a blank date
};

class Expression {
 public:
  static constexpr size_t kMaxTextLength = 255;  // longer texts are refused
  static constexpr int kMaxDepth = 64;           // nesting of parentheses and calls
  static constexpr int kMaxWidth = 255;          // of any character value

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

  // Evaluates against a full record buffer (record_length bytes, every bound
  // field inside it). Safe for any bytes: blank or unreadable numbers are 0,
  // blank or impossible dates are blank (0).
  ExprValue Evaluate(const uint8_t* record) const;
  // The character result (ResultType() 'C') written to out, ResultLength()
  // bytes: the same bytes as Evaluate().text. Keys built from fields,
  // literals, UPPER, LOWER, LEFT, RIGHT, SUBSTR, DTOS and DTOC of fields are
  // copied straight from the record, without allocating; other expressions
  // go through Evaluate. Index builds call this once per row.
  void EvaluateText(const uint8_t* record, char* out) const;

  struct Node;
  struct Plan;

 private:
  Expression();
  std::unique_ptr<Node> root_;
  std::unique_ptr<Plan> plan_;  // null when the expression needs the general evaluator
  std::string text_;
  const CodePage* cp_ = nullptr;
};

// Julian day numbers of dates, as date keys and the evaluator hold them
// (0 means "no date" to the evaluator, which reads years 1 to 9999 only).
using base::CivilFromJulian;
using base::JulianDay;

}  // namespace klv::dbf
