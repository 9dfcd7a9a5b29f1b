// The processes of the soak of shared use (scripts/soak): writers that
// append and change records of one shared table through its two indexes,
// readers that walk it in key order and search it by name and by text, and
// the check of what they left.
//
// usage: vorza-soak init DIR
//        vorza-soak writer DIR SECONDS ID
//        vorza-soak reader DIR SECONDS ID
//        vorza-soak check DIR
//
// The table DIR/soak.dbf has NAME C 16, TEXT C 24, SERIAL N 9, SUM N 9 and
// NOTE M 10; name.ndx is on NAME, text.ndx on UPPER(TEXT). Every record
// carries a sum of its other fields and a memo text made from its serial
// and name, so a reader can tell a whole record from a torn one.
//
// Each process ends by itself after SECONDS and prints one line
//   SOAK role=R id=N ops=N ... problems=N
// to standard output, each problem on standard error; it exits 0 when it
// found none, 1 otherwise. An engine error halts it with the engine's
// message and code, as the programs do.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/dbf.h"
#include "engine/dbf_file.h"
#include "engine/dbt_file.h"
#include "engine/errors.h"
#include "engine/trim.h"
#include "index/indexes.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "tests/support/NdxChecker.h"

namespace {

constexpr int kName = 1, kText = 2, kSerial = 3, kSum = 4, kNote = 5;

struct Soak {
  std::string dir;
  std::string table() const { return dir + "/soak.dbf"; }
  std::string names() const { return dir + "/name.ndx " + dir + "/text.ndx"; }
};

int problems = 0;

void Problem(const std::string& text) {
  ++problems;
  if (problems <= 20) std::fprintf(stderr, "vorza-soak: %s\n", text.c_str());
}

std::string FieldText(int field) {
  const std::uint8_t* slot = vz::FieldAddress(field);
  return vz::TrimRight(std::string(reinterpret_cast<const char*>(slot + 1), slot[0]));
}

void SetText(int field, const std::string& text) {
  std::uint8_t* slot = vz::FieldAddress(field);
  std::memset(slot + 1, ' ', slot[0]);
  std::memcpy(slot + 1, text.data(), std::min<std::size_t>(text.size(), slot[0]));
}

// The sum a whole record carries: FNV-1a of its other fields, below 10^9.
std::int32_t SumOf(const std::string& name, const std::string& text, std::int32_t serial) {
  const std::string all = name + "|" + text + "|" + std::to_string(serial);
  std::uint64_t h = 1469598103934665603ULL;
  for (const char c : all) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
  return static_cast<std::int32_t>(h % 1000000000ULL);
}

std::string NoteOf(std::int32_t serial, const std::string& name) {
  return "note " + std::to_string(serial) + " " + name;
}

std::string RandomName(std::mt19937& rng) {
  static const char* const kParts[] = {"Doom",  "Hex",   "Myst", "Zork",
                                       "Quake", "Abuse", "Lemm", "Tetr"};
  return std::string(kParts[rng() % 8]) + " " + std::to_string(rng() % 400);
}

std::string RandomText(std::mt19937& rng) {
  static const char* const kWords[] = {"god",  "ammo",  "keys", "level",
                                       "warp", "lives", "map",  "skip"};
  return std::string(kWords[rng() % 8]) + " " + kWords[rng() % 8] + " " +
         std::to_string(rng() % 1000);
}

// Checks the record in the buffer: its sum, and its memo text when
// `memo`. Says what is wrong, or nothing.
std::string WholeRecordProblem(bool memo) {
  const std::string name = FieldText(kName), text = FieldText(kText);
  const std::int32_t serial = vz::NativeInt(vz::FieldAddress(kSerial));
  const std::int32_t sum = vz::NativeInt(vz::FieldAddress(kSum));
  if (serial <= 0 || sum != SumOf(name, text, serial))
    return "record " + std::to_string(vz::RecNo()) + " is not whole: [" + name + "|" + text + "|" +
           std::to_string(serial) + "|" + std::to_string(sum) + "]";
  const std::int32_t block = vz::NativeInt(vz::FieldAddress(kNote));
  if (memo && block != 0) {
    const std::string note = vz::ReadMemoText(block, false);
    if (note != NoteOf(serial, name))
      return "record " + std::to_string(vz::RecNo()) + " has the memo text [" + note + "]";
  }
  return {};
}

// A reader takes no locks, so it can read a record half written while the
// program rewriting it is stopped in the middle of its write (see
// docs/engine.md, "Reading through mappings"). Such a record is read again
// for a while: it must come out whole once the writer has run on, and one
// that stays broken is a problem. `caught` counts the records read again.
std::string ReaderProblem(bool memo, long long& caught) {
  const std::string first = WholeRecordProblem(memo);
  if (first.empty()) return first;
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
  while (std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    vz::SKIP(0);  // the record again, from the file
    if (WholeRecordProblem(memo).empty()) {
      ++caught;
      return {};
    }
  }
  return first;
}

bool TimeLeft(std::chrono::steady_clock::time_point end) {
  return std::chrono::steady_clock::now() < end;
}

int Init(const Soak& s) {
  if (!vz::CreateDbf(s.table(), {{"name", 'C', 16, 0},
                                 {"text", 'C', 24, 0},
                                 {"serial", 'N', 9, 0},
                                 {"sum", 'N', 9, 0},
                                 {"note", 'M', 10, 0}}))
    return 1;
  vz::Select(1);
  vz::USE(s.table() + " exclusive");
  vz::Index_On(s.dir + "/name.ndx", "NAME");
  vz::Index_On(s.dir + "/text.ndx", "UPPER(TEXT)");
  vz::CloseAll();
  return 0;
}

int Writer(const Soak& s, double seconds, int id) {
  std::mt19937 rng(static_cast<unsigned>(id * 7919));
  vz::Select(1);
  vz::USE(s.table());
  vz::Set_Index_To(s.names());
  long long appends = 0, replaces = 0, waits = 0;
  std::int32_t next = id * 100000000;
  const auto end = std::chrono::steady_clock::now() +
                   std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                       std::chrono::duration<double>(seconds));
  while (TimeLeft(end)) {
    const std::int64_t count = vz::RecCount();
    if (count == 0 || rng() % 3 != 0) {
      while (!vz::ALock()) {
        ++waits;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
      const std::int32_t serial = ++next;
      const std::string name = RandomName(rng), text = RandomText(rng);
      vz::ClearRecord();
      SetText(kName, name);
      SetText(kText, text);
      vz::SetNativeInt(vz::FieldAddress(kSerial), serial);
      vz::SetNativeInt(vz::FieldAddress(kSum), SumOf(name, text, serial));
      vz::SetNativeInt(vz::FieldAddress(kNote),
                       static_cast<std::int32_t>(vz::WriteMemoText(NoteOf(serial, name), false)));
      vz::Append();
      vz::Unlock();
      ++appends;
    } else {
      const std::int64_t r =
          1 + static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(count));
      while (!vz::RLock(r)) {
        ++waits;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
      vz::GO(r);  // read again under the lock
      if (const std::string p = WholeRecordProblem(false); !p.empty())
        Problem("writer " + std::to_string(id) + ": " + p);
      const std::int32_t serial = vz::NativeInt(vz::FieldAddress(kSerial));
      const std::string name = rng() % 2 ? RandomName(rng) : FieldText(kName),
                        text = RandomText(rng);
      SetText(kName, name);
      SetText(kText, text);
      vz::SetNativeInt(vz::FieldAddress(kSum), SumOf(name, text, serial));
      // The memo text follows the name.
      vz::SetNativeInt(vz::FieldAddress(kNote),
                       static_cast<std::int32_t>(vz::WriteMemoText(NoteOf(serial, name), false)));
      vz::Replace();
      vz::Unlock();
      ++replaces;
    }
  }
  vz::CloseAll();
  std::printf(
      "SOAK role=writer id=%d ops=%lld appends=%lld replaces=%lld lockwaits=%lld problems=%d\n", id,
      appends + replaces, appends, replaces, waits, problems);
  return problems == 0 ? 0 : 1;
}

int Reader(const Soak& s, double seconds, int id) {
  std::mt19937 rng(static_cast<unsigned>(id * 104729));
  vz::EngineSettings& settings = vz::Engine().Settings;
  vz::IndexEngine().Settings.ReadOnlyUse = true;
  settings.ForcedFileMode = vz::platform::kModeRead;
  {
    vz::ScopedSetting<bool> fix(settings.FixRecCount, true);
    vz::Select(1);
    vz::USE(s.table());
  }
  vz::Set_Index_To(s.names());
  vz::DispatchPending();
  long long walks = 0, walked = 0, nameFinds = 0, textFinds = 0, found = 0, caught = 0;
  std::int64_t lastCount = 0;
  std::vector<std::string> seenNames, seenTexts;
  const auto end = std::chrono::steady_clock::now() +
                   std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                       std::chrono::duration<double>(seconds));
  while (TimeLeft(end)) {
    const std::int64_t count = vz::RecCount();
    if (count < lastCount)
      Problem("reader " + std::to_string(id) + ": the count went from " +
              std::to_string(lastCount) + " to " + std::to_string(count));
    lastCount = std::max(lastCount, count);
    const unsigned what = rng() % 4;
    if (what < 2) {
      // A walk in key order from the top or from a name, at most 300 steps.
      const int order = 1 + static_cast<int>(rng() % 2);
      vz::Set_Order_To(order);
      if (seenNames.empty() || rng() % 2) {
        vz::GoTop();
      } else {
        vz::Find(order == 1 ? seenNames[rng() % seenNames.size()]
                            : vz::platform::AnsiUpper(seenTexts[rng() % seenTexts.size()]));
      }
      for (int step = 0; step < 300 && !vz::dEOF(); ++step, vz::SKIP(1)) {
        ++walked;
        if (const std::string p = ReaderProblem(step % 16 == 0, caught); !p.empty()) {
          Problem("reader " + std::to_string(id) + ": " + p);
          continue;
        }
        if (seenNames.size() < 500) {
          seenNames.push_back(FieldText(kName));
          seenTexts.push_back(FieldText(kText));
        } else if (rng() % 8 == 0) {
          seenNames[rng() % seenNames.size()] = FieldText(kName);
          seenTexts[rng() % seenTexts.size()] = FieldText(kText);
        }
      }
      ++walks;
    } else if (!seenNames.empty()) {
      // A search by name, or by the text's first word.
      const bool byName = what == 2;
      vz::Set_Order_To(byName ? 1 : 2);
      std::string key = byName ? seenNames[rng() % seenNames.size()]
                               : vz::platform::AnsiUpper(seenTexts[rng() % seenTexts.size()]);
      if (!byName) key = key.substr(0, key.find(' '));
      (byName ? nameFinds : textFinds)++;
      if (vz::Find(key)) {
        ++found;
        if (const std::string p = ReaderProblem(true, caught); !p.empty())
          Problem("reader " + std::to_string(id) + ": " + p);
      }
    }
  }
  vz::CloseAll();
  std::printf(
      "SOAK role=reader id=%d ops=%lld walks=%lld walked=%lld namefinds=%lld textfinds=%lld "
      "found=%lld "
      "records=%lld midwrite=%lld problems=%d\n",
      id, walks + nameFinds + textFinds, walks, walked, nameFinds, textFinds, found,
      static_cast<long long>(lastCount), caught, problems);
  return problems == 0 ? 0 : 1;
}

