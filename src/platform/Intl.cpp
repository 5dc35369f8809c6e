#include "platform/Intl.h"

#include <langinfo.h>
#include <locale.h>

#include <cstring>

#include "platform/Paths.h"
#include "platform/Profile.h"

namespace klv::platform {
namespace {

const QString kIntlSection = QStringLiteral("intl");
constexpr int kMaxCurrency = 3;
constexpr int kMaxCountry = 40;

QString Cut(const QString& text, int n) {
  if (text.size() <= n) return text;
  qsizetype end = n;
  // Never split a character made of two UTF-16 units.
  if (text[end - 1].isHighSurrogate()) --end;
  return text.left(end);
}

// The first character of a separator setting; an empty setting is a blank.
QChar FirstChar(const QString& text) {
  return text.isEmpty() ? QChar(u' ') : text.front();
}

int DigitCount(int value, int def) {
  return value >= 0 && value <= 9 ? value : def;
}

QString FromLocale(const std::string& text, bool utf8) {
  const auto size = static_cast<qsizetype>(text.size());
  return utf8 ? QString::fromUtf8(text.data(), size) : QString::fromLatin1(text.data(), size);
}

}  // namespace

IntlSettings IntlFromProfile(const QString& path) {
  const ProfileFile file(path);
  const IntlSettings d;
  IntlSettings s;
  s.currency =
      Cut(file.GetString(kIntlSection, QStringLiteral("sCurrency"), d.currency), kMaxCurrency);
  s.country = Cut(file.GetString(kIntlSection, QStringLiteral("sCountry"), d.country), kMaxCountry);
  s.decimal =
      FirstChar(file.GetString(kIntlSection, QStringLiteral("sDecimal"), QString(d.decimal)));
  s.thousand =
      FirstChar(file.GetString(kIntlSection, QStringLiteral("sThousand"), QString(d.thousand)));
  s.currency_position = file.GetInt(kIntlSection, QStringLiteral("iCurrency"), d.currency_position);
  s.country_code = file.GetInt(kIntlSection, QStringLiteral("iCountry"), d.country_code);
  s.digits = DigitCount(file.GetInt(kIntlSection, QStringLiteral("iDigits"), d.digits), d.digits);
  s.currency_digits =
      DigitCount(file.GetInt(kIntlSection, QStringLiteral("iCurrDigits"), d.currency_digits),
                 d.currency_digits);
  return s;
}

IntlSettings IntlFromLocaleValues(const LocaleValues& v) {
  IntlSettings s;
  const QString decimal = FromLocale(v.decimal_point, v.utf8);
  const QString thousand = FromLocale(v.thousands_sep, v.utf8);
  const QString currency = FromLocale(v.currency_symbol, v.utf8);
  const QString country = FromLocale(v.country_name, v.utf8);
  if (!decimal.isEmpty()) s.decimal = decimal.front();
  if (!thousand.isEmpty()) s.thousand = thousand.front();
  if (!currency.isEmpty()) s.currency = Cut(currency, kMaxCurrency);
  if (!country.isEmpty()) s.country = Cut(country, kMaxCountry);
  s.currency_digits = DigitCount(v.frac_digits, s.currency_digits);
  // Windows numbers the four placements 0 "$1", 1 "1$", 2 "$ 1", 3 "1 $".
  const bool before = v.cs_precedes != 0;
  const bool spaced = v.sep_by_space == 1 || v.sep_by_space == 2;
  s.currency_position = (before ? 0 : 1) + (spaced ? 2 : 0);
  bool ok = false;
  const int code = QString::fromStdString(v.phone_prefix).toInt(&ok);
  if (ok && code > 0) s.country_code = code;
  return s;
}

IntlSettings IntlFromLocale(const char* name) {
  // A locale object of our own: the process locale (which Qt has set) and
  // this thread's locale stay as they are.
  locale_t loc = ::newlocale(LC_ALL_MASK, name, static_cast<locale_t>(nullptr));
  if (loc == static_cast<locale_t>(nullptr)) {
    loc = ::newlocale(LC_NUMERIC_MASK | LC_MONETARY_MASK, name, static_cast<locale_t>(nullptr));
  }
  if (loc == static_cast<locale_t>(nullptr)) return IntlSettings();
  auto text = [loc](nl_item item) {
    const char* s = ::nl_langinfo_l(item, loc);
    return std::string(s != nullptr ? s : "");
  };
  // The numeric monetary items are one byte, 0 included (so never read them
  // as text); CHAR_MAX means not given.
  auto byte = [loc](nl_item item, int def) {
    const char* s = ::nl_langinfo_l(item, loc);
    const int value = s != nullptr ? static_cast<unsigned char>(s[0]) : def;
    return value == 127 ? def : value;
  };
  LocaleValues v;
  v.decimal_point = text(RADIXCHAR);
  v.thousands_sep = text(THOUSEP);
  v.utf8 = std::strcmp(::nl_langinfo_l(CODESET, loc), "UTF-8") == 0;
#ifdef __GLIBC__
  v.currency_symbol = text(__CURRENCY_SYMBOL);
  v.frac_digits = byte(__FRAC_DIGITS, -1);
  v.cs_precedes = byte(__P_CS_PRECEDES, 1);
  v.sep_by_space = byte(__P_SEP_BY_SPACE, 0);
  v.country_name = text(_NL_ADDRESS_COUNTRY_NAME);
  v.phone_prefix = text(_NL_TELEPHONE_INT_PREFIX);
#else
  v.currency_symbol = text(CRNCYSTR);
  if (!v.currency_symbol.empty()) {
    // "-$" symbol before, "+$" after, ".": replaces the decimal point.
    v.cs_precedes = v.currency_symbol[0] == '-' ? 1 : 0;
    v.currency_symbol.erase(0, 1);
  }
  (void)byte;
#endif
  ::freelocale(loc);
  return IntlFromLocaleValues(v);
}

IntlSettings ReadIntlSettings(const QString& windows_dir) {
  const QString win_ini = FindFileNoCase(windows_dir, QStringLiteral("WIN.INI"));
  if (!win_ini.isEmpty()) return IntlFromProfile(win_ini);
  return IntlFromLocale("");
}

}  // namespace klv::platform
