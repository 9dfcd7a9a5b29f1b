#include "tests/support/DateTexts.h"

#include <algorithm>
#include <cstdio>
#include <random>

namespace vz::test {
namespace {

bool Leap(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysIn(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && Leap(y) ? 29 : days[m - 1];
}

std::string Stored(int y, int m, int d) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", y, m, d);
  return buf;
}

}  // namespace

std::vector<std::string> SampleStoredDates(int randomCount, unsigned seed) {
  std::vector<std::string> out = {"17760704", "19200101", "20991231", "24000229", "19000228",
                                  "20000229", "19960229", "21000301", "00010101", "99991231",
                                  "19551231", "19560101", "20551231", "20560101", "18991231",
                                  "20240229", "15821015", "07000615", "19990909", "20261231"};
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> year(1, 9999), month(1, 12), day(1, 31);
  while (static_cast<int>(out.size()) < 20 + randomCount) {
    const int y = year(random), m = month(random);
    const std::string s = Stored(y, m, std::min(day(random), DaysIn(y, m)));
    if (s != "18991230" && std::find(out.begin(), out.end(), s) == out.end()) out.push_back(s);
  }
  return out;
}

std::string WrittenDate(const std::string& stored, int code, bool fourDigits) {
  const std::string year = fourDigits ? stored.substr(0, 4) : stored.substr(2, 2);
  const std::string mm = stored.substr(4, 2), dd = stored.substr(6, 2);
  switch (code) {
    case 0: return mm + "/" + dd + "/" + year;
    case 1: return year + "." + mm + "." + dd;
    case 2: return dd + "/" + mm + "/" + year;
    case 3: return dd + "-" + mm + "-" + year;
    default: return dd + "." + mm + "." + year;
  }
}

std::string ExpectedStored(const std::string& stored, bool fourDigits, int windowBase) {
  if (fourDigits) return stored;
  const int yy = std::stoi(stored.substr(2, 2));
  const int century = windowBase / 100 * 100;
  const int y = yy < windowBase % 100 ? century + 100 + yy : century + yy;
  const int m = std::stoi(stored.substr(4, 2)), d = std::stoi(stored.substr(6, 2));
  if (d > DaysIn(y, m)) return std::string();
  return Stored(y, m, d);
}

std::vector<DateWriting> DateWritings(const std::vector<std::string>& stored,
                                      const std::vector<int>& codes, int windowBase) {
  std::vector<DateWriting> out;
  for (const int code : codes)
    for (const bool four : {false, true})
      for (const std::string& s : stored)
        out.push_back(
            {code, four, s, WrittenDate(s, code, four), ExpectedStored(s, four, windowBase)});
  return out;
}

}  // namespace vz::test
