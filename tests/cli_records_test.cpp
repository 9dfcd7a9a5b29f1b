// vorza-dbf list, memo, locate and import: over the corpus of other
// programs' tables and on tables built here.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "platform/codepage.h"
#include "platform/files.h"
#include "tests/support/Compat.h"
#include "tests/support/DbfBuilder.h"
#include "tests/support/DbtBuilder.h"
#include "tests/support/TempDir.h"

namespace vz {
namespace {

using test::BinPath;
using test::RunTool;
using test::ShellQuote;

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : s) {
    if (c == sep) {
      out.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  out.push_back(cur);
  return out;
}

std::string TrimBelow33(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) < 33) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) < 33) --e;
  return s.substr(b, e - b);
}

long long BlockNumber(const std::string& raw) {
  const std::string t = TrimBelow33(raw);
  if (t.empty() || t.size() > 18) return 0;
  std::size_t i = t[0] == '-' ? 1 : 0;
  if (i == t.size()) return 0;
  for (; i < t.size(); ++i)
    if (t[i] < '0' || t[i] > '9') return 0;
  const long long n = std::stoll(t);
  return n < 0 ? -n : n;
}

// What `list --raw` shows for a field's stored bytes.
std::string ListedRaw(char type, const std::string& raw) {
  switch (type) {
    case 'C': {
      std::string v = raw;
      while (!v.empty() && v.back() == ' ') v.pop_back();
      return test::RawEscape(v);
    }
    case 'N':
    case 'F': return test::RawEscape(TrimBelow33(raw));
    case 'M': return std::to_string(BlockNumber(raw));
    default: return test::RawEscape(raw);
  }
}

// A memo by the engine's rules, computed here from the file's bytes.
// Returns false where the engine reports an invalid memo address.
bool MemoByTheRules(const test::Bytes& dbt, int version, long long block, std::string& text) {
  text.clear();
  if (block == 0) return true;
  std::size_t bs = 512;
  if (version == 0x8B && dbt.size() >= 22) bs = dbt[20] | (dbt[21] << 8);
  if (bs == 0) bs = 512;
  const long long size = static_cast<long long>(dbt.size());
  long long offset = block * static_cast<long long>(bs);
  if (offset >= size - 1) return false;
  if (offset + 8 <= size && dbt[offset] == 0xFF && dbt[offset + 1] == 0xFF &&
      dbt[offset + 2] == 8 && dbt[offset + 3] == 0) {
    long long len =
        static_cast<long long>(dbt[offset + 4] | (dbt[offset + 5] << 8) | (dbt[offset + 6] << 16) |
                               (static_cast<long long>(dbt[offset + 7]) << 24)) -
        8;
    len = std::max(0LL, std::min(len, size - offset - 8));
    text.assign(reinterpret_cast<const char*>(&dbt[offset + 8]), static_cast<std::size_t>(len));
    return true;
  }
  long long end = offset;
  while (end < size && dbt[end] != 0x1A) ++end;
  text.assign(reinterpret_cast<const char*>(&dbt[offset]), static_cast<std::size_t>(end - offset));
  return true;
}

std::string Latin1(const std::string& utf8) {
  // The corpus writes memo texts as latin-1 code points: one byte each.
  std::string out;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      const auto d = static_cast<unsigned char>(utf8[++i]);
      out += static_cast<char>(((c & 0x1F) << 6) | (d & 0x3F));
    }
  }
  return out;
}

