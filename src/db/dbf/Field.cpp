// Field values: conversion between the bytes of a record and text, numbers,
// dates and booleans, checked on every write.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "db/dbf/Base.h"
#include "db/dbf/FieldText.h"
#include "db/dbf/Table.h"

namespace klv::dbf {
namespace {

// A number in C notation ('.' as the point), whole text; independent of the
// process locale, which the GUI toolkit sets from the user's environment.
std::optional<double> ParseCNumber(std::string_view t) {
  if (!t.empty() && t[0] == '+') t.remove_prefix(1);
  double v = 0;
  auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (ec != std::errc() || end != t.data() + t.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

// Fixed-point text with dec decimals, locale-independent.
std::string CFixed(double v, int dec) {
  char buf[400];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, dec);
  if (ec != std::errc()) return "*";
  return std::string(buf, end);
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\0')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.remove_suffix(1);
  return s;
}

std::string Describe(const FieldDef& def) {
  std::string d = def.name + " (" + def.type + " " + std::to_string(def.length);
  if (def.decimals) d += "." + std::to_string(def.decimals);
  return d + ")";
}

[[noreturn]] void BadValue(const FieldDef& def, std::string_view text, const char* what) {
  Fail(ErrorCode::kBadValue,
       "\"" + std::string(text) + "\" is not " + what + " for field " + Describe(def));
}

// Parses user text as a number: optional sign, digits, at most one decimal
// separator (the configured one, '.' always accepted), optional exponent.
std::optional<double> ParseTextNumber(std::string_view text, char sep) {
  std::string s;
  bool seen_point = false, seen_digit = false;
  size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) s += text[i++];
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c >= '0' && c <= '9') {
      s += c;
      seen_digit = true;
    } else if ((c == sep || c == '.') && !seen_point) {
      s += '.';
      seen_point = true;
    } else if ((c == 'e' || c == 'E') && seen_digit) {
      s += 'e';
      ++i;
      if (i < text.size() && (text[i] == '+' || text[i] == '-')) s += text[i++];
      bool exp_digit = false;
      for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        s += text[i];
        exp_digit = true;
      }
      if (!exp_digit || i != text.size()) return std::nullopt;
      break;
    } else {
      return std::nullopt;
    }
  }
  if (!seen_digit) return std::nullopt;
  return ParseCNumber(s);
}

// Order of day, month and year in the short date pattern, and whether the
// year is written with two digits.
struct DatePattern {
  char order[3];
  bool day2, month2, year4;
};

DatePattern Analyse(const std::string& pattern) {
  DatePattern p{{'M', 'd', 'y'}, false, false, true};
  int n = 0;
  for (size_t i = 0; i < pattern.size();) {
    char c = pattern[i];
    size_t run = 1;
    while (i + run < pattern.size() && pattern[i + run] == c) ++run;
    if ((c == 'd' || c == 'M' || c == 'y') && n < 3) {
      p.order[n++] = c;
      if (c == 'd') p.day2 = run >= 2;
      if (c == 'M') p.month2 = run >= 2;
      if (c == 'y') p.year4 = run >= 3;
    }
    i += run;
  }
  if (n != 3) return DatePattern{{'M', 'd', 'y'}, false, false, true};
  return p;
}

std::string FormatDate(const Date& d, const TextFormat& f) {
  DatePattern p = Analyse(f.short_date);
  char out[16];
  size_t n = 0;
  auto put = [&](int v, int width) {
    char digits[8];
    int k = 0;
    do {
      digits[k++] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v > 0 && k < 8);
    while (k < width) digits[k++] = '0';
    while (k > 0) out[n++] = digits[--k];
  };
  for (int k = 0; k < 3; ++k) {
    if (k) out[n++] = f.date_separator;
    switch (p.order[k]) {
      case 'd':
        put(d.day, p.day2 ? 2 : 1);
        break;
      case 'M':
        put(d.month, p.month2 ? 2 : 1);
        break;
      default:
        if (p.year4)
          put(d.year, 4);
        else
          put(d.year % 100, 2);
    }
  }
  return std::string(out, n);
}

