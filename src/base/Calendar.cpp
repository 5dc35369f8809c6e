#include "base/Calendar.h"

namespace klv::base {

// Days since 1 March of year 0 are counted in 400-year eras of 146097 days,
// which makes the Gregorian leap rule exact for negative years too.
int64_t JulianDay(int year, int month, int day) {
  int64_t y = static_cast<int64_t>(year) - (month <= 2);
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  int64_t yoe = y - era * 400;
  int64_t mp = (static_cast<int64_t>(month) + 9) % 12;
  int64_t doy = (153 * mp + 2) / 5 + day - 1;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe + 1721120;  // 1721120 = Julian day of 0000-03-01
}

void CivilFromJulian(int64_t jd, int* year, int* month, int* day) {
  if (jd <= -(int64_t{1} << 40) || jd >= (int64_t{1} << 40)) {
    *year = *month = *day = 0;
    return;
  }
  int64_t z = jd - 1721120;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  int64_t m = mp < 10 ? mp + 3 : mp - 9;
  *day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *month = static_cast<int>(m);
  *year = static_cast<int>(yoe + era * 400 + (m <= 2));
}

}  // namespace klv::base