// Everything the soak left: the header's count equals the whole records in
// the file, every record and memo text is whole, and each index equals a
// fresh build of it.
int Check(const Soak& s) {
  {
    vz::platform::File f;
    std::uint8_t h[12] = {};
    std::size_t got = 0;
    std::uint64_t size = 0;
    f.Open(s.table(), vz::platform::kModeRead);
    f.ReadAt(0, h, sizeof h, got);
    f.Size(size);
    const std::uint32_t count =
        h[4] | (h[5] << 8) | (h[6] << 16) | (static_cast<std::uint32_t>(h[7]) << 24);
    const std::uint32_t headerLen = h[8] | (h[9] << 8), recordLen = h[10] | (h[11] << 8);
    const std::uint64_t whole = (size - headerLen) / recordLen;
    if (count != whole || (size - headerLen) % recordLen > 1)
      Problem("the header counts " + std::to_string(count) + " records, the file holds " +
              std::to_string(whole) + " and " + std::to_string((size - headerLen) % recordLen) +
              " bytes");
  }
  vz::Select(1);
  vz::USE(s.table() + " exclusive");
  const std::int64_t records = vz::RecCount();
  for (std::int64_t r = 1; r <= records; ++r) {
    vz::GO(r);
    if (const std::string p = WholeRecordProblem(true); !p.empty()) Problem(p);
  }
  struct Order {
    const char* file;
    const char* expression;
  };
  for (const Order& o : {Order{"name.ndx", "NAME"}, Order{"text.ndx", "UPPER(TEXT)"}}) {
    vz::test::NdxCheckOptions options;
    options.AllowEmptyLeaves = true;
    options.Records = records;
    const vz::test::NdxReport kept = vz::test::CheckNdxFile(s.dir + "/" + o.file, options);
    if (!kept.Ok()) Problem(std::string(o.file) + ": " + kept.Text());
    vz::BuildOptions b;
    b.Expression = o.expression;
    vz::GO(1);
    vz::MakeIndex(s.dir + "/fresh.ndx", b);
    const vz::test::NdxReport fresh = vz::test::CheckNdxFile(s.dir + "/fresh.ndx");
    std::vector<std::string> keptKeys, freshKeys;
    for (const auto& e : kept.Entries) keptKeys.push_back(e.Key);
    for (const auto& e : fresh.Entries) freshKeys.push_back(e.Key);
    if (kept.Records() != fresh.Records() || keptKeys != freshKeys)
      Problem(std::string(o.file) + " differs from a fresh build");
    vz::platform::DeleteFile(s.dir + "/fresh.ndx");
  }
  vz::CloseAll();
  std::printf("SOAK role=check records=%lld problems=%d\n", static_cast<long long>(records),
              problems);
  return problems == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (argc < 3 || ((mode == "writer" || mode == "reader") && argc < 5)) {
    std::fputs("usage: vorza-soak init|check DIR | writer|reader DIR SECONDS ID\n", stderr);
    return 64;
  }
  vz::InitEngine();
  vz::Engine().Settings.AnsiTables = false;
  const Soak s{argv[2]};
  if (mode == "init") return Init(s);
  if (mode == "check") return Check(s);
  const double seconds = std::atof(argv[3]);
  const int id = std::atoi(argv[4]);
  if (mode == "writer") return Writer(s, seconds, id);
  if (mode == "reader") return Reader(s, seconds, id);
  std::fputs("usage: vorza-soak init|check DIR | writer|reader DIR SECONDS ID\n", stderr);
  return 64;
}
