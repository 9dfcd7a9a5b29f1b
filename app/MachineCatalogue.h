// The machine catalogue: which games machines the reader knows, the files
// that hold each machine's cheats, which machines a program directory
// offers, and the mapping from a display name to its data file.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace vz::app {

struct Machine {
  const char* DisplayName;
  const char* DataFile;
  const char* MemoFile;
};

// In catalogue order: the order of the file tests and of the name mapping.
inline constexpr std::array<Machine, 4> kMachines{{
    {"IBM/PC", "pc.dbf", "pc.dbt"},
    {"Nintendo N64", "n64.dbf", "n64.dbt"},
    {"Sony Playstation", "psx.dbf", "psx.dbt"},
    {"Sega Dreamcast", "dream.dbf", "dream.dbt"},
}};

using ExistsTest = std::function<bool(const std::string& path)>;

// Display names of the machines whose data file and memo file both exist in
// the program directory (which ends in its separator; names are appended as
// they are), in the order of the sorted machine box.
std::vector<std::string> OfferedMachines(const std::string& programDir);
std::vector<std::string> OfferedMachines(const std::string& programDir, const ExistsTest& exists);

// Sorts names as the machine box does: without regard to letter case, ties
// in byte order.
void SortAsMachineBox(std::vector<std::string>& names);

// Maps a display name (compared exactly, case-sensitively, whole) to its data
// file name without directory. When nothing matches, `dataFile` keeps what it
// held and the result is false.
bool MapDisplayNameToDataFile(const std::string& displayName, std::string& dataFile);

}  // namespace vz::app
