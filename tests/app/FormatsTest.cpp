#include "app/Formats.h"

#include <gtest/gtest.h>

#include "app/Settings.h"

namespace klv::app {
namespace {

NumberFormats Us() {
  return NumberFormats();
}

// Windows style with the given separators and decimals for money.
NumberFormats Windows(QChar decimal, QChar thousand, int money_digits = 2) {
  NumberFormats f;
  f.numbers = f.money = NumberStyle::kWindows;
  f.intl.decimal = decimal;
  f.intl.thousand = thousand;
  f.intl.currency_digits = money_digits;
  return f;
}

TEST(DateFormatTest, EveryFormatShowsAndReadsItsPattern) {
  struct Case {
    const char* item;
    const char* with_zeros;  // 7 May 1997
    const char* without;
    const char* pattern_without;
  };
  const Case cases[kDateFormatCount] = {
      {"mm/dd/yy", "05/07/97", "5/7/97", "m/d/yy"},
      {"mm-dd-yy", "05-07-97", "5-7-97", "m-d-yy"},
      {"mm.dd.yy", "05.07.97", "5.7.97", "m.d.yy"},
      {"dd/mm/yy", "07/05/97", "7/5/97", "d/m/yy"},
      {"dd-mm-yy", "07-05-97", "7-5-97", "d-m-yy"},
      {"dd.mm.yy", "07.05.97", "7.5.97", "d.m.yy"},
      {"mm/dd/yyyy", "05/07/1997", "5/7/1997", "m/d/yyyy"},
      {"mm-dd-yyyy", "05-07-1997", "5-7-1997", "m-d-yyyy"},
      {"mm.dd.yyyy", "05.07.1997", "5.7.1997", "m.d.yyyy"},
      {"dd/mm/yyyy", "07/05/1997", "7/5/1997", "d/m/yyyy"},
      {"dd-mm-yyyy", "07-05-1997", "7-5-1997", "d-m-yyyy"},
      {"dd.mm.yyyy", "07.05.1997", "7.5.1997", "d.m.yyyy"},
  };
  const dbf::Date may7{1997, 5, 7};
  const dbf::Date dec25{2003, 12, 25};  // two-digit day and month either way
  for (int n = 1; n <= kDateFormatCount; ++n) {
    const Case& c = cases[n - 1];
    SCOPED_TRACE(c.item);
    EXPECT_EQ(DateFormatItem(n), c.item);
    EXPECT_EQ(DatePattern(n, true), c.item);
    EXPECT_EQ(DatePattern(n, false), c.pattern_without);
    EXPECT_EQ(DateFormatSeparator(n), c.item[2]);
    for (bool zeros : {true, false}) {
      const dbf::TextFormat format = MakeTextFormat(n, zeros, Us());
      const std::string shown = dbf::FormatDateText(may7, format);
      EXPECT_EQ(shown, zeros ? c.with_zeros : c.without);
      EXPECT_EQ(dbf::ParseDateText(shown, format), may7);
      EXPECT_EQ(dbf::ParseDateText(dbf::FormatDateText(dec25, format), format), dec25);
    }
  }
}

TEST(DateFormatTest, OutOfRangeFormatsActAsTheFirst) {
  EXPECT_EQ(DateFormatItem(0), "mm/dd/yy");
  EXPECT_EQ(DatePattern(13, false), "m/d/yy");
  EXPECT_EQ(MakeTextFormat(-4, true, Us()).short_date, "MM/dd/yy");
}

TEST(TextFormatTest, TheDecimalSeparatorFollowsTheNumericFormat) {
  EXPECT_EQ(MakeTextFormat(1, false, Us()).decimal_separator, '.');
  EXPECT_EQ(MakeTextFormat(1, false, Windows(u',', u'.')).decimal_separator, ',');
  // A separator the engine's one-byte format cannot hold falls back to '.'.
  EXPECT_EQ(MakeTextFormat(1, false, Windows(QChar(0x066B), u',')).decimal_separator, '.');
  EXPECT_EQ(MakeTextFormat(1, false, Windows(u' ', u',')).decimal_separator, '.');
}

TEST(FormatNumberTest, UsStyleIsFixedPointWithoutGrouping) {
  const NumberFormats us = Us();
  EXPECT_EQ(FormatNumber(us, 1, 2, 1234567.5), "1234567.50");
  EXPECT_EQ(FormatNumber(us, 12, 2, 1234567.5), "  1234567.50");
  EXPECT_EQ(FormatNumber(us, 1, 2, -12.5), "-12.50");
  EXPECT_EQ(FormatNumber(us, 5, 0, 0), "    0");
  EXPECT_EQ(FormatNumber(us, 0, 3, 2.0005), "2.001");
  EXPECT_EQ(FormatNumber(us, 1, 2, 0.125), "0.13");  // half away from zero
  EXPECT_EQ(FormatNumber(us, 1, 2, 12.345), "12.35");
  EXPECT_EQ(FormatNumber(us, 1, 2, -0.001), "0.00");  // no "-0.00"
  EXPECT_EQ(FormatNumber(us, 1, 2, 999999999999.99), "999999999999.99");
  EXPECT_EQ(FormatNumber(us, 1, 0, 1e20), "100000000000000000000");
}

TEST(FormatNumberTest, WindowsStyleGroupsThousands) {
  const NumberFormats eu = Windows(u',', u'.');
  EXPECT_EQ(FormatNumber(eu, 1, 2, 1234567.891), "1.234.567,89");
  EXPECT_EQ(FormatNumber(eu, 1, 2, -123456.78), "-123.456,78");
  EXPECT_EQ(FormatNumber(eu, 1, 2, -1234567.8), "-1.234.567,80");
  EXPECT_EQ(FormatNumber(eu, 1, 2, 123.4), "123,40");
  EXPECT_EQ(FormatNumber(eu, 1, 2, -123.4), "-123,40");
  EXPECT_EQ(FormatNumber(eu, 1, 2, 0), "0,00");
  EXPECT_EQ(FormatNumber(eu, 1, 1, 1234.5), "1.234,5");
  EXPECT_EQ(FormatNumber(eu, 16, 2, 1234567.891), "    1.234.567,89");

  const NumberFormats us_windows = Windows(u'.', u',');
  EXPECT_EQ(FormatNumber(us_windows, 1, 0, 1234), "1,234");
  EXPECT_EQ(FormatNumber(us_windows, 1, 0, 123), "123");
  EXPECT_EQ(FormatNumber(us_windows, 1, 0, -123), "-123");
  EXPECT_EQ(FormatNumber(us_windows, 1, 0, -1234), "-1,234");
  EXPECT_EQ(FormatNumber(us_windows, 1, 0, 1234567890), "1,234,567,890");
  EXPECT_EQ(FormatNumber(us_windows, 1, 2, 999999999999.99), "999,999,999,999.99");
  EXPECT_EQ(FormatNumber(us_windows, 8, 0, 1234), "   1,234");

  const NumberFormats blank = Windows(u',', u' ');  // an empty thousands setting
  EXPECT_EQ(FormatNumber(blank, 1, 2, -1234.5), "-1 234,50");
}

TEST(FormatAmountTest, DecimalsFollowTheCurrencySetting) {
  EXPECT_EQ(FormatAmount(Us(), 1, 1234.5), "1234.50");
  EXPECT_EQ(FormatAmount(Us(), 10, -3), "     -3.00");
  EXPECT_EQ(FormatAmount(Windows(u',', u'.', 2), 1, 1234.5), "1.234,50");
  EXPECT_EQ(FormatAmount(Windows(u'.', u',', 0), 1, 1234.5), "1,235");
  EXPECT_EQ(FormatAmount(Windows(u'.', u',', 3), 1, -1234.5), "-1,234.500");
  EXPECT_EQ(FormatAmount(Windows(u'.', u',', 3), 1, 0), "0.000");

  // The two settings are independent.
  NumberFormats mixed = Us();
  mixed.money = NumberStyle::kWindows;
  mixed.intl.decimal = u',';
  mixed.intl.thousand = u'.';
  EXPECT_EQ(FormatAmount(mixed, 1, 1234.5), "1.234,50");
  EXPECT_EQ(FormatNumber(mixed, 1, 2, 1234.5), "1234.50");
}

TEST(FormatsTest, SettingsSelectTheStyles) {
  Settings s;
  EXPECT_EQ(MakeNumberFormats(s, {}).numbers, NumberStyle::kUS);
  s.numeric_format = 2;
  s.currency_format = 2;
  const NumberFormats f = MakeNumberFormats(s, {});
  EXPECT_EQ(f.numbers, NumberStyle::kWindows);
  EXPECT_EQ(f.money, NumberStyle::kWindows);
}

TEST(ReadTypedTest, AmountsFollowTheCurrencySetting) {
  EXPECT_EQ(ReadTypedAmount(Us(), "  ").state, TypedState::kEmpty);
  EXPECT_DOUBLE_EQ(ReadTypedAmount(Us(), " 1,234.50 ").value, 1234.5);
  EXPECT_TRUE(ReadTypedAmount(Us(), "-.5").valid());
  EXPECT_DOUBLE_EQ(ReadTypedAmount(Us(), "1e3").value, 1000);
  const NumberFormats eu = Windows(u',', u'.');
  EXPECT_DOUBLE_EQ(ReadTypedAmount(eu, "1.234,50").value, 1234.5);
  EXPECT_DOUBLE_EQ(ReadTypedAmount(eu, "-0,25").value, -0.25);
  for (const char* bad : {"12abc", "1.2.3", "--1", "+-1", "$5", "nan", "inf", "1e", ".", "1e999"}) {
    EXPECT_EQ(ReadTypedAmount(Us(), bad).state, TypedState::kInvalid) << bad;
  }
  // In the Windows style a '.' is a thousands separator here, not a point.
  EXPECT_DOUBLE_EQ(ReadTypedAmount(eu, "12.50").value, 1250);
  EXPECT_EQ(ReadTypedAmount(eu, "1,2,3").state, TypedState::kInvalid);
}

TEST(ReadTypedTest, WholeNumbersFollowTheNumericSetting) {
  EXPECT_EQ(ReadTypedWhole(Us(), "").state, TypedState::kEmpty);
  EXPECT_EQ(ReadTypedWhole(Us(), " 7 ").value, 7);
  EXPECT_EQ(ReadTypedWhole(Us(), "1,000").value, 1000);
  EXPECT_EQ(ReadTypedWhole(Us(), "-3").value, -3);
  EXPECT_EQ(ReadTypedWhole(Windows(u',', u'.'), "1.000").value, 1000);
  EXPECT_EQ(ReadTypedWhole(Us(), "2147483647").value, 2147483647);
  for (const char* bad : {"2.5", "2147483648", "1e3", "-", "+-2", "x1"}) {
    EXPECT_EQ(ReadTypedWhole(Us(), bad).state, TypedState::kInvalid) << bad;
  }
  EXPECT_EQ(ReadTypedWhole(Windows(u',', u'.'), "2,5").state, TypedState::kInvalid);
}

}  // namespace
}  // namespace klv::app
