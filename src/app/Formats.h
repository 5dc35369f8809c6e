// Display formats: the twelve date formats with their leading-zeros switch,
// the U.S. and Windows styles of numbers and money amounts, the two
// formatting routines the edit form and the reports use, the reading of a
// number the user typed, and the engine text format that makes the grid and
// the forms show and read dates the same way.
#pragma once

#include <cstdint>
#include <optional>

#include <QString>

#include "db/dbf/Table.h"
#include "platform/Intl.h"

namespace klv::app {

struct Settings;

constexpr int kDateFormatCount = 12;

// Date format n (1 to 12; any other number is taken as 1): its menu item, e.g.
// "dd.mm.yyyy", its separator, and the pattern it shows with or without
// leading zeros in the menu's notation ("dd-mm-yy" or "d-m-yy").
QString DateFormatItem(int n);
char DateFormatSeparator(int n);
QString DatePattern(int n, bool leading_zeros);

enum class NumberStyle { kUS, kWindows };
// The style a "Numeric Format" or "Currency Format" setting selects: 1 the
// U.S. style, anything else the Windows setting.
NumberStyle StyleOf(int setting);

// Everything the number routines depend on.
struct NumberFormats {
  NumberStyle numbers = NumberStyle::kUS;  // quantities and other numbers
  NumberStyle money = NumberStyle::kUS;    // amounts
  platform::IntlSettings intl;
};
NumberFormats MakeNumberFormats(const Settings& settings, const platform::IntlSettings& intl);

// The value with exactly decimals decimals (0 to 18), right-aligned with
// blanks to at least width characters and never cut. U.S. style: '.' and no
// grouping. Windows style: the Windows decimal separator, and the Windows
// thousands separator between groups of three digits before it. Rounding is
// half away from zero on the decimal value, as the table engine stores it,
// and a value that rounds to zero has no minus sign. No currency symbol is
// ever added.
QString FormatNumber(const NumberFormats& formats, int width, int decimals, double value);
// FormatNumber for money, in the money style: 2 decimals in the U.S. style,
// the Windows money decimals ("iCurrDigits") in the Windows style.
QString FormatAmount(const NumberFormats& formats, int width, double value);

// A number typed into an edit, read as the edit form reads it: blanks around
// it are dropped (nothing left: kEmpty); in the U.S. style every ',' is
// removed, in the Windows style every thousands separator is removed and the
// first decimal separator becomes '.'; what is left must then be a number as
// a whole, in decimal notation with an optional sign and exponent.
enum class TypedState { kEmpty, kValid, kInvalid };
template <class T>
struct Typed {
  TypedState state = TypedState::kEmpty;
  T value{};  // 0 unless kValid
  bool valid() const { return state == TypedState::kValid; }
};
// Money, in the money style.
Typed<double> ReadTypedAmount(const NumberFormats& formats, const QString& text);
// A whole number (the quantity), in the numbers style; it must fit 32 bits.
Typed<int32_t> ReadTypedWhole(const NumberFormats& formats, const QString& text);

// The engine's process-wide text format for date format n and the leading-
// zeros switch: the short date pattern in the engine's letters with '/'
// standing for the separator, the separator, and the decimal separator of
// the numbers style (the Windows one only when it is a plain ASCII
// character, else '.').
dbf::TextFormat MakeTextFormat(int date_format, bool leading_zeros, const NumberFormats& formats);

// A date typed in date format n (1 to 12), as the forms read it: day, month
// and year in the format's order, separated by its separator, blanks around
// each part allowed; a year of one or two digits falls in 1930-2029, as the
// engine reads such years. Leading zeros may be typed or not under either
// setting. nullopt when the text is not a real date.
std::optional<dbf::Date> ReadDate(int date_format, const QString& text);

}  // namespace klv::app
