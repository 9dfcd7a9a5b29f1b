#include "index/ndx_build.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "engine/dbf.h"
#include "engine/dbf_file.h"
#include "engine/errors.h"
#include "engine/trim.h"
#include "index/index_state.h"
#include "index/indexes.h"
#include "index/ndx_keys.h"
#include "index/ndx_semaphore.h"
#include "platform/codepage.h"
#include "platform/files.h"

namespace vz {

namespace {

// A sorted run of items (key bytes, then the record number) in the run file.
struct Run {
  std::uint64_t next = 0;  // read position in the run file
  std::uint64_t end = 0;
  std::vector<std::uint8_t> buffer;
  std::size_t have = 0, at = 0;
};

std::uint64_t BigEndian64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
  return v;
}

class IndexBuilder {
 public:
  IndexBuilder(WorkArea& table, NdxFile& x, std::size_t itemSize)
      : table_(table),
        x_(x),
        keyLen_(static_cast<std::size_t>(x.Anchor.KeyLen())),
        itemSize_(itemSize) {}

  void Build(std::int64_t records) {
    records_ = records;
    const int steps = IndexEngine().Progress.Step ? IndexEngine().Progress.Steps : 0;
    interval_ = std::max<std::int64_t>(2, (records / std::max(1, steps)) * 2);
    stepsLeft_ = steps;
    ExtractKeys();
    WriteNodes();
    while (stepsLeft_ > 0) Step();
  }

  std::int32_t NodesWritten() const { return written_; }

 private:
  void Step() {
    if (stepsLeft_ <= 0) return;
    --stepsLeft_;
    IndexEngine().Progress.Step();
  }

  bool Less(const std::uint8_t* a, const std::uint8_t* b) const {
    int c;
    if (x_.CharKey && keyLen_ >= 8) {
      // The first eight bytes, read as one big-endian number, order most
      // pairs without a call; the rest as bytes.
      const std::uint64_t wa = BigEndian64(a), wb = BigEndian64(b);
      c = wa != wb ? (wa < wb ? -1 : 1) : std::memcmp(a + 8, b + 8, keyLen_ - 8);
    } else {
      c = KeyCompare(x_, a, b);
    }
    if (c != 0) return c < 0;
    return U32(a + keyLen_) < U32(b + keyLen_);
  }

  void ExtractKeys() {
    const std::size_t runItems = std::max<std::size_t>(1, IndexEngine().RunItems);
    // A run never holds more items than the table has records, nor a chunk
    // more records.
    const std::size_t records = static_cast<std::size_t>(std::max<std::int64_t>(1, records_));
    items_.resize(std::min(runItems, records) * itemSize_);
    order_.reserve(std::min(runItems, records));
    const std::size_t recLen = table_.RecordLen;
    const std::size_t chunkRecords =
        std::min(records, std::max<std::size_t>(1, (65512 / 2) / recLen));
    std::vector<std::uint8_t> chunk(chunkRecords * recLen);
    std::int64_t r = 1;
    while (r <= records_) {
      const std::size_t want = static_cast<std::size_t>(
          std::min<std::int64_t>(static_cast<std::int64_t>(chunkRecords), records_ - r + 1));
      std::size_t got = 0;
      const int rc = table_.File.ReadAt(RecordOffset(table_, r), chunk.data(), want * recLen, got);
      if (rc != 0 || got < want * recLen)
        RaiseIndexError(rc ? rc : 213, "File:  " + table_.FileName + "  [MakeIndex]");
      for (std::size_t i = 0; i < want; ++i, ++r) {
        std::uint8_t* rec = chunk.data() + i * recLen;
        std::memcpy(table_.RawRec.data(), rec, recLen);
        if (recLen > 1) {
          if (table_.Decode) table_.Decode(table_.RawRec.data() + 1, recLen - 1);
          if (table_.Oem) platform::OemToAnsi(table_.RawRec.data() + 1, recLen - 1);
        }
        table_.RecNo = r;
        table_.Eof = table_.Bof = false;
        if (!x_.ExprIndex) Unpack(table_);
        std::string key = ComputeKey(x_, table_.Oem);
        if (Engine().Errors.ErrorCode != 0) throw IndexError{};
        if (x_.CharKey) key = FitKey(key, static_cast<int>(keyLen_));
        if (order_.size() == runItems) SpillRun();
        std::uint8_t* item = items_.data() + order_.size() * itemSize_;
        std::memcpy(item, key.data(), keyLen_);
        PutU32(item + keyLen_, static_cast<std::uint32_t>(r));
        order_.push_back(static_cast<std::uint32_t>(order_.size()));
        if (r % interval_ == 0) Step();
      }
    }
  }

