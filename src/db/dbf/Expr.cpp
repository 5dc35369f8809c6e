#include "db/dbf/Expr.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>

#include "base/Ascii.h"
#include "base/Calendar.h"
#include "db/dbf/Base.h"

namespace klv::dbf {

enum class Op {
  kField,
  kString,
  kNumber,
  kConcat,
  kAdd,
  kUpper,
  kLower,
  kLeft,
  kRight,
  kSubstr,
  kLtrim,
  kRtrim,
  kStr,
  kDtos,
  kDtoc,
  kVal,
};

struct Expression::Node {
  Op op = Op::kString;
  char type = 'C';    // 'C', 'N' or 'D'
  int width = 0;      // of a character value
  ExprField field;    // kField
  std::string text;   // kString
  double number = 0;  // kNumber
  int a = 0;          // LEFT/RIGHT count, SUBSTR start, STR length
  int b = 0;          // SUBSTR length, STR decimals
  std::vector<std::unique_ptr<Node>> args;
};

namespace {

using Node = Expression::Node;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsIdentStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool IsIdentChar(char c) {
  return IsIdentStart(c) || IsDigit(c);
}

const char* TypeName(char type) {
  return type == 'C' ? "character" : type == 'N' ? "numeric" : "date";
}

// Parses the whole of s as a number; nullopt for anything else, infinities
// and NaN included (from_chars is locale-independent, unlike strtod).
std::optional<double> ParseDecimal(std::string_view s) {
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  double value = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

// An N or F field: the blank-trimmed text must be a number; blanks, '*'
// overflow fill and other garbage read as 0.
double ReadNumber(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return ParseDecimal(s).value_or(0);
}

// VAL(): leading blanks, then the longest prefix of sign, digits, point,
// digits; 0 when that holds no digit.
double Val(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  size_t start = i;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  bool digits = false;
  for (; i < s.size() && IsDigit(s[i]); ++i) digits = true;
  if (i < s.size() && s[i] == '.') {
    for (++i; i < s.size() && IsDigit(s[i]); ++i) digits = true;
  }
  return digits ? ParseDecimal(s.substr(start, i - start)).value_or(0) : 0;
}

// A D field: YYYYMMDD of a real date from year 1 on, else 0 (blank).
double ReadDate(std::string_view s) {
  if (s.size() < 8) return 0;
  for (int i = 0; i < 8; ++i) {
    if (!IsDigit(s[i])) return 0;
  }
  const auto num = [&](int from, int count) {
    int v = 0;
    for (int i = from; i < from + count; ++i) v = v * 10 + (s[i] - '0');
    return v;
  };
  int y = num(0, 4), m = num(4, 2), d = num(6, 2);
  if (y < 1 || m < 1 || m > 12 || d < 1 || d > base::DaysInMonth(y, m)) return 0;
  return static_cast<double>(JulianDay(y, m, d));
}

// The decimal digits d1 d2 ... of v >= 0 and the exponent e with
// v = d1.d2... * 10^e: to `precision` significant digits, or (0) the
// shortest that reads back as v.
void ToDecimal(double v, int precision, std::string* digits, int* exp) {
  char buf[40];
  auto res = precision ? std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific,
                                       precision - 1)
                       : std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
  std::string_view sci(buf, res.ptr - buf);  // d[.ddd]e[+-]XX
  size_t e = sci.find('e');
  digits->assign(1, sci[0]);
  if (e > 1) digits->append(sci.substr(2, e - 2));
  std::from_chars(sci.data() + e + 1 + (sci[e + 1] == '+'), sci.data() + sci.size(), *exp);
}

// |x| rounded half away from zero to dec decimals, with its sign, e.g.
// "-2.35". Rounds at 15 significant digits, the precision a double holds, so
// that 1.005 gives 1.01 as the decimal text in the field says; digits past
// those 15 are printed as exactly as the double allows.
std::string FormatFixed(double x, int dec) {
  std::string digits;
  int exp = 0;
  ToDecimal(std::fabs(x), 15, &digits, &exp);
  int keep = exp + dec + 1;  // digits with a place value of at least 10^-dec
  if (keep > 15) {
    ToDecimal(std::fabs(x), 0, &digits, &exp);
    keep = exp + dec + 1;
  }
  std::string n;
  if (keep <= 0) {
    n = keep == 0 && digits[0] >= '5' ? "1" : "0";
  } else if (static_cast<size_t>(keep) >= digits.size()) {
    n = digits + std::string(keep - digits.size(), '0');
  } else {
    n = digits.substr(0, keep);
    if (digits[keep] >= '5') {
      int i = keep - 1;
      for (; i >= 0 && n[i] == '9'; --i) n[i] = '0';
      if (i < 0) {
        n.insert(0, "1");
      } else {
        ++n[i];
      }
    }
  }
  if (n.size() < static_cast<size_t>(dec) + 1) n.insert(0, dec + 1 - n.size(), '0');
  size_t int_digits = n.size() - dec;
  size_t lead = std::min(n.find_first_not_of('0'), int_digits - 1);  // keep one integer digit
  std::string out = n.substr(lead, int_digits - lead);
  if (dec > 0) out += "." + n.substr(int_digits);
  if (x < 0 && n.find_first_not_of('0') != std::string::npos) out.insert(0, "-");
  return out;
}

std::string FormatDate(double jd, bool dtos) {
  int y, m, d;
  CivilFromJulian(static_cast<int64_t>(jd), &y, &m, &d);
  if (jd == 0 || y < 1 || y > 9999) return std::string(8, ' ');
  char buf[16];
  if (dtos) {
    std::snprintf(buf, sizeof buf, "%04d%02d%02d", y, m, d);
  } else {
    std::snprintf(buf, sizeof buf, "%02d/%02d/%02d", m, d, y % 100);
  }
  return buf;
}

double EvalNumber(const Node& n, const uint8_t* rec, const CodePage& cp);

std::string EvalText(const Node& n, const uint8_t* rec, const CodePage& cp) {
  const auto arg = [&](int i) { return EvalText(*n.args[i], rec, cp); };
  std::string s;
  bool pad = true;
  switch (n.op) {
    case Op::kField:
      s.assign(reinterpret_cast<const char*>(rec) + n.field.offset, n.field.length);
      break;
    case Op::kString:
      s = n.text;
      break;
    case Op::kConcat:
      for (const auto& a : n.args) s += EvalText(*a, rec, cp);
      pad = false;
      break;
    case Op::kUpper:
    case Op::kLower:
      s = arg(0);
      for (char& c : s) {
        auto u = static_cast<uint8_t>(c);
        c = static_cast<char>(n.op == Op::kUpper ? cp.Upper(u) : cp.Lower(u));
      }
      pad = false;
      break;
    case Op::kLeft:
      s = arg(0).substr(0, n.a);
      break;
    case Op::kRight:
      s = arg(0);
      if (s.size() > static_cast<size_t>(n.a)) s.erase(0, s.size() - n.a);
      break;
    case Op::kSubstr:
      s = arg(0);
      s = static_cast<size_t>(n.a) <= s.size() ? s.substr(n.a - 1, n.width) : std::string();
      break;
    case Op::kLtrim:
      s = arg(0);
      s.erase(0, std::min(s.find_first_not_of(' '), s.size()));
      pad = false;
      break;
    case Op::kRtrim:
      s = arg(0);
      s.erase(s.find_last_not_of(' ') + 1);
      pad = false;
      break;
    case Op::kStr:
      s = FormatFixed(EvalNumber(*n.args[0], rec, cp), n.b);
      if (s.size() > static_cast<size_t>(n.a)) s.assign(n.a, '*');
      s.insert(0, n.a - s.size(), ' ');
      break;
    case Op::kDtos:
    case Op::kDtoc:
      s = FormatDate(EvalNumber(*n.args[0], rec, cp), n.op == Op::kDtos);
      break;
    default:
      break;
  }
  // Fixed-width producers pad; trims (and what passes their text on) keep
  // the shorter text so that TRIM(A)+B joins; nothing exceeds its width.
  if (s.size() > static_cast<size_t>(n.width) || pad) s.resize(n.width, ' ');
  return s;
}

double EvalNumber(const Node& n, const uint8_t* rec, const CodePage& cp) {
  switch (n.op) {
    case Op::kField: {
      std::string_view s(reinterpret_cast<const char*>(rec) + n.field.offset, n.field.length);
      return n.type == 'D' ? ReadDate(s) : ReadNumber(s);
    }
    case Op::kNumber:
      return n.number;
    case Op::kAdd: {
      double sum = 0;
      for (const auto& a : n.args) sum += EvalNumber(*a, rec, cp);
      return sum;
    }
    case Op::kVal:
      return Val(EvalText(*n.args[0], rec, cp));
    default:
      return 0;
  }
}

struct Function {
  const char* name;
  Op op;
  int min_args;
  int max_args;
  char result;        // type of the result
  char arg_types[4];  // of each argument
};

constexpr Function kFunctions[] = {
    {"UPPER", Op::kUpper, 1, 1, 'C', "C"},     {"LOWER", Op::kLower, 1, 1, 'C', "C"},
    {"LEFT", Op::kLeft, 2, 2, 'C', "CN"},      {"RIGHT", Op::kRight, 2, 2, 'C', "CN"},
    {"SUBSTR", Op::kSubstr, 2, 3, 'C', "CNN"}, {"TRIM", Op::kRtrim, 1, 1, 'C', "C"},
    {"RTRIM", Op::kRtrim, 1, 1, 'C', "C"},     {"LTRIM", Op::kLtrim, 1, 1, 'C', "C"},
    {"STR", Op::kStr, 1, 3, 'C', "NNN"},       {"DTOS", Op::kDtos, 1, 1, 'C', "D"},
    {"DTOC", Op::kDtoc, 1, 1, 'C', "D"},       {"VAL", Op::kVal, 1, 1, 'N', "C"},
};

class Parser {
 public:
  Parser(std::string_view text, const std::vector<ExprField>& fields) : s_(text), fields_(fields) {}