// Reads a date in the pattern's order with any of '/', '-', '.' or the
// configured separator between parts; two-digit years fall in 1930-2029.
std::optional<Date> ParseTextDate(std::string_view text, const TextFormat& f) {
  DatePattern p = Analyse(f.short_date);
  int parts[3] = {0, 0, 0};
  int digits[3] = {0, 0, 0};
  int k = 0;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      if (digits[k] >= 4) return std::nullopt;
      parts[k] = parts[k] * 10 + (c - '0');
      ++digits[k];
    } else if (c == f.date_separator || c == '/' || c == '-' || c == '.') {
      if (digits[k] == 0 || k == 2) return std::nullopt;
      ++k;
    } else {
      return std::nullopt;
    }
  }
  if (k != 2 || digits[2] == 0) return std::nullopt;
  Date d;
  for (int i = 0; i < 3; ++i) {
    switch (p.order[i]) {
      case 'd':
        d.day = parts[i];
        break;
      case 'M':
        d.month = parts[i];
        break;
      default:
        d.year = parts[i];
        if (digits[i] <= 2) d.year += d.year < 30 ? 2000 : 1900;
    }
  }
  if (!IsValidDate(d.year, d.month, d.day)) return std::nullopt;
  return d;
}

// Formats v with exactly dec decimals, or nullopt when it does not fit width.
std::optional<std::string> FormatNumber(double v, int width, int dec) {
  if (!std::isfinite(v)) return std::nullopt;
  // Round half away from zero at the stored decimals first, so that a typed
  // 12.345 is kept as 12.35 although its binary value lies just below.
  static constexpr double kPowers[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                       1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  double scale = dec >= 0 && dec < 16 ? kPowers[dec] : std::pow(10.0, dec);
  if (std::fabs(v) * scale < 1e15) v = std::round(v * scale) / scale;
  std::string s = CFixed(v, dec);
  if (s == "-0" || s.find_first_not_of("-0.") == std::string::npos) {
    // Negative zero after rounding is written as zero.
    if (!s.empty() && s[0] == '-') s.erase(0, 1);
  }
  if (static_cast<int>(s.size()) > width) return std::nullopt;
  return std::string(static_cast<size_t>(width) - s.size(), ' ') + s;
}

}  // namespace

// Parses the stored text of an N or F field; blanks give nullopt.
std::optional<double> ParseStoredNumber(std::string_view raw) {
  std::string_view t = TrimBlanks(raw);
  if (t.empty()) return std::nullopt;
  return ParseCNumber(t);
}

std::optional<Date> ParseStoredDate(std::string_view raw) {
  if (raw.size() != 8) return std::nullopt;
  int v[3] = {0, 0, 0};
  const int widths[3] = {4, 2, 2};
  size_t pos = 0;
  for (int k = 0; k < 3; ++k) {
    for (int j = 0; j < widths[k]; ++j, ++pos) {
      char c = raw[pos];
      if (c < '0' || c > '9') return std::nullopt;
      v[k] = v[k] * 10 + (c - '0');
    }
  }
  if (!IsValidDate(v[0], v[1], v[2])) return std::nullopt;
  return Date{v[0], v[1], v[2]};
}

std::optional<double> ParseNumberText(std::string_view text, const TextFormat& format) {
  return ParseTextNumber(TrimBlanks(text), format.decimal_separator);
}

std::optional<Date> ParseDateText(std::string_view text, const TextFormat& format) {
  return ParseTextDate(TrimBlanks(text), format);
}

std::string FormatDateText(const Date& date, const TextFormat& format) {
  return date.IsNull() ? std::string() : FormatDate(date, format);
}

std::string_view Field::Raw() const {
  return std::string_view(reinterpret_cast<const char*>(table_->buf_.data()) + offset_,
                          static_cast<size_t>(def_.length));
}