  void SortRun() {
    std::sort(order_.begin(), order_.end(), [this](std::uint32_t a, std::uint32_t b) {
      return Less(items_.data() + a * itemSize_, items_.data() + b * itemSize_);
    });
  }

  void SpillRun() {
    if (!spill_.file().IsOpen()) {
      const char* tmp = std::getenv("TMPDIR");
      const int rc = spill_.Create(tmp && *tmp ? tmp : "/tmp", "TZP");
      if (rc != 0) RaiseIndexError(rc, "Cannot create the sort file [MakeIndex]");
    }
    SortRun();
    Run run;
    run.next = spilled_;
    std::vector<std::uint8_t> out;
    out.reserve(order_.size() * itemSize_);
    for (std::uint32_t i : order_) {
      const std::uint8_t* item = items_.data() + i * itemSize_;
      out.insert(out.end(), item, item + itemSize_);
    }
    const int rc = spill_.file().WriteAt(spilled_, out.data(), out.size());
    if (rc != 0) RaiseIndexError(rc, "Cannot write the sort file [MakeIndex]");
    spilled_ += out.size();
    run.end = spilled_;
    runs_.push_back(std::move(run));
    order_.clear();
  }

  // Calls `emit` with each item in key order.
  template <typename F>
  void Stream(F emit) {
    if (runs_.empty()) {
      SortRun();
      for (std::uint32_t i : order_) emit(items_.data() + i * itemSize_);
      return;
    }
    if (!order_.empty()) SpillRun();
    std::vector<std::uint8_t>().swap(items_);
    // Merge buffers: one megabyte shared by the runs, each at least one item.
    const std::size_t share =
        std::max(itemSize_, (std::size_t{1} << 20) / runs_.size() / itemSize_ * itemSize_);
    for (Run& run : runs_) run.buffer.resize(share);
    auto fill = [&](Run& run) {
      run.have = run.at = 0;
      if (run.next >= run.end) return false;
      const std::size_t want =
          static_cast<std::size_t>(std::min<std::uint64_t>(share, run.end - run.next));
      std::size_t got = 0;
      const int rc = spill_.file().ReadAt(run.next, run.buffer.data(), want, got);
      if (rc != 0 || got < want)
        RaiseIndexError(rc ? rc : 100, "Cannot read the sort file [MakeIndex]");
      run.next += got;
      run.have = got;
      return got > 0;
    };
    // A tournament over the runs' first items: every inner node of the tree
    // (the runs are its leaves, k + i for run i) keeps the run that lost the
    // match played there, slot 0 the overall winner. When the winner's next
    // item comes up, only the matches on its way to the root are played
    // again: log2(k) comparisons per item, about half of what a heap needs.
    const std::size_t k = runs_.size();
    std::vector<char> live(k);
    for (std::size_t i = 0; i < k; ++i) live[i] = fill(runs_[i]);
    auto first = [&](std::size_t a, std::size_t b) {  // a's item comes before b's
      if (!live[a]) return false;
      if (!live[b]) return true;
      return Less(runs_[a].buffer.data() + runs_[a].at, runs_[b].buffer.data() + runs_[b].at);
    };
    std::vector<std::size_t> losers(k);
    {
      std::vector<std::size_t> winners(2 * k);
      for (std::size_t i = 0; i < k; ++i) winners[k + i] = i;
      for (std::size_t node = k - 1; node >= 1; --node) {
        const std::size_t a = winners[2 * node], b = winners[2 * node + 1];
        const bool aFirst = first(a, b);
        winners[node] = aFirst ? a : b;
        losers[node] = aFirst ? b : a;
      }
      losers[0] = k > 1 ? winners[1] : 0;
    }
    while (live[losers[0]]) {
      std::size_t winner = losers[0];
      Run& run = runs_[winner];
      emit(run.buffer.data() + run.at);
      run.at += itemSize_;
      if (run.at >= run.have) live[winner] = fill(run);
      for (std::size_t node = (k + winner) / 2; node >= 1; node /= 2)
        if (first(losers[node], winner)) std::swap(losers[node], winner);
      losers[0] = winner;
    }
  }

