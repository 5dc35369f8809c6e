#include "app/Formats.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>

#include <QStringList>

#include "app/Settings.h"

namespace klv::app {
namespace {

struct DateFormatInfo {
  const char* item;  // the menu item, also the pattern with leading zeros
  char separator;
  bool day_first;
  bool four_digit_year;
};

constexpr std::array<DateFormatInfo, kDateFormatCount> kDateFormats = {{
    {"mm/dd/yy", '/', false, false},
    {"mm-dd-yy", '-', false, false},
    {"mm.dd.yy", '.', false, false},
    {"dd/mm/yy", '/', true, false},
    {"dd-mm-yy", '-', true, false},
    {"dd.mm.yy", '.', true, false},
    {"mm/dd/yyyy", '/', false, true},
    {"mm-dd-yyyy", '-', false, true},
    {"mm.dd.yyyy", '.', false, true},
    {"dd/mm/yyyy", '/', true, true},
    {"dd-mm-yyyy", '-', true, true},
    {"dd.mm.yyyy", '.', true, true},
}};

const DateFormatInfo& Info(int n) {
  if (n < 1 || n > kDateFormatCount) n = 1;
  return kDateFormats[static_cast<size_t>(n - 1)];
}

// The pattern of format n with the given letters for day, month and year and
// the given separator.
std::string Pattern(int n, bool leading_zeros, char day, char month, char separator) {
  const DateFormatInfo& f = Info(n);
  const std::string d(leading_zeros ? 2 : 1, day);
  const std::string m(leading_zeros ? 2 : 1, month);
  const std::string y = f.four_digit_year ? "yyyy" : "yy";
  return (f.day_first ? d : m) + separator + (f.day_first ? m : d) + separator + y;
}

// The value in fixed-point notation with '.' and no grouping.
QString Fixed(double value, int decimals) {
  decimals = std::clamp(decimals, 0, 18);
  if (std::isfinite(value)) {
    // Rounding the decimal value half away from zero first, so that 0.125 and
    // 12.345 (whose binary values lie just below) show as 0.13 and 12.35,
    // as the table engine stores them.
    const double scale = std::pow(10.0, decimals);
    if (std::fabs(value) * scale < 1e15) value = std::round(value * scale) / scale;
  }
  QString text = QString::number(value, 'f', decimals);
  if (text.startsWith(u'-') &&
      std::all_of(text.begin() + 1, text.end(), [](QChar c) { return c == u'0' || c == u'.'; })) {
    text.remove(0, 1);
  }
  return text;
}

QString PadLeft(const QString& text, int width) {
  return text.size() >= width ? text : QString(width - text.size(), u' ') + text;
}

QString Format(NumberStyle style, const platform::IntlSettings& intl, int width, int decimals,
               double value) {
  QString text = Fixed(value, decimals);
  if (style == NumberStyle::kUS) return PadLeft(text, width);
  if (intl.decimal != u'.') {
    const qsizetype point = text.indexOf(u'.');
    if (point >= 0) text[point] = intl.decimal;
  }
  text = text.trimmed();
  // Separators go in from the right: k is the length of the part that ends
  // the text after the next separator (three digits plus the decimals and
  // their separator), growing by four with each separator put in.
  const int places = std::clamp(decimals, 0, 18);
  qsizetype k = places == 0 ? 3 : places + 4;
  while (k < text.size()) {
    text.insert(text.size() - k, intl.thousand);
    k += 4;
  }
  if (text.size() > 1 && text[0] == u'-' && text[1] == intl.thousand) text.remove(1, 1);
  return PadLeft(text, width);
}

// The typed text with the separators of the style taken out, or nullopt-like
// empty when only blanks were typed.
std::string Normalise(NumberStyle style, const platform::IntlSettings& intl, QString text) {
  if (style == NumberStyle::kUS) {
    text.remove(u',');
  } else {
    text.remove(intl.thousand);
    const qsizetype point = text.indexOf(intl.decimal);
    if (point >= 0) text[point] = u'.';
  }
  return text.toStdString();
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Whether s is [+-]digits[.digits][e[+-]digits] with at least one digit in
// the mantissa (".5" and "5." included).
bool IsDecimalNumber(const std::string& s) {
  size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  size_t digits = 0;
  while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    size_t exponent = 0;
    while (i < s.size() && IsDigit(s[i])) ++i, ++exponent;
    if (exponent == 0) return false;
  }
  return i == s.size();
}

}  // namespace

QString DateFormatItem(int n) {
  return QString::fromLatin1(Info(n).item);
}

char DateFormatSeparator(int n) {
  return Info(n).separator;
}

QString DatePattern(int n, bool leading_zeros) {
  return QString::fromStdString(Pattern(n, leading_zeros, 'd', 'm', Info(n).separator));
}

NumberStyle StyleOf(int setting) {
  return setting == 1 ? NumberStyle::kUS : NumberStyle::kWindows;
}

NumberFormats MakeNumberFormats(const Settings& settings, const platform::IntlSettings& intl) {
  NumberFormats f;
  f.numbers = StyleOf(settings.numeric_format);
  f.money = StyleOf(settings.currency_format);
  f.intl = intl;
  return f;
}

QString FormatNumber(const NumberFormats& formats, int width, int decimals, double value) {
  return Format(formats.numbers, formats.intl, width, decimals, value);
}

QString FormatAmount(const NumberFormats& formats, int width, double value) {
  const int decimals = formats.money == NumberStyle::kUS ? 2 : formats.intl.currency_digits;
  return Format(formats.money, formats.intl, width, decimals, value);
}

Typed<double> ReadTypedAmount(const NumberFormats& formats, const QString& text) {
  Typed<double> out;
  const QString trimmed = text.trimmed();
  if (trimmed.isEmpty()) return out;
  out.state = TypedState::kInvalid;
  std::string s = Normalise(formats.money, formats.intl, trimmed);
  if (!IsDecimalNumber(s)) return out;
  const bool negative = s[0] == '-';
  if (s[0] == '+' || s[0] == '-') s.erase(0, 1);
  double value = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(value)) return out;
  out.state = TypedState::kValid;
  out.value = negative ? -value : value;
  return out;
}

