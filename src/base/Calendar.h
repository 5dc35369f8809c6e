// The proleptic Gregorian calendar as dBase files use it: dates in fields
// (years 1 to 9999) and Julian day numbers in date keys.
#pragma once

#include <cstdint>

namespace klv::base {

inline bool IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// Days of a month (1-12) of a year.
inline int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Whether y-m-d is a real calendar date in years 1..9999.
inline bool IsValidDate(int year, int month, int day) {
  return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
         day <= DaysInMonth(year, month);
}

// Julian day number of a calendar date, as dBase keeps date keys:
// JulianDay(2000, 1, 1) == 2451545; and back. Exact for any valid date,
// years before 1 included. CivilFromJulian is exact for |jd| < 2^40 and
// gives 0, 0, 0 outside that range.
int64_t JulianDay(int year, int month, int day);
void CivilFromJulian(int64_t jd, int* year, int* month, int* day);

}  // namespace klv::base