  std::unique_ptr<Node> ParseAll() {
    auto root = ParseSum(1);
    SkipBlanks();
    if (pos_ < s_.size()) Unexpected();
    if (root->type == 'C' && root->width == 0) Fail("The expression gives an empty text");
    return root;
  }

  [[noreturn]] void Fail(const std::string& what) const {
    std::string quoted;
    for (char c : s_) quoted += static_cast<uint8_t>(c) < 0x20 || c == 0x7F ? '?' : c;
    klv::dbf::Fail(ErrorCode::kBadExpression, what + " in index expression \"" + quoted + "\"");
  }

 private:
  void SkipBlanks() {
    while (pos_ < s_.size() &&
           (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\r' || s_[pos_] == '\n')) {
      ++pos_;
    }
  }

  bool Accept(char c) {
    SkipBlanks();
    if (pos_ >= s_.size() || s_[pos_] != c) return false;
    ++pos_;
    return true;
  }

  // Names the token at pos_ (a whole name, or one character) and where it is.
  [[noreturn]] void Unexpected() const {
    if (pos_ >= s_.size()) Fail("Unexpected end");
    size_t end = pos_ + 1;
    while (IsIdentChar(s_[pos_]) && end < s_.size() && IsIdentChar(s_[end])) ++end;
    std::string token(s_.substr(pos_, end - pos_));
    if (static_cast<uint8_t>(token[0]) < 0x20 || token[0] == 0x7F) token = "?";
    Fail("Unexpected \"" + token + "\" at position " + std::to_string(pos_ + 1));
  }

  std::unique_ptr<Node> ParseSum(int depth) {
    if (depth > Expression::kMaxDepth) {
      Fail("Nesting deeper than " + std::to_string(Expression::kMaxDepth) + " levels");
    }
    auto first = ParseTerm(depth);
    if (!Accept('+')) return first;
    auto sum = std::make_unique<Node>();
    sum->type = first->type;
    sum->op = sum->type == 'N' ? Op::kAdd : Op::kConcat;
    sum->width = first->width;
    sum->args.push_back(std::move(first));
    do {
      auto next = ParseTerm(depth);
      if (next->type != sum->type || sum->type == 'D') {
        Fail(std::string("\"+\" needs two character or two numeric values, not ") +
             TypeName(sum->type) + " and " + TypeName(next->type));
      }
      sum->width += next->width;
      CheckWidth(sum->width);
      sum->args.push_back(std::move(next));
    } while (Accept('+'));
    return sum;
  }

  void CheckWidth(int width) const {
    if (width > Expression::kMaxWidth) {
      Fail("A text longer than " + std::to_string(Expression::kMaxWidth) + " characters");
    }
  }

  std::unique_ptr<Node> ParseTerm(int depth) {
    SkipBlanks();
    if (pos_ >= s_.size()) Fail("A value is missing at the end");
    char c = s_[pos_];
    if (c == '(') {
      ++pos_;
      auto inner = ParseSum(depth + 1);
      if (!Accept(')')) Fail("Missing \")\"");
      return inner;
    }
    auto node = std::make_unique<Node>();
    if (c == '\'' || c == '"') {
      size_t close = s_.find(c, pos_ + 1);
      if (close == std::string_view::npos) Fail("Unterminated string");
      node->op = Op::kString;
      node->text = s_.substr(pos_ + 1, close - pos_ - 1);
      node->width = static_cast<int>(node->text.size());
      pos_ = close + 1;
    } else if (IsDigit(c) || (c == '.' && pos_ + 1 < s_.size() && IsDigit(s_[pos_ + 1]))) {
      size_t start = pos_;
      while (pos_ < s_.size() && IsDigit(s_[pos_])) ++pos_;
      if (pos_ < s_.size() && s_[pos_] == '.') {
        for (++pos_; pos_ < s_.size() && IsDigit(s_[pos_]);) ++pos_;
      }
      node->op = Op::kNumber;
      node->type = 'N';
      node->number = ParseDecimal(s_.substr(start, pos_ - start)).value_or(0);
    } else if (IsIdentStart(c)) {
      size_t start = pos_;
      while (pos_ < s_.size() && IsIdentChar(s_[pos_])) ++pos_;
      std::string name(s_.substr(start, pos_ - start));
      if (Accept('(')) return ParseCall(name, depth);
      return FieldNode(name);
    } else {
      Unexpected();
    }
    return node;
  }

  std::unique_ptr<Node> FieldNode(const std::string& name) const {
    for (const ExprField& f : fields_) {
      if (!base::EqualNoCaseAscii(f.name, name)) continue;
      if (f.type != 'C' && f.type != 'N' && f.type != 'F' && f.type != 'D') {
        Fail("Field \"" + name + "\" of type " + std::string(1, f.type) + " cannot be used");
      }
      if (f.offset < 0 || f.length < 0) Fail("Field \"" + name + "\" has no valid position");
      auto node = std::make_unique<Node>();
      node->op = Op::kField;
      node->field = f;
      node->type = f.type == 'C' ? 'C' : f.type == 'D' ? 'D' : 'N';
      if (node->type == 'C') {
        node->width = f.length;
        CheckWidth(node->width);
      }
      return node;
    }
    Fail("Unknown field \"" + name + "\"");
  }

  // The integer literal that argument i (0-based) of fn must be.
  int LiteralArg(const Node& call, const Function& fn, size_t i, int min, int max) const {
    const Node& a = *call.args[i];
    std::string which = "Argument " + std::to_string(i + 1) + " of " + fn.name;
    if (a.op != Op::kNumber || a.number != std::floor(a.number)) {
      Fail(which + " must be a whole number written as digits");
    }
    if (a.number < min || a.number > max) {
      Fail(which + " must be from " + std::to_string(min) + " to " + std::to_string(max));
    }
    return static_cast<int>(a.number);
  }

  std::unique_ptr<Node> ParseCall(const std::string& name, int depth) {
    const Function* fn = nullptr;
    for (const Function& f : kFunctions) {
      if (base::EqualNoCaseAscii(f.name, name)) fn = &f;
    }
    if (!fn) Fail("Unknown function \"" + name + "\"");
    auto call = std::make_unique<Node>();
    call->op = fn->op;
    call->type = fn->result;
    if (!Accept(')')) {
      do {
        call->args.push_back(ParseSum(depth + 1));
      } while (Accept(','));
      if (!Accept(')')) {
        if (pos_ >= s_.size()) Fail("Missing \")\"");
        Unexpected();
      }
    }
    int count = static_cast<int>(call->args.size());
    if (count < fn->min_args || count > fn->max_args) {
      std::string range = std::to_string(fn->min_args);
      if (fn->max_args > fn->min_args) {
        range +=
            (fn->max_args == fn->min_args + 1 ? " or " : " to ") + std::to_string(fn->max_args);
      }
      Fail(std::string(fn->name) + " takes " + range + " argument" + (fn->max_args > 1 ? "s" : "") +
           ", not " + std::to_string(count));
    }
    for (int i = 0; i < count; ++i) {
      if (call->args[i]->type != fn->arg_types[i]) {
        Fail("Argument " + std::to_string(i + 1) + " of " + fn->name + " must be " +
             TypeName(fn->arg_types[i]) + ", not " + TypeName(call->args[i]->type));
      }
    }
    const int max = Expression::kMaxWidth;
    const int arg_width = call->args[0]->width;
    switch (fn->op) {
      case Op::kLeft:
      case Op::kRight:
        call->a = call->width = LiteralArg(*call, *fn, 1, 0, max);
        break;
      case Op::kSubstr:
        call->a = LiteralArg(*call, *fn, 1, 1, max);
        call->width =
            count == 3 ? LiteralArg(*call, *fn, 2, 0, max) : std::max(0, arg_width - call->a + 1);
        break;
      case Op::kStr:
        call->a = call->width = count >= 2 ? LiteralArg(*call, *fn, 1, 1, max) : 10;
        call->b = count == 3 ? LiteralArg(*call, *fn, 2, 0, max) : 0;
        break;
      case Op::kDtos:
      case Op::kDtoc:
        call->width = 8;
        break;
      default:
        call->width = call->type == 'C' ? arg_width : 0;
        break;
    }
    return call;
  }

  std::string_view s_;
  const std::vector<ExprField>& fields_;
  size_t pos_ = 0;
};

// ---- Compiled character keys ----------------------------------------------
//
// An expression whose every part has a fixed width and reads fields as they
// are stored compiles to a list of byte runs, so that a key is made by
// copying instead of building strings node by node.

}  // namespace

struct Expression::Plan {
  struct Segment {
    enum class Kind : uint8_t { kCopy, kBlank, kLiteral, kDtos, kDtoc };
    Kind kind = Kind::kBlank;
    int offset = 0;    // kCopy: first record byte; kDtos, kDtoc: the date field
    int from = 0;      // kDtos, kDtoc: first of the 8 bytes they produce that is used
    int len = 0;       // bytes produced
    int map = -1;      // case table applied to the bytes, -1 for none
    std::string text;  // kLiteral, already case mapped
  };
  using Segments = std::vector<Segment>;

