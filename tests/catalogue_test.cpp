// The machine catalogue: offered machines and the name-to-file mapping.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>

#include "app/CatalogueFolder.h"
#include "app/MachineCatalogue.h"
#include "engine/dbf.h"
#include "engine/dbt_file.h"
#include "engine/errors.h"
#include "engine/trim.h"
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
  const auto names = OfferedFrom(
      {"pc.dbf", "pc.dbt", "n64.dbf", "n64.dbt", "psx.dbf", "psx.dbt", "dream.dbf", "dream.dbt"});
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

// The sample catalogue the build puts beside the reader: every machine is
// offered, every table opens, names are unique and every live cheat has text.
namespace vz::app {
namespace {

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', start);
    parts.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return parts;
    start = tab + 1;
  }
}

// The sample as the build wrote it, in its own folder: a catalogue of
// somebody's own kept beside the reader does not count here.
TEST(SampleCatalogue, BuiltBesideTheReader) {
  const std::string bin = std::string(VORZA_BIN_DIR) + "/";
  const std::string sample = std::string(VORZA_SAMPLE_DIR) + "/";
  EXPECT_EQ(
      OfferedMachines(sample),
      (std::vector<std::string>{"IBM/PC", "Nintendo N64", "Sega Dreamcast", "Sony Playstation"}));
  const std::string tool = bin + "vorza-dbf";
  for (const char* machine : {"pc", "n64", "psx", "dream"}) {
    SCOPED_TRACE(machine);
    const std::string table = sample + machine + ".dbf";
    std::string out;
    ASSERT_EQ(test::RunCommand(tool + " list " + table + " --all", &out), 0);
    std::set<std::string> names;
    std::vector<std::int64_t> live_records;
    int live = 0;
    int deleted = 0;
    for (const std::string& line : SplitLines(out)) {
      const auto parts = SplitTabs(line);
      ASSERT_GE(parts.size(), 3u) << line;
      EXPECT_TRUE(names.insert(parts[2]).second) << "duplicate name " << parts[2];
      EXPECT_FALSE(parts[2].empty());
      if (parts[1] == "*") {
        ++deleted;
        continue;
      }
      ++live;
      live_records.push_back(std::stoll(parts[0]));
    }
    EXPECT_GE(live, 50);
    EXPECT_GE(deleted, 1) << "each sample table keeps a deleted entry that the reader hides";
    // Every live cheat has a text: read the memos in-process.
    test::ResetEngineForTest();
    InstallMemoUnit();
    Select(1);
    USE(table);
    ASSERT_EQ(Engine().Errors.ErrorCode, 0);
    const int memo = FieldNo("CHEATMEMO");
    for (const std::int64_t recno : live_records) {
      GO(recno);
      const std::string text = ReadMemoText(NativeInt(FieldAddress(memo)), true);
      EXPECT_GT(text.size(), 40u) << "record " << recno;
    }
    CloseAll();
  }
  std::string doc;
  ASSERT_EQ(test::RunCommand("head -c 200 " + bin + "vorzaw95.doc", &doc), 0);
  EXPECT_NE(doc.find("Vorza Cheat Reader"), std::string::npos);
}

// The reader shows a cheat's text in a memo about 46 characters wide that
// wraps longer lines, and the release information in a window about 68
// characters wide that does not wrap. The sources in the source tree are
// written to fit: every line of a cheat's text at most 44 characters, every
// line of vorzaw95.txt at most 68, titles at most 35 and unique per file.

// Characters of a UTF-8 line: every byte that does not continue a sequence.
std::size_t CharacterCount(const std::string& line) {
  std::size_t count = 0;
  for (const char c : line) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
  }
  return count;
}

std::vector<std::string> SourceLines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << "cannot read " << path;
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

// Tabs and blanks at the end of a line, reported as file:line.
void ExpectPlainLine(const std::string& where, const std::string& line) {
  EXPECT_EQ(line.find('\t'), std::string::npos) << where << ": a tab";
  EXPECT_TRUE(line.empty() || (line.back() != ' ' && line.back() != '\r'))
      << where << ": blanks at the end of the line";
}

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

