// Writes the seed corpora of the fuzz targets, one folder per target:
//   make_seeds OUTDIR SAMPLEDIR
// OUTDIR/fuzz_dbf, fuzz_memo, ... receive small, valid (and a few damaged)
// inputs made with the test generators and the engine's own index builder;
// SAMPLEDIR holds the sample catalogue's sources (pc.txt ...), of which the
// first entries of each machine become cheat tables.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/dbf.h"
#include "engine/engine_context.h"
#include "engine/errors.h"
#include "engine/trim.h"
#include "engine/work_area.h"
#include "fuzz/FuzzSupport.h"
#include "fuzz/FuzzTables.h"
#include "index/indexes.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "tests/support/DbfBuilder.h"
#include "tests/support/DbtBuilder.h"
#include "tests/support/NdxBuilder.h"
#include "tests/support/VersionFileBuilder.h"

using namespace vz;
using test::Bytes;
using test::DbfBuilder;
using test::DbtBuilder;
using test::MemoField;
using test::NdxBuilder;

namespace {

std::string gOut;
int gCount = 0;

void Seed(const std::string& target, const std::string& name, const Bytes& bytes) {
  const std::string dir = gOut + "/" + target;
  std::filesystem::create_directories(dir);
  test::WriteFile(dir + "/" + name, bytes);
  ++gCount;
  auto variant = [&](const std::string& suffix, const Bytes& b) {
    test::WriteFile(dir + "/" + name + suffix, b);
    ++gCount;
  };
  // The table target opens its input one of three ways, chosen by bits 4
  // and 5 of header byte 30, and walks it forward, backward or by jumps as
  // bits 6 and 7 say: each table seeds every way with every part.
  if (target == "fuzz_dbf" && bytes.size() > 31) {
    for (int way = 0; way <= 2; ++way)
      for (int part = 0; part <= 2; ++part) {
        if (way == 0 && part == 0) continue;  // the seed as it is
        Bytes b = bytes;
        b[30] = static_cast<std::uint8_t>((b[30] & 0x0F) | (way << 4) | (part << 6));
        variant("-way" + std::to_string(way) + "-part" + std::to_string(part), b);
      }
  }
  // The memo target reads in the layout of the table's version byte (the
  // input's third byte), one of four ways chosen by bits 4 and 5 of the
  // table's byte 30 (the input's byte 32), the table component's way in
  // the part of its walk that bits 6 and 7 choose: each table seeds both
  // layouts, every way and every part.
  if (target == "fuzz_memo" && bytes.size() > 32) {
    for (int layout = 0; layout <= 1; ++layout)
      for (int way = 0; way <= 3; ++way)
        for (int part = 0; part <= (way == 3 ? 2 : 0); ++part) {
          if (layout == 0 && way == 0) continue;  // the seed as it is
          Bytes b = bytes;
          if (layout == 1) b[2] = b[2] == 0x8B ? 0x83 : 0x8B;
          b[32] = static_cast<std::uint8_t>((b[32] & 0x0F) | (way << 4) | (part << 6));
          variant("-layout" + std::to_string(layout) + "-way" + std::to_string(way) + "-part" +
                      std::to_string(part),
                  b);
        }
  }
  // The index target opens its input one of two ways, chosen by bit 0 of
  // byte 511, and does one of four things with it as bits 1 and 2 say (a
  // walk's part in bits 3 and 4): each index seeds every way, thing and
  // part.
  if (target == "fuzz_ndx" && bytes.size() > 511) {
    for (int way = 0; way < 8; ++way)
      for (int part = 0; part <= ((way >> 1) == 0 ? 2 : 0); ++part) {
        Bytes b = bytes;
        b[511] = static_cast<std::uint8_t>((b[511] & 0xE0) | way | part << 3);
        if (b == bytes) continue;  // the seed as it is
        variant("-way" + std::to_string(way) + "-part" + std::to_string(part), b);
      }
  }
}

void Seed(const std::string& target, const std::string& name, const std::string& bytes) {
  Seed(target, name, Bytes(bytes.begin(), bytes.end()));
}

// --- The sample catalogue -----------------------------------------------------------------

struct Entry {
  std::string name, text;
  bool deleted = false;
};

// The first `limit` entries of a catalogue source, in the code page the
// tables hold.
std::vector<Entry> ReadSource(const std::string& path, std::size_t limit) {
  std::ifstream in(path);
  std::vector<Entry> entries;
  std::vector<std::string> lines;
  auto finish = [&] {
    if (entries.empty()) return;
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    std::size_t first = 0;
    while (first < lines.size() && lines[first].empty()) ++first;
    std::string text;
    for (std::size_t i = first; i < lines.size(); ++i) text += (i > first ? "\r\n" : "") + lines[i];
    entries.back().text = platform::Utf8ToCodePage(text, 437);
    lines.clear();
  };
  std::string line;
  while (std::getline(in, line)) {
    const bool deleted = line.rfind("@@* ", 0) == 0;
    if (deleted || line.rfind("@@ ", 0) == 0) {
      finish();
      if (entries.size() == limit) return entries;
      entries.push_back({platform::Utf8ToCodePage(line.substr(deleted ? 4 : 3), 437), "", deleted});
      continue;
    }
    if (!entries.empty()) lines.push_back(line);
  }
  finish();
  return entries;
}

// A cheat table as the catalogue holds it (terminator memos, version 0x83).
void CheatTable(const std::vector<Entry>& entries, Bytes& dbf, Bytes& dbt) {
  DbtBuilder memo(false);
  DbfBuilder b;
  b.Version(0x83).Field("CHEATNAME", 'C', 35).Field("CHEATMEMO", 'M', 10);
  for (const Entry& e : entries)
    b.Record({e.name, MemoField(e.text.empty() ? 0 : memo.Add(e.text))}, e.deleted);
  dbf = b.Build();
  dbt = memo.Build();
}

// The memo target's input: the length of the table, the table, the memo file.
Bytes MemoInput(const Bytes& dbf, const Bytes& dbt) {
  Bytes out{static_cast<std::uint8_t>(dbf.size()), static_cast<std::uint8_t>(dbf.size() >> 8)};
  out.insert(out.end(), dbf.begin(), dbf.end());
  out.insert(out.end(), dbt.begin(), dbt.end());
  return out;
}

// --- Tables --------------------------------------------------------------------------------

Bytes AllTypes(std::uint8_t version) {
  DbfBuilder b;
  b.Version(version)
      .Field("NAME", 'C', 10)
      .Field("BORN", 'D', 8)
      .Field("OK", 'L', 1)
      .Field("PRICE", 'N', 7, 2)
      .Field("COUNT", 'N', 12)
      .Field("RATE", 'F', 9, 4)
      .Field("NOTE", 'M', 10);
  b.Record({"Alpha", "19991231", "y", "3.50", "-12", "0.1250", MemoField(1)});
  b.Record({"\x81"
            "ber",
            "        ", "N", "", "99999999999", "abc", ""},
           true);
  b.Record({"", "20000229", "T", "-0.01", "12.7", "-1e300", "  x"});
  b.RawRecord(std::string(" zz") + std::string(55, '\0'));
  return b.Build();
}

// The older layout: an 8-byte prolog and 16-byte field descriptors, records
// from byte 521.
Bytes OldLayout() {
  Bytes out(521, 0);
  out[0] = 0x02;
  out[1] = 2;          // records
  out[6] = 1 + 8 + 3;  // record length
  const struct {
    const char* name;
    char type;
    int len;
  } fields[] = {{"NAME", 'C', 8}, {"QTY", 'N', 3}};
  for (int i = 0; i < 2; ++i) {
    std::uint8_t* d = out.data() + 8 + 16 * i;
    std::memcpy(d, fields[i].name, std::strlen(fields[i].name));
    d[11] = static_cast<std::uint8_t>(fields[i].type);
    d[12] = static_cast<std::uint8_t>(fields[i].len);
  }
  out[8 + 32] = 0x0D;
  for (const char* r : {" Oldstyle 12", "*Deleted  -3"}) out.insert(out.end(), r, r + 12);
  return out;
}

void DbfSeeds(const std::string& samples) {
  for (const char* machine : {"pc", "n64", "psx", "dream"}) {
    Bytes dbf, dbt;
    CheatTable(ReadSource(samples + "/" + machine + ".txt", 10), dbf, dbt);
    Seed("fuzz_dbf", std::string("cheat-") + machine, dbf);
    Seed("fuzz_memo", std::string("cheat-") + machine, MemoInput(dbf, dbt));
  }
  Seed("fuzz_dbf", "all-types", AllTypes(0x03));
  Seed("fuzz_dbf", "all-types-memo", AllTypes(0x83));
  Seed("fuzz_dbf", "old-layout", OldLayout());
  {
    DbfBuilder b;
    b.Field("CHEATNAME", 'C', 35).Field("CHEATMEMO", 'M', 10);
    b.Record({"Gone", ""}, true).Record({"Also gone", ""}, true);
    Seed("fuzz_dbf", "all-deleted", b.Build());
    b.HeaderRecordCount(7);
    Seed("fuzz_dbf", "count-too-high", b.Build());
    b.HeaderRecordCount(1);
    Seed("fuzz_dbf", "count-too-low", b.Build());
  }
  {
    DbfBuilder b;
    b.Field("CHEATNAME", 'C', 35);
    Seed("fuzz_dbf", "empty", b.Build());
    b.HeaderPadding(263).RecordLength(40);
    b.RawRecord(" padded name                          tail");
    b.RawRecord("*deleted padded                       tail");
    Seed("fuzz_dbf", "padding", b.Build());
  }
  {
    DbfBuilder b;
    for (int i = 0; i < 40; ++i)
      b.Field("F" + std::to_string(i), "CDLNFM"[i % 6], i % 6 == 1 ? 8 : 1 + i % 5,
              i % 6 == 4 ? 1 : 0);
    b.Record({"a", "20240101", "t", "7", "1.5", "3"});
    b.Record({});
    Seed("fuzz_dbf", "many-fields", b.Build());
  }
  Seed("fuzz_dbf", "index-table", fuzz::IndexTable());
  Seed("fuzz_dbf", "expr-table", fuzz::ExprTable("").dbf);
}

void MemoSeeds() {
  auto table = [](std::uint8_t version, const std::vector<std::string>& blocks) {
    DbfBuilder b;
    b.Version(version).Field("CHEATNAME", 'C', 35).Field("CHEATMEMO", 'M', 10);
    int i = 0;
    for (const std::string& block : blocks) {
      ++i;
      b.Record({"Entry " + std::to_string(i), block}, i == 3);
    }
    return b.Build();
  };
  for (int blockSize : {512, 64, 1024, 32}) {
    DbtBuilder m(true, blockSize);
    std::vector<std::string> blocks;
    blocks.push_back(MemoField(m.Add("block header text")));
    blocks.push_back(MemoField(m.Add(std::string("with\0NUL", 8))));
    blocks.push_back(MemoField(m.Add(std::string(700, 'L'))));
    blocks.push_back(MemoField(m.Add("\x84\x94\x81 OEM")));
    blocks.push_back("");
    Seed("fuzz_memo", "blockheaders-" + std::to_string(blockSize),
         MemoInput(table(0x8B, blocks), m.Build()));
  }
  {
    DbtBuilder m(false);
    std::vector<std::string> blocks;
    blocks.push_back(MemoField(m.Add("abc", 1)));
    blocks.push_back(MemoField(m.Add(std::string(511, 'x'), 2)));
    blocks.push_back(MemoField(m.Add(std::string(512, 'y'), 1)));
    blocks.push_back(
        MemoField(m.AddRaw(std::string("\xFF\xFF\x08\x00\x0D\x00\x00\x00"
                                       "12345",
                                       13))));
    blocks.push_back("     -1");
    blocks.push_back("99999999999");
    blocks.push_back("  12abc");
    blocks.push_back(MemoField(m.AddRaw("unterminated at the end of the file")));
    Seed("fuzz_memo", "terminators", MemoInput(table(0x83, blocks), m.Build()));
  }
  {
    DbtBuilder m(false);
    const int block = m.Add(std::string(33000, 'p'));
    Seed("fuzz_memo", "long-memo", MemoInput(table(0x83, {MemoField(block)}), m.Build()));
  }
  {
    DbtBuilder m(true, 512);
    m.StatedBlockSize(0);
    const int block = m.Add("stated block size 0");
    Seed("fuzz_memo", "blocksize-zero", MemoInput(table(0x8B, {MemoField(block)}), m.Build()));
  }
  const fuzz::ExprTableFiles expr = fuzz::ExprTable("");
  Seed("fuzz_memo", "expr-table", MemoInput(expr.dbf, expr.dbt));
}

// --- Indexes -------------------------------------------------------------------------------

void NdxSeeds() {
  fuzz::ResetEngine();
  const Bytes tableBytes = fuzz::IndexTable();
  const std::string table = fuzz::File("ft.dbf");
  test::WriteFile(table, tableBytes);
  USE(table + " EXCLUSIVE");
  int i = 0;
  for (const std::string& e : fuzz::IndexExpressions()) {
    for (const char* options : {"", " UNIQUE"}) {
      if (*options && i % 3 != 0) continue;
      const std::string ndx = fuzz::File("seed.ndx");
      try {
        Index_On(ndx + options, e);
      } catch (const EngineError&) {
        // Either built but not usable on this table (a key whose length
        // varies: the file still makes a seed), or refused (a key whose
        // length cannot be told on this table: no file is left).
      }
      CloseIndexes();
      if (!platform::FileExists(ndx)) continue;
      Seed("fuzz_ndx", "built-" + std::to_string(i) + (*options ? "-unique" : ""),
           test::ReadFile(ndx));
    }
    ++i;
  }
  {
    const std::string ndx = fuzz::File("maker.ndx");
    Index_On(ndx, KeyMaker([] { return std::string("KEY"); }));
    CloseIndexes();
    Seed("fuzz_ndx", "keymaker", test::ReadFile(ndx));
  }
  // The table's names as the generator writes them, in every shape.
  std::vector<std::pair<std::string, int>> names;
  std::vector<std::pair<double, int>> quantities;
  for (std::int64_t r = 1; r <= RecCount(); ++r) {
    names.push_back({Peek(1, r), static_cast<int>(r)});
    quantities.push_back({std::atof(Peek(2, r).c_str()), static_cast<int>(r)});
  }
  CloseAll();
  struct Shape {
    const char* name;
    int fill;
    NdxBuilder::Layout layout;
    char pad;
    int extra;
  };
  const Shape shapes[] = {{"full", 0, NdxBuilder::Layout::TopDown, ' ', 0},
                          {"fill2", 2, NdxBuilder::Layout::TopDown, ' ', 0},
                          {"fill3-bottomup", 3, NdxBuilder::Layout::BottomUp, ' ', 1},
                          {"nulpad", 5, NdxBuilder::Layout::BottomUp, '\0', 0}};
  for (const Shape& s : shapes) {
    NdxBuilder b('C', 12);
    b.Expression("NAME").Fill(s.fill).Arrange(s.layout).PadWith(s.pad).ExtraBlocks(s.extra);
    b.CountCheck(static_cast<std::uint32_t>(names.size()), "FT.DBF");
    for (const auto& [key, record] : names) b.Key(key, record);
    Seed("fuzz_ndx", std::string("names-") + s.name, b.Build());
  }
  {
    NdxBuilder b('N', 8);
    b.Expression("QTY").Fill(4);
    for (const auto& [value, record] : quantities) b.Number(value, record);
    Seed("fuzz_ndx", "numbers", b.Build());
  }
  {
    NdxBuilder b('C', 12);
    b.Expression("NAME").Unsorted();
    for (auto it = names.rbegin(); it != names.rend(); ++it) b.Key(it->first, it->second);
    Seed("fuzz_ndx", "unsorted", b.Build());
  }
  fuzz::ResetEngine();
  fuzz::RemoveFiles();
}

// --- Expressions and columns ------------------------------------------------------------

void ExprSeeds() {
  int i = 0;
  for (const std::string& e : fuzz::SeedExpressions())
    Seed("fuzz_expr", "expr-" + std::to_string(i++), e);
  const fuzz::ExprRecordValues records[] = {
      {"Doom", "D", "  1.25", "-2147483649", "20240229", "y", "2", "-0.001", "long"},
      {"", "", "", "", "        ", " ", "", "", ""},
      {"\x8E\x99\x9A", "\xE1", "abc", "12e400", "99991399", "?", "-5", "1.#INF",
       std::string(60, '\xFF')},
  };
  const char* texts[] = {"UPPER(NAME)+DTOS(WHEN)", "STR(QTY,10,3)+CDOW(WHEN)", "VAL(LONG)+BIG",
                         "NOTE+OTHER->NAME", "DTOC(WHEN)+CMONTH(WHEN)"};
  int settings = 0;
  for (const fuzz::ExprRecordValues& r : records)
    for (const char* t : texts) {
      std::string input = std::string(t) + '\0' + static_cast<char>(settings) + fuzz::ExprRecord(r);
      Seed("fuzz_expr", "record-" + std::to_string(settings), input);
      settings = (settings + 0x13) & 0x3F;
    }
}

void ColumnSeeds() {
  const char* lists[] = {
      "cvColumn=1\ncvFieldNameStr=CHEATNAME\ncvTitleCaptionStr=Cheat\ncvWidthStr=200",
      "cvColorStr=clRed\ncvColumn=1\ncvColorStr=clBlue\ncvFontStr=Arial,clBlue,266\ncvAlignmentStr="
      "taCenter",
      "cvColumn=1\ncvFieldNameStr=A\ncvReadOnlyStr=TRUE\ncvTitleColorStr=$0080FF\n"
      "cvTitleAlignmentStr=taRightJustify\ncvTitleFontStr=Courier New,clWindowText,1804\n"
      "cvColumn=3\ncvWidthStr=99\ncvColorStr=16744576\ncvFieldNameStr=C\ncvColumn=2",
      "  cvColumn=2  \ncvAlignmentStr=tamiddle\ncvColorStr=0x00FF00\ncvFontStr=Times, New, "
      "Roman,clGrayText,0",
      "[column]\nFieldName = \"CHEATNAME\"\nTitle.Caption = \"Cheat\"\nWidth = 120\n",
      "[column]\nAlignment = right\nButtonStyle = ellipsis\nColor = #ff102030\nDropDownRows = 3\n"
      "FieldName = \"A \\\"quoted\\\" name\"\nFont = \"DejaVu Sans,12,-1,5,700,0,0,0,0,0\" "
      "#ff0000ff\n"
      "PickList = \"one\", \"two\\n\"\nReadOnly = true\nTitle.Alignment = center\nTitle.Color = "
      "#ff00ff00\n"
      "Title.Font = \"DejaVu Serif,9,-1,5,400,1,0,0,0,0\" #ff000000\n\n[column]\nFieldName = "
      "\"B\"\n",
  };
  int i = 0;
  for (const char* list : lists)
    Seed("fuzz_savedcolumns", "columns-" + std::to_string(i++), std::string(list));
}

// --- Version records --------------------------------------------------------------------

void VersionSeeds() {
  using namespace vz::test;
  Seed("fuzz_version", "elf64", ElfWithRecord(SampleRecord()));
  Seed("fuzz_version", "elf32-big", ElfWithRecord(SampleRecord(), ElfShape{false, true, false}));
  Seed("fuzz_version", "elf64-extended",
       ElfWithRecord(SampleRecord(), ElfShape{true, false, true}));
  Seed("fuzz_version", "dutch", ElfWithRecord(SampleRecord("041304e4", {0x0413, 0x04E4})));
  Seed("fuzz_version", "no-translation",
       ElfWithRecord(MakeRecord(
           {}, {{Key("040904e4", "CompanyName"), "Vantu"}, {Key("040904e4", "Registry"), "R"}})));
  Seed("fuzz_version", "two-translations",
       ElfWithRecord(MakeRecord(
           {{0x0407, 0x04E4}, {0x0409, 0x04B0}},
           {{Key("040704e4", "FileVersion"), "2.0"}, {Key("040904b0", "Author"), "x"}})));
  Seed("fuzz_version", "no-section", MakeElf(ElfShape{}, {{".text", Bytes(16, 0xC3)}}));
  Seed("fuzz_version", "bare-record", SampleRecord());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_seeds OUTDIR SAMPLEDIR\n");
    return 2;
  }
  gOut = argv[1];
  fuzz::Initialize();
  try {
    DbfSeeds(argv[2]);
    MemoSeeds();
    NdxSeeds();
    ExprSeeds();
    ColumnSeeds();
    VersionSeeds();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_seeds: %s\n", e.what());
    return 1;
  }
  std::printf("make_seeds: %d seeds in %s\n", gCount, gOut.c_str());
  return 0;
}