  // The bytes [from, from + len) of a run list.
  static Segments Slice(const Segments& in, int from, int len) {
    Segments out;
    int pos = 0;
    for (const Segment& s : in) {
      int start = std::max(from, pos), end = std::min(from + len, pos + s.len);
      if (start < end) {
        Segment part = s;
        int cut = start - pos;
        part.len = end - start;
        if (s.kind == Segment::Kind::kCopy) part.offset += cut;
        if (s.kind == Segment::Kind::kDtos || s.kind == Segment::Kind::kDtoc) part.from += cut;
        if (s.kind == Segment::Kind::kLiteral)
          part.text = s.text.substr(static_cast<size_t>(cut), static_cast<size_t>(part.len));
        out.push_back(std::move(part));
      }
      pos += s.len;
    }
    return out;
  }

  static void AddBlanks(Segments* runs, int len) {
    if (len <= 0) return;
    Segment b;
    b.kind = Segment::Kind::kBlank;
    b.len = len;
    runs->push_back(b);
  }

  Segments runs;
  std::vector<std::array<uint8_t, 256>> maps;
  const CodePage* cp = nullptr;

  // The case table that applies upper (or lower) after table `inner`.
  int Compose(int inner, bool upper) {
    std::array<uint8_t, 256> m{};
    for (int c = 0; c < 256; ++c) {
      uint8_t v = inner < 0 ? static_cast<uint8_t>(c)
                            : maps[static_cast<size_t>(inner)][static_cast<size_t>(c)];
      m[static_cast<size_t>(c)] = upper ? cp->Upper(v) : cp->Lower(v);
    }
    maps.push_back(m);
    return static_cast<int>(maps.size()) - 1;
  }