TEST(SampleCatalogue, SourcesFitTheReadersWidths) {
  EXPECT_EQ(CharacterCount("Pok\xC3\xA9"
                           "mon"),
            7u);  // é is one character
  const std::string data = std::string(VORZA_SOURCE_DIR) + "/data/";
  for (const char* machine : {"pc", "n64", "psx", "dream"}) {
    const std::string file = std::string(machine) + ".txt";
    const std::vector<std::string> lines = SourceLines(data + file);
    std::set<std::string> titles;
    int entries = 0;
    int text_lines = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const std::string& line = lines[i];
      const std::string where = file + ":" + std::to_string(i + 1);
      ExpectPlainLine(where, line);
      if (line.rfind("@@", 0) == 0) {
        ++entries;
        const std::string title = Trimmed(line.substr(line.rfind("@@*", 0) == 0 ? 3 : 2));
        const std::size_t length = CharacterCount(title);
        EXPECT_LE(length, 35u) << where << ": a title of " << length << " characters: " << title;
        EXPECT_TRUE(titles.insert(title).second)
            << where << ": the title " << title << " is already used in " << file;
        continue;
      }
      if (entries == 0) continue;  // the comments before the first entry
      ++text_lines;
      const std::size_t length = CharacterCount(line);
      EXPECT_LE(length, 44u) << where << ": a line of " << length << " characters: " << line;
    }
    EXPECT_GE(entries, 50) << file;
    EXPECT_GT(text_lines, entries) << file;
  }
  const std::vector<std::string> info = SourceLines(data + "vorzaw95.txt");
  EXPECT_GE(info.size(), 20u);
  for (std::size_t i = 0; i < info.size(); ++i) {
    const std::string where = "vorzaw95.txt:" + std::to_string(i + 1);
    ExpectPlainLine(where, info[i]);
    const std::size_t length = CharacterCount(info[i]);
    EXPECT_LE(length, 68u) << where << ": a line of " << length << " characters: " << info[i];
  }
}

}  // namespace
}  // namespace vz::app

namespace vz::app {
namespace {

// One rule for the folder on the command line and the one opened without
// it, over real folders: the user's data folder when it holds a machine,
// else the sample installed under the prefix, else the program's folder.
TEST(CatalogueFolder, TheGivenFolderElseTheUsersElseTheInstalledSample) {
  test::TempDir root;
  namespace fs = std::filesystem;
  const std::string prefix = root.File("usr");
  fs::create_directories(prefix + "/bin");
  fs::create_directories(prefix + "/share/vorza");
  fs::create_directories(root.File("home/.local/share/vorza"));
  fs::create_directories(root.File("data/vorza"));
  const auto touch = [](const std::string& path) { std::ofstream(path) << "x"; };
  const std::string programDir = prefix + "/bin/";
  std::map<std::string, std::string> vars{{"HOME", root.File("home")}};
  const Environment env = [&](const char* name) -> const char* {
    const auto it = vars.find(name);
    return it == vars.end() ? nullptr : it->second.c_str();
  };
  const auto chosen = [&](const std::string& given = "") {
    const CatalogueChoice c = ChooseCatalogueFolder(given, programDir, env);
    return c.problem.empty() ? c.folder : "problem: " + c.problem;
  };

  // Nothing anywhere: the program's own folder.
  EXPECT_EQ(chosen(), programDir);
  // The installed sample.
  touch(prefix + "/share/vorza/psx.dbf");
  EXPECT_EQ(chosen(), programDir) << "a table without its memo file is no machine";
  touch(prefix + "/share/vorza/psx.dbt");
  EXPECT_EQ(chosen(), prefix + "/share/vorza/");
  // The user's data folder, once it holds a machine.
  EXPECT_EQ(UserCatalogueFolder(env), root.File("home/.local/share/vorza/"));
  touch(root.File("home/.local/share/vorza/notes.txt"));
  EXPECT_EQ(chosen(), prefix + "/share/vorza/");
  touch(root.File("home/.local/share/vorza/n64.dbf"));
  touch(root.File("home/.local/share/vorza/n64.dbt"));
  EXPECT_EQ(chosen(), root.File("home/.local/share/vorza/"));
  // XDG_DATA_HOME, when absolute, names the data folder instead.
  vars["XDG_DATA_HOME"] = root.File("data");
  EXPECT_EQ(chosen(), prefix + "/share/vorza/");
  touch(root.File("data/vorza/pc.dbf"));
  touch(root.File("data/vorza/pc.dbt"));
  EXPECT_EQ(chosen(), root.File("data/vorza/"));
  vars["XDG_DATA_HOME"] = "relative/data";
  EXPECT_EQ(chosen(), root.File("home/.local/share/vorza/"));
  vars.clear();
  EXPECT_EQ(UserCatalogueFolder(env), "");
  EXPECT_EQ(chosen(), prefix + "/share/vorza/");
  // A folder given wins whatever it holds, made absolute; it must exist.
  EXPECT_EQ(chosen(root.File("data")), root.File("data/"));
  EXPECT_EQ(chosen(root.File("data/../home/")), root.File("home/"));
  EXPECT_EQ(chosen(root.File("nothing")), "problem: " + root.File("nothing") + ": no such folder");
  EXPECT_EQ(chosen(prefix + "/share/vorza/psx.dbf"),
            "problem: " + prefix + "/share/vorza/psx.dbf: no such folder");

  // The release information: the catalogue's, else the installed one.
  EXPECT_EQ(ReleaseInformationFolder(root.File("data/vorza/"), programDir),
            root.File("data/vorza/"));
  touch(prefix + "/share/vorza/vorzaw95.doc");
  EXPECT_EQ(ReleaseInformationFolder(root.File("data/vorza/"), programDir),
            prefix + "/share/vorza/");
  touch(root.File("data/vorza/vorzaw95.doc"));
  EXPECT_EQ(ReleaseInformationFolder(root.File("data/vorza/"), programDir),
            root.File("data/vorza/"));
}

}  // namespace
}  // namespace vz::app
