// The program's texts are ANSI (windows-1252 or 1251) bytes; Qt's are
// Unicode. The two conversions the views make between them.
#pragma once

#include <QString>
#include <string>

#include "platform/codepage.h"

namespace vz::views {

inline QString ToQt(const std::string& ansi) {
  return QString::fromStdString(platform::AnsiToUtf8(ansi));
}
inline std::string FromQt(const QString& text) {
  return platform::Utf8ToAnsi(text.toStdString());
}

}  // namespace vz::views
