#include "platform/clock.h"

#include <cstdlib>
#include <ctime>

namespace vz::platform {

LocalDate Today() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  return LocalDate{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday};
}

UserLanguage ParseLocaleName(const std::string& name) {
  UserLanguage out;
  if (name.empty() || name == "C" || name == "POSIX" || name.rfind("C.", 0) == 0) {
    out.language = "en";
    return out;
  }
  std::size_t i = 0;
  while (i < name.size() && name[i] != '_' && name[i] != '.' && name[i] != '@' && name[i] != '-')
    out.language += static_cast<char>(std::tolower(static_cast<unsigned char>(name[i++])));
  if (i < name.size() && (name[i] == '_' || name[i] == '-')) {
    ++i;
    while (i < name.size() && name[i] != '.' && name[i] != '@')
      out.territory += static_cast<char>(std::toupper(static_cast<unsigned char>(name[i++])));
  }
  if (out.language.empty()) out.language = "en";
  return out;
}

UserLanguage DefaultUserLanguage() {
  for (const char* var : {"LC_ALL", "LC_TIME", "LANG"}) {
    const char* v = std::getenv(var);
    if (v && *v) return ParseLocaleName(v);
  }
  return ParseLocaleName("");
}

}  // namespace vz::platform