  // The runs of node n (exactly n.width bytes), or nullopt when n needs the
  // general evaluator.
  std::optional<Segments> Compile(const Node& n) {
    auto child = [&]() { return Compile(*n.args[0]); };
    switch (n.op) {
      case Op::kField: {
        if (n.type != 'C') return std::nullopt;
        Segment s;
        s.kind = Segment::Kind::kCopy;
        s.offset = n.field.offset;
        s.len = n.field.length;
        return Segments{s};
      }
      case Op::kString: {
        Segments out;
        if (n.text.empty()) return out;
        Segment s;
        s.kind = Segment::Kind::kLiteral;
        s.text = n.text;
        s.len = static_cast<int>(n.text.size());
        out.push_back(std::move(s));
        return out;
      }
      case Op::kConcat: {
        Segments out;
        for (const auto& a : n.args) {
          auto part = Compile(*a);
          if (!part) return std::nullopt;
          out.insert(out.end(), part->begin(), part->end());
        }
        return out;
      }
      case Op::kUpper:
      case Op::kLower: {
        auto in = child();
        if (!in) return std::nullopt;
        bool upper = n.op == Op::kUpper;
        std::vector<std::pair<int, int>> composed;  // inner table, table after it
        for (Segment& s : *in) {
          if (s.kind == Segment::Kind::kLiteral) {
            for (char& c : s.text) {
              auto u = static_cast<uint8_t>(c);
              c = static_cast<char>(upper ? cp->Upper(u) : cp->Lower(u));
            }
            continue;
          }
          auto known = std::find_if(composed.begin(), composed.end(),
                                    [&](const auto& p) { return p.first == s.map; });
          if (known == composed.end()) {
            composed.emplace_back(s.map, Compose(s.map, upper));
            known = composed.end() - 1;
          }
          s.map = known->second;
        }
        return in;
      }
      case Op::kLeft: {
        auto in = child();
        if (!in) return std::nullopt;
        int w = n.args[0]->width;
        Segments out = Slice(*in, 0, std::min(n.a, w));
        AddBlanks(&out, n.a - std::min(n.a, w));
        return out;
      }
      case Op::kRight: {
        auto in = child();
        if (!in) return std::nullopt;
        int w = n.args[0]->width;
        if (w > n.a) return Slice(*in, w - n.a, n.a);
        AddBlanks(&*in, n.a - w);
        return in;
      }
      case Op::kSubstr: {
        auto in = child();
        if (!in) return std::nullopt;
        int w = n.args[0]->width;
        Segments out;
        int taken = 0;
        if (n.a <= w) {
          taken = std::min(n.width, w - (n.a - 1));
          out = Slice(*in, n.a - 1, taken);
        }
        AddBlanks(&out, n.width - taken);
        return out;
      }
      case Op::kDtos:
      case Op::kDtoc: {
        const Node& d = *n.args[0];
        if (d.op != Op::kField || d.type != 'D' || d.field.length < 8) return std::nullopt;
        Segment s;
        s.kind = n.op == Op::kDtos ? Segment::Kind::kDtos : Segment::Kind::kDtoc;
        s.offset = d.field.offset;
        s.len = 8;
        return Segments{s};
      }
      default:
        return std::nullopt;
    }
  }