  void Flush(bool all) {
    const std::size_t whole = all ? out_.size() : out_.size() - out_.size() % 65536;
    if (whole == 0) return;
    const int rc = x_.File.WriteAt(outAt_, out_.data(), whole);
    if (rc != 0) RaiseIndexError(rc, "Error writing index file: " + x_.Name + " [MakeIndex]");
    outAt_ += whole;
    out_.erase(out_.begin(), out_.begin() + static_cast<std::ptrdiff_t>(whole));
  }

  std::int32_t WriteNode(std::vector<std::uint8_t>& node) {
    out_.insert(out_.end(), node.begin(), node.end());
    if (out_.size() >= 65536) Flush(false);
    std::fill(node.begin(), node.end(), 0);
    return ++written_;
  }

  void WriteNodes() {
    const int kpn = x_.Anchor.KeysPerNode();
    const std::size_t es = static_cast<std::size_t>(x_.Anchor.EntrySize());
    // One node image per level: 2 plus how often the count divides by the
    // keys per node.
    std::size_t levels = 2;
    for (std::int64_t n = records_ / kpn; n > 0; n /= kpn) ++levels;
    std::vector<std::vector<std::uint8_t>> stack(levels, std::vector<std::uint8_t>(kNodeSize, 0));
    auto count = [](const std::vector<std::uint8_t>& n) { return static_cast<int>(U16(n.data())); };
    auto setCount = [](std::vector<std::uint8_t>& n, int c) {
      PutU16(n.data(), static_cast<std::uint32_t>(c));
    };
    auto entry = [es](std::vector<std::uint8_t>& n, int i) {
      return n.data() + 4 + static_cast<std::size_t>(i) * es;
    };
    outAt_ = kNodeSize;
    std::vector<std::uint8_t> previous;
    bool havePrevious = false;
    std::int64_t itemCount = 0;
    const bool unique = x_.Anchor.Unique();
    Stream([&](const std::uint8_t* item) {
      ++itemCount;
      if (itemCount % interval_ == 0) Step();
      if (unique && havePrevious && KeyCompare(x_, item, previous.data()) == 0) return;
      previous.assign(item, item + keyLen_);
      havePrevious = true;
      std::vector<std::uint8_t>& leaf = stack[0];
      if (count(leaf) == kpn) {
        std::vector<std::uint8_t> last(entry(leaf, kpn - 1) + 8,
                                       entry(leaf, kpn - 1) + 8 + keyLen_);
        std::int32_t child = WriteNode(leaf);
        for (std::size_t lvl = 1;; ++lvl) {
          if (lvl >= stack.size()) stack.emplace_back(kNodeSize, 0);
          std::vector<std::uint8_t>& parent = stack[lvl];
          const int slot = count(parent);
          PutU32(entry(parent, slot), static_cast<std::uint32_t>(child));
          if (slot == kpn) {
            child = WriteNode(parent);  // the slot was its right-most child
            continue;
          }
          setCount(parent, slot + 1);
          std::memcpy(entry(parent, slot) + 8, last.data(), keyLen_);
          break;
        }
      }
      const int c = count(leaf);
      std::uint8_t* e = entry(leaf, c);
      PutU32(e, 0);
      PutU32(e + 4, U32(item + keyLen_));
      std::memcpy(e + 8, item, keyLen_);
      setCount(leaf, c + 1);
    });
    // The remaining levels, bottom-up; levels without entries are skipped.
    std::int32_t last = WriteNode(stack[0]);
    for (std::size_t lvl = 1; lvl < stack.size(); ++lvl) {
      if (count(stack[lvl]) == 0) continue;
      PutU32(entry(stack[lvl], count(stack[lvl])), static_cast<std::uint32_t>(last));
      last = WriteNode(stack[lvl]);
    }
    Flush(true);
  }

