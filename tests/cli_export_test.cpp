// vorza-dbf export: every field type in both formats, byte for byte;
// deleted records and the index order; and every table of the corpus of
// other programs' files that the engine opens, checked against `list` and
// `memo`.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/codepage.h"
#include "tests/support/Compat.h"
#include "tests/support/DbfBuilder.h"
#include "tests/support/DbtBuilder.h"
#include "tests/support/TempDir.h"

namespace vz {
namespace {

using test::RunTool;
using test::ShellQuote;
using Strings = std::vector<std::string>;

Strings Lines(const std::string& text) {
  Strings out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

Strings TabFields(const std::string& line) {
  Strings out(1);
  for (char c : line) {
    if (c == '\t')
      out.emplace_back();
    else
      out.back() += c;
  }
  return out;
}

// A table of every field type, written byte by byte: OEM text (code page
// 437), numbers in the forms other programs store, blank and impossible
// dates, every logical letter, memo texts with quotes, commas, line breaks,
// accents, a tab, a control byte and trailing blanks; record 2 is deleted.
class ExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::DbtBuilder memo(false);
    const int m1 = memo.Add(
        "He said \"go\", then\r\nleft; caf\x82 \x81"
        "ber   ");
    const int m3 = memo.Add("tab\there\nlone LF");
    const int m4 = memo.Add(
        "\x9A"
        "ber\x01"
        "control");
    memo.Write(dir_.File("t.dbt"));
    test::DbfBuilder()
        .Version(0x83)
        .Field("NAME", 'C', 12)
        .Field("QTY", 'N', 6)
        .Field("PRICE", 'N', 8, 2)
        .Field("RATE", 'F', 10, 3)
        .Field("BORN", 'D', 8)
        .Field("OK", 'L', 1)
        .Field("NOTE", 'M', 10)
        .Record({"Pok\x82mon", "42", "-.5", "12.125", "20240229", "T", test::MemoField(m1)})
        .Record({"Gone", "", "", "", "", "?", ""}, true)
        .Record({" Comma, Inc", "007", "+3.10", "", "20231340", "n", test::MemoField(m3)})
        .Record({"Quote\"d", "***", "12.50", "1.5E+03", "19991231", "y", test::MemoField(m4)})
        .Write(dir_.File("t.dbf"));
    table_ = ShellQuote(dir_.File("t.dbf"));
  }

  std::string Export(const std::string& options) {
    std::string out, err;
    EXPECT_EQ(RunTool("--codepage 437 export " + table_ + " " + options, &out, &err), 0) << err;
    EXPECT_EQ(err, "");
    return out;
  }

