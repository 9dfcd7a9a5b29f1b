#include "engine/dbf.h"
#include "engine/errors.h"
#include "index/indexes.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "tools/commands.h"

namespace vz::tool {

bool AppendEscape(std::string& out, char32_t c) {
  switch (c) {
    case '\t': out += "\\t"; return true;
    case '\r': out += "\\r"; return true;
    case '\n': out += "\\n"; return true;
    case '\\': out += "\\\\"; return true;
    default: return false;
  }
}

std::string Escape(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (char c : utf8)
    if (!AppendEscape(out, static_cast<unsigned char>(c))) out += c;
  return out;
}

std::string Shown(const std::string& oem) {
  return Escape(vz::platform::AnsiToUtf8(vz::platform::OemToAnsi(oem)));
}

void OpenLikeTheReader(const std::string& table, bool writes) {
  vz::EngineSettings& settings = vz::Engine().Settings;
  vz::IndexEngine().Settings.ReadOnlyUse = !writes;
  settings.AnsiTables = false;
  settings.HideDeleted = true;
  if (!writes) settings.ForcedFileMode = vz::platform::kModeRead;  // for the whole command
  // The table itself is always opened read-only, its record count repaired.
  vz::ScopedSetting<int> readOnly(settings.ForcedFileMode, vz::platform::kModeRead);
  vz::ScopedSetting<bool> fix(settings.FixRecCount, true);
  vz::Select(1);
  vz::USE(table);
}

void OpenIndexLikeTheReader(const std::string& ndx) {
  vz::SetIndexTo(ndx);
  vz::DispatchPending();
}

Args SplitArgs(const std::vector<std::string>& args, std::string* index) {
  Args out;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (index && a == "--index" && i + 1 < args.size()) {
      *index = args[++i];
      continue;
    }
    (a.rfind("--", 0) == 0 ? out.flags : out.words).push_back(a);
  }
  return out;
}

bool OnlyFlags(const Args& a, std::initializer_list<const char*> allowed) {
  for (const std::string& f : a.flags) {
    bool ok = false;
    for (const char* x : allowed) ok = ok || f == x;
    if (!ok) return false;
  }
  return true;
}

}  // namespace vz::tool
