// The machine catalogue: offered machines and the name-to-file mapping.
#include <gtest/gtest.h>

#include <set>

#include "app/MachineCatalogue.h"
#include "tests/support/DbfBuilder.h"
#include "tests/support/TempDir.h"

namespace vz::app {
namespace {

std::vector<std::string> OfferedFrom(const std::set<std::string>& files) {
  return OfferedMachines("/games/", [&](const std::string& path) {
    EXPECT_EQ(path.rfind("/games/", 0), 0u) << path;
    return files.count(path.substr(7)) > 0;
  });
}

TEST(Catalogue, AllFourInTheBoxOrder) {
  const auto names = OfferedFrom({"pc.dbf", "pc.dbt", "n64.dbf", "n64.dbt", "psx.dbf", "psx.dbt",
                                  "dream.dbf", "dream.dbt"});
  EXPECT_EQ(names, (std::vector<std::string>{"IBM/PC", "Nintendo N64", "Sega Dreamcast",
                                             "Sony Playstation"}));
  std::string file;
  EXPECT_TRUE(MapDisplayNameToDataFile(names[0], file));
  EXPECT_EQ(file, "pc.dbf");
}

TEST(Catalogue, OnlyMachinesWithBothFiles) {
  EXPECT_EQ(OfferedFrom({"psx.dbf", "psx.dbt"}), std::vector<std::string>{"Sony Playstation"});
  EXPECT_TRUE(OfferedFrom({"n64.dbf"}).empty());
  EXPECT_TRUE(OfferedFrom({"n64.dbt"}).empty());
  EXPECT_TRUE(OfferedFrom({"PC.DBF", "PC.DBT"}).empty());  // names as written, lower case
  EXPECT_TRUE(OfferedFrom({}).empty());
}

TEST(Catalogue, RealFilesInAFolder) {
  test::TempDir dir;
  test::WriteFile(dir.File("dream.dbf"), "");
  test::WriteFile(dir.File("dream.dbt"), "");
  test::WriteFile(dir.File("n64.dbf"), "");
  EXPECT_EQ(OfferedMachines(dir.path() + "/"), std::vector<std::string>{"Sega Dreamcast"});
}

TEST(Catalogue, MappingIsExactAndLeavesTheResultOnAMiss) {
  std::string file = "kept";
  EXPECT_FALSE(MapDisplayNameToDataFile("ibm/pc", file));
  EXPECT_EQ(file, "kept");
  EXPECT_FALSE(MapDisplayNameToDataFile("IBM/PC ", file));
  EXPECT_FALSE(MapDisplayNameToDataFile("", file));
  EXPECT_FALSE(MapDisplayNameToDataFile("S", file));
  EXPECT_EQ(file, "kept");
  const std::pair<const char*, const char*> pairs[] = {{"IBM/PC", "pc.dbf"},
                                                       {"Nintendo N64", "n64.dbf"},
                                                       {"Sony Playstation", "psx.dbf"},
                                                       {"Sega Dreamcast", "dream.dbf"}};
  for (const auto& [name, data] : pairs) {
    EXPECT_TRUE(MapDisplayNameToDataFile(name, file));
    EXPECT_EQ(file, data);
  }
}

TEST(Catalogue, BoxSortIgnoresLetterCase) {
  std::vector<std::string> names = {"sony", "IBM", "Sega", "apple", "Apple"};
  SortAsMachineBox(names);
  EXPECT_EQ(names, (std::vector<std::string>{"Apple", "apple", "IBM", "Sega", "sony"}));
}

}  // namespace
}  // namespace vz::app
