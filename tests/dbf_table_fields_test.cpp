// The table component's field objects beside the framework's, and what
// the data links hear.
#include "tests/dbf_table_test.h"

namespace vz {
namespace {

using namespace dbf_table_test;

// --- Field objects ---------------------------------------------------------------------------

TEST_F(DbfTableTest, FieldObjects) {
  test::DbfBuilder b;
  b.Field("NAME", 'C', 35)
      .Field("PRICE", 'N', 8, 2)
      .Field("QTY", 'N', 5)
      .Field("BORN", 'D', 8)
      .Field("OK", 'L', 1);
  b.Record({"Quake", "3.14159", "42", "20240229", "T"});
  b.Record({"", "12.3456", "", "", "t"});
  b.Record(
      {"\x81"
       "ber",
       "-7", "-3", "19000101", "Y"});
  for (const char* logical : {"y", "F", "N", "?", " "}) b.Record({logical, "", "", "", logical});
  b.Write(dir_.File("f.dbf"));

  DbfTable& t = Reader();
  t.IndexList.clear();
  t.SetDbfFileName(dir_.File("f"));
  t.Open();
  t.First();
  data::Field* name = t.FieldByName("name");
  auto* price = dynamic_cast<data::FloatField*>(t.FieldByName("price"));
  auto* qty = dynamic_cast<data::IntegerField*>(t.FieldByName("qty"));
  auto* born = dynamic_cast<data::DateField*>(t.FieldByName("born"));
  auto* ok = dynamic_cast<data::BooleanField*>(t.FieldByName("ok"));
  ASSERT_TRUE(price && qty && born && ok);
  EXPECT_NE(dynamic_cast<TableDateField*>(born), nullptr);

  EXPECT_EQ(name->AsString(), "Quake");
  EXPECT_FALSE(name->IsNull());
  EXPECT_EQ(price->AsFloat(), 3.14);
  EXPECT_EQ(price->AsString(), "3.14");
  EXPECT_EQ(qty->AsInteger(), 42);
  EXPECT_EQ(born->AsDate(), data::DayNumberOf(2024, 2, 29));
  EXPECT_EQ(born->AsString(), "02/29/24");
  EXPECT_TRUE(ok->AsBoolean());
  t.Next();
  EXPECT_EQ(name->AsString(), "");
  EXPECT_FALSE(name->IsNull());
  EXPECT_EQ(price->AsFloat(), 12.35);
  EXPECT_EQ(qty->AsInteger(), 0);
  EXPECT_TRUE(born->IsNull());
  EXPECT_TRUE(ok->AsBoolean());
  t.Next();
  EXPECT_EQ(name->AsString(),
            "\xFC"
            "ber");  // OEM u-umlaut, as ANSI
  EXPECT_EQ(price->AsFloat(), -7.0);
  EXPECT_EQ(qty->AsInteger(), -3);
  EXPECT_EQ(born->AsDate(), data::DayNumberOf(1900, 1, 1));
  EXPECT_TRUE(ok->AsBoolean());
  std::vector<bool> logicals;
  for (t.Next(); !t.Eof(); t.Next()) logicals.push_back(ok->AsBoolean());
  EXPECT_EQ(logicals, (std::vector<bool>{true, false, false, false, false}));

  // What the grid asks.
  EXPECT_EQ(t.FieldTypeLetter(name, '?'), 'C');
  EXPECT_EQ(t.FieldTypeLetter(price, '?'), 'N');
  EXPECT_EQ(t.FieldTypeLetter(born, '?'), 'D');
  EXPECT_EQ(t.FieldTypeLetter(ok, '?'), 'L');
  data::StringField stranger("nosuch", 5);
  EXPECT_EQ(t.FieldTypeLetter(&stranger, '?'), '?');
  EXPECT_EQ(t.FieldTypeLetter(nullptr, '#'), '#');
  data::StringField lower("name", 5);
  EXPECT_EQ(t.FieldTypeLetter(&lower, '?'), 'C');
  EXPECT_EQ(name->DisplayWidth(), 35);
  EXPECT_EQ(price->Precision(), 8);
  EXPECT_EQ(born->EditMask(), "99/99/99;1; ");
  EXPECT_EQ(name->EditMask(), "");

  // The row the grid makes active reaches the engine's record.
  t.First();
  t.Next();
  t.Next();
  t.First();
  ASSERT_GE(t.WindowRecordCount(), 3);
  const int was = t.SetActiveRecordFor(2);
  t.ActivateRow();
  Select(t.WorkArea());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(FieldAddress(1)) + 1, 3),
            "\xFC"
            "be");
  EXPECT_TRUE(*FieldAddress(5) != 0);
  t.SetActiveRecordFor(1);
  t.ActivateRow();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(FieldAddress(1)) + 1, 5), "     ");
  t.SetActiveRecordFor(was);

  // The table's character set decides the conversion.
  t.Close();
  t.TableLanguage = TableCharset::tlAnsi;
  t.Open();
  t.SetRecNo(3);
  name = t.FieldByName("name");
  EXPECT_EQ(name->AsString(),
            "\x81"
            "ber");

  // The century switch and a year-first format change the masks.
  t.Close();
  SetCentury(true);
  t.Open();
  born = dynamic_cast<data::DateField*>(t.FieldByName("born"));
  EXPECT_EQ(born->EditMask(), "99/99/9999;1; ");
  t.First();
  EXPECT_EQ(born->DisplayText(), "02/29/2024");
  t.Close();
  SetDateFormat(kAnsi);
  t.Open();
  born = dynamic_cast<data::DateField*>(t.FieldByName("born"));
  EXPECT_EQ(born->EditMask(), "9999/99/99;1; ");
  t.Close();
  SetCentury(false);
  t.Open();
  EXPECT_EQ(dynamic_cast<data::DateField*>(t.FieldByName("born"))->EditMask(), "99/99/99;1; ");
}

