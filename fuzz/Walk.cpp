#include "fuzz/Walk.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>

#include "dataset/DataSource.h"
#include "dataset/Stream.h"
#include "engine/dbf.h"
#include "engine/engine_context.h"
#include "engine/trim.h"
#include "engine/work_area.h"
#include "table/DbfTable.h"

namespace vz::fuzz {
namespace {

// Keeps the compiler from dropping reads whose value nobody uses.
volatile std::uint64_t gSink = 0;

void Consume(const void* p, std::size_t n) {
  ConsumeBytes(p, n);
}

void Consume(const std::string& s) {
  Consume(s.data(), s.size());
}

// The first character field, for the locate scan (0: none).
int FirstCharacterField() {
  const int n = FieldCount();
  for (int i = 1; i <= n; ++i)
    if (FieldType(i) == 'C') return i;
  return 0;
}

}  // namespace

void ReadCurrentRecord(bool peek) {
  WorkArea* a = CurrentTable();
  if (!a) return;
  Try([] {
    Consume(std::to_string(RecNo()) + (Deleted() ? "*" : " ") + (dEOF() ? "E" : "") +
            (dBOF() ? "B" : ""));
  });
  const int n = a->FieldCount;
  for (int i = 0; i <= n; ++i) {
    if (i > 0) {
      Try([&] {
        Consume(Field(i));
        Consume(std::string(1, FieldType(i)));
        Consume(std::to_string(FieldLen(i) + FieldDec(i)));
      });
    }
    Try([&] {
      const std::uint8_t* slot = FieldAddress(i);
      if (!slot) return;
      if (i == 0) {
        Consume(slot, 1);
        return;
      }
      const FieldDesc& f = a->Fields[static_cast<std::size_t>(i - 1)];
      switch (f.Type) {
        case 'C': Consume(slot + 1, slot[0]); break;
        case 'D': Consume(slot + 1, std::min<std::size_t>(slot[0], 10)); break;
        case 'L': Consume(slot, 1); break;
        case 'M': gSink = gSink + static_cast<std::uint32_t>(NativeInt(slot)); break;
        case 'N':
        case 'F':
          if (f.Dec > 0) {
            const double d = Real48ToDouble(slot);
            Consume(&d, sizeof d);
          } else {
            gSink = gSink + static_cast<std::uint32_t>(NativeInt(slot));
          }
          break;
        default: Consume(slot, f.NativeSize);
      }
    });
    if (peek) Try([&] { Consume(Peek(i, a->RecNo)); });
  }
}

void WalkTable(bool full, unsigned parts) {
  WorkArea* a = CurrentTable();
  if (!a) return;
  std::int64_t count = 0;
  Try([&] { count = RecCount(); });
  Try([] { Consume(std::to_string(RecSize()) + std::to_string(FieldCount())); });
  Try([] { Consume(std::to_string(FieldNo("cheatname")) + std::to_string(FieldNo("NAME"))); });
  // Field numbers outside the table.
  for (int i : {-1, 0, a->FieldCount + 1}) {
    Try([&] { Consume(Field(i)); });
    Try([&] { Consume(std::string(1, FieldType(i))); });
    Try([&] { Consume(std::to_string(FieldLen(i) + FieldDec(i))); });
    Try([&] { Consume(FieldAddress(i), i == 0 ? 1 : 0); });
    Try([&] { Consume(Peek(i, 1)); });
  }

  // Every record as stored, unpacked.
  if (full && (parts & kWalkForward)) {
    for (std::int64_t r = 1; r <= std::min<std::int64_t>(count, kMaxSteps); ++r) {
      bool read = false;
      Try([&] { read = GetDbfRecord(*a, r); });
      if (read) {
        Unpack(*a);
        ReadCurrentRecord(true);
      }
    }
  }

  // Forward to the end, back to the start.
  if (parts & kWalkForward) {
    Try([] { GoTop(); });
    ReadCurrentRecord();
  }
  for (int i = 0; i < kMaxSteps && (parts & kWalkForward); ++i) {
    bool end = true;
    Try([&] { end = dEOF(); });
    if (end) break;
    bool moved = false;
    Try([&] {
      SKIP(1);
      moved = true;
    });
    if (!moved) break;
    ReadCurrentRecord();
  }
  if (parts & kWalkBackward) {
    Try([] { GoBottom(); });
    ReadCurrentRecord();
  }
  for (int i = 0; i < kMaxSteps && (parts & kWalkBackward); ++i) {
    bool start = true;
    Try([&] { start = dBOF(); });
    if (start) break;
    bool moved = false;
    Try([&] {
      SKIP(-1);
      moved = true;
    });
    if (!moved) break;
    ReadCurrentRecord();
  }

  if (!(parts & kWalkJumps)) return;
  // Around the ends, and longer steps.
  for (std::int64_t r : {std::int64_t{0}, std::int64_t{1}, count / 2, count, count + 1,
                         std::int64_t{-1}, std::int64_t{INT64_MAX}}) {
    Try([&] { GO(r); });
    ReadCurrentRecord();
  }
  Try([] { GoTop(); });
  for (std::int64_t step : {3, -2, 0, 7, -9}) {
    Try([&] { SKIP(step); });
    ReadCurrentRecord();
  }
  Try([] { ClearRecord(); });

  // The search box's scan on the first character field, with a text taken
  // from the table.
  const int field = [] {
    int f = 0;
    Try([&] { f = FirstCharacterField(); });
    return f;
  }();
  if (field > 0) {
    std::string name;
    Try([&] { name = Field(field); });
    std::string value;
    Try([&] { value = Peek(field, std::max<std::int64_t>(1, count / 2)); });
    value = value.substr(0, 3);
    for (const char* options : {" NOCASE", " EXACT CONTAINED"}) {
      bool located = false;
      Try([&] {
        Locate(name + options, value);
        located = true;
      });
      if (located) Try([] { Continue(); });
    }
  }
}

void WalkComponent(const std::string& dbfPath, const ComponentOptions& options) {
  auto table = std::make_unique<DbfTable>();
  data::DataSource source;
  struct Link : data::DataLink {
  } link;
  DbfTable& t = *table;
  t.SetName("FuzzDbf");
  t.ReadOnly = true;
  t.HideDeletedRecs = options.hideDeleted;
  t.TableLanguage = options.ansi ? TableCharset::tlAnsi : TableCharset::tlOem;
  t.AutoFixRecCount = true;
  t.CreateIndex =
      options.indexLine.empty() ? CreateIndexMode::ciNever : CreateIndexMode::ciVerifyHeader;
  t.CreateIfNotFound = false;
  t.SetExclusive(false);
  t.ShowProgress = false;
  if (!options.indexLine.empty()) t.IndexList = {options.indexLine};
  source.SetDataSet(&t);
  link.SetDataSource(&source);
  link.SetBufferCount(5);

  // The memos of a record are read at its first visit only: the walk back
  // passes the records of the walk forward again, and their memos take the
  // same paths.
  std::set<int> memosRead;
  auto readFields = [&] {
    int record = 0;
    Try([&] { record = t.RecNo(); });
    const bool memos = memosRead.insert(record).second;
    for (const auto& f : t.Fields()) {
      if (f->IsBlob() && !memos) continue;
      Try([&] {
        Consume(f->AsString());
        Consume(f->DisplayText());
      });
      if (options.readMemos && f->IsBlob()) {
        Try([&] {
          std::unique_ptr<data::Stream> s = t.CreateBlobStream(f.get(), data::BlobMode::Read);
          if (!s) return;
          const std::int64_t size = s->Size();
          std::string text(static_cast<std::size_t>(std::clamp<std::int64_t>(size, 0, 1 << 20)),
                           '\0');
          s->Seek(0, 0);
          Consume(text.data(), static_cast<std::size_t>(
                                   s->Read(text.data(), static_cast<std::int64_t>(text.size()))));
        });
      }
    }
  };

  Try([&] {
    t.SetDbfFileName(dbfPath);
    t.Open();
  });
  if (t.Active()) {
    if (options.parts & kWalkForward) Try([&] { t.First(); });
    for (int i = 0;
         i < kMaxComponentSteps && (options.parts & kWalkForward) && t.Active() && !t.Eof(); ++i) {
      readFields();
      bool moved = false;
      Try([&] {
        t.Next();
        moved = true;
      });
      if (!moved) break;
    }
    if (options.parts & kWalkBackward) Try([&] { t.Last(); });
    for (int i = 0;
         i < kMaxComponentSteps && (options.parts & kWalkBackward) && t.Active() && !t.Bof(); ++i) {
      readFields();
      bool moved = false;
      Try([&] {
        t.Prior();
        moved = true;
      });
      if (!moved) break;
    }
    // The search box: a prefix of the first field of the table.
    if ((options.parts & kWalkJumps) && t.Active() && !t.Fields().empty()) {
      std::string name = t.Fields().front()->FieldName();
      std::string text;
      Try([&] { text = t.Fields().front()->AsString().substr(0, 2); });
      Try([&] { t.LocateRec(name, text); });
      readFields();
      Try([&] { t.LocateRec(name, "zz"); });
      Try([&] { t.MoveBy(3); });
      readFields();
    }
    Try([&] { t.Close(); });
  }
  link.SetDataSource(nullptr);
  source.SetDataSet(nullptr);
  table.reset();
}

}  // namespace vz::fuzz
