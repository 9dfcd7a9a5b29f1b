// vorza-machines: lists the machines whose catalogue files a folder holds,
// in the order the reader offers them, with the data file of each.
#include <cstdio>
#include <string>

#include "app/MachineCatalogue.h"
#include "platform/files.h"

int main(int argc, char** argv) {
  std::string dir =
      vz::platform::ExpandFileName(argc > 1 ? argv[1] : vz::platform::ProgramDirectory());
  if (!dir.empty() && dir.back() != '/') dir += '/';
  const auto machines = vz::app::OfferedMachines(dir);
  if (machines.empty()) {
    std::printf("No machine's catalogue files (name.dbf and name.dbt) are in %s\n", dir.c_str());
    return 1;
  }
  for (const std::string& name : machines) {
    std::string file;
    vz::app::MapDisplayNameToDataFile(name, file);
    std::printf("%-18s %s%s\n", name.c_str(), dir.c_str(), file.c_str());
  }
  return 0;
}
