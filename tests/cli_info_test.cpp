// vorza-dbf info: over the corpus of other programs' tables, on damaged and
// missing files, and its usage.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "platform/codepage.h"
#include "tests/support/Compat.h"
#include "tests/support/DbfBuilder.h"
#include "tests/support/TempDir.h"

namespace vz {
namespace {

using test::BinPath;
using test::ShellQuote;

int Info(const std::string& table, std::string* out, std::string* err) {
  return test::RunCommand(BinPath("vorza-dbf") + " info " + ShellQuote(table), out, err);
}

TEST(CliInfo, CorpusTables) {
  const auto expectations = test::CompatTableExpectations();
  ASSERT_GE(expectations.size(), 20u) << "corpus not found in " << test::CompatDir();
  int opened = 0, refused = 0;
  for (const std::string& path : expectations) {
    const auto e = test::LoadJson(path);
    const std::string table = test::CompatDir() + "/" + e["table"].get<std::string>();
    SCOPED_TRACE(table);
    const auto& layout = e["layout"];
    const int fieldCount = layout["field_count"].get<int>();
    std::string out, err;
    const int rc = Info(table, &out, &err);
    const std::string version = e["header"]["version"].get<std::string>();
    if ((std::stoi(version, nullptr, 16) & 0x80) && e["memo_file"].is_null()) {
      // The table says it has memos, but its memo file is missing.
      EXPECT_EQ(rc, 2);
      EXPECT_NE(err.find("Memo file not found: "), std::string::npos) << err;
      ++refused;
      continue;
    }
    if (fieldCount < 1 || fieldCount > 255) {
      EXPECT_EQ(rc, 210);
      EXPECT_NE(err.find("Error # 210 (Not a dBASE data file)\n"), std::string::npos) << err;
      EXPECT_NE(err.find("is not a dBASE database. (Number of fields is out of range) "
                         "[Use/OpenDbf]"),
                std::string::npos)
          << err;
      ++refused;
      continue;
    }
    ASSERT_EQ(rc, 0) << err;
    const auto& h = e["header"];
    std::ostringstream want;
    want << "version " << h["version"].get<std::string>() << "\n";
    want << "records " << layout["records_that_fit_in_file"].get<long long>() << "\n";
    want << "header_length " << h["header_length"].get<int>() << "\n";
    want << "record_length " << h["record_length"].get<int>() << "\n";
    want << "memo " << ((std::stoi(version, nullptr, 16) & 0x80) ? "yes" : "no") << "\n";
    for (const auto& f : e["fields"]) {
      const std::string name = test::Unescape(f["name_escaped"].get<std::string>());
      want << "field " << platform::AnsiToUtf8(platform::OemToAnsi(name)) << " "
           << f["type"].get<std::string>() << " " << f["length"].get<int>() << " "
           << f["decimals"].get<int>() << "\n";
    }
    EXPECT_EQ(out, want.str());
    ++opened;
  }
  EXPECT_GE(opened, 15);
  EXPECT_GE(refused, 1);
}

TEST(CliInfo, DamagedAndMissingFiles) {
  test::TempDir dir;
  test::WriteFile(dir.File("ten.dbf"), std::string(10, 'x'));
  std::string out, err;
  EXPECT_EQ(Info(dir.File("ten.dbf"), &out, &err), 210);
  EXPECT_EQ(out, "");
  EXPECT_EQ(err.rfind("Error # 210 (Not a dBASE data file)\n", 0), 0u) << err;
  EXPECT_NE(err.find("[USE/OpenDBF]\n"), std::string::npos) << err;
  EXPECT_EQ(err.find('\r'), std::string::npos);

  EXPECT_EQ(Info(dir.File("missing.dbf"), &out, &err), 2);
  EXPECT_EQ(err.rfind("Error # 2 (File not found)\nFailure to open ", 0), 0u) << err;
}

// A damaged header's bytes go into the message whole: the type byte 0 is
// shown as \x00 and the rest of the message follows it.
TEST(CliInfo, AMessageShowsEveryByteOfADamagedHeader) {
  test::TempDir dir;
  for (const char type : {'\0', '\x01', '\x7f'}) {
    test::DbfBuilder b;
    b.Field("NAME", 'C', 10).Field("ODD", type, 4).Record({"a", "b"});
    b.Write(dir.File("odd.dbf"));
    std::string out, err;
    EXPECT_EQ(Info(dir.File("odd.dbf"), &out, &err), 211);
    EXPECT_EQ(out, "");
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(type));
    EXPECT_EQ(err,
              std::string("Error # 211 (Invalid database field type encountered)\nField: ODD [") +
                  hex + "] in " + platform::AsciiUpper(dir.File("odd.dbf")) +
                  " is not a valid field type\n")
        << err;
  }
}

TEST(CliInfo, OwnTableWithEveryFieldType) {
  test::TempDir dir;
  test::DbfBuilder b;
  b.Version(0x83)
      .Field("cheatname", 'C', 35)
      .Field("PRICE", 'N', 8, 2)
      .Field("ADDED", 'D', 8)
      .Field("OK", 'L', 1)
      .Field("NOTES", 'M', 10)
      .Field("W", 'F', 12, 4)
      .Record({"Doom", "1.5", "19991231", "T", "", "2"});
  b.Write(dir.File("all.dbf"));
  test::WriteFile(dir.File("all.dbt"), std::string(512, '\0'));
  std::string out, err;
  ASSERT_EQ(Info(dir.File("all.dbf"), &out, &err), 0) << err;
  EXPECT_EQ(out,
            "version 0x83\nrecords 1\nheader_length 225\nrecord_length 75\nmemo yes\n"
            "field cheatname C 35 0\nfield PRICE N 8 2\nfield ADDED D 8 0\nfield OK L 1 0\n"
            "field NOTES M 10 0\nfield W F 12 4\n");
}

TEST(CliInfo, Usage) {
  std::string out, err;
  EXPECT_EQ(test::RunCommand(BinPath("vorza-dbf"), &out, &err), 64);
  EXPECT_NE(err.find("usage: vorza-dbf"), std::string::npos);
  EXPECT_EQ(test::RunCommand(BinPath("vorza-dbf") + " info", &out, &err), 64);
  EXPECT_NE(err.find("usage: vorza-dbf info TABLE"), std::string::npos);
  EXPECT_EQ(test::RunCommand(BinPath("vorza-dbf") + " frobnicate x", &out, &err), 64);
  EXPECT_EQ(test::RunCommand(BinPath("vorza-dbf") + " --help", &out, &err), 0);
  EXPECT_NE(out.find("info TABLE"), std::string::npos);
  EXPECT_EQ(test::RunCommand(BinPath("vorza-dbf") + " info --help", &out, &err), 0);
  EXPECT_NE(out.find("usage: vorza-dbf info TABLE"), std::string::npos);
}

}  // namespace
}  // namespace vz