  WorkArea& table_;
  NdxFile& x_;
  std::size_t keyLen_;
  std::size_t itemSize_;
  std::int64_t records_ = 0;
  std::int64_t interval_ = 2;
  int stepsLeft_ = 0;
  std::vector<std::uint8_t> items_;
  std::vector<std::uint32_t> order_;
  platform::TempFile spill_;
  std::uint64_t spilled_ = 0;
  std::vector<Run> runs_;
  std::vector<std::uint8_t> out_;
  std::uint64_t outAt_ = 0;
  std::int32_t written_ = 0;
};

// Puts the table back on the record it stood on before a build.
struct TablePosition {
  explicit TablePosition(WorkArea& t) : table(t), recNo(t.RecNo), eof(t.Eof), bof(t.Bof) {}
  ~TablePosition() {
    ScopedErrorDispatch quiet(false);
    // The build's error, stored to be dispatched at its end, must outlive
    // the move back (a GO clears the error state on entry).
    const std::uint16_t code = Engine().Errors.ErrorCode;
    const std::string detail = Engine().Errors.ErrorDetail;
    const std::uint16_t message = Engine().Errors.MessageCode;
    const bool undispatched = Engine().Errors.Undispatched;
    if (recNo >= 1 && recNo <= table.RecCount && !eof) {
      if (GetDbfRecord(table, recNo)) Unpack(table);
    } else {
      table.RecNo = recNo;
      const int saved = Engine().Areas.Current;
      ClearRecord();
      Engine().Areas.Current = saved;
    }
    table.Eof = eof;
    table.Bof = bof;
    Engine().Errors.ErrorCode = code;
    Engine().Errors.ErrorDetail = detail;
    Engine().Errors.MessageCode = message;
    Engine().Errors.Undispatched = undispatched;
  }
  WorkArea& table;
  std::int64_t recNo;
  bool eof, bof;
};

}  // namespace