uint8_t* Field::Writable() {
  if (table_->state_ != Table::State::kEdit && table_->state_ != Table::State::kInsert)
    Fail(ErrorCode::kBadState,
         "Field " + def_.name + " can only be changed while a record is being edited or added");
  if (!table_->writable_types_)
    Fail(ErrorCode::kUnsupported, "This table holds field types that cannot be written");
  return table_->buf_.data() + offset_;
}

bool Field::SetAsNearestString(std::string_view text, uint64_t* replaced) {
  if (def_.type != 'C') {
    SetAsString(text);
    return false;
  }
  const std::string bytes = table_->cp_->EncodeNearest(text, replaced);
  // Blanks at the end are not kept anyway: only what is cut of the rest counts.
  size_t used = bytes.size();
  while (used > 0 && bytes[used - 1] == ' ') --used;
  Store(bytes);
  return used > static_cast<size_t>(def_.length);
}

void Field::Store(std::string_view bytes) {
  uint8_t* p = Writable();
  size_t n = table_->cp_->FitBytes(bytes, static_cast<size_t>(def_.length));
  std::memcpy(p, bytes.data(), n);
  std::memset(p + n, ' ', static_cast<size_t>(def_.length) - n);
}

const TextFormat& Field::text_format() const {
  return table_->text_format_;
}

bool Field::IsNull() const {
  std::string_view raw = Raw();
  if (def_.type == 'L') return TrimBlanks(raw).empty() || raw[0] == '?';
  return TrimBlanks(raw).empty();
}

std::string Field::AsString() const {
  std::string_view raw = Raw();
  switch (def_.type) {
    case 'C': {
      std::string_view t = raw;
      while (!t.empty() && (t.back() == ' ' || t.back() == '\0')) t.remove_suffix(1);
      return table_->cp_->Decode(t);
    }
    case 'N':
    case 'F': {
      std::string t(TrimBlanks(raw));
      if (!ParseStoredNumber(t)) return {};  // blank, or overflow filled with '*'
      char sep = table_->text_format_.decimal_separator;
      if (sep != '.')
        for (char& c : t)
          if (c == '.') c = sep;
      return t;
    }
    case 'D': {
      auto d = ParseStoredDate(raw);
      return d ? FormatDate(*d, table_->text_format_) : std::string();
    }
    case 'L':
      if (IsNull()) return {};
      return AsBoolean() ? "T" : "F";
    default:
      return table_->cp_->Decode(TrimBlanks(raw));
  }
}

int64_t Field::AsInteger() const {
  double v = AsFloat();
  if (!(v > -9.2e18 && v < 9.2e18)) return 0;
  return static_cast<int64_t>(std::llround(v));
}

double Field::AsFloat() const {
  switch (def_.type) {
    case 'N':
    case 'F':
      return ParseStoredNumber(Raw()).value_or(0.0);
    case 'C': {
      auto v = ParseTextNumber(TrimBlanks(Raw()), '.');
      return v.value_or(0.0);
    }
    case 'D': {
      auto d = ParseStoredDate(Raw());
      return d ? static_cast<double>(d->year * 10000 + d->month * 100 + d->day) : 0.0;
    }
    case 'L':
      return AsBoolean() ? 1.0 : 0.0;
    default:
      return 0.0;
  }
}

Date Field::AsDate() const {
  if (def_.type == 'D') return ParseStoredDate(Raw()).value_or(Date{});
  if (def_.type == 'C')
    return ParseTextDate(TrimBlanks(AsString()), table_->text_format_).value_or(Date{});
  return Date{};
}

bool Field::AsBoolean() const {
  std::string_view t = TrimBlanks(Raw());
  if (t.empty()) return false;
  char c = t[0];
  return c == 'T' || c == 't' || c == 'Y' || c == 'y';
}

