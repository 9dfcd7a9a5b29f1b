// Dates written the way a user writes them, in every date format, with two-
// and four-digit years, and the stored date each must become. Shared by the
// tests of every place that turns a displayed date into a stored one (the
// expression language, index searches, Locate, the table component, the
// grid's editor and the command-line tool), so that all of them are held to
// the same answers.
#pragma once

#include <string>
#include <vector>

namespace vz::test {

// Stored dates (YYYYMMDD) worth writing: dates whose year the two-digit
// window would move to another century (1776-07-04, 1920-01-01, 2099-12-31,
// 2400-02-29, ...), leap days, the ends of the calendar, and `randomCount`
// more drawn from the years 1 to 9999 with `seed`. No date twice, and never
// 30 December 1899: the table component's day 0, which is its empty date.
std::vector<std::string> SampleStoredDates(int randomCount, unsigned seed);

// A stored date written in date format `code` (0 MM/DD/Y, 1 Y.MM.DD, 2
// DD/MM/Y, 3 DD-MM-Y, 4 to 8 DD.MM.Y) with its four-digit year or with the
// last two digits of its year only.
std::string WrittenDate(const std::string& stored, int code, bool fourDigits);

// The stored date that a written date must give: with four digits the date
// itself; with two digits the year of the window that starts at
// `windowBase` (the current year - 70). Empty when that day does not exist
// (29 February of a year that is no leap year), so the text is no date.
std::string ExpectedStored(const std::string& stored, bool fourDigits, int windowBase);

struct DateWriting {
  int code = 0;
  bool fourDigits = false;
  std::string stored;    // the date meant
  std::string text;      // as written
  std::string expected;  // what it must become ("" for no date)
};
// Every sample date in every format listed, with two and four year digits.
std::vector<DateWriting> DateWritings(const std::vector<std::string>& stored,
                                      const std::vector<int>& codes, int windowBase);

}  // namespace vz::test
