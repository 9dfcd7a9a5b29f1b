#include "app/MachineCatalogue.h"

#include <algorithm>

#include "platform/files.h"

namespace vz::app {
namespace {

int CompareIgnoringCase(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    auto fold = [](char c) {
      return static_cast<unsigned char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    };
    const unsigned char x = fold(a[i]), y = fold(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return 0;
}

}  // namespace

void SortAsMachineBox(std::vector<std::string>& names) {
  std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    const int c = CompareIgnoringCase(a, b);
    return c != 0 ? c < 0 : a < b;
  });
}

std::vector<std::string> OfferedMachines(const std::string& programDir) {
  return OfferedMachines(programDir, [](const std::string& p) { return platform::FileExists(p); });
}

std::vector<std::string> OfferedMachines(const std::string& programDir, const ExistsTest& exists) {
  std::vector<std::string> names;
  for (const Machine& m : kMachines) {
    if (exists(programDir + m.DataFile) && exists(programDir + m.MemoFile))
      names.emplace_back(m.DisplayName);
  }
  SortAsMachineBox(names);
  return names;
}

bool MapDisplayNameToDataFile(const std::string& displayName, std::string& dataFile) {
  for (const Machine& m : kMachines) {
    if (displayName == m.DisplayName) {
      dataFile = m.DataFile;
      return true;
    }
  }
  return false;
}

}  // namespace vz::app
