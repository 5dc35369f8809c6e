#include "platform/Intl.h"

#include <clocale>
#include <cstdlib>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace klv::platform {
namespace {

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

TEST(IntlTest, WinIniOverridesTheLocaleAndIsFoundInAnyCase) {
  test::TempDir dir;
  test::WriteFileBytes(dir.File("win.ini"),
       "[windows]\nload=\n[Intl]\nsCurrency=EURO\nsCountry=Deutschland\nsDecimal=,x\n"
       "sThousand=.\niCurrency=3\niCountry=49\niDigits=3\niCurrDigits=0\n");
  const IntlSettings s = ReadIntlSettings(Q(dir.path()));
  EXPECT_EQ(s.currency, "EUR");  // cut to 3
  EXPECT_EQ(s.country, "Deutschland");
  EXPECT_EQ(s.decimal, u',');  // first character only
  EXPECT_EQ(s.thousand, u'.');
  EXPECT_EQ(s.currency_position, 3);
  EXPECT_EQ(s.country_code, 49);
  EXPECT_EQ(s.digits, 3);
  EXPECT_EQ(s.currency_digits, 0);
}

TEST(IntlTest, WinIniWithoutTheKeysGivesTheUsDefaultsNotTheLocale) {
  test::TempDir dir;
  test::WriteFileBytes(dir.File("WIN.INI"), "[intl]\nsDecimal=\niDigits=12\niCurrDigits=x\n");
  IntlSettings expected;
  expected.decimal = u' ';  // present but empty: a blank
  const IntlSettings s = ReadIntlSettings(Q(dir.path()));
  EXPECT_EQ(s, expected);
  EXPECT_EQ(s.digits, 2);  // 12 is no digit count
}

TEST(IntlTest, LongTextsAreCut) {
  test::TempDir dir;
  test::WriteFileBytes(dir.File("WIN.INI"), "[intl]\nsCountry=" + std::string(50, 'x') + "\n");
  EXPECT_EQ(ReadIntlSettings(Q(dir.path())).country, QString(40, u'x'));
}

TEST(IntlTest, LocaleValuesMapToTheWindowsKeys) {
  LocaleValues v;
  v.decimal_point = ",";
  v.thousands_sep = "\xE2\x80\xAF";  // narrow no-break space, as fr_FR has it
  v.currency_symbol = "\xE2\x82\xAC";
  v.frac_digits = 2;
  v.cs_precedes = 0;
  v.sep_by_space = 1;
  v.country_name = "France";
  v.phone_prefix = "33";
  IntlSettings s = IntlFromLocaleValues(v);
  EXPECT_EQ(s.decimal, u',');
  EXPECT_EQ(s.thousand, QChar(0x202F));
  EXPECT_EQ(s.currency, QString::fromUtf8("€"));
  EXPECT_EQ(s.currency_position, 3);  // "1 €"
  EXPECT_EQ(s.country, "France");
  EXPECT_EQ(s.country_code, 33);
  EXPECT_EQ(s.currency_digits, 2);

  v.cs_precedes = 1;
  v.sep_by_space = 0;
  EXPECT_EQ(IntlFromLocaleValues(v).currency_position, 0);  // "€1"
  v.cs_precedes = 0;
  EXPECT_EQ(IntlFromLocaleValues(v).currency_position, 1);  // "1€"
  v.cs_precedes = 1;
  v.sep_by_space = 1;
  EXPECT_EQ(IntlFromLocaleValues(v).currency_position, 2);  // "€ 1"

  v.currency_symbol = "\xA3";  // a Latin-1 locale's pound sign
  v.utf8 = false;
  EXPECT_EQ(IntlFromLocaleValues(v).currency, QString::fromUtf8("£"));
}

TEST(IntlTest, WhatTheLocaleLeavesOpenTakesTheDefaults) {
  LocaleValues bare;  // as the C locale: a '.' and nothing else
  bare.decimal_point = ".";
  EXPECT_EQ(IntlFromLocaleValues(bare), IntlSettings());
  EXPECT_EQ(IntlFromLocale("C"), IntlSettings());
  EXPECT_EQ(IntlFromLocale("no_SUCH.locale"), IntlSettings());
}

}  // namespace
}  // namespace klv::platform

// glibc keeps the search path of a locale loaded through $LOCPATH for as long
// as the process lives, which the leak checker of sanitizer builds reports.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:__argz_add_sep\n";
}

namespace klv::platform {
namespace {

// A real locale, compiled into a scratch directory when the system has the
// locale sources; the process's own locale must not change.
TEST(IntlTest, ARealLocaleIsReadWithoutChangingTheProcessLocale) {
  test::TempDir dir;
  const std::string command =
      "localedef -i de_DE -f UTF-8 '" + dir.File("de_DE.UTF-8") + "' >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) GTEST_SKIP() << "localedef cannot build de_DE";
  const char* before = std::setlocale(LC_NUMERIC, nullptr);
  const std::string before_name = before != nullptr ? before : "";
  const char* old_path = std::getenv("LOCPATH");
  const std::string saved = old_path != nullptr ? old_path : "";
  ::setenv("LOCPATH", dir.path().c_str(), 1);
  const IntlSettings s = IntlFromLocale("de_DE.UTF-8");
  if (old_path != nullptr) {
    ::setenv("LOCPATH", saved.c_str(), 1);
  } else {
    ::unsetenv("LOCPATH");
  }
  EXPECT_EQ(s.decimal, u',');
  EXPECT_EQ(s.thousand, u'.');
  EXPECT_EQ(s.currency, QString::fromUtf8("€"));
  EXPECT_EQ(s.currency_position, 3);
  EXPECT_EQ(s.currency_digits, 2);
  EXPECT_EQ(s.country_code, 49);
  EXPECT_EQ(std::setlocale(LC_NUMERIC, nullptr), before_name);
}

}  // namespace
}  // namespace klv::platform