void MakeIndex(const std::string& fileName, const BuildOptions& options) {
  ClearError();
  const std::string trimmed = Trim(fileName);
  if (trimmed.empty()) {
    SetError(220, "index filename not specified [MakeIndex()]");
    return;
  }
  const std::string suffix = " [MakeIndex(<...>," + trimmed + ")]";
  // The file this build made: a build that fails removes it, so that no
  // half-written index is left for a later open to trust.
  std::string made;
  try {
    WorkArea* table = CurrentTable();
    if (!table)
      RaiseIndexError(215, "database not open attempting to index to" + trimmed + "." + suffix);
    const std::string name = IndexFileName(trimmed, table);
    const std::string upper = platform::AsciiUpper(name);
    if (!options.Maker && Trim(options.Expression).empty())
      RaiseIndexError(254, "Neither Expression nor KeyMaker defined" + suffix);
    NdxFile x;
    x.Name = upper;
    x.OpenName = name;
    x.Area = Engine().Areas.Current;
    x.ExprIndex = !options.Maker;
    x.Maker = options.Maker;
    x.Soundex = options.Soundex && !x.ExprIndex;
    x.Descending = options.Descending && !x.ExprIndex;
    if (x.ExprIndex) {
      if (options.Expression.size() > 100)
        RaiseIndexError(300, "Expression length exceeds 100 bytes" + suffix);
      x.Expr = CompileExpr(options.Expression);
      if (!x.Expr) throw IndexError{};
    }
    for (auto& a : IndexEngine().Areas)
      for (auto& slot : a.Opened)
        if (slot && (slot->Name == upper || SameFile(slot->OpenName, name)))
          RaiseIndexError(214, name + suffix);
    // A pipe, socket or device of that name is neither emptied nor removed.
    if (platform::IsSpecialFile(name))
      RaiseIndexError(platform::kAccessDenied, "File not open" + name + suffix);
    if (!table->Exclusive) platform::DeleteFile(name);
    if (const int rc = x.File.Create(name, platform::kModeReadWrite); rc != 0)
      RaiseIndexError(rc, "File not open" + name + suffix);
    made = name;
    // The anchor: type, compare routine, key length.
    x.Anchor.SetRoot(1);
    x.Anchor.SetNextFree(2);
    x.Anchor.SetUnique(options.Unique || IndexEngine().Settings.UniqueDefault);
    char type = 'C';
    if (x.ExprIndex) {
      type = x.Expr->ResultType();
      if (type != 'C' && type != 'N' && type != 'F' && type != 'D')
        RaiseIndexError(254, "Wrong parser return type" + suffix);
    }
    x.Anchor.SetTypeLetter(type);
    x.CharKey = type == 'C';
    RefreshRecCount(*table);
    const std::int64_t records = table->RecCount;
    TablePosition restore(*table);
    int keyLen = 8;
    if (x.CharKey) {
      if (x.Soundex) {
        keyLen = 4;
      } else {
        const std::string key = ComputeKey(x, table->Oem);
        if (Engine().Errors.ErrorCode != 0) throw IndexError{};
        keyLen = static_cast<int>(key.size());
        // An empty table has no record to measure (TRIM of a blank field is
        // empty): the most the expression can hold serves.
        if (records == 0 && x.Expr) keyLen = std::max(keyLen, x.Expr->TextWidth());
      }
    }
    if (keyLen < 1 || keyLen > 100)
      RaiseIndexError(266, "Incorrect key length: Must be 1 to 100." + suffix);
    const int entrySize = (keyLen + 3) / 4 * 4 + 8;
    x.Anchor.SetKeyLen(keyLen);
    x.Anchor.SetEntrySize(entrySize);
    x.Anchor.SetKeysPerNode(504 / entrySize);
    x.Anchor.SetTypeCode(x.CharKey ? 0 : 1);
    x.Blocks = 2;
    // The disk check, in floating arithmetic: the runs where the sort file
    // goes, the nodes where the index goes.
    const double itemSize = keyLen + 4.0;
    double nodes = 512;
    for (double n = static_cast<double>(records); n > 0; n = std::floor(n / (504 / entrySize)))
      nodes += std::floor(n / (504 / entrySize)) * 512 + 512;
    std::uint64_t freeHere = 0;
    if (platform::FreeDiskSpace(name, freeHere) == 0 && freeHere / 1024 < nodes / 1024)
      RaiseIndexError(227, "Available disk space: " + Str(static_cast<long long>(freeHere / 1024)) +
                               " KBytes;" + "needed: " + Str(static_cast<long long>(nodes / 1024)) +
                               " KBytes [MakeIndex]");
    if (static_cast<std::size_t>(records) > IndexEngine().RunItems) {
      const char* tmp = std::getenv("TMPDIR");
      std::uint64_t freeTmp = 0;
      const double runs = itemSize * static_cast<double>(records);
      if (platform::FreeDiskSpace(tmp && *tmp ? tmp : "/tmp", freeTmp) == 0 &&
          freeTmp / 1024 < runs / 1024)
        RaiseIndexError(227,
                        "Available disk space: " + Str(static_cast<long long>(freeTmp / 1024)) +
                            " KBytes;" + "needed: " + Str(static_cast<long long>(runs / 1024)) +
                            " KBytes [MakeIndex]");
    }
    IndexBuilder builder(*table, x, static_cast<std::size_t>(keyLen) + 4);
    builder.Build(records);
    x.Anchor.SetRoot(builder.NodesWritten());
    x.Anchor.SetNextFree(builder.NodesWritten() + 1);
    x.Expression = x.ExprIndex ? NormalizeExpression(options.Expression)
                               : NormalizeExpression(kKeyMakerMarker);
    table->RecCount = records;
    WriteAnchor(x, *table);
    if (const int rc = x.File.Close(); rc != 0)
      RaiseIndexError(rc, "Error writing index file: " + x.Name + suffix);
  } catch (const IndexError&) {
    if (!made.empty()) platform::DeleteFile(made);
    DispatchPending();
  }
}

