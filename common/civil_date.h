#pragma once
// Calendar arithmetic without the C library's time zone state.

namespace kestrava {

struct CivilDate {
  int year = 1970;
  int month = 1;  // 1..12
  int day = 1;    // 1..31
};

// The proleptic Gregorian date of a count of days since 1970-01-01; negative counts go back.
// Exact over the whole range of a 64-bit file time (the era arithmetic needs no table).
inline CivilDate CivilFromDays(long long days) {
  const long long z = days + 719468;  // days since 0000-03-01
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  CivilDate date;
  date.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  date.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  date.year = static_cast<int>(yoe + era * 400 + (date.month <= 2));
  return date;
}

// The inverse: the count of days since 1970-01-01 of a proleptic Gregorian date.
inline long long DaysFromCivil(long long year, int month, int day) {
  const long long y = year - (month <= 2);  // years counted from March: the leap day comes last
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const long long yoe = y - era * 400;
  const long long doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

}  // namespace kestrava
