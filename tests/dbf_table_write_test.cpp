// The table component's write paths: edits, appends, deletes and restores
// with their locks, dates, numbers and memos written through the field
// objects, and the index operations.
#include "tests/dbf_table_test.h"

namespace vz {
namespace {

using namespace dbf_table_test;

// --- Write paths -----------------------------------------------------------------------------

class TableWriteTest : public DbfTableTest {
 protected:
  DbfTable& OpenWritable(const std::string& base, bool exclusive, int rows = 5) {
    DbfTable& t = Reader(rows);
    t.SetName("Games");
    t.ReadOnly = false;
    t.SetExclusive(exclusive);
    t.IndexList = {"1," + dir_.File("w.ndx") + ",CHEATNAME"};
    t.SetDbfFileName(dir_.File(base));
    t.Open();
    t.First();
    return t;
  }
  std::string Stored(int r) { return StoredRecord(dir_.File("pc.dbf"), r); }
  // A live record of the cheat table as stored.
  static std::string Row(const std::string& name, const std::string& memo) {
    return " " + Padded(name, 35) + memo;
  }
};

TEST_F(TableWriteTest, EditPostKeepsTheFileAndTheIndexInStep) {
  Machine("pc", Games());
  const std::string memo5 = Stored(5).substr(36);
  DbfTable& t = OpenWritable("pc", true);
  data::Field* name = t.FieldByName("cheatname");
  EXPECT_TRUE(t.CanModify());
  t.LocateRec("cheatname", "heretic");
  t.Edit();
  EXPECT_EQ(t.State(), data::DataSetState::Edit);
  name->SetAsString("Hexen");
  EXPECT_EQ(name->AsString(), "Hexen");
  t.Post();
  EXPECT_EQ(t.State(), data::DataSetState::Browse);
  EXPECT_EQ(Stored(5), Row("Hexen", memo5));
  EXPECT_EQ(link_.ActiveText("cheatname"), "Hexen");
  EXPECT_EQ(vz::RecNo(), 5);
  EXPECT_EQ(Browse(t), (Strings{"Abuse", "Blood", "Doom", "Doom II", "Hexen", "Myst", "Quake"}));
  EXPECT_TRUE(t.FindExact("Hexen"));
  EXPECT_FALSE(t.FindExact("Heretic"));

  // A name that moves in the order.
  t.First();
  t.Edit();
  name->SetAsString("Zeta");
  t.Post();
  EXPECT_EQ(Browse(t), (Strings{"Blood", "Doom", "Doom II", "Hexen", "Myst", "Quake", "Zeta"}));

  // A text longer than the field is cut to its length.
  t.LocateRec("cheatname", "myst");
  t.Edit();
  name->SetAsString(std::string(50, 'x'));
  EXPECT_EQ(name->AsString(), std::string(35, 'x'));
  t.Post();
  EXPECT_EQ(Stored(7).substr(0, 36), " " + std::string(35, 'x'));
  EXPECT_EQ(name->AsString(), std::string(35, 'x'));

  // Cancel puts back the stored values.
  t.Edit();
  name->SetAsString("Gone");
  t.Cancel();
  EXPECT_EQ(name->AsString(), std::string(35, 'x'));
  EXPECT_EQ(Stored(7).substr(0, 36), " " + std::string(35, 'x'));

  // The index on disk agrees with the table after closing.
  t.Close();
  t.CreateIndex = CreateIndexMode::ciNever;
  t.Open();
  EXPECT_EQ(Browse(t),
            (Strings{"Blood", "Doom", "Doom II", "Hexen", "Quake", "Zeta", std::string(35, 'x')}));
}

TEST_F(TableWriteTest, AppendInsertDeleteAndRestore) {
  Machine("pc", Games());
  DbfTable& t = OpenWritable("pc", true);
  data::Field* name = t.FieldByName("cheatname");
  t.Append();
  EXPECT_EQ(t.State(), data::DataSetState::Insert);
  name->SetAsString("Duke");
  t.Post();
  EXPECT_EQ(t.RecordCount(), 9);
  EXPECT_EQ(Stored(9), Row("Duke", std::string(10, ' ')));
  EXPECT_EQ(link_.ActiveText("cheatname"), "Duke");
  EXPECT_EQ(t.RecNo(), 9);
  t.First();
  t.Insert();
  name->SetAsString("Asteroids");
  t.Post();
  EXPECT_EQ(t.RecordCount(), 10);
  EXPECT_EQ(Stored(10).substr(0, 36), Row("Asteroids", "").substr(0, 36));
  EXPECT_EQ(Browse(t), (Strings{"Abuse", "Asteroids", "Blood", "Doom", "Doom II", "Duke", "Heretic",
                                "Myst", "Quake"}));

  // Delete marks the record and hides it; the count stays.
  t.LocateRec("cheatname", "blood");
  t.Delete();
  EXPECT_EQ(Stored(6)[0], '*');
  EXPECT_EQ(t.RecordCount(), 10);
  EXPECT_EQ(link_.ActiveText("cheatname"), "Doom");
  EXPECT_EQ(vz::RecNo(), t.RecNo());
  EXPECT_EQ(Browse(t),
            (Strings{"Abuse", "Asteroids", "Doom", "Doom II", "Duke", "Heretic", "Myst", "Quake"}));

  // Shown again, the deleted record can be restored.
  int before = 0, after = 0;
  t.BeforeRestore = [&](data::DataSet&) { ++before; };
  t.AfterRestore = [&](data::DataSet&) { ++after; };
  t.HideDeletedRecs = false;
  t.LocateRec("cheatname", "blood");
  EXPECT_EQ(link_.ActiveText("cheatname"), "Blood");
  EXPECT_TRUE(t.RecordDeleted());
  t.SetRecordDeleted(true);  // already deleted: nothing happens
  t.SetRecordDeleted(false);
  EXPECT_FALSE(t.RecordDeleted());
  EXPECT_EQ(Stored(6)[0], ' ');
  EXPECT_EQ(before, 1);
  EXPECT_EQ(after, 1);
  EXPECT_EQ(t.State(), data::DataSetState::Browse);
  t.SetRecordDeleted(false);
  EXPECT_EQ(before, 1);
  // And deleted again through the same switch.
  t.SetRecordDeleted(true);
  EXPECT_EQ(Stored(6)[0], '*');
  t.LocateRec("cheatname", "blood");
  EXPECT_TRUE(t.RecordDeleted());
  // A record being inserted carries no deleted mark: nothing to restore.
  t.Insert();
  EXPECT_FALSE(t.RecordDeleted());
  t.SetRecordDeleted(false);
  EXPECT_EQ(t.State(), data::DataSetState::Insert);
  t.Cancel();
  EXPECT_EQ(t.RecordCount(), 10);
  EXPECT_EQ(link_.ActiveText("cheatname"), "Blood");

  // Cancelled inserts and appends leave the table as it was: an insert
  // returns to the record it was made at, an append to the last one.
  t.HideDeletedRecs = true;
  t.LocateRec("cheatname", "heretic");
  t.Insert();
  t.FieldByName("cheatname")->SetAsString("Never");
  EXPECT_EQ(vz::RecNo(), 5);
  t.Cancel();
  EXPECT_EQ(link_.ActiveText("cheatname"), "Heretic");
  EXPECT_EQ(vz::RecNo(), 5);
  t.Append();
  t.FieldByName("cheatname")->SetAsString("Never");
  t.Cancel();
  EXPECT_EQ(t.RecordCount(), 10);
  EXPECT_EQ(link_.ActiveText("cheatname"), "Quake");
  EXPECT_EQ(vz::RecNo(), 1);
  // An insert at the last row of a full window.
  t.First();
  t.MoveBy(4);
  ASSERT_EQ(link_.ActiveRecord(), 4);
  const std::string here = link_.ActiveText("cheatname");
  const int hereNo = t.RecNo();
  t.Insert();
  EXPECT_EQ(link_.ActiveText("cheatname"), "");
  t.Cancel();
  EXPECT_EQ(link_.ActiveText("cheatname"), here);
  EXPECT_EQ(vz::RecNo(), hereNo);
  t.Insert();
  t.Delete();  // in insert state: the same as cancel
  EXPECT_EQ(t.State(), data::DataSetState::Browse);
  EXPECT_EQ(t.RecordCount(), 10);
  EXPECT_EQ(Browse(t),
            (Strings{"Abuse", "Asteroids", "Doom", "Doom II", "Duke", "Heretic", "Myst", "Quake"}));
}

TEST_F(TableWriteTest, LockFailures) {
  Machine("pc", Games());
  DbfTable& t = OpenWritable("pc", false);
  data::Field* name = t.FieldByName("cheatname");
  const std::string heretic = Stored(5);
  platform::File holder;
  ASSERT_EQ(holder.Open(dir_.File("pc.dbf"), platform::kModeShared), 0);
  ASSERT_EQ(holder.Lock(kLockBase + 5, 1), 0);

  // No handler: a message, the post is given up, the dataset stays in edit.
  t.LocateRec("cheatname", "heretic");
  t.Edit();
  name->SetAsString("Hexen");
  EXPECT_THROW(t.Post(), AbortError);
  EXPECT_EQ(messages_, Strings{"Lock failed [Post]"});
  EXPECT_EQ(t.State(), data::DataSetState::Edit);
  EXPECT_EQ(Stored(5), heretic);
  EXPECT_EQ(name->AsString(), "Hexen");
  t.Cancel();
  EXPECT_EQ(name->AsString(), "Heretic");

  // A handler that gives up: no message, nothing written.
  messages_.clear();
  int calls = 0;
  t.OnRLockFailedOnPost = [&](bool& retry) {
    ++calls;
    EXPECT_FALSE(retry);
  };
  t.Edit();
  name->SetAsString("Hexen");
  EXPECT_THROW(t.Post(), AbortError);
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(Stored(5), heretic);
  EXPECT_EQ(t.State(), data::DataSetState::Edit);

  // A handler that retries once after the other user let go.
  calls = 0;
  t.OnRLockFailedOnPost = [&](bool& retry) {
    ++calls;
    holder.Unlock(kLockBase + 5, 1);
    retry = true;
  };
  t.Post();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(t.State(), data::DataSetState::Browse);
  EXPECT_EQ(Stored(5).substr(0, 36), Row("Hexen", "").substr(0, 36));

  // Delete, restore and insert each name their operation.
  ASSERT_EQ(holder.Lock(kLockBase + 5, 1), 0);
  messages_.clear();
  EXPECT_THROW(t.Delete(), AbortError);
  EXPECT_EQ(messages_, Strings{"Lock failed [Delete]"});
  EXPECT_EQ(Stored(5)[0], ' ');
  ASSERT_EQ(holder.Unlock(kLockBase + 5, 1), 0);
  t.Delete();
  EXPECT_EQ(Stored(5)[0], '*');
  t.HideDeletedRecs = false;
  t.LocateRec("cheatname", "hexen");
  ASSERT_TRUE(t.RecordDeleted());
  ASSERT_EQ(holder.Lock(kLockBase + 5, 1), 0);
  messages_.clear();
  t.SetRecordDeleted(false);
  EXPECT_EQ(messages_, Strings{"Lock failed [Restore]"});
  EXPECT_EQ(Stored(5)[0], '*');
  EXPECT_TRUE(t.RecordDeleted());
  holder.Unlock(kLockBase + 5, 1);

  ASSERT_EQ(holder.Lock(kLockBase + 1, 1), 0);
  messages_.clear();
  t.Append();
  name->SetAsString("Duke");
  EXPECT_THROW(t.Post(), AbortError);
  EXPECT_EQ(messages_, Strings{"Lock failed [Insert]"});
  EXPECT_EQ(t.State(), data::DataSetState::Insert);
  EXPECT_EQ(t.RecordCount(), 8);
  calls = 0;
  t.OnALockFailedOnInsert = [&](bool& retry) {
    ++calls;
    holder.Unlock(kLockBase + 1, 1);
    retry = true;
  };
  t.Post();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(t.RecordCount(), 9);
  EXPECT_EQ(Stored(9).substr(0, 36), Row("Duke", "").substr(0, 36));
}

TEST_F(TableWriteTest, DatesThroughTheDateField) {
  test::DbfBuilder b;
  b.Field("NAME", 'C', 10).Field("BORN", 'D', 8);
  b.Record({"Leap", "20240229"});
  b.Record({"Blank", ""});
  b.Write(dir_.File("pc.dbf"));
  DbfTable& t = Reader();
  t.ReadOnly = false;
  t.SetExclusive(true);
  t.IndexList.clear();
  t.SetDbfFileName(dir_.File("pc"));
  t.Open();
  t.First();
  auto* born = dynamic_cast<TableDateField*>(t.FieldByName("born"));
  ASSERT_NE(born, nullptr);
  EXPECT_EQ(born->AsDate(), data::DayNumberOf(2024, 2, 29));
  EXPECT_EQ(born->DisplayText(), "02/29/24");
  t.Next();
  EXPECT_TRUE(born->IsNull());
  EXPECT_EQ(born->AsString(), "");

  t.Edit();
  born->SetAsDate(data::DayNumberOf(1999, 12, 31));
  t.Post();
  EXPECT_EQ(StoredRecord(dir_.File("pc.dbf"), 2).substr(11), "19991231");
  EXPECT_EQ(born->AsDate(), data::DayNumberOf(1999, 12, 31));
  t.Edit();
  born->SetAsString("03/15/01  ");
  t.Post();
  EXPECT_EQ(StoredRecord(dir_.File("pc.dbf"), 2).substr(11), "20010315");
  t.Edit();
  EXPECT_THROW(born->SetAsString("02/30/99"), data::DatabaseError);
  born->SetAsString("  /  /  ");
  EXPECT_TRUE(born->IsNull());
  t.Post();
  EXPECT_EQ(StoredRecord(dir_.File("pc.dbf"), 2).substr(11), std::string(8, ' '));
  EXPECT_TRUE(messages_.empty());

  // A date whose two digits the window reads as another century keeps its
  // year: with 00 read as 1900, 29 February 2000 is still stored.
  Engine().Dates.WindowBase = 1900;
  t.Edit();
  born->SetAsDate(data::DayNumberOf(2000, 2, 29));
  t.Post();
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(StoredRecord(dir_.File("pc.dbf"), 2).substr(11), "20000229");
  EXPECT_EQ(born->AsDate(), data::DayNumberOf(2000, 2, 29));

  // A day past the year 9999 is no date the table can hold.
  t.Edit();
  born->SetAsDate(data::DayNumberOf(10000, 1, 1));
  EXPECT_EQ(messages_, Strings{"        Invalid date       "});
  t.Post();
  EXPECT_EQ(StoredRecord(dir_.File("pc.dbf"), 2).substr(11), std::string(8, ' '));
  EXPECT_TRUE(born->IsNull());
  EXPECT_EQ(StoredRecord(dir_.File("pc.dbf"), 1).substr(11), "20240229");
}

TEST_F(TableWriteTest, NumbersAndLogicalsWritten) {
  test::DbfBuilder b;
  b.Field("NAME", 'C', 5).Field("PRICE", 'N', 8, 2).Field("QTY", 'N', 5).Field("OK", 'L', 1);
  b.Record({"a", "1.00", "1", "F"});
  b.Write(dir_.File("pc.dbf"));
  DbfTable& t = Reader();
  t.ReadOnly = false;
  t.SetExclusive(true);
  t.IndexList.clear();
  t.SetDbfFileName(dir_.File("pc"));
  t.Open();
  t.First();
  auto* price = dynamic_cast<data::FloatField*>(t.FieldByName("price"));
  auto* qty = dynamic_cast<data::IntegerField*>(t.FieldByName("qty"));
  auto* ok = dynamic_cast<data::BooleanField*>(t.FieldByName("ok"));
  ASSERT_TRUE(price && qty && ok);
  t.Edit();
  price->SetAsFloat(7.5);
  qty->SetAsInteger(-42);
  ok->SetAsBoolean(true);
  t.Post();
  EXPECT_EQ(StoredRecord(dir_.File("pc.dbf"), 1), " a        7.50  -42T");
  EXPECT_EQ(price->AsFloat(), 7.5);
  EXPECT_EQ(qty->AsInteger(), -42);
  EXPECT_TRUE(ok->AsBoolean());
  t.Edit();
  price->SetAsString("1234.567");
  qty->SetAsString("");
  ok->SetAsString("no");
  t.Post();
  EXPECT_EQ(StoredRecord(dir_.File("pc.dbf"), 1).substr(6, 8), " 1234.57");
  EXPECT_EQ(price->AsFloat(), 1234.57);
  EXPECT_EQ(qty->AsInteger(), 0);
  EXPECT_FALSE(ok->AsBoolean());
  EXPECT_EQ(StoredRecord(dir_.File("pc.dbf"), 1).back(), 'F');
  EXPECT_THROW(qty->SetAsInteger(1), data::DatabaseError);  // browsing: no changes
  t.Edit();
  EXPECT_THROW(qty->SetAsString("12x"), data::DatabaseError);
  EXPECT_THROW(price->SetAsString("x"), data::DatabaseError);
  t.Cancel();
}

TEST_F(TableWriteTest, MemoWriteStreams) {
  for (const bool blockHeaders : {false, true}) {
    SCOPED_TRACE(blockHeaders ? "block headers" : "terminators");
    test::DbtBuilder memo(blockHeaders);
    const int old = memo.Add("old text");
    test::DbfBuilder b;
    b.Version(blockHeaders ? 0x8B : 0x83).Field("CHEATNAME", 'C', 35).Field("CHEATMEMO", 'M', 10);
    b.Record({"Doom", test::MemoField(old)});
    b.Record({"Quake", test::MemoField(0)});
    b.Write(dir_.File("pc.dbf"));
    memo.Write(dir_.File("pc.dbt"));
    DbfTable& t = OpenWritable("pc", true);
    data::Field* text = t.FieldByName("cheatmemo");

    t.Edit();
    text->SetAsString("Caf\xE9 new");
    t.Post();
    EXPECT_EQ(text->AsString(), "Caf\xE9 new");
    const std::string field = StoredRecord(dir_.File("pc.dbf"), 1).substr(36);
    const int block = std::stoi(field);
    EXPECT_GT(block, old);
    // A written memo carries a block header (its length counts the header)
    // in both layouts, and its text is stored as OEM.
    const Bytes dbt = test::ReadFile(dir_.File("pc.dbt"));
    const std::size_t at = static_cast<std::size_t>(block) * 512;
    ASSERT_GE(dbt.size(), at + 16);
    const std::string stored(dbt.begin() + static_cast<std::ptrdiff_t>(at),
                             dbt.begin() + static_cast<std::ptrdiff_t>(at + 16));
    EXPECT_EQ(stored, std::string("\xFF\xFF\x08\x00\x10\x00\x00\x00", 8) + "Caf\x82 new");

    // A memo for a record that had none, through a write stream.
    t.Next();
    EXPECT_EQ(link_.ActiveText("cheatname"), "Quake");
    {
      auto s = t.CreateBlobStream(text, data::BlobMode::Write);
      ASSERT_NE(s, nullptr);
      EXPECT_EQ(s->Write("fresh", 5), 5);
    }
    EXPECT_EQ(t.State(), data::DataSetState::Edit);
    t.Post();
    EXPECT_NE(std::stoi(StoredRecord(dir_.File("pc.dbf"), 2).substr(36)), 0);
    EXPECT_EQ(text->AsString(), "fresh");

    // An emptied memo: the record no longer points to one.
    t.Edit();
    text->SetAsString("");
    t.Post();
    EXPECT_EQ(text->AsString(), "");
    EXPECT_EQ(Trim(StoredRecord(dir_.File("pc.dbf"), 2).substr(36)), "");

    // Appended with a memo.
    t.Append();
    t.FieldByName("cheatname")->SetAsString("Myst");
    text->SetAsString("island");
    t.Post();
    EXPECT_EQ(t.RecordCount(), 3);
    EXPECT_NE(std::stoi(StoredRecord(dir_.File("pc.dbf"), 3).substr(36)), 0);
    t.LocateRec("cheatname", "myst");
    EXPECT_EQ(text->AsString(), "island");
    t.LocateRec("cheatname", "doom");
    EXPECT_EQ(text->AsString(), "Caf\xE9 new");
    link_.SetDataSource(nullptr);
    table_.reset();
    test::ResetAll();
  }
}

TEST_F(TableWriteTest, MemoThatCannotBeWrittenIsReportedAndKeepsTheOldOne) {
  Machine("pc", Games());
  DbfTable& t = OpenWritable("pc", false);
  data::Field* text = t.FieldByName("cheatmemo");
  t.LocateRec("cheatname", "doom");
  ASSERT_EQ(text->AsString(), "d text");
  const std::string before = Stored(2);
  // Another user holds the memo file's write lock (the byte the memo unit
  // locks before it places a new memo).
  platform::File holder;
  ASSERT_EQ(holder.Open(dir_.File("pc.dbt"), platform::kModeShared), 0);
  ASSERT_EQ(holder.Lock(0x7FFFFFFEULL, 1), 0);
  t.Edit();
  EXPECT_THROW(text->SetAsString("new text"), EngineError);
  EXPECT_EQ(Engine().Errors.ErrorCode, 1017);
  EXPECT_EQ(text->AsString(), "d text");
  t.Post();
  EXPECT_EQ(Stored(2), before);
  EXPECT_EQ(text->AsString(), "d text");
  EXPECT_TRUE(messages_.empty());
  // Once the lock is free the memo is written.
  holder.Close();
  t.Edit();
  text->SetAsString("new text");
  t.Post();
  EXPECT_EQ(text->AsString(), "new text");
  EXPECT_NE(Stored(2), before);
}

// A memo write that fails part-way, at each of the writes it makes in
// turn: the failure is reported (raised or shown), the memo descriptor ends
// all the same, and the table takes the next memo and reads it back whole.
TEST_F(TableWriteTest, MemoWriteFailingAtAnyWriteLeavesTheTableWritable) {
  Machine("pc", Games());
  DbfTable& t = OpenWritable("pc", true);
  data::Field* text = t.FieldByName("cheatmemo");
  const std::string big(1500, 'x');
  bool completed = false;
  for (int n = 1; n < 40 && !completed; ++n) {
    SCOPED_TRACE(n);
    t.LocateRec("cheatname", "doom");
    messages_.clear();
    bool raised = false;
    platform::SetWriteFault(n, ENOSPC);
    try {
      t.Edit();
      text->SetAsString(big + std::to_string(n));
      t.Post();
    } catch (const std::exception&) {
      raised = true;
    }
    const bool hit = platform::WriteFaultHit();
    platform::ClearWriteFault();
    if (t.State() != data::DataSetState::Browse) t.Cancel();
    if (!hit) {
      completed = true;
      EXPECT_FALSE(raised);
      EXPECT_TRUE(messages_.empty());
      EXPECT_EQ(text->AsString(), big + std::to_string(n));
      continue;
    }
    EXPECT_TRUE(raised || !messages_.empty());
    t.Edit();
    text->SetAsString("after " + std::to_string(n));
    t.Post();
    EXPECT_EQ(text->AsString(), "after " + std::to_string(n));
  }
  EXPECT_TRUE(completed);
}

TEST_F(TableWriteTest, ExclusiveSetterReopensAnOpenTable) {
  Machine("pc", Games());
  DbfTable& t = OpenWritable("pc", false);
  t.LocateRec("cheatname", "myst");
  Select(t.WorkArea());
  EXPECT_FALSE(CurrentTable()->Exclusive);
  t.SetExclusive(true);
  EXPECT_TRUE(t.Active());
  EXPECT_TRUE(t.Exclusive());
  Select(t.WorkArea());
  EXPECT_TRUE(CurrentTable()->Exclusive);
  EXPECT_EQ(link_.ActiveText("cheatname"), "Abuse");
  link_.Log.clear();
  t.SetExclusive(true);
  EXPECT_TRUE(link_.Log.empty());
  t.Close();
  t.SetExclusive(false);
  EXPECT_FALSE(t.Active());
  t.Open();
  Select(t.WorkArea());
  EXPECT_FALSE(CurrentTable()->Exclusive);
}

// The component's own index operations over generated names: an index
// built from an expression or from a key function, opened again by list,
// by file and order, or with its key function, orders the browse as its
// keys sort; Locate goes through the controlling index (a prefix for a
// partial key, the whole name otherwise).
TEST_F(TableWriteTest, IndexOperationsOrderTheBrowseAndLocate) {
  std::mt19937 random(17);
  std::vector<Cheat> cheats;
  for (int i = 0; i < 40; ++i) {
    std::string name;
    for (int n = 3 + static_cast<int>(random() % 8); n > 0; --n)
      name += static_cast<char>('A' + random() % 6);
    cheats.push_back({name, ""});
  }
  Machine("pc", cheats);
  DbfTable& t = OpenWritable("pc", true);
  Strings byName, byReversed;
  for (const Cheat& c : cheats) byName.push_back(c.name);
  std::sort(byName.begin(), byName.end());
  // The key function: the name read from its end.
  auto reversed = [](std::string s) { return std::string(s.rbegin(), s.rend()); };
  std::vector<std::pair<std::string, std::string>> keyed;
  for (const Cheat& c : cheats) keyed.emplace_back(reversed(Padded(c.name, 35)), c.name);
  std::sort(keyed.begin(), keyed.end());
  for (const auto& [key, name] : keyed) byReversed.push_back(name);
  const KeyMaker maker = [&] {
    const std::uint8_t* slot = FieldAddress(1);
    return reversed(std::string(reinterpret_cast<const char*>(slot) + 1, 35));
  };
  const std::string a = dir_.File("a.ndx"), b = dir_.File("b.ndx");

  t.IndexOn("SUBSTR(CHEATNAME, 1, 35)", a);
  EXPECT_EQ(Browse(t), byName);
  t.IndexOnCB(maker, b);
  EXPECT_EQ(Browse(t), byReversed);
  t.SetIndexTo(a);
  EXPECT_EQ(Browse(t), byName);
  t.SetIndexToCB(maker, b, 1);
  EXPECT_EQ(Browse(t), byReversed);
  t.SetIndexToLFN(a, 1);
  EXPECT_EQ(Browse(t), byName);
  EXPECT_FALSE(t.IsSequenced());

  for (const std::string& name : byName) {
    SCOPED_TRACE(name);
    const std::string prefix = name.substr(0, 2);
    EXPECT_TRUE(t.Locate("cheatname", prefix, {false, true}));
    // The first name in index order with that prefix.
    EXPECT_EQ(t.FieldByName("cheatname")->AsString(),
              *std::lower_bound(byName.begin(), byName.end(), prefix));
    EXPECT_TRUE(t.Locate("cheatname", name, {}));
    EXPECT_EQ(t.FieldByName("cheatname")->AsString(), name);
    EXPECT_EQ(t.Locate("cheatname", name.substr(0, name.size() - 1), {}),
              std::binary_search(byName.begin(), byName.end(), name.substr(0, name.size() - 1)));
  }
  EXPECT_FALSE(t.Locate("cheatname", "Z", {false, true}));
}

// Edits under a while range: a record posted out of the range leaves it
// and the dataset shows a neighbour that is in it (none when the range is
// now empty); a record added outside the range, or an insert cancelled,
// puts the dataset back on the record it showed; one added inside the
// range joins it.
TEST_F(TableWriteTest, EditsUnderAWhileRangeKeepTheDatasetInTheRange) {
  // In name order: Abuse, Blood, Doom, Doom II, Heretic, Myst, Quake.
  auto openInRange = [&](const std::string& prefix, const std::string& at) -> DbfTable& {
    table_.reset();
    Machine("pc", Games());
    std::filesystem::remove(dir_.File("w.ndx"));
    DbfTable& t = OpenWritable("pc", true);
    t.LocateRec("cheatname", at);
    t.SelectWorkArea("test");
    EXPECT_TRUE(SetWhileExpr("CHEATNAME = '" + prefix + "'"));
    t.First();
    t.LocateRec("cheatname", at);
    return t;
  };
  struct Case {
    std::string prefix, edited, newName;
    Strings rangeAfter;
  };
  const std::vector<Case> cases = {
      {"D", "Doom", "Cx", {"Doom II"}},        // moves before the range
      {"D", "Doom II", "E", {"Doom"}},         // just after the range
      {"D", "Doom", "Dx", {"Doom II", "Dx"}},  // stays in the range
      {"H", "Heretic", "B", {}},               // the range is left empty
      {"Q", "Quake", "M", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.prefix + ": " + c.edited + " -> " + c.newName);
    DbfTable& t = openInRange(c.prefix, c.edited);
    ASSERT_EQ(link_.ActiveText("cheatname"), c.edited);
    t.Edit();
    t.FieldByName("cheatname")->SetAsString(c.newName);
    t.Post();
    if (c.rangeAfter.empty()) {
      EXPECT_TRUE(t.IsEmpty());
    } else {
      const std::string shown = t.FieldByName("cheatname")->AsString();
      EXPECT_NE(std::find(c.rangeAfter.begin(), c.rangeAfter.end(), shown), c.rangeAfter.end())
          << shown;
      EXPECT_EQ(Browse(t), c.rangeAfter);
    }
  }

  // Cancelling an edit puts the record back; the range is as it was.
  DbfTable& t = openInRange("D", "Doom II");
  t.Edit();
  t.FieldByName("cheatname")->SetAsString("Xx");
  t.Cancel();
  EXPECT_EQ(link_.ActiveText("cheatname"), "Doom II");
  EXPECT_EQ(Browse(t), (Strings{"Doom", "Doom II"}));
  // Added outside the range: back on the record shown before.
  t.LocateRec("cheatname", "doom ii");
  t.Append();
  t.FieldByName("cheatname")->SetAsString("Wolf");
  t.Post();
  EXPECT_EQ(t.RecordCount(), 9);
  EXPECT_EQ(vz::RecNo(), 8);
  EXPECT_EQ(Browse(t), (Strings{"Doom", "Doom II"}));
  // A cancelled insert: the same.
  t.LocateRec("cheatname", "doom ii");
  t.Insert();
  t.FieldByName("cheatname")->SetAsString("Never");
  t.Cancel();
  EXPECT_EQ(link_.ActiveText("cheatname"), "Doom II");
  EXPECT_EQ(vz::RecNo(), 8);
  // Added inside the range: it joins it.
  t.Append();
  t.FieldByName("cheatname")->SetAsString("Descent");
  t.Post();
  EXPECT_EQ(link_.ActiveText("cheatname"), "Descent");
  EXPECT_EQ(Browse(t), (Strings{"Descent", "Doom", "Doom II"}));
}

}  // namespace
}  // namespace vz