// --- Index_On and Reindex ---------------------------------------------------------

namespace {

void BuildAndOpenIndex(const std::string& text, const BuildOptions& build) {
  ClearError();
  CloseIndexes();
  if (CurrentAreaIndexes().Opened[1]) {
    SetError(254, "Internal error: IND pointer already allocated [Index_On]");
    return;
  }
  IndexOptions options;
  const std::string name = TakeIndexOptions(text, options);
  if (name.empty()) return;
  BuildOptions b = build;
  b.Unique = options.Unique || IndexEngine().Settings.UniqueDefault;
  if (b.Maker) {
    b.Soundex = options.Soundex;
    b.Descending = options.Descending;
  }
  MakeIndex(name, b);
  if (Engine().Errors.ErrorCode != 0) return;
  SetIndexTo(text, b.Maker, 1);
  DispatchPending();
}

}  // namespace

void Index_On(const std::string& name, const std::string& expression) {
  BuildOptions b;
  b.Expression = expression;
  BuildAndOpenIndex(name, b);
}

void Index_On(const std::string& name, KeyMaker maker) {
  BuildOptions b;
  b.Maker = std::move(maker);
  BuildAndOpenIndex(name, b);
}

void Reindex() {
  ClearError();
  WorkArea* t = CurrentTable();
  if (!t) {
    SetError(215, "No database open in current work area [Reindex]");
    return;
  }
  AreaIndexes& a = CurrentAreaIndexes();
  if (!a.Any()) {
    SetError(221, "No open indexes with " + t->FileName + " [Reindex]");
    return;
  }
  struct Plan {
    int order;
    std::string name;
    BuildOptions build;
    bool noCache;
  };
  std::vector<Plan> plans;
  for (int i = 1; i <= kMaxOrders; ++i) {
    NdxFile* x = a.Opened[static_cast<std::size_t>(i)].get();
    if (!x) continue;
    Plan p;
    p.order = i;
    p.name = x->OpenName;
    p.noCache = x->NoCache || (i == 1 && !a.Cache.Enabled());
    p.build.Unique = x->Anchor.Unique();
    p.build.Soundex = x->Soundex;
    p.build.Descending = x->Descending;
    if (x->ExprIndex) {
      char expr[101] = {};
      std::size_t got = 0;
      if (x->File.ReadAt(24, expr, 100, got) != 0) {
        SetError(100, "Error reading index file:  [Reindex]");
        return;
      }
      p.build.Expression = expr;
      if (t->Oem) p.build.Expression = platform::OemToAnsi(p.build.Expression);
    } else {
      p.build.Maker = x->Maker;
    }
    plans.push_back(p);
  }
  const int order = a.Natural ? 0 : a.LastOrder;
  const std::int64_t recNo = t->RecNo;
  CloseIndexes();
  // Every index is built even when one build fails (a full disk): an index
  // left from before would no longer match the table. A build that fails
  // leaves no file; the first failure is reported once all were tried.
  int firstCode = 0;
  std::string firstDetail;
  {
    const ScopedErrorDispatch quiet(false);
    for (const Plan& p : plans) {
      // Every build stands on the record the table stood on (a character
      // key's length comes from it), not where reopening an order left it.
      if (recNo >= 1 && recNo <= t->RecCount && t->RecNo != recNo) RawGo(recNo);
      MakeIndex(p.name, p.build);
      if (Engine().Errors.ErrorCode == 0) {
        std::string words = p.name;
        if (p.build.Unique) words += " UNIQUE";
        if (p.noCache) words += " NOCACHE";
        if (p.build.Soundex) words += " SOUNDEX";
        if (p.build.Descending) words += " DESCENDING";
        SetIndexTo(words, p.build.Maker, p.order);
      }
      if (Engine().Errors.ErrorCode != 0 && firstCode == 0) {
        firstCode = Engine().Errors.ErrorCode;
        firstDetail = Engine().Errors.ErrorDetail;
      }
      ClearError();
    }
  }
  if (firstCode != 0) {
    StoreError(firstCode, firstDetail);
    DispatchPending();
    return;
  }
  Set_Order_To(order);
}

}  // namespace vz
