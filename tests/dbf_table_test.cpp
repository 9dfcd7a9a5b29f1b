// The table component (DbfTable) as the reader uses it: the reader's
// configuration (read-only sessions, when the name index is built and when
// it is trusted), the search box's LocateRec, memo streams, empty and
// damaged situations, and the open sequence's index and create steps.
// Writes are in dbf_table_write_test.cpp, field objects and the links in
// dbf_table_fields_test.cpp.
#include "tests/dbf_table_test.h"

namespace vz {
namespace {

using namespace dbf_table_test;

// --- The reader's configuration ---------------------------------------------------------------

TEST_F(DbfTableTest, ReaderSessionOpensReadOnlyAndWritesNothing) {
  Machine("pc", Games());
  const Bytes dbf = test::ReadFile(dir_.File("pc.dbf"));
  const Bytes dbt = test::ReadFile(dir_.File("pc.dbt"));
  DbfTable& t = OpenReader("pc");
  ASSERT_TRUE(t.Active());
  Select(t.WorkArea());
  EXPECT_FALSE(CurrentTable()->File.Writable());
  ASSERT_NE(CurrentMemo(), nullptr);
  EXPECT_FALSE(CurrentMemo()->File.Writable());
  EXPECT_FALSE(t.CanModify());
  EXPECT_EQ(Engine().Settings.ForcedFileMode, -1);

  // A session: browsing, searching, reading memos, refused edits.
  EXPECT_EQ(Browse(t), kNameOrder);
  t.LocateRec("cheatname", "my");
  EXPECT_EQ(t.FieldByName("cheatmemo")->AsString(), "m");
  t.Prior();
  t.Last();
  EXPECT_THROW(t.Edit(), data::DatabaseError);
  EXPECT_THROW(t.Append(), data::DatabaseError);
  EXPECT_THROW(t.Insert(), data::DatabaseError);
  EXPECT_THROW(t.Delete(), data::DatabaseError);
  EXPECT_THROW(t.SetRecordDeleted(true), data::DatabaseError);
  EXPECT_EQ(t.State(), data::DataSetState::Browse);
  t.Close();
  table_.reset();
  EXPECT_EQ(test::ReadFile(dir_.File("pc.dbf")), dbf);
  EXPECT_EQ(test::ReadFile(dir_.File("pc.dbt")), dbt);
}

TEST_F(DbfTableTest, NameIndexIsBuiltOnlyWhenItCannotBeTrusted) {
  Machine("pc", Games());
  SetModified(dir_.File("pc.dbf"), -3600);
  DbfTable& t = Reader();
  Strings offered;
  t.OnBeforeMakeIndex = [&](const std::string& name, bool& canMake) {
    offered.push_back(name);
    EXPECT_TRUE(canMake);
  };
  t.SetDbfFileName(dir_.File("pc"));
  auto reopen = [&] {
    t.Close();
    t.Open();
    t.First();
  };

  // Missing: built, and handed to the events under the line's file part.
  t.Open();
  EXPECT_EQ(built_, Strings{Ndx()});
  EXPECT_EQ(offered, Strings{Ndx()});
  EXPECT_EQ(Browse(t), kNameOrder);

  // Current: reused without a write.
  t.Close();
  const Bytes good = test::ReadFile(Ndx());
  SetModified(Ndx(), -60);
  const auto stamp = std::filesystem::last_write_time(Ndx());
  t.Open();
  EXPECT_EQ(built_.size(), 1u);
  EXPECT_EQ(Browse(t), kNameOrder);
  t.Close();
  EXPECT_EQ(test::ReadFile(Ndx()), good);
  EXPECT_EQ(std::filesystem::last_write_time(Ndx()), stamp);

  // Damaged in several ways: rebuilt every time.
  auto damaged = [&](const Bytes& bytes, const char* what) {
    test::WriteFile(Ndx(), bytes);
    const std::size_t before = built_.size();
    reopen();
    EXPECT_EQ(built_.size(), before + 1) << what;
    EXPECT_EQ(Browse(t), kNameOrder) << what;
    EXPECT_EQ(test::ReadFile(Ndx()), good) << what;
  };
  damaged(Bytes(good.begin(), good.begin() + 100), "truncated inside the anchor");
  damaged(Bytes(good.begin(), good.begin() + 512), "anchor without its nodes");
  damaged(Bytes(good.size(), 0), "zero-filled");
  Bytes garbage(good.size());
  for (std::size_t i = 0; i < garbage.size(); ++i)
    garbage[i] = static_cast<std::uint8_t>(i * 37 + 11);
  damaged(garbage, "garbage");

  // Stale: the table has another record count.
  std::vector<Cheat> more = Games();
  more.push_back({"Aardvark", "x"});
  Machine("pc", more);
  SetModified(dir_.File("pc.dbf"), -3600);
  std::size_t before = built_.size();
  reopen();
  EXPECT_EQ(built_.size(), before + 1);
  EXPECT_EQ(t.FieldByName("cheatname")->AsString(), "Aardvark");

  // Another table of the same size: its own index, not pc's.
  Machine("pc", Games());
  SetModified(dir_.File("pc.dbf"), -3600);
  reopen();
  Machine("mac", {{"Tetris", ""},
                  {"Lemmings", ""},
                  {"Civilization", ""},
                  {"Elite", ""},
                  {"Archon", ""},
                  {"Karateka", ""},
                  {"Pirates", ""},
                  {"Ultima", ""}});
  SetModified(dir_.File("mac.dbf"), -3600);
  before = built_.size();
  t.SetDbfFileName(dir_.File("mac"));
  EXPECT_EQ(built_.size(), before + 1);
  EXPECT_EQ(Browse(t), (Strings{"Archon", "Civilization", "Elite", "Karateka", "Lemmings",
                                "Pirates", "Tetris", "Ultima"}));

  // Older than the data file: the catalogue was updated since.
  t.SetDbfFileName(dir_.File("pc"));
  EXPECT_EQ(Browse(t), kNameOrder);
  before = built_.size();
  reopen();
  EXPECT_EQ(built_.size(), before);  // pc's index is current again
  SetModified(Ndx(), -7200);
  reopen();
  EXPECT_EQ(built_.size(), before + 1);
  EXPECT_EQ(Browse(t), kNameOrder);
}

TEST_F(DbfTableTest, FirstFillsEachWindowWithTheFirstNamesInOrder) {
  Machine("pc", Games());
  DbfTable& t = OpenReader("pc", 4);
  EXPECT_EQ(link_.Rows("cheatname"), (Strings{">Abuse", " Blood", " Doom", " Doom II"}));
  t.Last();
  t.First();
  EXPECT_EQ(link_.Rows("cheatname"), (Strings{">Abuse", " Blood", " Doom", " Doom II"}));
  EXPECT_EQ(vz::RecNo(), 4);

  // A window larger than the table holds every visible record.
  link_.SetBufferCount(20);
  t.First();
  EXPECT_EQ(link_.Rows("cheatname"),
            (Strings{">Abuse", " Blood", " Doom", " Doom II", " Heretic", " Myst", " Quake"}));
  link_.SetBufferCount(1);
  t.First();
  EXPECT_EQ(link_.Rows("cheatname"), Strings{">Abuse"});
}

TEST_F(DbfTableTest, DbfFileNameSetter) {
  DbfTable& t = Reader();
  // A closed table only stores the name (there is no such file: no open).
  t.SetDbfFileName("  c/d/pc  ");
  EXPECT_EQ(t.DbfFileName(), "c/d/pc.DBF");
  EXPECT_FALSE(t.Active());
  t.SetDbfFileName("c/d/pc.");
  EXPECT_EQ(t.DbfFileName(), "c/d/pc.");
  t.SetDbfFileName("c/d/pc.old");
  EXPECT_EQ(t.DbfFileName(), "c/d/pc.old");
  t.SetDbfFileName("c/d.x/pc");
  EXPECT_EQ(t.DbfFileName(), "c/d.x/pc.DBF");
  const std::string deep = std::string(300, 'd') + "/pc";
  t.SetDbfFileName(deep);
  EXPECT_EQ(t.DbfFileName(), deep + ".DBF");  // a path is never cut
  t.SetDbfFileName("   ");
  EXPECT_EQ(t.DbfFileName(), "");
  EXPECT_FALSE(t.Active());

  // An open table is reopened on the other table.
  Machine("pc", Games());
  Machine("mac", {{"Tetris", "t"}, {"Elite", "e"}});
  t.SetDbfFileName(dir_.File("pc"));
  EXPECT_FALSE(t.Active());
  t.Open();
  t.First();
  EXPECT_EQ(link_.ActiveText("cheatname"), "Abuse");
  link_.Log.clear();
  t.SetDbfFileName(dir_.File("mac"));
  EXPECT_TRUE(t.Active());
  EXPECT_EQ(t.RecordCount(), 2);
  EXPECT_EQ(link_.Rows("cheatname"), (Strings{">Elite", " Tetris"}));
  EXPECT_EQ(link_.Log, (Strings{"active", "active"}));
  EXPECT_EQ(vz::RecNo(), 2);

  // While the component is read from its stored form the name is only
  // stored.
  t.Loading = true;
  t.SetDbfFileName(dir_.File("pc"));
  EXPECT_TRUE(t.Active());
  EXPECT_EQ(t.RecordCount(), 2);
  EXPECT_EQ(t.DbfFileName(), dir_.File("pc.DBF"));
  t.Loading = false;

  // An empty name closes it and leaves it closed.
  const int area = t.WorkArea();
  t.SetDbfFileName("");
  EXPECT_FALSE(t.Active());
  EXPECT_EQ(t.WorkArea(), 0);
  EXPECT_EQ(Engine().Areas.Slot[static_cast<std::size_t>(area)], nullptr);
  try {
    t.Open();
    ADD_FAILURE() << "opened without a file name";
  } catch (const EngineError& e) {
    EXPECT_NE(std::string(e.what()).find("DBF file name has not been specified for CheatDbf"),
              std::string::npos)
        << e.what();
  }
  EXPECT_FALSE(t.Active());
}

// --- LocateRec and the engine's position ------------------------------------------------------

TEST_F(DbfTableTest, LocateRecAsTheSearchBoxUsesIt) {
  // Record 2 "Doom II" sorts after record 6 "Doom"; record 1 sits in the
  // middle of the name order; record 4 "Cobra" is deleted.
  Machine("pc", {{"Myst", ""},
                 {"Doom II", ""},
                 {"Abuse", ""},
                 {"Cobra", "", true},
                 {"Zork", ""},
                 {"Doom", ""},
                 {"Blood", ""}});
  DbfTable& t = OpenReader("pc", 3);
  data::Field* name = t.FieldByName("cheatname");

  // The lowest record number wins, not the first in name order.
  t.LocateRec("cheatname", "doom");
  EXPECT_EQ(name->AsString(), "Doom II");
  EXPECT_EQ(t.RecNo(), 2);
  EXPECT_EQ(vz::RecNo(), 2);
  for (const char* text : {"DOOM", "dOoM   ", "Doom II", "doom i"}) {
    t.First();
    t.LocateRec("cheatname", text);
    EXPECT_EQ(t.RecNo(), 2) << text;
  }
  // An empty text goes to record 1, in the middle of the name order.
  t.First();
  t.LocateRec("cheatname", "");
  EXPECT_EQ(name->AsString(), "Myst");
  EXPECT_EQ(vz::RecNo(), 1);
  t.LocateRec("cheatname", "   ");
  EXPECT_EQ(t.RecNo(), 1);

  // A miss: nothing the links see changes, and the engine is back on the
  // active record at once, wherever that is in the window.
  for (int step = 0; step < 6; ++step) {
    const Strings rows = link_.Rows("cheatname");
    const int recNo = t.RecNo();
    link_.Log.clear();
    t.LocateRec("cheatname", "xyz");
    EXPECT_EQ(link_.Rows("cheatname"), rows);
    EXPECT_TRUE(link_.Log.empty());
    EXPECT_EQ(t.RecNo(), recNo);
    EXPECT_EQ(vz::RecNo(), recNo);
    EXPECT_FALSE(dEOF());
    t.Next();
  }
  t.Last();
  t.LocateRec("cheatname", "nothing");
  EXPECT_EQ(vz::RecNo(), 5);  // Zork, the last in name order
  EXPECT_FALSE(dEOF());

  // A match on a deleted record shows the next visible one in name order.
  t.First();
  t.LocateRec("cheatname", "cob");
  EXPECT_EQ(name->AsString(), "Doom");
  EXPECT_EQ(vz::RecNo(), 6);
  // The window shows the neighbours in name order.
  EXPECT_EQ(link_.Rows("cheatname")[static_cast<std::size_t>(link_.ActiveRecord())], ">Doom");
}

TEST_F(DbfTableTest, LocateWithoutAnIndexScansRecordOrder) {
  Machine("pc", Games());
  DbfTable& t = Reader(3);
  t.IndexList.clear();
  t.SetDbfFileName(dir_.File("pc"));
  t.Open();
  t.First();
  const LocateOptions caseless{true, false}, exact{false, false}, caselessPart{true, true},
      part{false, true};
  EXPECT_TRUE(t.Locate("cheatname", "doom", caseless));
  EXPECT_EQ(t.RecNo(), 2);
  EXPECT_EQ(vz::RecNo(), 2);
  EXPECT_TRUE(t.Locate("cheatname", "doom ii", caseless));
  EXPECT_EQ(t.RecNo(), 8);
  EXPECT_TRUE(t.Locate("cheatname", "Doom", exact));
  EXPECT_EQ(t.RecNo(), 2);
  EXPECT_TRUE(t.Locate("cheatname", "her", caselessPart));
  EXPECT_EQ(t.RecNo(), 5);
  EXPECT_TRUE(t.Locate("cheatname", "Bl", part));
  EXPECT_EQ(t.RecNo(), 6);
  EXPECT_FALSE(t.Locate("cheatname", "bl", part));
  // A failed Locate leaves the table on its last record.
  EXPECT_EQ(link_.ActiveText("cheatname"), "Doom II");
  EXPECT_EQ(vz::RecNo(), 8);
  // Deleted records do not count.
  t.First();
  EXPECT_FALSE(t.Locate("cheatname", "zork", caseless));
  // The first field whose search succeeds ends the list.
  EXPECT_TRUE(t.Locate("cheatmemo;cheatname", "MYST", caseless));
  EXPECT_EQ(t.RecNo(), 7);
  EXPECT_TRUE(t.Locate("cheatname;cheatmemo", "D2", caselessPart));
  EXPECT_EQ(t.RecNo(), 8);
  EXPECT_EQ(vz::RecNo(), 8);
}

TEST_F(DbfTableTest, EngineStandsOnTheActiveRecordAfterEveryOperation) {
  Machine("pc", Games());
  DbfTable& t = OpenReader("pc", 3);
  auto agree = [&](const std::string& what) {
    EXPECT_EQ(vz::RecNo(), t.RecNo()) << what;
    EXPECT_FALSE(dEOF()) << what;
  };
  agree("open");
  t.First();
  agree("First");
  t.Last();
  agree("Last");
  t.First();
  t.MoveBy(4);
  EXPECT_EQ(link_.ActiveText("cheatname"), "Heretic");
  agree("MoveBy 4");
  t.MoveBy(-3);
  EXPECT_EQ(link_.ActiveText("cheatname"), "Blood");
  agree("MoveBy -3");
  t.First();
  t.Next();
  t.Next();
  agree("Next to the window's last row");
  t.Next();
  EXPECT_EQ(link_.ActiveText("cheatname"), "Doom II");
  agree("Next past the window's last row");
  t.Prior();
  t.Prior();
  agree("Prior to the window's first row");
  EXPECT_EQ(link_.ActiveText("cheatname"), "Blood");
  t.Prior();
  EXPECT_EQ(link_.ActiveText("cheatname"), "Abuse");
  agree("Prior past the window's first row");
  t.MoveBy(100);
  EXPECT_TRUE(t.Eof());
  agree("MoveBy past the end");
  t.MoveBy(-100);
  EXPECT_TRUE(t.Bof());
  agree("MoveBy past the start");
  t.LocateRec("cheatname", "myst");
  agree("LocateRec");
  EXPECT_TRUE(t.Find("Doom"));
  EXPECT_EQ(t.RecNo(), 2);
  agree("Find");
  EXPECT_FALSE(t.Find("Nothing"));
  agree("a failed Find");
  data::Bookmark mark(4);
  const std::uint32_t five = 5;
  std::memcpy(mark.data(), &five, 4);
  t.GotoBookmark(mark);
  EXPECT_EQ(link_.ActiveText("cheatname"), "Heretic");
  agree("GotoBookmark");
  t.SetRecNo(8);
  EXPECT_EQ(link_.ActiveText("cheatname"), "Doom II");
  agree("SetRecNo");
  // A larger window is filled on both sides of the active record.
  t.First();
  t.MoveBy(4);
  EXPECT_EQ(link_.Rows("cheatname"), (Strings{" Doom", " Doom II", ">Heretic"}));
  link_.SetBufferCount(6);
  EXPECT_EQ(link_.Rows("cheatname"),
            (Strings{" Blood", " Doom", " Doom II", ">Heretic", " Myst", " Quake"}));
  agree("a larger window");
  link_.SetBufferCount(2);
  EXPECT_EQ(link_.ActiveText("cheatname"), "Heretic");
  agree("a smaller window");
}

TEST_F(DbfTableTest, TwoTablesShareTheEngine) {
  Machine("pc", Games());
  Machine("mac", {{"Tetris", "t"}, {"Elite", "e", true}, {"Archon", "a"}});
  DbfTable& pc = OpenReader("pc", 2);
  DbfTable mac;
  mac.SetName("Mac");
  mac.HideDeletedRecs = false;
  mac.TableLanguage = TableCharset::tlAnsi;
  mac.CreateIfNotFound = false;
  data::DataSource macSource;
  RecordingLink macLink;
  macSource.SetDataSet(&mac);
  macLink.SetDataSource(&macSource);
  macLink.SetBufferCount(2);
  mac.SetDbfFileName(dir_.File("mac"));
  mac.Open();
  mac.First();
  ASSERT_NE(mac.WorkArea(), pc.WorkArea());

  // Each operation works on its own table with its own settings.
  EXPECT_EQ(macLink.Rows("cheatname"), (Strings{">Tetris", " Elite"}));
  pc.Next();
  EXPECT_EQ(Engine().Settings.HideDeleted, true);
  EXPECT_EQ(Engine().Settings.AnsiTables, false);
  mac.Next();
  EXPECT_EQ(Engine().Settings.HideDeleted, false);
  EXPECT_EQ(Engine().Settings.AnsiTables, true);
  EXPECT_TRUE(mac.RecordDeleted());
  EXPECT_EQ(link_.ActiveText("cheatname"), "Blood");
  pc.LocateRec("cheatname", "zork");  // deleted and hidden in pc
  EXPECT_EQ(link_.ActiveText("cheatname"), "Quake");
  mac.LocateRec("cheatname", "elite");  // deleted but shown in mac
  EXPECT_EQ(macLink.ActiveText("cheatname"), "Elite");
  EXPECT_EQ(SelectedArea(), mac.WorkArea());
  EXPECT_EQ(vz::RecNo(), 2);
  pc.Prior();
  EXPECT_EQ(SelectedArea(), pc.WorkArea());
  EXPECT_EQ(vz::RecNo(), 7);
  EXPECT_EQ(Browse(pc), kNameOrder);
  EXPECT_EQ(Browse(mac), (Strings{"Tetris", "Elite", "Archon"}));
  EXPECT_EQ(pc.FieldByName("cheatmemo")->AsString(), "q text");
  EXPECT_EQ(mac.FieldByName("cheatmemo")->AsString(), "a");
  mac.Close();
  EXPECT_TRUE(pc.Active());
  EXPECT_EQ(Browse(pc), kNameOrder);
  macLink.SetDataSource(nullptr);

  // Tables in every other work area: one more finds none free, its open
  // fails with the engine's reason, and the open ones go on.
  std::vector<std::unique_ptr<DbfTable>> more;
  for (int i = 2; i <= kMaxAreas + 1; ++i) {
    const std::string base = "t" + std::to_string(i);
    Machine(base, {{base, ""}});
    more.push_back(std::make_unique<DbfTable>());
    more.back()->CreateIfNotFound = false;
    more.back()->SetDbfFileName(dir_.File(base));
    if (i <= kMaxAreas) {
      more.back()->Open();
      continue;
    }
    try {
      more.back()->Open();
      ADD_FAILURE() << "opened without a free work area";
    } catch (const std::exception& e) {
      EXPECT_NE(std::string(e.what()).find("No free workarea"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(more.back()->Active());
    EXPECT_EQ(more.back()->WorkArea(), 0);
  }
  EXPECT_TRUE(more.front()->Active());
  EXPECT_EQ(Browse(pc), kNameOrder);
}

// --- Memo streams ----------------------------------------------------------------------------

TEST_F(DbfTableTest, MemoStreamsOfBothLayouts) {
  for (const bool blockHeaders : {false, true}) {
    SCOPED_TRACE(blockHeaders ? "block headers" : "terminators");
    test::DbtBuilder memo(blockHeaders);
    const std::string longText(1500, 'x');
    const int caf = memo.Add("Caf\x82 au lait");
    const int big = memo.Add(longText);
    test::DbfBuilder b;
    b.Version(blockHeaders ? 0x8B : 0x83).Field("CHEATNAME", 'C', 35).Field("CHEATMEMO", 'M', 10);
    b.Record({"Cafe", test::MemoField(caf)});
    b.Record({"Long", test::MemoField(big)});
    b.Record({"None", test::MemoField(0)});
    b.Write(dir_.File("m.dbf"));
    memo.Write(dir_.File("m.dbt"));

    DbfTable& t = OpenReader("m");
    data::Field* text = t.FieldByName("cheatmemo");
    t.LocateRec("cheatname", "cafe");
    EXPECT_EQ(text->AsString(), "Caf\xE9 au lait");
    auto s = t.CreateBlobStream(text, data::BlobMode::Read);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->Size(), 12);
    char part[4] = {};
    s->Seek(2, 0);
    EXPECT_EQ(s->Read(part, 3), 3);
    EXPECT_EQ(std::string(part, 3), "f\xE9 ");
    s.reset();
    t.LocateRec("cheatname", "long");
    EXPECT_EQ(text->AsString(), longText);
    t.LocateRec("cheatname", "none");
    EXPECT_EQ(text->AsString(), "");
    s = t.CreateBlobStream(text, data::BlobMode::Read);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->Size(), 0);
    s.reset();
    EXPECT_EQ(text->DisplayText(), "(Memo)");
    // An ANSI table's memo is taken as it is.
    t.Close();
    t.TableLanguage = TableCharset::tlAnsi;
    t.Open();
    t.LocateRec("cheatname", "cafe");
    EXPECT_EQ(t.FieldByName("cheatmemo")->AsString(), "Caf\x82 au lait");
    table_.reset();
    test::ResetAll();
  }
}

TEST_F(DbfTableTest, MemoReadErrorsDeliverNothingAndTheProgramGoesOn) {
  // As in the program: errors are not raised, a halting error would end it.
  SetRaiseErrors(false);
  InstallHaltingPresentation();
  Strings halts;
  platform::SetHaltPresenter([&](const std::string&, const std::string& m) { halts.push_back(m); });
  platform::SetTerminator(
      [](int status) { throw std::runtime_error("terminated " + std::to_string(status)); });
  for (const bool blockHeaders : {false, true}) {
    SCOPED_TRACE(blockHeaders ? "block headers" : "terminators");
    test::DbtBuilder memo(blockHeaders);
    const int good = memo.Add("fine");
    test::DbfBuilder b;
    b.Version(blockHeaders ? 0x8B : 0x83).Field("CHEATNAME", 'C', 35).Field("CHEATMEMO", 'M', 10);
    b.Record({"Beyond", test::MemoField(999)});
    b.Record({"Good", test::MemoField(good)});
    b.Record({"Huge", "9999999999"});
    b.Write(dir_.File("m.dbf"));
    memo.Write(dir_.File("m.dbt"));

    DbfTable& t = OpenReader("m");
    data::Field* text = t.FieldByName("cheatmemo");
    for (const char* name : {"beyond", "huge"}) {
      SCOPED_TRACE(name);
      t.LocateRec("cheatname", name);
      ASSERT_EQ(platform::AsciiUpper(t.FieldByName("cheatname")->AsString()),
                platform::AsciiUpper(name));
      EXPECT_NO_THROW(EXPECT_EQ(text->AsString(), ""));
      std::unique_ptr<data::Stream> s;
      EXPECT_NO_THROW(s = t.CreateBlobStream(text, data::BlobMode::Read));
      ASSERT_NE(s, nullptr);
      char buf[16];
      EXPECT_NO_THROW(EXPECT_EQ(s->Read(buf, sizeof buf), 0));
      EXPECT_NO_THROW(EXPECT_EQ(s->Size(), 0));
    }
    EXPECT_TRUE(halts.empty());
    // The table goes on working.
    t.LocateRec("cheatname", "good");
    EXPECT_EQ(text->AsString(), "fine");
    EXPECT_EQ(vz::RecNo(), 2);
    link_.SetDataSource(nullptr);
    table_.reset();
  }
  platform::SetHaltPresenter(nullptr);
  platform::SetTerminator(nullptr);
  SetRaiseErrors(true);

  // A memo stream of a closed table is refused.
  DbfTable& t = Reader();
  try {
    t.CreateBlobStream(nullptr, data::BlobMode::Read);
    ADD_FAILURE() << "a stream of a closed table";
  } catch (const EngineError& e) {
    EXPECT_NE(std::string(e.what()).find("DataSet must be active. CheatDbf"), std::string::npos)
        << e.what();
  }
}

// --- Edge cases ------------------------------------------------------------------------------

TEST_F(DbfTableTest, EmptyTable) {
  Machine("none", {});
  DbfTable& t = OpenReader("none");
  EXPECT_TRUE(t.Bof());
  EXPECT_TRUE(t.Eof());
  EXPECT_TRUE(t.IsEmpty());
  EXPECT_EQ(t.RecordCount(), 0);
  EXPECT_EQ(t.RecNo(), 0);
  EXPECT_TRUE(link_.Rows("cheatname").empty());
  EXPECT_EQ(link_.ActiveText("cheatname"), "<none>");
  t.Last();
  EXPECT_TRUE(t.Bof());
  EXPECT_TRUE(t.Eof());
  EXPECT_EQ(t.MoveBy(1), 0);
  EXPECT_EQ(t.MoveBy(-1), 0);
  link_.Log.clear();
  EXPECT_NO_THROW(t.LocateRec("cheatname", "abc"));
  EXPECT_NO_THROW(t.LocateRec("cheatname", ""));
  EXPECT_TRUE(link_.Log.empty());
  EXPECT_TRUE(t.Bof());
  EXPECT_TRUE(t.Eof());
  EXPECT_FALSE(t.Find("abc"));
  EXPECT_TRUE(t.IsEmpty());
  EXPECT_EQ(t.FieldByName("cheatname")->AsString(), "");
  EXPECT_EQ(t.FieldByName("cheatmemo")->AsString(), "");
  EXPECT_TRUE(t.GetBookmark().empty());
}

// A name index whose entries name records past the table's end (the table
// was cut short under it, and the component is told never to build): the
// open reports it when the first entry is gone, a walk when a later one
// is, instead of showing a short list.
TEST_F(DbfTableTest, IndexEntriesPastTheTablesEndAreReported) {
  for (bool descending : {false, true}) {
    SCOPED_TRACE(descending);
    std::vector<Cheat> cheats;
    for (int i = 0; i < 40; ++i)
      cheats.push_back({"Game " + std::to_string(descending ? 90 - i : 10 + i), "t"});
    Machine("pc", cheats);
    USE(dir_.File("pc.dbf"));
    Index_On(Ndx(), "cheatname");
    ASSERT_EQ(Engine().Errors.ErrorCode, 0);
    CloseAll();
    Machine("pc", std::vector<Cheat>(cheats.begin(), cheats.begin() + 15));
    DbfTable& t = Reader(3);
    t.CreateIndex = CreateIndexMode::ciNever;
    t.SetDbfFileName(dir_.File("pc.dbf"));
    Strings names;
    std::string message;
    try {
      t.Open();
      for (t.First(); !t.Eof() && names.size() < 100; t.Next())
        names.push_back(t.FieldByName("cheatname")->AsString());
      ADD_FAILURE() << "a walk of " << names.size() << " names";
    } catch (const EngineError& e) {
      message = e.what();
    }
    EXPECT_EQ(Engine().Errors.ErrorCode, 222);
    EXPECT_NE(message.find(platform::AsciiUpper(Ndx())), std::string::npos) << message;
    EXPECT_LE(names.size(), 15u);
    EXPECT_TRUE(built_.empty());
    link_.SetDataSource(nullptr);
    source_.SetDataSet(nullptr);
    table_.reset();
    test::ResetAll();
  }
}

TEST_F(DbfTableTest, FirstRecordInNameOrderDeleted) {
  std::vector<Cheat> games = Games();
  games[3].deleted = true;  // Abuse
  Machine("pc", games);
  DbfTable& t = OpenReader("pc", 3);
  EXPECT_EQ(link_.Rows("cheatname"), (Strings{">Blood", " Doom", " Doom II"}));
  EXPECT_EQ(vz::RecNo(), 6);
  t.Next();
  t.Prior();
  t.Prior();
  EXPECT_TRUE(t.Bof());
  EXPECT_EQ(link_.ActiveText("cheatname"), "Blood");
  t.Last();
  t.MoveBy(-10);
  EXPECT_EQ(link_.ActiveText("cheatname"), "Blood");
  EXPECT_EQ(vz::RecNo(), 6);

  // Without the reader's hiding the deleted records show.
  t.Close();
  t.HideDeletedRecs = false;
  t.Open();
  t.First();
  EXPECT_EQ(link_.Rows("cheatname"), (Strings{">Abuse", " Blood", " Doom"}));
  EXPECT_TRUE(t.RecordDeleted());
  t.Next();
  EXPECT_FALSE(t.RecordDeleted());
}

TEST_F(DbfTableTest, BookmarksRecordNumbersAndCounts) {
  Machine("pc", Games());
  DbfTable& t = OpenReader("pc");
  auto mark = [](std::int32_t n) {
    data::Bookmark b(4);
    std::memcpy(b.data(), &n, 4);
    return b;
  };
  EXPECT_EQ(t.RecordCount(), 8);  // the deleted record counts
  EXPECT_EQ(t.RecNo(), 4);        // Abuse: its physical number
  t.Next();
  EXPECT_EQ(t.RecNo(), 6);
  EXPECT_EQ(t.GetBookmark(), mark(6));

  EXPECT_FALSE(t.BookmarkValid(mark(0)));
  EXPECT_FALSE(t.BookmarkValid(mark(-1)));
  EXPECT_FALSE(t.BookmarkValid(mark(9)));
  EXPECT_FALSE(t.BookmarkValid(data::Bookmark{}));
  EXPECT_FALSE(t.BookmarkValid(mark(3)));  // deleted, and hidden
  EXPECT_TRUE(t.BookmarkValid(mark(1)));
  EXPECT_TRUE(t.BookmarkValid(mark(8)));
  t.HideDeletedRecs = false;
  EXPECT_TRUE(t.BookmarkValid(mark(3)));
  t.HideDeletedRecs = true;

  EXPECT_EQ(t.CompareBookmarks(mark(3), mark(5)), 1);
  EXPECT_EQ(t.CompareBookmarks(mark(5), mark(3)), 1);
  EXPECT_EQ(t.CompareBookmarks(mark(5), mark(5)), 0);
  EXPECT_EQ(t.CompareBookmarks(mark(5), data::Bookmark{}), 1);
  EXPECT_EQ(t.CompareBookmarks(data::Bookmark{}, mark(5)), 1);

  // A bookmark of the active record brings it back after moving.
  t.LocateRec("cheatname", "heretic");
  const data::Bookmark heretic = t.GetBookmark();
  t.First();
  t.GotoBookmark(heretic);
  EXPECT_EQ(link_.ActiveText("cheatname"), "Heretic");
  EXPECT_EQ(t.RecNo(), 5);
  EXPECT_EQ(vz::RecNo(), 5);
  // Going to the deleted record shows the next visible one in name order.
  t.GotoBookmark(mark(3));
  EXPECT_EQ(link_.ActiveText("cheatname"), "Quake");

  // With controls disabled the record number is the engine's.
  t.First();
  t.DisableControls();
  GO(7);
  EXPECT_EQ(t.RecNo(), 7);
  t.EnableControls();
  EXPECT_EQ(t.RecNo(), 4);
  // A closed table has no valid bookmark.
  t.Close();
  EXPECT_FALSE(t.BookmarkValid(mark(1)));
}

TEST_F(DbfTableTest, FindFindExactAndIsSequenced) {
  Machine("pc", Games());
  DbfTable& t = OpenReader("pc");
  EXPECT_FALSE(t.IsSequenced());
  EXPECT_TRUE(t.Find("Doo"));
  EXPECT_EQ(t.RecNo(), 2);
  EXPECT_TRUE(t.Find("Doom I"));
  EXPECT_EQ(t.RecNo(), 8);
  EXPECT_FALSE(t.FindExact("Doo"));
  EXPECT_TRUE(t.FindExact("Doom"));
  EXPECT_EQ(t.RecNo(), 2);
  EXPECT_TRUE(t.FindExact("Doom II"));
  EXPECT_EQ(t.RecNo(), 8);
  EXPECT_EQ(vz::RecNo(), 8);
  EXPECT_FALSE(IndexEngine().Settings.ExactFind);  // switched back off
  IndexEngine().Settings.ExactFind = true;
  EXPECT_TRUE(t.Find("Heretic"));
  EXPECT_TRUE(IndexEngine().Settings.ExactFind);  // left as it was
  IndexEngine().Settings.ExactFind = false;
  EXPECT_FALSE(t.Find("Zork"));  // deleted, hidden
  EXPECT_FALSE(t.Find("Wolfenstein"));

  // The framework's Locate goes through the index when one controls.
  EXPECT_TRUE(t.Locate("cheatname", "Bl", {false, true}));
  EXPECT_EQ(t.RecNo(), 6);
  EXPECT_FALSE(t.Locate("cheatname", "Bl", {false, false}));
  EXPECT_TRUE(t.Locate("cheatname", "Blood", {false, false}));
  EXPECT_EQ(t.RecNo(), 6);

  // Without an index the record number is the position.
  t.SetIndexTo("");
  EXPECT_TRUE(t.IsSequenced());
  t.First();
  EXPECT_EQ(link_.ActiveText("cheatname"), "Quake");
  t.Close();
  t.IndexList.clear();
  t.Open();
  EXPECT_TRUE(t.IsSequenced());

  // A key longer than 100 characters searches its first 100.
  test::DbfBuilder b;
  b.Field("NAME", 'C', 100);
  b.Record({std::string(99, 'A') + "B"});
  b.Record({std::string(100, 'A')});
  b.Write(dir_.File("long.dbf"));
  t.Close();
  t.IndexList = {"1," + dir_.File("long.ndx") + ",NAME"};
  t.SetDbfFileName(dir_.File("long"));
  t.Open();
  EXPECT_TRUE(t.FindExact(std::string(99, 'A') + "B" + std::string(60, 'Z')));
  EXPECT_EQ(t.RecNo(), 1);
  EXPECT_TRUE(t.FindExact(std::string(100, 'A') + "B"));
  EXPECT_EQ(t.RecNo(), 2);
  EXPECT_TRUE(t.Find(std::string(99, 'A') + "BCDE"));
  EXPECT_EQ(t.RecNo(), 1);
}

// Holds a shared lock on byte 18 of a file in a child process until the
// object dies.
class LockingChild {
 public:
  explicit LockingChild(const std::string& path) {
    int ready[2], release[2];
    if (pipe(ready) != 0 || pipe(release) != 0) throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      close(release[1]);
      const int fd = open(path.c_str(), O_RDWR | O_CREAT, 0644);
      struct flock fl;
      std::memset(&fl, 0, sizeof fl);
      fl.l_type = F_RDLCK;
      fl.l_whence = SEEK_SET;
      fl.l_start = 18;
      fl.l_len = 1;
      const char ok = fd >= 0 && fcntl(fd, F_OFD_SETLK, &fl) == 0 ? 1 : 0;
      if (write(ready[1], &ok, 1) != 1) _exit(1);
      char c;
      while (read(release[0], &c, 1) > 0) {
      }
      _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    release_ = release[1];
    char ok = 0;
    if (read(ready[0], &ok, 1) != 1) ok = 0;
    close(ready[0]);
    locked_ = ok == 1;
  }
  ~LockingChild() {
    close(release_);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  bool locked() const { return locked_; }

 private:
  pid_t pid_ = -1;
  int release_ = -1;
  bool locked_ = false;
};

TEST_F(DbfTableTest, SemaphoreHeldByAnotherUserSuspendsRebuildsForOneOpen) {
  Machine("pc", Games());
  DbfTable& t = Reader();
  t.CreateIndex = CreateIndexMode::ciAlways;
  t.SetDbfFileName(dir_.File("pc"));
  t.Open();
  EXPECT_EQ(built_.size(), 1u);
  t.Close();
  const std::string semaphore = dir_.File("pc.@S@");
  const Bytes index = test::ReadFile(Ndx());
  SetModified(Ndx(), -60);
  const auto stamp = std::filesystem::last_write_time(Ndx());

  {
    // Another open file description of this program.
    platform::File other;
    if (other.Open(semaphore, platform::kModeShared) != 0) {
      ASSERT_EQ(other.Create(semaphore, platform::kModeShared), 0);
    }
    ASSERT_EQ(other.LockShared(18, 1), 0);
    t.Open();
    EXPECT_EQ(built_.size(), 1u);
    EXPECT_EQ(t.CreateIndex, CreateIndexMode::ciAlways);
    EXPECT_EQ(Browse(t), kNameOrder);
    t.Close();
    EXPECT_EQ(test::ReadFile(Ndx()), index);
    EXPECT_EQ(std::filesystem::last_write_time(Ndx()), stamp);
  }
  // Nobody holds it: the configured mode rebuilds again.
  t.Open();
  EXPECT_EQ(built_.size(), 2u);
  t.Close();

  {
    // Another process; a stale index stays as it is under verify-header too.
    LockingChild child(semaphore);
    ASSERT_TRUE(child.locked());
    t.Open();
    EXPECT_EQ(built_.size(), 2u);
    t.Close();
    t.CreateIndex = CreateIndexMode::ciVerifyHeader;
    SetModified(Ndx(), -7200);
    t.Open();
    EXPECT_EQ(built_.size(), 2u);
    EXPECT_EQ(t.CreateIndex, CreateIndexMode::ciVerifyHeader);
    t.Close();
  }
  t.Open();
  EXPECT_EQ(built_.size(), 3u);
  t.Close();

  // An index file that a build for another table of the folder replaced is
  // nobody's index of this table, and walking this table by the other's
  // record numbers is no option: it is built anew even then.
  Machine("n64", {{"Mario", "m"}, {"Zelda", "z"}});
  t.SetDbfFileName(dir_.File("n64"));
  t.Open();
  EXPECT_EQ(built_.size(), 4u);
  EXPECT_EQ(Browse(t), (Strings{"Mario", "Zelda"}));
  t.Close();
  {
    LockingChild child(semaphore);
    ASSERT_TRUE(child.locked());
    t.SetDbfFileName(dir_.File("pc"));
    t.Open();
    EXPECT_EQ(built_.size(), 5u);
    EXPECT_EQ(Browse(t), kNameOrder);
    t.Close();
  }
}

// A named pipe where the semaphore file belongs is refused with code 5 at
// once (nothing waits for a writer) and left where it is.
TEST_F(DbfTableTest, ASemaphoreFileThatIsAPipeIsRefusedAndLeftAlone) {
  Machine("pc", Games());
  const std::string semaphore = dir_.File("pc.@S@");
  ASSERT_EQ(::mkfifo(semaphore.c_str(), 0644), 0);
  DbfTable& t = Reader();
  t.SetDbfFileName(dir_.File("pc"));
  try {
    t.Open();
    ADD_FAILURE() << "opened beside a pipe as its semaphore file";
  } catch (const EngineError& e) {
    const std::string what = e.what();
    EXPECT_EQ(what.rfind("Error # 5 ", 0), 0u) << what;
    EXPECT_NE(what.find("Cannot open/create: "), std::string::npos) << what;
  }
  EXPECT_FALSE(t.Active());
  struct stat st {};
  ASSERT_EQ(::stat(semaphore.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST_F(DbfTableTest, MakeIndexEvents) {
  Machine("pc", Games());
  DbfTable& t = Reader();
  Strings asked;
  bool existedAfter = false;
  t.OnBeforeMakeIndex = [&](const std::string& name, bool& canMake) {
    asked.push_back(name);
    canMake = false;
  };
  t.OnAfterMakeIndex = [&](const std::string& name) {
    built_.push_back(name);
    existedAfter = platform::FileExists(name);
  };
  t.SetDbfFileName(dir_.File("pc"));

  // Refused and missing: the second pass fails with "File not found".
  EXPECT_THROW(t.Open(), EngineError);
  EXPECT_EQ(Engine().Errors.ErrorCode, 2);
  EXPECT_EQ(asked, Strings{Ndx()});
  EXPECT_TRUE(built_.empty());
  EXPECT_FALSE(t.Active());
  EXPECT_EQ(t.WorkArea(), 0);
  EXPECT_TRUE(NoAreaFilled());
  EXPECT_FALSE(platform::FileExists(Ndx()));

  // Allowed: built, and the after event sees the file.
  t.OnBeforeMakeIndex = [&](const std::string& name, bool& canMake) {
    asked.push_back(name);
    EXPECT_TRUE(canMake);
  };
  t.Open();
  EXPECT_EQ(built_, Strings{Ndx()});
  EXPECT_TRUE(existedAfter);
  t.Close();

  // Refused with an existing stale file: opened unchanged, under both
  // verify-header and always.
  std::vector<Cheat> more = Games();
  more.push_back({"Aardvark", ""});
  Machine("pc", more);
  const Bytes stale = test::ReadFile(Ndx());
  t.OnBeforeMakeIndex = [&](const std::string& name, bool& canMake) {
    asked.push_back(name);
    canMake = false;
  };
  for (CreateIndexMode mode : {CreateIndexMode::ciVerifyHeader, CreateIndexMode::ciAlways}) {
    t.CreateIndex = mode;
    asked.clear();
    t.Open();
    EXPECT_TRUE(t.Active());
    EXPECT_EQ(asked.size(), 1u);
    EXPECT_EQ(built_.size(), 1u);
    EXPECT_FALSE(t.IsSequenced());
    t.Close();
    EXPECT_EQ(test::ReadFile(Ndx()), stale);
  }
  // Never: no event at all.
  std::filesystem::remove(Ndx());
  t.CreateIndex = CreateIndexMode::ciNever;
  asked.clear();
  EXPECT_THROW(t.Open(), EngineError);
  EXPECT_EQ(Engine().Errors.ErrorCode, 2);
  EXPECT_TRUE(asked.empty());
  EXPECT_TRUE(NoAreaFilled());
}

// A status window that records what it is shown.
struct RecordingWindow : platform::StatusWindow {
  RecordingWindow(Strings& shown, bool& open) : shown_(shown), open_(open) { open_ = true; }
  ~RecordingWindow() override { open_ = false; }
  void ShowMessage(const std::string& text) override { shown_.push_back(text); }
  Strings& shown_;
  bool& open_;
};

TEST_F(DbfTableTest, IndexBuildShowsItsProgress) {
  Machine("pc", Games());
  Strings captions, shown;
  bool open = false, openWhileBuilt = false;
  platform::SetStatusWindowFactory(
      [&](const std::string& caption) -> std::unique_ptr<platform::StatusWindow> {
        captions.push_back(caption);
        return std::make_unique<RecordingWindow>(shown, open);
      });
  DbfTable& t = Reader();
  t.ShowProgress = true;
  t.OnAfterMakeIndex = [&](const std::string&) { openWhileBuilt = open; };
  t.SetDbfFileName(dir_.File("pc"));
  t.Open();
  platform::SetStatusWindowFactory(nullptr);
  EXPECT_EQ(captions, Strings{"Indexing " + Ndx() + "..."});
  ASSERT_EQ(shown.size(), 101u);
  for (std::size_t i = 0; i < shown.size(); ++i) EXPECT_EQ(shown[i], std::string(100 - i, '|'));
  EXPECT_FALSE(openWhileBuilt);  // closed before the after-build event
  EXPECT_FALSE(open);
  EXPECT_FALSE(static_cast<bool>(IndexEngine().Progress.Step));
  EXPECT_EQ(Browse(t), kNameOrder);

  // Without progress no window is made.
  t.Close();
  t.ShowProgress = false;
  t.CreateIndex = CreateIndexMode::ciAlways;
  captions.clear();
  platform::SetStatusWindowFactory(
      [&](const std::string& caption) -> std::unique_ptr<platform::StatusWindow> {
        captions.push_back(caption);
        return nullptr;
      });
  t.Open();
  platform::SetStatusWindowFactory(nullptr);
  EXPECT_TRUE(captions.empty());
}

TEST_F(DbfTableTest, IndexLines) {
  IndexItem item = ParseIndexLine("1,cheat.ndx,CHEATNAME");
  EXPECT_EQ(item.Order, 1);
  EXPECT_EQ(item.File, "cheat.ndx");
  EXPECT_EQ(item.Expression, "CHEATNAME");
  item = ParseIndexLine("2,CHEATNAME");
  EXPECT_EQ(item.Order, 2);
  EXPECT_EQ(item.File, "");
  EXPECT_EQ(item.Expression, "CHEATNAME");
  item = ParseIndexLine("UPPER(CHEATNAME)");
  EXPECT_EQ(item.Order, 0);
  EXPECT_EQ(item.File, "");
  EXPECT_EQ(item.Expression, "UPPER(CHEATNAME)");
  item = ParseIndexLine("3,a.ndx UNIQUE," + std::string(150, 'E'));
  EXPECT_EQ(item.File, "a.ndx UNIQUE");
  EXPECT_EQ(item.Expression, std::string(100, 'E'));
  item = ParseIndexLine(",a.ndx,X");
  EXPECT_EQ(item.Order, 0);
  EXPECT_EQ(item.File, "");
  EXPECT_EQ(item.Expression, ",a.ndx,X");
  try {
    ParseIndexLine("x,a.ndx,X");
    ADD_FAILURE() << "'x' taken as an order";
  } catch (const data::DatabaseError& e) {
    EXPECT_STREQ(e.what(), "'x' is not a valid integer value");
  }
  EXPECT_THROW(ParseIndexLine("1x,a.ndx,X"), data::DatabaseError);

  Machine("pc", Games());
  DbfTable& t = Reader();
  t.SetDbfFileName(dir_.File("pc"));
  // Too few commas: no file, the table opens without that index.
  for (CreateIndexMode mode :
       {CreateIndexMode::ciVerifyHeader, CreateIndexMode::ciNotFound, CreateIndexMode::ciAlways}) {
    for (const char* line : {"1,CHEATNAME", "CHEATNAME"}) {
      SCOPED_TRACE(line);
      t.CreateIndex = mode;
      t.IndexList = {line};
      t.Open();
      EXPECT_TRUE(t.IsSequenced());
      t.First();
      EXPECT_EQ(link_.ActiveText("cheatname"), "Quake");
      t.Close();
    }
  }
  EXPECT_FALSE(platform::FileExists(dir_.File(".NDX")));
  EXPECT_FALSE(platform::FileExists(dir_.File(".ndx")));

  // Order 0 with a file: the second pass fails with 220.
  t.CreateIndex = CreateIndexMode::ciVerifyHeader;
  t.IndexList = {"0," + dir_.File("zero.ndx") + ",CHEATNAME"};
  EXPECT_THROW(t.Open(), EngineError);
  EXPECT_EQ(Engine().Errors.ErrorCode, 220);
  EXPECT_FALSE(t.Active());
  EXPECT_EQ(t.WorkArea(), 0);
  EXPECT_TRUE(NoAreaFilled());

  // An order that is no number: the open fails and leaves nothing open.
  t.IndexList = {"1," + Ndx() + ",CHEATNAME", "x," + dir_.File("x.ndx") + ",CHEATNAME"};
  try {
    t.Open();
    ADD_FAILURE() << "opened with order 'x'";
  } catch (const data::DatabaseError& e) {
    EXPECT_STREQ(e.what(), "'x' is not a valid integer value");
  }
  EXPECT_FALSE(t.Active());
  EXPECT_EQ(t.WorkArea(), 0);
  EXPECT_TRUE(NoAreaFilled());
  EXPECT_EQ(Engine().Settings.ForcedFileMode, -1);
  EXPECT_TRUE(Engine().Errors.ErrorDispatch);

  // Two good lines: both open, in their orders.
  t.IndexList = {"1," + Ndx() + ",CHEATNAME", "2," + dir_.File("upper.ndx") + ",UPPER(CHEATNAME)"};
  t.Open();
  EXPECT_FALSE(t.IsSequenced());
  EXPECT_TRUE(platform::FileExists(dir_.File("upper.ndx")));
  EXPECT_EQ(Browse(t), kNameOrder);
}

TEST_F(DbfTableTest, ReadOnlyRestoresTheForcedFileMode) {
  Machine("pc", Games());
  Engine().Settings.ForcedFileMode = platform::kModeShared;
  DbfTable& t = Reader();
  t.SetDbfFileName(dir_.File("pc"));
  t.Open();
  Select(t.WorkArea());
  EXPECT_FALSE(CurrentTable()->File.Writable());
  EXPECT_FALSE(CurrentMemo()->File.Writable());
  EXPECT_EQ(Engine().Settings.ForcedFileMode, platform::kModeShared);
  t.Close();

  // A missing table: the open raises inside USE.
  ASSERT_TRUE(t.AutoFixRecCount);
  t.SetDbfFileName(dir_.File("nothing"));
  EXPECT_THROW(t.Open(), EngineError);
  EXPECT_EQ(Engine().Errors.ErrorCode, 2);
  EXPECT_EQ(Engine().Settings.ForcedFileMode, platform::kModeShared);
  EXPECT_FALSE(Engine().Settings.FixRecCount);
  // A failing index.
  t.SetDbfFileName(dir_.File("pc"));
  t.IndexList = {"0," + Ndx() + ",CHEATNAME"};
  EXPECT_THROW(t.Open(), EngineError);
  EXPECT_EQ(Engine().Settings.ForcedFileMode, platform::kModeShared);
  EXPECT_TRUE(NoAreaFilled());
  // An index build that fails (a bad expression).
  t.IndexList = {"1," + dir_.File("bad.ndx") + ",NOSUCHFIELD"};
  EXPECT_THROW(t.Open(), EngineError);
  EXPECT_NE(Engine().Errors.ErrorCode, 0);
  EXPECT_EQ(Engine().Settings.ForcedFileMode, platform::kModeShared);
  EXPECT_TRUE(NoAreaFilled());
  EXPECT_FALSE(t.Active());

  // Writable: the forced mode is left alone during the open as well.
  Engine().Settings.ForcedFileMode = -1;
  t.ReadOnly = false;
  t.IndexList = {"1," + Ndx() + ",CHEATNAME"};
  t.Open();
  Select(t.WorkArea());
  EXPECT_TRUE(CurrentTable()->File.Writable());
  EXPECT_TRUE(t.CanModify());
}

TEST_F(DbfTableTest, CreatingAMissingTable) {
  DbfTable& t = Reader();
  t.CreateIfNotFound = true;
  t.ReadOnly = false;
  t.IndexList.clear();
  t.DbfFields = {
      "cheatname, C, 35, 0", "junk, X, 1, 0", " cheatmemo ,M,10,0",         "price, N, 8, 2",
      "born, D, 8, 0",       "ok, L, 1, 0",   "averyverylongname, C, 5, 0", "top, N, 19, 15",
      "wide, C, 254, 0"};
  t.SetDbfFileName(dir_.File("new"));
  t.Open();
  EXPECT_TRUE(platform::FileExists(dir_.File("new.DBF")));
  EXPECT_TRUE(platform::FileExists(dir_.File("new.DBT")) ||
              platform::FileExists(dir_.File("new.dbt")));
  EXPECT_EQ(t.RecordCount(), 0);
  Strings names;
  for (const data::FieldDef& d : t.FieldDefs()) names.push_back(d.Name);
  EXPECT_EQ(names, (Strings{"CHEATNAME", "CHEATMEMO", "PRICE", "BORN", "OK", "AVERYVERYL", "TOP",
                            "WIDE"}));
  EXPECT_EQ(t.FieldTypeLetter(t.FieldByName("price"), '?'), 'N');
  EXPECT_EQ(t.FieldTypeLetter(t.FieldByName("born"), '?'), 'D');
  EXPECT_EQ(t.FieldTypeLetter(t.FieldByName("cheatmemo"), '?'), 'M');
  ASSERT_NE(t.FieldProps(), nullptr);
  EXPECT_EQ(t.FieldProps()->Length(1), 35);
  EXPECT_EQ(t.FieldProps()->Decimals(3), 2);
  EXPECT_EQ(t.FieldProps()->Decimals(7), 15);
  EXPECT_EQ(t.FieldProps()->Length(8), 254);
  // Every field as the engine has it, its slot in the engine's record
  // included (0: the deleted flag), found again by its name in any case.
  const FieldProps& props = *t.FieldProps();
  t.SelectWorkArea("test");
  ASSERT_EQ(props.Count(), FieldCount());
  for (int i = 0; i <= props.Count(); ++i) {
    EXPECT_EQ(props.Address(i), FieldAddress(i)) << i;
    if (i == 0) continue;
    EXPECT_EQ(props.Name(i), Field(i));
    EXPECT_EQ(props.Type(i), FieldType(i));
    EXPECT_EQ(props.Length(i), FieldLen(i));
    EXPECT_EQ(props.Decimals(i), FieldDec(i));
    EXPECT_EQ(props.Number(platform::AnsiLower(props.Name(i))), i);
  }
  EXPECT_EQ(props.Address(props.Count() + 1), nullptr);
  EXPECT_EQ(props.Address(-1), nullptr);
  EXPECT_EQ(props.Number("nosuchfield"), 0);
  EXPECT_TRUE(messages_.empty());
  // The new table takes records, inserted into it empty or appended.
  t.Insert();
  t.FieldByName("cheatname")->SetAsString("Zero");
  t.Post();
  EXPECT_EQ(t.RecordCount(), 1);
  EXPECT_EQ(t.FieldByName("cheatname")->AsString(), "Zero");
  t.Append();
  t.FieldByName("cheatname")->SetAsString("First");
  t.Post();
  EXPECT_EQ(t.RecordCount(), 2);
  EXPECT_EQ(vz::RecNo(), 2);
  t.Close();

  // An existing table is not created again.
  t.DbfFields = {"other, C, 5, 0"};
  t.Open();
  EXPECT_EQ(t.RecordCount(), 2);
  EXPECT_EQ(t.FieldDefs().size(), 8u);
}

TEST_F(DbfTableTest, CreateTableRefusals) {
  DbfTable& t = Reader();
  t.CreateIfNotFound = true;
  t.IndexList.clear();
  t.SetDbfFileName(dir_.File("new"));
  for (const char* bad :
       {"a, Q, 5, 0", "a, c, 5, 0", "a, N, 20, 0", "a, N, 19, 16", "a, N, 4, 3", "a, C, 255, 0",
        "a, C, 256, 0", "a, C, -1, 0", "a, D, 300, 0", "a, N, 5, -2"}) {
    SCOPED_TRACE(bad);
    t.DbfFields = {"name, C, 10, 0", bad};
    try {
      t.Open();
      ADD_FAILURE() << "created";
    } catch (const std::range_error& e) {
      EXPECT_STREQ(e.what(), "Range check error");
    }
    EXPECT_FALSE(platform::FileExists(dir_.File("new.DBF")));
    EXPECT_FALSE(t.Active());
    EXPECT_TRUE(NoAreaFilled());
    EXPECT_EQ(Engine().Settings.ForcedFileMode, -1);
  }
  EXPECT_TRUE(messages_.empty());

  // A line without exactly three commas creates nothing.
  const std::string shown = "Could not create '" + t.DbfFileName() + "'";
  for (const char* bad : {"cheatname, C, 35", "cheatname, C, 35, 0, 1"}) {
    SCOPED_TRACE(bad);
    messages_.clear();
    t.DbfFields = {"ok, C, 3, 0", bad};
    EXPECT_THROW(t.Open(), EngineError);
    EXPECT_EQ(Engine().Errors.ErrorCode, 2);
    EXPECT_EQ(messages_, Strings{shown});
    EXPECT_FALSE(platform::FileExists(dir_.File("new.DBF")));
    EXPECT_TRUE(NoAreaFilled());
  }
  // No field list at all.
  messages_.clear();
  t.DbfFields.clear();
  EXPECT_THROW(t.Open(), EngineError);
  EXPECT_EQ(messages_, (Strings{"FieldList.Count is <= 0 trying to create a database", shown}));
  // A folder that does not exist.
  messages_.clear();
  t.DbfFields = {"name, C, 10, 0"};
  t.SetDbfFileName(dir_.File("no/such/folder/new"));
  EXPECT_THROW(t.Open(), EngineError);
  EXPECT_EQ(messages_, Strings{"Could not create '" + dir_.File("no/such/folder/new.DBF") + "'"});
  EXPECT_TRUE(NoAreaFilled());
  EXPECT_TRUE(Engine().Errors.ErrorDispatch);
}

// A table operation on a component without a work area ends the program.
TEST(DbfTableDeathTest, TableOperationOnAClosedComponentEndsTheProgram) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const int status = platform::ExitStatusFor(1103);
  auto closed = [](const std::function<void(DbfTable&)>& operation, int mode) {
    test::ResetAll();
    SetRaiseErrors(false);
    InstallHaltingPresentation();
    if (mode == 1) SetErrorDispatch(false);
    if (mode == 2) Engine().Errors.ErrorHandler = [] {};
    DbfTable t;
    t.SetName("CheatDbf");
    operation(t);
  };
  for (int mode = 0; mode < 3; ++mode) {
    SCOPED_TRACE(mode);
    EXPECT_EXIT(closed([](DbfTable& t) { t.IsSequenced(); }, mode),
                ::testing::ExitedWithCode(status),
                "Database is not open \\[CheatDbf\\.IsSequenced\\]");
  }
  EXPECT_EXIT(closed([](DbfTable& t) { t.SetIndexToLFN("a.ndx", 1); }, 0),
              ::testing::ExitedWithCode(status),
              "Database is not open \\[CheatDbf\\.SetIndexToLFN\\]");
  EXPECT_EXIT(closed([](DbfTable& t) { t.IndexOn("NAME", "a.ndx"); }, 0),
              ::testing::ExitedWithCode(status), "Database is not open \\[CheatDbf\\.IndexOn\\]");
  // Closed after having been open.
  EXPECT_EXIT(closed(
                  [](DbfTable& t) {
                    test::TempDir dir;
                    test::WriteCheatTable(dir.File("pc"), Games());
                    t.IndexList.clear();
                    t.SetDbfFileName(dir.File("pc"));
                    t.Open();
                    t.Close();
                    t.EngineRecCount();
                  },
                  0),
              ::testing::ExitedWithCode(status),
              "Database is not open \\[CheatDbf\\.s_RecCount\\]");
}

}  // namespace
}  // namespace vz