TEST(CliCorpus, ListAndMemoGiveWhatTheFilesHold) {
  int tables = 0, memos = 0, memoCases = 0;
  for (const std::string& path : test::CompatTableExpectations()) {
    const auto e = test::LoadJson(path);
    const std::string table = test::CompatDir() + "/" + e["table"].get<std::string>();
    SCOPED_TRACE(table);
    std::string out, err;
    const int rc = RunTool("list --all --raw " + ShellQuote(table), &out, &err);
    const int version = std::stoi(e["header"]["version"].get<std::string>(), nullptr, 16);
    const int fieldCount = e["layout"]["field_count"].get<int>();
    if ((version & 0x80) && e["memo_file"].is_null()) {
      EXPECT_EQ(rc, 2) << err;
      continue;
    }
    if (fieldCount < 1 || fieldCount > 255) {
      EXPECT_EQ(rc, 210) << err;
      continue;
    }
    ASSERT_EQ(rc, 0) << err;
    ++tables;
    std::vector<std::string> lines = Split(out, '\n');
    ASSERT_EQ(lines.back(), "");
    lines.pop_back();
    EXPECT_EQ(static_cast<long long>(lines.size()),
              e["layout"]["records_that_fit_in_file"].get<long long>());
    std::vector<char> types;
    for (const auto& f : e["fields"]) types.push_back(f["type"].get<std::string>()[0]);
    const auto& records = e["records"];
    for (std::size_t i = 0; i < records.size() && i < lines.size(); ++i) {
      const auto& r = records[i];
      const std::vector<std::string> cells = Split(lines[i], '\t');
      ASSERT_EQ(cells.size(), 2 + types.size()) << lines[i];
      EXPECT_EQ(cells[0], std::to_string(r["recno"].get<long long>()));
      const bool deleted = r["deleted"].is_boolean() && r["deleted"].get<bool>();
      EXPECT_EQ(cells[1], deleted ? "*" : "-") << "record " << i + 1;
      for (std::size_t j = 0; j < types.size(); ++j) {
        const std::string raw = test::Unescape(r["values"][j].get<std::string>());
        EXPECT_EQ(cells[2 + j], ListedRaw(types[j], raw)) << "record " << i + 1 << " field " << j;
      }
    }
    // Records beyond the header's count are read like any other.
    for (std::size_t i = records.size(); i < lines.size(); ++i)
      EXPECT_EQ(Split(lines[i], '\t')[0], std::to_string(i + 1));

    if (e["memo_file"].is_null()) continue;
    const test::Bytes dbt =
        test::ReadFile(test::CompatDir() + "/" + e["memo_file"].get<std::string>());
    for (const auto& r : records) {
      if (!r.contains("memos")) continue;
      for (const auto& [field, m] : r["memos"].items()) {
        const long long block = BlockNumber(test::Unescape(m["pointer"].get<std::string>()));
        if (block == 0 || memoCases++ % test::kToolCaseStride != 0) continue;
        const std::string recno = std::to_string(r["recno"].get<long long>());
        std::string got;
        const int mrc =
            RunTool("memo " + ShellQuote(table) + " " + recno + " " + field + " --raw", &got);
        std::string want;
        if (!MemoByTheRules(dbt, version, block, want)) {
          EXPECT_EQ(mrc, 1003 % 256) << "record " << recno;
          continue;
        }
        ASSERT_EQ(mrc, 0) << "record " << recno;
        EXPECT_EQ(got, want) << "record " << recno << " " << field;
        ++memos;
        // Where the other readers agree, so do we; where they differ, we
        // give one of their lengths (the corpus notes how our rules differ).
        const std::string theirs = Latin1(m["text"].get<std::string>());
        if (!m.value("disputed", false)) {
          EXPECT_EQ(got, theirs) << "record " << recno;
        } else {
          bool one = false;
          for (const auto& [reader, len] : m["variant_lengths"].items())
            one = one || len.get<long long>() == static_cast<long long>(got.size());
          EXPECT_TRUE(one) << "record " << recno << " length " << got.size();
        }
      }
    }
  }
  EXPECT_GE(tables, 15);
  EXPECT_GE(memos, 100 / test::kToolCaseStride);
}

class CliTable : public ::testing::Test {
 protected:
  void SetUp() override {
    test::DbtBuilder memo(false);
    const int m1 = memo.Add("God mode: iddqd\r\nAll keys: idkfa");
    const int m2 = memo.Add("Pok\x82mon tips\ttab");
    memo.Write(dir_.File("pc.dbt"));
    test::DbfBuilder b;
    b.Version(0x83)
        .Field("CHEATNAME", 'C', 20)
        .Field("LEVEL", 'N', 4, 1)
        .Field("ADDED", 'D', 8)
        .Field("OK", 'L', 1)
        .Field("CHEATMEMO", 'M', 10);
    b.Record({"Doom", "1.5", "19931210", "T", test::MemoField(m1)});
    b.Record({"Quake\\1", "", "        ", "F", ""}, true);
    b.Record({"Pok\x82mon Snap\t", "-2.0", "19990321", "?", test::MemoField(m2)});
    b.Write(dir_.File("pc.dbf"));
    table_ = ShellQuote(dir_.File("pc.dbf"));
  }
  test::TempDir dir_;
  std::string table_;
};