TEST_F(DbfTableTest, CalculatedFieldsBesideTableFields) {
  Machine("pc", Games());
  DbfTable& t = Reader(3);
  t.AddField(std::make_unique<data::StringField>("CHEATNAME", 35));
  auto length = std::make_unique<data::IntegerField>("LEN");
  length->SetKind(data::FieldKind::Calculated);
  data::IntegerField* len = length.get();
  t.AddField(std::move(length));
  // A calculated number with decimals shows them to its display width.
  auto share = std::make_unique<data::FloatField>("SHARE");
  share->SetKind(data::FieldKind::Calculated);
  data::FloatField* part = share.get();
  const int width = part->DisplayWidth();
  t.AddField(std::move(share));
  t.OnCalcFields = [&](data::DataSet& d) {
    len->SetAsInteger(static_cast<std::int32_t>(d.FieldByName("cheatname")->AsString().size()));
    part->SetAsFloat(len->AsInteger() / 35.0);
  };
  t.SetDbfFileName(dir_.File("pc"));
  t.Open();
  t.First();
  EXPECT_EQ(t.Fields().size(), 3u);
  EXPECT_EQ(t.FindField("cheatmemo"), nullptr);
  EXPECT_EQ(len->AsInteger(), 5);
  EXPECT_EQ(part->Precision(), width);
  EXPECT_DOUBLE_EQ(part->AsFloat(), 5 / 35.0);
  t.Next();
  t.Next();
  t.Next();
  EXPECT_EQ(link_.ActiveText("cheatname"), "Doom II");
  EXPECT_EQ(len->AsInteger(), 7);
  EXPECT_EQ(t.RecNo(), 8);
  EXPECT_EQ(vz::RecNo(), 8);
  EXPECT_EQ(t.FieldTypeLetter(len, '?'), '?');
  EXPECT_THROW(len->SetAsInteger(3), data::DatabaseError);
}

// --- Notifications ---------------------------------------------------------------------------

