// Clock and locale: today's date and the user's language.
#pragma once

#include <string>

namespace vz::platform {

struct LocalDate {
  int year = 1970;
  int month = 1;
  int day = 1;
};

// Today's date in local time.
LocalDate Today();

// The user's language as an ISO 639 code and a territory ("en", "US") taken
// from the POSIX locale variables in their order of precedence: LC_ALL,
// LC_TIME, LANG ("C" and "POSIX" mean English without a territory).
struct UserLanguage {
  std::string language;   // lower case, "en" when nothing is set
  std::string territory;  // upper case, may be empty
};
UserLanguage DefaultUserLanguage();
// Parses one locale name such as "de_DE.UTF-8" or "fr_CA@euro".
UserLanguage ParseLocaleName(const std::string& name);

}  // namespace vz::platform