TEST_F(CliTable, List) {
  std::string out;
  ASSERT_EQ(RunTool("list " + table_, &out), 0);
  EXPECT_EQ(out,
            "1\t-\tDoom\t1.5\t19931210\tT\t1\n"
            "3\t-\tPok\xC3\xA9mon Snap\\t\t-2.0\t19990321\t?\t2\n");
  ASSERT_EQ(RunTool("list " + table_ + " --all", &out), 0);
  EXPECT_NE(out.find("2\t*\tQuake\\\\1\t\t        \tF\t0\n"), std::string::npos) << out;
  ASSERT_EQ(RunTool("list --raw " + table_, &out), 0);
  EXPECT_NE(out.find("3\t-\tPok\\x82mon Snap\\x09\t"), std::string::npos) << out;
}

// Every byte a name can hold, in every code page: `list` shows the name as
// UTF-8 of its ANSI text with tabs, line ends and backslashes escaped, and
// `list --raw` its stored bytes. A memo field that holds no number shows 0
// (a lone minus sign once ended the tool).
TEST(CliList, EveryByteOfANameInEveryCodePage) {
  test::TempDir dir;
  std::vector<std::string> names;
  for (int from = 1; from < 256; from += 40) {
    std::string name;
    for (int b = from; b < std::min(from + 40, 256); ++b) name += static_cast<char>(b);
    names.push_back(name);
  }
  const std::vector<std::pair<std::string, std::string>> memos = {
      {"-", "0"}, {" -7 ", "7"}, {"12345678901234567890", "0"}, {"abc", "0"}, {"  42", "42"}};
  test::DbfBuilder b;
  b.Field("CHEATNAME", 'C', 40).Field("CHEATMEMO", 'M', 20);
  for (std::size_t i = 0; i < names.size(); ++i)
    b.Record({names[i], memos[i % memos.size()].first});
  b.Write(dir.File("all.dbf"));
  test::DbtBuilder(false).Write(dir.File("all.dbt"));
  const std::string table = ShellQuote(dir.File("all.dbf"));
  for (int page : {437, 850, 866}) {
    SCOPED_TRACE(page);
    ASSERT_TRUE(platform::SetOemCodePage(page));
    std::string shown, raw;
    for (std::size_t i = 0; i < names.size(); ++i) {
      std::string ansi = platform::OemToAnsi(names[i]);
      while (!ansi.empty() && ansi.back() == ' ') ansi.pop_back();
      std::string escaped;
      for (char c : platform::AnsiToUtf8(ansi)) {
        if (c == '\t')
          escaped += "\\t";
        else if (c == '\r')
          escaped += "\\r";
        else if (c == '\n')
          escaped += "\\n";
        else if (c == '\\')
          escaped += "\\\\";
        else
          escaped += c;
      }
      const std::string head = std::to_string(i + 1) + "\t-\t";
      const std::string memo = "\t" + memos[i % memos.size()].second + "\n";
      shown += head + escaped + memo;
      raw += head + test::RawEscape(names[i]) + memo;
    }
    std::string out;
    ASSERT_EQ(RunTool("--codepage " + std::to_string(page) + " list " + table, &out), 0);
    EXPECT_EQ(out, shown);
    ASSERT_EQ(RunTool("--codepage " + std::to_string(page) + " list --raw " + table, &out), 0);
    EXPECT_EQ(out, raw);
  }
  platform::SetOemCodePage(437);
}

TEST_F(CliTable, Memo) {
  std::string out;
  ASSERT_EQ(RunTool("memo " + table_ + " 1", &out), 0);
  EXPECT_EQ(out, "God mode: iddqd\r\nAll keys: idkfa");
  ASSERT_EQ(RunTool("memo " + table_ + " 3 cheatmemo", &out), 0);
  EXPECT_EQ(out, "Pok\xC3\xA9mon tips\ttab");
  ASSERT_EQ(RunTool("memo " + table_ + " 3 --raw", &out), 0);
  EXPECT_EQ(out, "Pok\x82mon tips\ttab");
  ASSERT_EQ(RunTool("memo " + table_ + " 2", &out), 0);  // deleted, and without memo
  EXPECT_EQ(out, "");
  std::string err;
  EXPECT_EQ(RunTool("memo " + table_ + " 9", &out, &err), 212);
  EXPECT_NE(err.find("Error # 212 (Request beyond range)"), std::string::npos);
  EXPECT_EQ(RunTool("memo " + table_ + " 1 cheatname", &out, &err), 65);
  EXPECT_EQ(RunTool("memo " + table_ + " x", &out, &err), 64);
}