TEST_F(DbfTableTest, WhatTheLinksHear) {
  Machine("pc", Games());
  DbfTable& t = OpenReader("pc", 3);
  link_.Log.clear();
  t.First();
  EXPECT_EQ(link_.Log, Strings{"changed"});

  link_.Log.clear();
  t.Next();
  EXPECT_EQ(link_.Log, Strings{"scrolled 0"});
  t.Next();
  EXPECT_EQ(link_.ActiveRecord(), 2);
  link_.Log.clear();
  t.Next();  // the window moves one record
  EXPECT_EQ(link_.Log, Strings{"scrolled 1"});
  EXPECT_EQ(link_.Rows("cheatname"), (Strings{" Blood", " Doom", ">Doom II"}));
  link_.Log.clear();
  t.Prior();
  t.Prior();
  EXPECT_EQ(link_.Log, (Strings{"scrolled 0", "scrolled 0"}));
  link_.Log.clear();
  t.Prior();  // at the top
  EXPECT_EQ(link_.Log, Strings{"scrolled -1"});
  EXPECT_EQ(link_.Rows("cheatname"), (Strings{">Abuse", " Blood", " Doom"}));
  link_.Log.clear();
  t.Prior();  // nothing before the first: the window stays
  EXPECT_EQ(link_.Log, Strings{"scrolled 0"});
  EXPECT_TRUE(t.Bof());
  link_.Log.clear();
  t.Prior();  // already at the start
  EXPECT_TRUE(link_.Log.empty());

  link_.Log.clear();
  t.Last();
  EXPECT_EQ(link_.Log, Strings{"changed"});
  EXPECT_EQ(link_.Rows("cheatname"), (Strings{" Heretic", " Myst", ">Quake"}));
  link_.Log.clear();
  t.LocateRec("cheatname", "doom");
  EXPECT_EQ(link_.Log, Strings{"changed"});
  link_.Log.clear();
  t.LocateRec("cheatname", "none such");
  EXPECT_TRUE(link_.Log.empty());

  // Controls disabled: nothing, then one change.
  link_.Log.clear();
  t.DisableControls();
  t.First();
  t.Next();
  t.Next();
  t.Next();
  t.LocateRec("cheatname", "myst");
  EXPECT_TRUE(link_.Log.empty());
  t.EnableControls();
  EXPECT_EQ(link_.Log, Strings{"changed"});
  EXPECT_EQ(link_.ActiveText("cheatname"), "Myst");
  EXPECT_EQ(vz::RecNo(), 7);
  // Nested: only the last EnableControls tells, and it always does.
  link_.Log.clear();
  t.DisableControls();
  t.DisableControls();
  t.EnableControls();
  EXPECT_TRUE(link_.Log.empty());
  t.EnableControls();
  EXPECT_EQ(link_.Log, Strings{"changed"});
  t.EnableControls();  // not disabled: nothing
  EXPECT_EQ(link_.Log, Strings{"changed"});

  // Links of several sizes: the dataset's window is the largest.
  data::DataSource other;
  other.SetDataSet(&t);
  RecordingLink small, large;
  small.SetDataSource(&other);
  EXPECT_EQ(t.BufferCount(), 3);
  large.SetBufferCount(6);
  large.SetDataSource(&source_);
  EXPECT_EQ(t.BufferCount(), 6);
  t.First();
  EXPECT_EQ(small.Rows("cheatname"), Strings{">Abuse"});
  EXPECT_EQ(link_.Rows("cheatname"), (Strings{">Abuse", " Blood", " Doom"}));
  EXPECT_EQ(large.Rows("cheatname"),
            (Strings{">Abuse", " Blood", " Doom", " Doom II", " Heretic", " Myst"}));
  t.MoveBy(4);
  EXPECT_EQ(small.Rows("cheatname"), Strings{">Heretic"});
  EXPECT_EQ(link_.Rows("cheatname"), (Strings{" Doom", " Doom II", ">Heretic"}));
  EXPECT_EQ(large.Rows("cheatname"),
            (Strings{" Abuse", " Blood", " Doom", " Doom II", ">Heretic", " Myst"}));
  EXPECT_EQ(vz::RecNo(), 5);
  large.SetDataSource(nullptr);
  EXPECT_EQ(t.BufferCount(), 3);
  EXPECT_EQ(link_.ActiveText("cheatname"), "Heretic");
  EXPECT_EQ(small.ActiveText("cheatname"), "Heretic");
  EXPECT_EQ(vz::RecNo(), 5);
  small.SetDataSource(nullptr);
  other.SetDataSet(nullptr);
}

}  // namespace
}  // namespace vz
