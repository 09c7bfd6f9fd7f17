#include <gtest/gtest.h>

#include "common/civil_date.h"

namespace kestrava {
namespace {

void ExpectDate(long long days, int year, int month, int day) {
  const CivilDate date = CivilFromDays(days);
  EXPECT_EQ(date.year, year) << days;
  EXPECT_EQ(date.month, month) << days;
  EXPECT_EQ(date.day, day) << days;
}

TEST(CivilFromDays, CountsFromTheUnixEpochInBothDirections) {
  ExpectDate(0, 1970, 1, 1);
  ExpectDate(-1, 1969, 12, 31);
  ExpectDate(-134774, 1601, 1, 1);  // the file-time epoch
  ExpectDate(11016, 2000, 2, 29);   // a leap day of a century divisible by 400
  ExpectDate(-25508, 1900, 3, 1);   // 1900 had no 29 February
  ExpectDate(-25509, 1900, 2, 28);
}

// Day counts and dates map one to one across leap days, centuries and both epochs.
TEST(DaysFromCivil, InvertsCivilFromDays) {
  EXPECT_EQ(DaysFromCivil(1970, 1, 1), 0);
  EXPECT_EQ(DaysFromCivil(1601, 1, 1), -134774);
  EXPECT_EQ(DaysFromCivil(1899, 12, 30), -25569);  // day 0 of a TDateTime
  for (long long days = -800000; days <= 800000; days += 1) {
    const CivilDate date = CivilFromDays(days);
    ASSERT_EQ(DaysFromCivil(date.year, date.month, date.day), days)
        << date.year << "-" << date.month << "-" << date.day;
  }
}

}  // namespace
}  // namespace kestrava