Typed<int32_t> ReadTypedWhole(const NumberFormats& formats, const QString& text) {
  Typed<int32_t> out;
  const QString trimmed = text.trimmed();
  if (trimmed.isEmpty()) return out;
  out.state = TypedState::kInvalid;
  std::string s = Normalise(formats.numbers, formats.intl, trimmed);
  const bool negative = !s.empty() && s[0] == '-';
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) s.erase(0, 1);
  if (s.empty() || !std::all_of(s.begin(), s.end(), IsDigit)) return out;
  int64_t value = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec != std::errc() || end != s.data() + s.size()) return out;
  if (negative) value = -value;
  if (value < INT32_MIN || value > INT32_MAX) return out;
  out.state = TypedState::kValid;
  out.value = static_cast<int32_t>(value);
  return out;
}

dbf::TextFormat MakeTextFormat(int date_format, bool leading_zeros, const NumberFormats& formats) {
  dbf::TextFormat f;
  f.short_date = Pattern(date_format, leading_zeros, 'd', 'M', '/');
  f.date_separator = Info(date_format).separator;
  f.decimal_separator = '.';
  const char16_t decimal = formats.intl.decimal.unicode();
  if (formats.numbers == NumberStyle::kWindows && decimal > u' ' && decimal < 0x7F &&
      !(decimal >= u'0' && decimal <= u'9')) {
    f.decimal_separator = static_cast<char>(decimal);
  }
  return f;
}

std::optional<dbf::Date> ReadDate(int date_format, const QString& text) {
  const DateFormatInfo& f = Info(date_format);
  const QStringList parts = text.split(QChar(f.separator));
  if (parts.size() != 3) return std::nullopt;
  int value[3] = {0, 0, 0};
  for (int k = 0; k < 3; ++k) {
    const QString part = parts[k].trimmed();
    if (part.isEmpty() || part.size() > 4 ||
        !std::all_of(part.begin(), part.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
      return std::nullopt;
    value[k] = part.toInt();
    if (k == 2 && part.size() <= 2) value[k] += value[k] < 30 ? 2000 : 1900;
  }
  const int day = f.day_first ? value[0] : value[1];
  const int month = f.day_first ? value[1] : value[0];
  if (!dbf::IsValidDate(value[2], month, day)) return std::nullopt;
  return dbf::Date{value[2], month, day};
}

}  // namespace klv::app