  test::TempDir dir_;
  std::string table_;
};

const char* const kCsvHeader = "NAME,QTY,PRICE,RATE,BORN,OK,NOTE\r\n";
const char* const kCsv1 =
    "Pok\xC3\xA9mon,42,-0.5,12.125,2024-02-29,true,"
    "\"He said \"\"go\"\", then\r\nleft; caf\xC3\xA9 \xC3\xBC"
    "ber\"\r\n";
const char* const kCsv2 = "Gone,,,,,,\r\n";
const char* const kCsv3 = "\" Comma, Inc\",7,3.10,,,false,\"tab\there\nlone LF\"\r\n";
const char* const kCsv4 =
    "\"Quote\"\"d\",,12.50,1.5e03,1999-12-31,true,\xC3\x9C"
    "ber\x01"
    "control\r\n";
const char* const kJson1 =
    "{\"_recno\":1,\"_deleted\":false,\"NAME\":\"Pok\xC3\xA9mon\",\"QTY\":42,\"PRICE\":-0.5,"
    "\"RATE\":12.125,\"BORN\":\"2024-02-29\",\"OK\":true,"
    "\"NOTE\":\"He said \\\"go\\\", then\\r\\nleft; caf\xC3\xA9 \xC3\xBC"
    "ber\"}\n";
const char* const kJson2 =
    "{\"_recno\":2,\"_deleted\":true,\"NAME\":\"Gone\",\"QTY\":null,\"PRICE\":null,\"RATE\":null,"
    "\"BORN\":null,\"OK\":null,\"NOTE\":\"\"}\n";
const char* const kJson3 =
    "{\"_recno\":3,\"_deleted\":false,\"NAME\":\" Comma, Inc\",\"QTY\":7,\"PRICE\":3.10,"
    "\"RATE\":null,\"BORN\":null,\"OK\":false,\"NOTE\":\"tab\\there\\nlone LF\"}\n";
const char* const kJson4 =
    "{\"_recno\":4,\"_deleted\":false,\"NAME\":\"Quote\\\"d\",\"QTY\":null,\"PRICE\":12.50,"
    "\"RATE\":1.5e03,\"BORN\":\"1999-12-31\",\"OK\":true,"
    "\"NOTE\":\"\xC3\x9C"
    "ber\\u0001control\"}\n";

TEST_F(ExportTest, EveryFieldTypeAsCsv) {
  EXPECT_EQ(Export(""), std::string(kCsvHeader) + kCsv1 + kCsv3 + kCsv4);
  EXPECT_EQ(Export("--format csv"), std::string(kCsvHeader) + kCsv1 + kCsv3 + kCsv4);
  EXPECT_EQ(Export("--all"), std::string("_deleted,") + kCsvHeader + "false," + kCsv1 + "true," +
                                 kCsv2 + "false," + kCsv3 + "false," + kCsv4);
}

TEST_F(ExportTest, EveryFieldTypeAsJsonLines) {
  const std::string live = Export("--format jsonl");
  EXPECT_EQ(live, std::string(kJson1) + kJson3 + kJson4);
  EXPECT_EQ(Export("--format jsonl --all"), std::string(kJson1) + kJson2 + kJson3 + kJson4);
  // Each line is one JSON object another parser reads back to the values.
  const Strings lines = Lines(live);
  ASSERT_EQ(lines.size(), 3u);
  const nlohmann::json first = nlohmann::json::parse(lines[0]);
  EXPECT_EQ(first["NOTE"],
            "He said \"go\", then\r\nleft; caf\xC3\xA9 \xC3\xBC"
            "ber");
  EXPECT_DOUBLE_EQ(first["PRICE"].get<double>(), -0.5);
  EXPECT_TRUE(nlohmann::json::parse(lines[1])["BORN"].is_null());
  EXPECT_DOUBLE_EQ(nlohmann::json::parse(lines[2])["RATE"].get<double>(), 1500.0);
}

TEST_F(ExportTest, InTheOrderOfAnIndexAndRefusingWrongUsage) {
  std::string out, err;
  ASSERT_EQ(RunTool("index " + table_ + " NAME " + ShellQuote(dir_.File("name.ndx")), &out, &err),
            0)
      << err;
  out = Export("--format jsonl --all --index " + ShellQuote(dir_.File("name.ndx")));
  Strings recnos;
  for (const std::string& line : Lines(out))
    recnos.push_back(std::to_string(nlohmann::json::parse(line)["_recno"].get<int>()));
  // " Comma, Inc" < "Gone" < "Pokemon" < "Quote"
  EXPECT_EQ(recnos, (Strings{"3", "2", "1", "4"}));
  EXPECT_EQ(RunTool("export " + table_ + " --format xml", &out, &err), 64);
  EXPECT_NE(err.find("usage: vorza-dbf export TABLE"), std::string::npos) << err;
  EXPECT_EQ(RunTool("export " + table_ + " --raw", &out, &err), 64);
  EXPECT_EQ(RunTool("export", &out, &err), 64);
  EXPECT_EQ(RunTool("export " + ShellQuote(dir_.File("none.dbf")), &out, &err), 2);
  EXPECT_NE(err.find("Error # 2"), std::string::npos) << err;
}

// The list value of a field (escaped as list writes it) against the
// exported JSON value of the same field.
std::string Escaped(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\\': out += "\\\\"; break;
      default: out += c;
    }
  }
  return out;
}

// Eight digits that name a day of the calendar.
bool RealDate(const std::string& s) {
  if (s.size() != 8 || s.find_first_not_of("0123456789") != std::string::npos) return false;
  const int y = std::stoi(s.substr(0, 4));
  const auto ymd = std::chrono::year_month_day{
      std::chrono::year{y}, std::chrono::month{static_cast<unsigned>(std::stoi(s.substr(4, 2)))},
      std::chrono::day{static_cast<unsigned>(std::stoi(s.substr(6, 2)))}};
  return y > 0 && ymd.ok();
}