  void Run(const uint8_t* rec, char* out) const {
    for (const Segment& s : runs) {
      const uint8_t* map = s.map < 0 ? nullptr : maps[static_cast<size_t>(s.map)].data();
      const uint8_t* src = nullptr;
      uint8_t date[8];
      switch (s.kind) {
        case Segment::Kind::kCopy:
          src = rec + s.offset;
          break;
        case Segment::Kind::kBlank:
          std::memset(out, map ? map[static_cast<uint8_t>(' ')] : ' ', static_cast<size_t>(s.len));
          out += s.len;
          continue;
        case Segment::Kind::kLiteral:
          std::memcpy(out, s.text.data(), static_cast<size_t>(s.len));
          out += s.len;
          continue;
        case Segment::Kind::kDtos:
        case Segment::Kind::kDtoc: {
          // As ReadDate and FormatDate: a real date gives its own digits back.
          const uint8_t* p = rec + s.offset;
          bool digits = true;
          for (int i = 0; i < 8; ++i) digits = digits && p[i] >= '0' && p[i] <= '9';
          int y = 0, m = 0, d = 0;
          if (digits) {
            y = (p[0] - '0') * 1000 + (p[1] - '0') * 100 + (p[2] - '0') * 10 + (p[3] - '0');
            m = (p[4] - '0') * 10 + (p[5] - '0');
            d = (p[6] - '0') * 10 + (p[7] - '0');
          }
          if (!digits || y < 1 || m < 1 || m > 12 || d < 1 || d > base::DaysInMonth(y, m)) {
            std::memset(date, ' ', 8);
          } else if (s.kind == Segment::Kind::kDtos) {
            std::memcpy(date, p, 8);
          } else {
            const uint8_t mdy[8] = {p[4], p[5], '/', p[6], p[7], '/', p[2], p[3]};
            std::memcpy(date, mdy, 8);
          }
          src = date + s.from;
          break;
        }
      }
      if (map) {
        for (int i = 0; i < s.len; ++i) out[i] = static_cast<char>(map[src[i]]);
      } else {
        std::memcpy(out, src, static_cast<size_t>(s.len));
      }
      out += s.len;
    }
  }
};

Expression::Expression() = default;
Expression::Expression(Expression&&) noexcept = default;
Expression& Expression::operator=(Expression&&) noexcept = default;
Expression::~Expression() = default;

Expression Expression::Parse(std::string_view text, const std::vector<ExprField>& fields,
                             const CodePage& cp) {
  Parser parser(text, fields);
  if (text.find_first_not_of(" \t\r\n") == std::string_view::npos)
    parser.Fail("Nothing to evaluate");
  if (text.size() > kMaxTextLength) {
    parser.Fail("More than " + std::to_string(kMaxTextLength) + " characters");
  }
  Expression e;
  e.root_ = parser.ParseAll();
  e.text_ = std::string(text);
  e.cp_ = &cp;
  if (e.root_->type == 'C') {
    auto plan = std::make_unique<Plan>();
    plan->cp = &cp;
    if (auto runs = plan->Compile(*e.root_)) {
      plan->runs = std::move(*runs);
      e.plan_ = std::move(plan);
    }
  }
  return e;
}

char Expression::ResultType() const {
  return root_ ? root_->type : 'C';
}

int Expression::ResultLength() const {
  if (!root_) return 0;
  return root_->type == 'C' ? root_->width : root_->type == 'N' ? 12 : 8;
}

const std::string& Expression::text() const {
  return text_;
}

ExprValue Expression::Evaluate(const uint8_t* record) const {
  if (!root_) Fail(ErrorCode::kBadState, "Evaluating an expression that was moved from");
  ExprValue v;
  v.type = root_->type;
  if (v.type == 'C') {
    v.text = EvalText(*root_, record, *cp_);
    v.text.resize(root_->width, ' ');
  } else {
    v.number = EvalNumber(*root_, record, *cp_);
  }
  return v;
}

void Expression::EvaluateText(const uint8_t* record, char* out) const {
  if (!root_ || root_->type != 'C')
    Fail(ErrorCode::kBadState, "A character key from an expression that gives none");
  if (plan_) return plan_->Run(record, out);
  std::string text = Evaluate(record).text;
  std::memcpy(out, text.data(), static_cast<size_t>(root_->width));
}

}  // namespace klv::dbf
