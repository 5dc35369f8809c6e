// The user's international settings, as the display formats need them: the
// values of the "intl" section of the Windows profile. They come from the
// [intl] section of WIN.INI in the Windows directory when that file exists
// (a user who wants fixed values writes them there), else from the user's
// locale (LC_NUMERIC, LC_MONETARY and, for the country, LC_ADDRESS and
// LC_TELEPHONE), read without touching the process's own locale.
#pragma once

#include <string>

#include <QChar>
#include <QString>

namespace klv::platform {

struct IntlSettings {
  QString currency = QStringLiteral("$");             // "sCurrency", at most 3 characters
  QString country = QStringLiteral("United States");  // "sCountry", at most 40
  QChar decimal = u'.';       // "sDecimal": first character; empty value = blank
  QChar thousand = u',';      // "sThousand": likewise
  int currency_position = 0;  // "iCurrency": 0 $1, 1 1$, 2 $ 1, 3 1 $
  int country_code = 1;       // "iCountry": the international dialling code
  int digits = 2;             // "iDigits": decimals of numbers, 0 to 9
  int currency_digits = 2;    // "iCurrDigits": decimals of money, 0 to 9
  bool operator==(const IntlSettings&) const = default;
};

// The settings in force: WIN.INI's [intl] (found in windows_dir without regard
// to letter case) when that file exists, else the locale the environment
// names (LC_ALL, LC_* and LANG).
IntlSettings ReadIntlSettings(const QString& windows_dir);

// The [intl] section of the profile file at path; keys it lacks take the
// defaults above. A digit count outside 0 to 9 takes its default.
IntlSettings IntlFromProfile(const QString& path);

// The values a locale gives, in the locale's own encoding, before they are
// mapped to the Windows keys.
struct LocaleValues {
  std::string decimal_point;    // LC_NUMERIC
  std::string thousands_sep;    // LC_NUMERIC
  std::string currency_symbol;  // LC_MONETARY
  int frac_digits = -1;         // LC_MONETARY; outside 0..9 = not given
  int cs_precedes = 1;          // LC_MONETARY: symbol before a positive amount
  int sep_by_space = 0;         // LC_MONETARY: blank between symbol and amount
  std::string country_name;     // LC_ADDRESS, "" when unknown
  std::string phone_prefix;     // LC_TELEPHONE international prefix, e.g. "49"
  bool utf8 = true;             // the locale's character set is UTF-8
};

// Maps locale values to the Windows keys. A value the locale leaves empty
// (as the C locale leaves the thousands separator and the currency symbol)
// takes the default above, so that a bare system formats as the U.S. style.
IntlSettings IntlFromLocaleValues(const LocaleValues& values);

// The settings of the locale called name ("" = the one the environment
// names). A locale the system does not have gives the defaults.
IntlSettings IntlFromLocale(const char* name = "");

}  // namespace klv::platform
