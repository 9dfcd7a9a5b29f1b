// vorza-dbf: the command-line tool over the storage and index engines.
//
// Tables are opened as the reader opens them (shared, read-only, OEM text,
// record count taken from the file size) except where a command writes.
// Output is UTF-8, one item a line. An engine error ends the command with the
// engine's message on standard error and its code as exit status; wrong
// usage prints the usage and exits with 64.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/Dbf4.h"
#include "engine/Memo.h"
#include "engine/TZDbfLow.h"
#include "engine/TimeDate.h"
#include "engine/tzmsg.h"
#include "index/TZNDX.h"
#include "index/tzparser.h"
#include "platform/codepage.h"
#include "platform/files.h"

namespace {

constexpr int kUsageError = 64;

const char* const kUsage =
    "usage: vorza-dbf COMMAND [ARGUMENTS]\n"
    "\n"
    "commands:\n"
    "  info TABLE                  the header and the fields of a table\n"
    "  list TABLE [--index NDX] [--all] [--raw]\n"
    "                              one line per record\n"
    "  memo TABLE RECNO [FIELD] [--raw]\n"
    "                              the memo text of a record\n"
    "  locate TABLE FIELD VALUE    the record the search box's scan finds (0: none)\n"
    "  eval TABLE RECNO EXPR       a key expression evaluated on a record\n"
    "  index TABLE EXPR NDX [--unique] [--progress]\n"
    "                              builds an index\n"
    "  find TABLE NDX KEY [--exact] the record an index search finds (0: none)\n"
    "  ndxinfo NDX                 the anchor of an index\n"
    "  import TABLE SOURCE         creates a cheat table from a text source\n"
    "\n"
    "vorza-dbf COMMAND --help shows the usage of one command.\n";

struct Command {
  const char* name;
  const char* usage;
  int (*run)(const std::vector<std::string>& args);
};

// Escapes a text for one-line output: tab, CR, LF and backslash.
std::string Escape(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (char c : utf8) {
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

// Text of an OEM table as the engine delivers it (ANSI), then as UTF-8.
std::string Shown(const std::string& oem) {
  return Escape(vz::platform::AnsiToUtf8(vz::platform::OemToAnsi(oem)));
}

// Opens a table the way the reader does, in work area 1. Engine errors end
// the program through the engine's dispatcher. A command that only reads
// keeps every file it opens afterwards read-only too (memo file, indexes,
// semaphore file), so that nothing it reads is ever written, not even the
// repairs an index open makes on a writable file; `writes` gives a command
// that makes files the engine's usual modes after the table is open.
void OpenLikeTheReader(const std::string& table, bool writes = false) {
  vz::Settings.ForcedFileMode = vz::platform::kModeRead;
  vz::IndexSet.ReadOnlyUse = !writes;
  vz::Settings.FixRecCount = true;
  vz::Settings.AnsiTables = false;
  vz::Settings.HideDeleted = true;
  vz::Select(1);
  vz::USE(table);
  vz::Settings.FixRecCount = false;
  if (writes) vz::Settings.ForcedFileMode = -1;
}

int UsageError(const Command& c) {
  std::fputs(c.usage, stderr);
  return kUsageError;
}

int RunInfo(const std::vector<std::string>& args) {
  if (args.size() != 1) return -1;
  OpenLikeTheReader(args[0]);
  vz::WorkArea& a = *vz::CurrentTable();
  std::printf("version 0x%02x\n", a.Header[0]);
  std::printf("records %lld\n", static_cast<long long>(vz::RecCount()));
  std::printf("header_length %u\n", a.HeaderLen);
  std::printf("record_length %u\n", a.RecordLen);
  std::printf("memo %s\n", a.Memo ? "yes" : "no");
  for (const vz::FieldDesc& f : a.Fields)
    std::printf("field %s %c %u %u\n", Shown(f.Name).c_str(), f.Type, f.Len, f.Dec);
  vz::CloseAll();
  return 0;
}

// Splits flags (--all) from the other arguments.
struct Args {
  std::vector<std::string> words;
  std::vector<std::string> flags;
  bool Has(const char* flag) const {
    for (const auto& f : flags)
      if (f == flag) return true;
    return false;
  }
};

Args SplitArgs(const std::vector<std::string>& args, std::string* index = nullptr) {
  Args out;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (index && a == "--index" && i + 1 < args.size()) {
      *index = args[++i];
      continue;
    }
    (a.rfind("--", 0) == 0 ? out.flags : out.words).push_back(a);
  }
  return out;
}

bool OnlyFlags(const Args& a, std::initializer_list<const char*> allowed) {
  for (const std::string& f : a.flags) {
    bool ok = false;
    for (const char* x : allowed) ok = ok || f == x;
    if (!ok) return false;
  }
  return true;
}

// Writes bytes with every byte below 0x20 or above 0x7E as \xNN and the
// backslash doubled.
std::string RawEscape(std::string_view bytes) {
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c < 0x20 || c > 0x7E) {
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string TrimBlanksRight(std::string_view s) {
  std::size_t e = s.size();
  while (e > 0 && s[e - 1] == ' ') --e;
  return std::string(s.substr(0, e));
}

// One field of the current record as `list` shows it. `bytes` are the
// field's stored bytes: converted to ANSI (decoded) or as in the file (raw).
std::string ListValue(const vz::FieldDesc& f, std::string_view bytes, bool raw) {
  std::string v;
  switch (f.Type) {
    case 'C':
      v = TrimBlanksRight(bytes);
      break;
    case 'N':
    case 'F':
      v = vz::Trim(bytes);
      break;
    case 'M': {
      const std::string t = vz::Trim(bytes);
      long long n = 0;
      bool digits = !t.empty();
      std::size_t i = (!t.empty() && t[0] == '-') ? 1 : 0;
      for (; i < t.size(); ++i) digits = digits && t[i] >= '0' && t[i] <= '9';
      if (digits && t.size() < 19) n = std::stoll(t);
      return std::to_string(n < 0 ? -n : n);
    }
    default:
      v = std::string(bytes);
      break;
  }
  return raw ? RawEscape(v) : Escape(vz::platform::AnsiToUtf8(v));
}

// Opens an index as the controlling order; engine errors end the program.
void OpenIndexLikeTheReader(const std::string& ndx) {
  vz::SetIndexTo(ndx);
  vz::DispatchPending();
}

int RunList(const std::vector<std::string>& argv) {
  std::string ndx;
  const Args a = SplitArgs(argv, &ndx);
  if (a.words.size() != 1 || !OnlyFlags(a, {"--all", "--raw"})) return -1;
  const bool all = a.Has("--all"), raw = a.Has("--raw");
  OpenLikeTheReader(a.words[0]);
  vz::Settings.HideDeleted = !all;
  if (!ndx.empty()) OpenIndexLikeTheReader(ndx);
  vz::WorkArea& w = *vz::CurrentTable();
  std::string line;
  for (vz::GoTop(); !vz::dEOF(); vz::SKIP(1)) {
    line = std::to_string(w.RecNo);
    line += '\t';
    line += w.RawRec[0] == '*' ? '*' : '-';
    for (int i = 1; i <= w.FieldCount; ++i) {
      const vz::FieldDesc& f = w.Fields[i - 1];
      line += '\t';
      if (raw) {
        line += ListValue(f, vz::PeekView(w, i, w.RecNo), true);
      } else {
        line += ListValue(f, std::string_view(reinterpret_cast<const char*>(w.RawRec.data()) + f.Offset, f.Len), false);
      }
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
  }
  vz::CloseAll();
  return 0;
}

int RunMemo(const std::vector<std::string>& argv) {
  const Args a = SplitArgs(argv);
  if (a.words.size() < 2 || a.words.size() > 3 || !OnlyFlags(a, {"--raw"})) return -1;
  const bool raw = a.Has("--raw");
  long long recno = 0;
  try {
    std::size_t used = 0;
    recno = std::stoll(a.words[1], &used);
    if (used != a.words[1].size()) return -1;
  } catch (...) {
    return -1;
  }
  OpenLikeTheReader(a.words[0]);
  vz::Settings.HideDeleted = false;
  vz::WorkArea& w = *vz::CurrentTable();
  int field = 0;
  if (a.words.size() == 3) {
    field = vz::FieldNo(a.words[2]);
    if (field == 0 || w.Fields[field - 1].Type != 'M') {
      std::fprintf(stderr, "vorza-dbf memo: %s is not a memo field of %s\n", a.words[2].c_str(),
                   a.words[0].c_str());
      return 65;
    }
  } else {
    for (int i = 1; i <= w.FieldCount && field == 0; ++i)
      if (w.Fields[i - 1].Type == 'M') field = i;
    if (field == 0) {
      std::fprintf(stderr, "vorza-dbf memo: %s has no memo field\n", a.words[0].c_str());
      return 65;
    }
  }
  vz::GO(recno);
  const std::int32_t block = vz::NativeInt(vz::FieldAddress(field));
  const std::string text = vz::ReadMemoText(block, !raw && w.Oem);
  const std::string out = raw ? text : vz::platform::AnsiToUtf8(text);
  std::fwrite(out.data(), 1, out.size(), stdout);
  vz::CloseAll();
  return 0;
}

int RunLocate(const std::vector<std::string>& argv) {
  if (argv.size() != 3) return -1;
  OpenLikeTheReader(argv[0]);
  // The search box types ANSI; the command line brings UTF-8.
  const bool found = vz::Locate(vz::platform::Utf8ToAnsi(argv[1]), vz::platform::Utf8ToAnsi(argv[2]));
  std::printf("%lld\n", found ? static_cast<long long>(vz::RecNo()) : 0LL);
  vz::CloseAll();
  return 0;
}

int RunEval(const std::vector<std::string>& argv) {
  if (argv.size() != 3) return -1;
  long long recno = 0;
  try {
    std::size_t used = 0;
    recno = std::stoll(argv[1], &used);
    if (used != argv[1].size()) return -1;
  } catch (...) {
    return -1;
  }
  OpenLikeTheReader(argv[0]);
  vz::Settings.HideDeleted = false;
  vz::GO(recno);
  vz::CompiledExpr* e = vz::AssignExpr(vz::platform::Utf8ToAnsi(argv[2]));
  const vz::ExprValue v = e->Evaluate();
  std::string out(1, e->ResultType());
  out += '\t';
  switch (v.type) {
    case vz::expr::kTypeC:
    case vz::expr::kTypeM:
      out += Escape(vz::platform::AnsiToUtf8(std::string(v.text)));
      break;
    case vz::expr::kTypeN: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.15g", v.number);
      out += buf;
      break;
    }
    case vz::expr::kTypeD: {
      if (v.number == 0) {
        out += "        ";
      } else {
        int y, m, d;
        vz::CalendarDate(static_cast<std::int64_t>(v.number), y, m, d);
        char buf[32];
        std::snprintf(buf, sizeof buf, "%04d%02d%02d", y, m, d);
        out += buf;
      }
      break;
    }
    default:
      out += v.logical ? "T" : "F";
      break;
  }
  out += '\n';
  std::fwrite(out.data(), 1, out.size(), stdout);
  vz::ReleaseExpr(e);
  vz::CloseAll();
  return 0;
}

int RunIndex(const std::vector<std::string>& argv) {
  const Args a = SplitArgs(argv);
  if (a.words.size() != 3 || !OnlyFlags(a, {"--unique", "--progress"})) return -1;
  OpenLikeTheReader(a.words[0], true);
  if (a.Has("--progress")) {
    static int done = 0;
    vz::Progress.Steps = 100;
    vz::Progress.Step = [] { std::fprintf(stderr, "%d%%\n", ++done); };
  }
  vz::BuildOptions options;
  options.Expression = vz::platform::Utf8ToAnsi(a.words[1]);
  options.Unique = a.Has("--unique");
  vz::MakeIndex(a.words[2], options);
  vz::CloseAll();
  return 0;
}

int RunFind(const std::vector<std::string>& argv) {
  const Args a = SplitArgs(argv);
  if (a.words.size() != 3 || !OnlyFlags(a, {"--exact"})) return -1;
  OpenLikeTheReader(a.words[0]);
  OpenIndexLikeTheReader(a.words[1]);
  vz::IndexSet.ExactFind = a.Has("--exact");
  const bool found = vz::Find(vz::platform::Utf8ToAnsi(a.words[2]));
  std::printf("%lld\n", found ? static_cast<long long>(vz::RecNo()) : 0LL);
  vz::CloseAll();
  return 0;
}

int RunNdxInfo(const std::vector<std::string>& argv) {
  if (argv.size() != 1) return -1;
  const vz::IndexInfoRecord r = vz::IndexInfo(argv[0]);
  std::string out = "expression " + Shown(r.Expression) + "\n";
  out += "key_length " + std::to_string(r.KeyLength) + "\n";
  out += std::string("key_type ") + r.KeyType + "\n";
  out += std::string("unique ") + (r.Unique ? "1" : "0") + "\n";
  out += "table " + Shown(r.Table) + "\n";
  out += "records " + std::to_string(r.Records) + "\n";
  std::fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}

// One entry of an import source.
struct SourceEntry {
  std::string name;
  std::string text;
  bool deleted = false;
  int line = 0;
};

// Reads an import source (see the usage of `import`). Returns false with a
// message on a malformed source.
bool ReadSource(const std::string& path, std::vector<SourceEntry>& entries, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read " + path;
    return false;
  }
  std::string line;
  int number = 0;
  std::vector<std::string> lines;
  auto finish = [&] {
    if (entries.empty()) return;
    while (!lines.empty() && vz::Trim(lines.back()).empty()) lines.pop_back();
    std::size_t first = 0;
    while (first < lines.size() && vz::Trim(lines[first]).empty()) ++first;
    std::string text;
    for (std::size_t i = first; i < lines.size(); ++i) {
      if (i > first) text += "\r\n";
      text += lines[i];
    }
    entries.back().text = text;
    lines.clear();
  };
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (number == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
    if (line.rfind("@@", 0) == 0) {
      finish();
      SourceEntry e;
      e.line = number;
      std::string rest = line.substr(2);
      if (!rest.empty() && rest[0] == '*') {
        e.deleted = true;
        rest.erase(0, 1);
      }
      e.name = vz::Trim(rest);
      if (e.name.empty()) {
        error = path + ":" + std::to_string(number) + ": an entry without a name";
        return false;
      }
      const std::string ansi = vz::platform::Utf8ToAnsi(e.name);
      if (ansi.size() > 35) {
        error = path + ":" + std::to_string(number) + ": the name is longer than 35 characters";
        return false;
      }
      entries.push_back(e);
      continue;
    }
    if (entries.empty()) {
      if (vz::Trim(line).empty() || line[0] == '#') continue;
      error = path + ":" + std::to_string(number) + ": text before the first @@ entry";
      return false;
    }
    lines.push_back(line);
  }
  finish();
  return true;
}

int RunImport(const std::vector<std::string>& argv) {
  if (argv.size() != 2) return -1;
  std::vector<SourceEntry> entries;
  std::string error;
  if (!ReadSource(argv[1], entries, error)) {
    std::fprintf(stderr, "vorza-dbf import: %s\n", error.c_str());
    return 65;
  }
  if (!vz::CreateDBF(argv[0], {{"cheatname", 'C', 35, 0}, {"cheatmemo", 'M', 10, 0}})) return 1;
  vz::Settings.AnsiTables = false;
  vz::Select(1);
  vz::USE(argv[0] + " exclusive");
  const int nameField = vz::FieldNo("cheatname");
  const int memoField = vz::FieldNo("cheatmemo");
  for (const SourceEntry& e : entries) {
    vz::ClearRecord();
    const std::string name = vz::platform::Utf8ToAnsi(e.name);
    std::uint8_t* slot = vz::FieldAddress(nameField);
    std::memset(slot + 1, ' ', slot[0]);
    std::memcpy(slot + 1, name.data(), name.size());
    const std::string text = vz::platform::Utf8ToAnsi(e.text);
    const std::int64_t block = text.empty() ? 0 : vz::WriteMemoText(text, true);
    vz::SetNativeInt(vz::FieldAddress(memoField), static_cast<std::int32_t>(block));
    vz::Append();
    if (e.deleted) vz::DeleteRec();
  }
  vz::CloseAll();
  return 0;
}

const Command kCommands[] = {
    {"info", "usage: vorza-dbf info TABLE\n"
             "  Prints the header (version, records, header_length, record_length, memo)\n"
             "  and one line 'field NAME TYPE LENGTH DECIMALS' per field.\n",
     RunInfo},
    {"list", "usage: vorza-dbf list TABLE [--index NDX] [--all] [--raw]\n"
             "  One line per record in record-number order (or in the order of NDX):\n"
             "  RECNO, a tab, * for a deleted\n"
             "  record or - , then a tab and the value of each field. Deleted records are\n"
             "  left out unless --all. --raw writes the bytes as stored (\\xNN escapes).\n",
     RunList},
    {"memo", "usage: vorza-dbf memo TABLE RECNO [FIELD] [--raw]\n"
             "  The memo text of record RECNO (the first memo field unless FIELD).\n"
             "  --raw writes the bytes exactly as stored.\n",
     RunMemo},
    {"locate", "usage: vorza-dbf locate TABLE FIELD VALUE\n"
               "  The first record, in record-number order, whose FIELD begins with VALUE\n"
               "  (letter case not counting; FIELD may carry the words NOCASE, EXACT and\n"
               "  CONTAINED). Prints its record number, or 0.\n",
     RunLocate},
    {"eval", "usage: vorza-dbf eval TABLE RECNO EXPR\n"
             "  Evaluates the key expression EXPR on record RECNO and prints its type\n"
             "  letter (C, N, D, L), a tab and its value.\n",
     RunEval},
    {"index", "usage: vorza-dbf index TABLE EXPR NDX [--unique] [--progress]\n"
              "  Builds the index NDX of TABLE on the key expression EXPR (placed in the\n"
              "  table's folder when NDX names no folder). Prints nothing on success;\n"
              "  --progress writes the build's progress to standard error.\n",
     RunIndex},
    {"find", "usage: vorza-dbf find TABLE NDX KEY [--exact]\n"
             "  Searches NDX for KEY (a prefix of the key, or the whole key with --exact)\n"
             "  and prints the record number found, or 0.\n",
     RunFind},
    {"ndxinfo", "usage: vorza-dbf ndxinfo NDX\n"
                "  Prints the anchor of NDX: expression, key_length, key_type, unique,\n"
                "  table and records (-1 and no table when the record-count check fails).\n",
     RunNdxInfo},
    {"import", "usage: vorza-dbf import TABLE SOURCE\n"
               "  Creates TABLE (.dbf and .dbt) with the fields cheatname (C 35) and\n"
               "  cheatmemo (M 10) from SOURCE, a UTF-8 text:\n"
               "    # comment lines, only before the first entry\n"
               "    @@ Name of a cheat (at most 35 characters)\n"
               "    The cheat's text, any number of lines.\n"
               "    @@* Name of a cheat stored as a deleted record\n"
               "    Its text.\n"
               "  Leading and trailing blank lines of a text are dropped; its lines are\n"
               "  joined with CR LF. Text is stored in the OEM code page.\n",
     RunImport},
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    std::fputs(kUsage, stderr);
    return kUsageError;
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  vz::InitEngine();
  for (const Command& c : kCommands) {
    if (args[0] != c.name) continue;
    std::vector<std::string> rest(args.begin() + 1, args.end());
    for (const std::string& a : rest) {
      if (a == "--help" || a == "-h") {
        std::fputs(c.usage, stdout);
        return 0;
      }
    }
    const int rc = c.run(rest);
    if (rc < 0) return UsageError(c);
    std::fflush(stdout);
    return rc;
  }
  std::fprintf(stderr, "vorza-dbf: unknown command '%s'\n\n", args[0].c_str());
  std::fputs(kUsage, stderr);
  return kUsageError;
}