void Field::SetAsString(std::string_view text) {
  switch (def_.type) {
    case 'C': {
      std::string bad;
      auto bytes = table_->cp_->Encode(text, &bad);
      if (!bytes) {
        Fail(ErrorCode::kCodePage, "The character \"" + bad + "\" cannot be stored in field " +
                                       def_.name + ": the table's code page (" +
                                       table_->cp_->name() + ") has no such character");
      }
      Store(*bytes);
      return;
    }
    case 'N':
    case 'F': {
      std::string_view t = TrimBlanks(text);
      if (t.empty()) return Clear();
      auto v = ParseTextNumber(t, table_->text_format_.decimal_separator);
      if (!v) BadValue(def_, text, "a number");
      return SetAsFloat(*v);
    }
    case 'D': {
      std::string_view t = TrimBlanks(text);
      if (t.empty()) return Clear();
      auto d = ParseTextDate(t, table_->text_format_);
      if (!d) BadValue(def_, text, "a date");
      return SetAsDate(*d);
    }
    case 'L': {
      std::string_view t = TrimBlanks(text);
      if (t.empty()) return Clear();
      char c = t[0];
      if (t.size() == 1 || t == "Yes" || t == "No" || t == "True" || t == "False") {
        if (c == 'T' || c == 't' || c == 'Y' || c == 'y') return SetAsBoolean(true);
        if (c == 'F' || c == 'f' || c == 'N' || c == 'n') return SetAsBoolean(false);
      }
      BadValue(def_, text, "a logical value");
    }
    default:
      Fail(ErrorCode::kUnsupported, "Field " + def_.name + " has a type that cannot be written");
  }
}

void Field::SetAsInteger(int64_t value) {
  if (def_.type == 'C') return Store(std::to_string(value));
  if (def_.type == 'N' || def_.type == 'F') {
    // Integers go through text so that large values lose no digits.
    std::string s = std::to_string(value);
    if (def_.decimals > 0) s += "." + std::string(static_cast<size_t>(def_.decimals), '0');
    if (static_cast<int>(s.size()) > def_.length)
      Fail(ErrorCode::kOverflow,
           "The value " + std::to_string(value) + " is too large for field " + Describe(def_));
    return Store(std::string(static_cast<size_t>(def_.length) - s.size(), ' ') + s);
  }
  SetAsFloat(static_cast<double>(value));
}

void Field::SetAsFloat(double value) {
  if (def_.type == 'N' || def_.type == 'F') {
    auto s = FormatNumber(value, def_.length, def_.decimals);
    if (!s) {
      Fail(ErrorCode::kOverflow, "The value " + CFixed(value, def_.decimals) +
                                     " is too large for field " + Describe(def_));
    }
    return Store(*s);
  }
  if (def_.type == 'C') {
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    return Store(ec == std::errc() ? std::string(buf, end) : std::string());
  }
  if (def_.type == 'L') return SetAsBoolean(value != 0);
  Fail(ErrorCode::kBadValue, "Field " + Describe(def_) + " does not take a number");
}

void Field::SetAsDate(const Date& value) {
  if (value.IsNull()) return Clear();
  if (!IsValidDate(value.year, value.month, value.day)) {
    Fail(ErrorCode::kBadValue, "Not a valid date for field " + Describe(def_));
  }
  if (def_.type == 'D') {
    // YYYYMMDD; IsValidDate keeps every part within its digits.
    char buf[9];
    const int parts[3][2] = {{value.year, 4}, {value.month, 2}, {value.day, 2}};
    char* out = buf;
    for (const auto& [v, width] : parts) {
      for (int i = width - 1, n = v; i >= 0; --i, n /= 10) out[i] = static_cast<char>('0' + n % 10);
      out += width;
    }
    *out = '\0';
    return Store(buf);
  }
  if (def_.type == 'C') return Store(FormatDate(value, table_->text_format_));
  Fail(ErrorCode::kBadValue, "Field " + Describe(def_) + " does not take a date");
}

void Field::SetAsBoolean(bool value) {
  if (def_.type == 'L') return Store(value ? "T" : "F");
  if (def_.type == 'C') return Store(value ? "T" : "F");
  SetAsFloat(value ? 1 : 0);
}

void Field::Clear() {
  uint8_t* p = Writable();
  std::memset(p, ' ', static_cast<size_t>(def_.length));
}

}  // namespace klv::dbf