TEST(ExportCompat, EveryTableTheEngineOpensAgreesWithListAndMemo) {
  int tables = 0;
  for (const std::string& expectation : test::CompatTableExpectations()) {
    const nlohmann::json expect = test::LoadJson(expectation);
    const std::string path = test::CompatDir() + "/" + expect["table"].get<std::string>();
    SCOPED_TRACE(path);
    const std::string table = ShellQuote(path);
    std::string info, listed, json, csv, err;
    if (RunTool("info " + table, &info) != 0) continue;  // the engine refuses it
    ++tables;
    ASSERT_EQ(RunTool("list " + table + " --all", &listed, &err), 0) << err;
    ASSERT_EQ(RunTool("export " + table + " --all --format jsonl", &json, &err), 0) << err;
    ASSERT_EQ(RunTool("export " + table + " --all", &csv, &err), 0) << err;
    std::vector<char> types;
    Strings names;
    for (const std::string& line : Lines(info)) {
      if (line.rfind("field ", 0) != 0) continue;
      const std::size_t type = line.find(' ', 6);
      // A repeated name gets a suffix.
      const std::string name = line.substr(6, type - 6);
      std::string unique = name;
      for (int n = 2; std::find(names.begin(), names.end(), unique) != names.end(); ++n)
        unique = name + "_" + std::to_string(n);
      names.push_back(unique);
      types.push_back(line[type + 1]);
    }
    const Strings rows = Lines(listed);
    const Strings objects = Lines(json);
    ASSERT_EQ(objects.size(), rows.size());
    // The CSV has a header and as many records, each ended by CR LF.
    std::size_t rowEnds = 0;
    for (std::size_t at = csv.find("\r\n"); at != std::string::npos; at = csv.find("\r\n", at + 2))
      ++rowEnds;
    EXPECT_GE(rowEnds, rows.size() + 1);
    int memos = 0;
    for (std::size_t r = 0; r < rows.size(); ++r) {
      const Strings cells = TabFields(rows[r]);
      const nlohmann::json object = nlohmann::json::parse(objects[r]);
      ASSERT_EQ(std::to_string(object["_recno"].get<long long>()), cells[0]);
      ASSERT_EQ(object["_deleted"].get<bool>(), cells[1] == "*");
      ASSERT_EQ(object.size(), names.size() + 2);
      for (std::size_t f = 0; f < names.size(); ++f) {
        const std::string& stored = cells[f + 2];
        const nlohmann::json& v = object.at(names[f]);
        SCOPED_TRACE("record " + cells[0] + " field " + names[f]);
        switch (types[f]) {
          case 'C': ASSERT_EQ(Escaped(v.get<std::string>()), stored); break;
          case 'N':
          case 'F': {
            std::string digits = stored;
            std::erase(digits, '\0');
            char* end = nullptr;
            const double number = std::strtod(digits.c_str(), &end);
            if (digits.find_first_not_of(' ') == std::string::npos || *end != '\0' ||
                digits.find_first_of("xXnN") != std::string::npos)
              ASSERT_TRUE(v.is_null()) << v;
            else
              ASSERT_DOUBLE_EQ(v.get<double>(), number);
            break;
          }
          case 'D':
            if (RealDate(stored))
              ASSERT_EQ(v.get<std::string>(), stored.substr(0, 4) + "-" + stored.substr(4, 2) +
                                                  "-" + stored.substr(6, 2));
            else
              ASSERT_TRUE(v.is_null()) << v;
            break;
          case 'L':
            if (stored == "T" || stored == "t" || stored == "Y" || stored == "y")
              ASSERT_EQ(v, true);
            else if (stored == "F" || stored == "f" || stored == "N" || stored == "n")
              ASSERT_EQ(v, false);
            else
              ASSERT_TRUE(v.is_null());
            break;
          case 'M': {
            if (stored == "0") {
              ASSERT_EQ(v, "");
              break;
            }
            // Memo texts through `memo`, for the first records of each table.
            if (++memos > 40) break;
            std::string text;
            const int rc = RunTool("memo " + table + " " + cells[0] + " " + names[f], &text, &err);
            if (rc != 0) {
              ASSERT_TRUE(v.is_null()) << "memo failed with " << rc << ", export wrote " << v;
              break;
            }
            while (!text.empty() && text.back() == ' ') text.pop_back();
            ASSERT_EQ(v.get<std::string>(), text);
            break;
          }
        }
      }
    }
  }
  EXPECT_GE(tables, 15);
}

}  // namespace
}  // namespace vz