TEST_F(CliTable, Locate) {
  std::string out;
  ASSERT_EQ(RunTool("locate " + table_ + " cheatname pok\xC3\xA9", &out), 0);
  EXPECT_EQ(out, "3\n");
  ASSERT_EQ(RunTool("locate " + table_ + " cheatname quake", &out), 0);
  EXPECT_EQ(out, "2\n");  // record-number order, deleted or not
  ASSERT_EQ(RunTool("locate " + table_ + " cheatname zzz", &out), 0);
  EXPECT_EQ(out, "0\n");
  ASSERT_EQ(RunTool("locate " + table_ + " 'cheatmemo contained' IDKFA", &out), 0);
  EXPECT_EQ(out, "1\n");
  std::string err;
  EXPECT_EQ(RunTool("locate " + table_ + " nofield x", &out, &err), 220);
  EXPECT_NE(err.find("Unrecognized field name [Locate/Count/Sum(NOFIELD)]"), std::string::npos);
}

TEST(CliImport, RoundTrip) {
  test::TempDir dir;
  test::WriteFile(dir.File("src.txt"),
                  "# a comment\n\n@@ Doom\nGod mode: iddqd\n\nAll keys: idkfa\n\n\n"
                  "@@* Quake\r\nimpulse 9\r\n"
                  "@@ Pok\xC3\xA9mon Snap\nPress A \xE2\x80\x94 then B.\n"
                  "@@ Empty one\n");
  std::string out, err;
  const std::string t = ShellQuote(dir.File("pc.dbf"));
  ASSERT_EQ(RunTool("import " + t + " " + ShellQuote(dir.File("src.txt")), &out, &err), 0) << err;
  ASSERT_EQ(RunTool("info " + t, &out), 0);
  EXPECT_EQ(out,
            "version 0x8b\nrecords 4\nheader_length 97\nrecord_length 46\nmemo yes\n"
            "field CHEATNAME C 35 0\nfield CHEATMEMO M 10 0\n");
  ASSERT_EQ(RunTool("list " + t + " --all --raw", &out), 0);
  EXPECT_EQ(out, "1\t-\tDoom\t1\n2\t*\tQuake\t2\n3\t-\tPok\\x82mon Snap\t3\n4\t-\tEmpty one\t0\n");
  ASSERT_EQ(RunTool("memo " + t + " 1", &out), 0);
  EXPECT_EQ(out, "God mode: iddqd\r\n\r\nAll keys: idkfa");
  ASSERT_EQ(RunTool("memo " + t + " 3", &out), 0);
  EXPECT_EQ(out, "Press A - then B.");  // the dash has no OEM letter: its best fit
  ASSERT_EQ(RunTool("memo " + t + " 2 --raw", &out), 0);
  EXPECT_EQ(out, "impulse 9");
}

TEST(CliImport, BadSources) {
  test::TempDir dir;
  std::string out, err;
  const std::string t = ShellQuote(dir.File("x.dbf"));
  test::WriteFile(dir.File("long.txt"), "@@ " + std::string(36, 'n') + "\ntext\n");
  EXPECT_EQ(RunTool("import " + t + " " + ShellQuote(dir.File("long.txt")), &out, &err), 65);
  EXPECT_NE(err.find("long.txt:1: the name is longer than 35 characters"), std::string::npos)
      << err;
  test::WriteFile(dir.File("early.txt"), "text first\n@@ A\n");
  EXPECT_EQ(RunTool("import " + t + " " + ShellQuote(dir.File("early.txt")), &out, &err), 65);
  EXPECT_NE(err.find("early.txt:1: text before the first @@ entry"), std::string::npos) << err;
  test::WriteFile(dir.File("noname.txt"), "@@   \n");
  EXPECT_EQ(RunTool("import " + t + " " + ShellQuote(dir.File("noname.txt")), &out, &err), 65);
  EXPECT_EQ(RunTool("import " + t + " " + ShellQuote(dir.File("missing.txt")), &out, &err), 65);
  EXPECT_FALSE(platform::FileExists(dir.File("x.dbf")));
  // Accented names count characters, not bytes.
  test::WriteFile(dir.File("ok.txt"), "@@ " + std::string(34, 'e') + "\xC3\xA9\nx\n");
  EXPECT_EQ(RunTool("import " + t + " " + ShellQuote(dir.File("ok.txt")), &out, &err), 0) << err;
  EXPECT_EQ(RunTool("import " + t, &out, &err), 64);
}

}  // namespace
}  // namespace vz
