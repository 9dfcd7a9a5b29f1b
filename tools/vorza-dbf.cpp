// vorza-dbf: the command-line tool over the storage and index engines.
//
// Tables are opened as the reader opens them (shared, read-only, OEM text,
// record count taken from the file size) except where a command writes.
// Output is UTF-8, one item a line. An engine error ends the command with the
// engine's message on standard error and its code as exit status; wrong
// usage prints the usage and exits with 64.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/dbf.h"
#include "engine/dbt_file.h"
#include "engine/dbf_file.h"
#include "engine/trim.h"
#include "engine/dates.h"
#include "engine/text_search.h"
#include "engine/errors.h"
#include "index/TZNDX.h"
#include "index/tzparser.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/hooks.h"
#include "tools/export.h"
#include "tools/import.h"

namespace {

constexpr int kUsageError = 64;

// The help texts are also the source of the manual page (man_page.cpp
// turns them into troff at build time): a "usage:" line or lines, text,
// headings ending in a colon at the start of a line, and items of two
// blanks, a term, two or more blanks and its description. A command's own
// help is its usage line, then text and options indented by two blanks;
// lines indented further after a text line are kept as they stand.
const char* const kUsage =
    "usage: vorza-dbf [--codepage N] COMMAND [ARGUMENTS]\n"
    "       vorza-dbf COMMAND --help | --help | --version\n"
    "Reads and writes dBase tables and NDX indexes.\n"
    "A table is a .dbf file with its .dbt memo file; a cheat catalogue is one\n"
    "such table per games machine (pc, n64, psx and dream), with the fields\n"
    "cheatname and cheatmemo. Tables are opened as the reader opens them\n"
    "(shared, read-only, text in the OEM code page) except where a command\n"
    "writes. Output is UTF-8 text, one item a line.\n"
    "\n"
    "Commands:\n"
    "  info TABLE                  the header and the fields of a table\n"
    "  list TABLE [--index NDX] [--all] [--raw]\n"
    "                              one line per record\n"
    "  grep TABLE TEXT [--index NDX] [--names]\n"
    "                              the records whose text holds TEXT\n"
    "  memo TABLE RECNO [FIELD] [--raw]\n"
    "                              the memo text of a record\n"
    "  locate TABLE FIELD VALUE    the record the search box's scan finds (0: none)\n"
    "  eval TABLE RECNO EXPR       a key expression evaluated on a record\n"
    "  index TABLE EXPR NDX [--unique] [--progress]\n"
    "                              builds an index\n"
    "  find TABLE NDX KEY [--exact]\n"
    "                              the record an index search finds (0: none)\n"
    "  ndxinfo NDX                 the anchor of an index\n"
    "  export TABLE [--format csv|jsonl] [--index NDX] [--all]\n"
    "                              writes a table as CSV or JSON Lines\n"
    "  import TABLE SOURCE [--format text|csv|jsonl] [--progress]\n"
    "                              makes a cheat table from a text, CSV or JSON Lines file\n"
    "  append TABLE FIELD=VALUE... [--index NDX]...\n"
    "                              appends a record, keeping the indexes in step\n"
    "  replace TABLE RECNO FIELD=VALUE... [--index NDX]...\n"
    "                              changes fields of a record\n"
    "  delete TABLE RECNO [--index NDX]...\n"
    "                              marks a record deleted\n"
    "  recall TABLE RECNO [--index NDX]...\n"
    "                              marks a deleted record live again\n"
    "  pack TABLE [--index NDX]...  removes the deleted records, rebuilds the indexes\n"
    "\n"
    "Options (before or after the command):\n"
    "  --codepage N                the OEM code page of the tables' text: 437, 850\n"
    "                              or 866 (866 goes with windows-1251 text)\n"
    "  --help                      prints this text, or after a command its usage\n"
    "  --version                   prints the version\n"
    "\n"
    "Environment:\n"
    "  VORZA_OEM_CODEPAGE          the code page when --codepage is not given\n"
    "  LC_ALL, LC_CTYPE, LANG      without either: 866 under a Russian, Ukrainian or\n"
    "                              Belarusian locale, else 437; the locale also sets\n"
    "                              the date format and the names of days and months\n"
    "\n"
    "Exit status:\n"
    "  0                           done\n"
    "  64                          wrong usage (the usage is printed)\n"
    "  65                          a source, field, value or record number that cannot\n"
    "                              be used; nothing was written\n"
    "  other                       an engine error's code (cut to 8 bits), after its\n"
    "                              message: Error # CODE (text) and the detail\n"
    "\n"
    "Cheat catalogues:\n"
    "  The reader opens the catalogue in ~/.local/share/vorza (or\n"
    "  $XDG_DATA_HOME/vorza) when it holds a table, else the sample installed\n"
    "  with it. Start your own with import, for example\n"
    "    mkdir -p ~/.local/share/vorza\n"
    "    vorza-dbf import ~/.local/share/vorza/pc.dbf my-pc-cheats.txt\n";

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
  vz::EngineSettings& settings = vz::Engine().Settings;
  vz::IndexEngine().Settings.ReadOnlyUse = !writes;
  settings.AnsiTables = false;
  settings.HideDeleted = true;
  if (!writes) settings.ForcedFileMode = vz::platform::kModeRead;  // for the whole command
  // The table itself is always opened read-only, its record count repaired.
  vz::ScopedSetting<int> readOnly(settings.ForcedFileMode, vz::platform::kModeRead);
  vz::ScopedSetting<bool> fix(settings.FixRecCount, true);
  vz::Select(1);
  vz::USE(table);
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

// Writes the current record as a line of `list`.
void WriteListLine(vz::WorkArea& w, bool raw, std::string& line) {
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

int RunList(const std::vector<std::string>& argv) {
  std::string ndx;
  const Args a = SplitArgs(argv, &ndx);
  if (a.words.size() != 1 || !OnlyFlags(a, {"--all", "--raw"})) return -1;
  const bool all = a.Has("--all"), raw = a.Has("--raw");
  OpenLikeTheReader(a.words[0]);
  vz::Engine().Settings.HideDeleted = !all;
  if (!ndx.empty()) OpenIndexLikeTheReader(ndx);
  vz::WorkArea& w = *vz::CurrentTable();
  std::string line;
  for (vz::GoTop(); !vz::dEOF(); vz::SKIP(1)) WriteListLine(w, raw, line);
  vz::CloseAll();
  return 0;
}

int RunGrep(const std::vector<std::string>& argv) {
  std::string ndx;
  const Args a = SplitArgs(argv, &ndx);
  if (a.words.size() != 2 || a.words[1].empty() || !OnlyFlags(a, {"--names"})) return -1;
  const bool names = a.Has("--names");
  OpenLikeTheReader(a.words[0]);
  if (!ndx.empty()) OpenIndexLikeTheReader(ndx);
  vz::WorkArea& w = *vz::CurrentTable();
  // The command line brings UTF-8; the finder compares ANSI letters.
  const std::vector<vz::TextFinder> finders{
      vz::TextFinder::Folded(vz::platform::Utf8ToAnsi(a.words[1]), w.Oem)};
  std::string line;
  for (vz::GoTop(); !vz::dEOF(); vz::SKIP(1))
    if (vz::RecordHoldsText(w, finders, names)) WriteListLine(w, false, line);
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
  vz::Engine().Settings.HideDeleted = false;
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
  vz::Engine().Settings.HideDeleted = false;
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
    case vz::expr::kTypeD:
      // As DTOS gives it: dates past the calendar's ends are its first or
      // last day, never a number cast out of range.
      out += vz::DateToStored(v.number);
      break;
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
    vz::IndexEngine().Progress.Steps = 100;
    vz::IndexEngine().Progress.Step = [] { std::fprintf(stderr, "%d%%\n", ++done); };
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
  vz::IndexEngine().Settings.ExactFind = a.Has("--exact");
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
using SourceEntry = vz::tool::CheatEntry;

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
  std::vector<std::string> words;
  std::optional<vz::tool::SourceFormat> format;
  bool progress = false;
  for (std::size_t i = 0; i < argv.size(); ++i) {
    if (argv[i] == "--format" && i + 1 < argv.size()) {
      format = vz::tool::SourceFormatNamed(argv[++i]);
      if (!format) return -1;
    } else if (argv[i] == "--progress") {
      progress = true;
    } else if (argv[i].rfind("--", 0) == 0) {
      return -1;
    } else {
      words.push_back(argv[i]);
    }
  }
  if (words.size() != 2) return -1;
  const std::string& source = words[1];
  std::vector<SourceEntry> entries;
  std::string error;
  bool read = false;
  switch (format.value_or(vz::tool::SourceFormatOf(source))) {
    case vz::tool::SourceFormat::kText: read = ReadSource(source, entries, error); break;
    case vz::tool::SourceFormat::kCsv: read = vz::tool::ReadCsvSource(source, entries, error); break;
    case vz::tool::SourceFormat::kJsonLines:
      read = vz::tool::ReadJsonLinesSource(source, entries, error);
      break;
  }
  if (!read) {
    std::fprintf(stderr, "vorza-dbf import: %s\n", error.c_str());
    return 65;
  }
  std::function<void(int)> report;
  if (progress) report = [](int percent) { std::fprintf(stderr, "%d%%\n", percent); };
  return vz::tool::WriteCheatTable(words[0], entries, report);
}

int RunExport(const std::vector<std::string>& argv) {
  std::string ndx;
  std::optional<vz::tool::ExportFormat> format = vz::tool::ExportFormat::kCsv;
  std::vector<std::string> rest;
  for (std::size_t i = 0; i < argv.size(); ++i) {
    if (argv[i] == "--format" && i + 1 < argv.size()) {
      format = vz::tool::ExportFormatNamed(argv[++i]);
      if (!format) return -1;
    } else {
      rest.push_back(argv[i]);
    }
  }
  const Args a = SplitArgs(rest, &ndx);
  if (a.words.size() != 1 || !OnlyFlags(a, {"--all"})) return -1;
  const bool all = a.Has("--all");
  OpenLikeTheReader(a.words[0]);
  vz::Engine().Settings.HideDeleted = !all;
  if (!ndx.empty()) OpenIndexLikeTheReader(ndx);
  vz::tool::ExportCurrentTable(*format, all, stdout);
  vz::CloseAll();
  return 0;
}

// --- Writing commands ----------------------------------------------------------------------
//
// They go through the engine's write paths as a catalogue editor would: the
// table opened shared (pack: exclusively), the table lock around an append,
// the record lock around a change, every named index open so the engine
// keeps it in step, memo texts written to the memo file. Everything given
// on the command line is checked before anything is written.

constexpr int kDataError = 65;

// A bad field, value or record number: a message, nothing written.
struct DataError {
  std::string message;
};

// The arguments of a writing command: words, and the --index files.
struct WriteArgs {
  std::vector<std::string> words;
  std::vector<std::string> indexes;
};

bool SplitWriteArgs(const std::vector<std::string>& args, WriteArgs& out) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--index") {
      if (i + 1 >= args.size()) return false;
      out.indexes.push_back(args[++i]);
    } else if (args[i].rfind("--", 0) == 0) {
      return false;
    } else {
      out.words.push_back(args[i]);
    }
  }
  return true;
}

// Opens a table for writing in work area 1: OEM text, deleted records
// reachable, dates kept with their century between the record and the
// engine's display form.
void OpenForWriting(const std::string& table, bool exclusive) {
  vz::EngineSettings& settings = vz::Engine().Settings;
  settings.AnsiTables = false;
  settings.HideDeleted = false;
  vz::SetCentury(true);
  vz::ScopedSetting<bool> fix(settings.FixRecCount, true);
  vz::Select(1);
  vz::USE(table + (exclusive ? " EXCLUSIVE" : ""));
}

// Opens the named indexes as orders 1, 2, ...; engine errors end the program.
void OpenIndexesForWriting(const std::vector<std::string>& indexes) {
  int order = 0;
  for (const std::string& ndx : indexes) {
    vz::SetIndexTo(ndx, nullptr, ++order);
    vz::DispatchPending();
  }
  if (order > 0) {
    vz::Set_Order_To(1);
    vz::DispatchPending();
  }
}

std::int64_t RecordNumberOf(const std::string& text) {
  std::size_t used = 0;
  long long n = 0;
  try {
    n = std::stoll(text, &used);
  } catch (...) {
    used = 0;
  }
  if (used == 0 || used != text.size()) throw DataError{"not a record number: " + text};
  vz::WorkArea& w = *vz::CurrentTable();
  vz::RefreshRecCount(w);
  if (n < 1 || n > w.RecCount)
    throw DataError{"record " + text + " is not in " + w.FileName + " (" +
                    std::to_string(w.RecCount) + " records)"};
  return n;
}

// One FIELD=VALUE, checked against its field and ready to be stored.
struct Assignment {
  int field = 0;  // 1-based
  char type = 'C';
  // C: ANSI, cut; D: YYYYMMDD or blanks; L: T, F or ?; M: the memo's bytes.
  std::string text;
  // M: a text to convert to the table's code page (not the bytes of a file).
  bool convertMemo = true;
  double number = 0;  // N, F
};

// A decimal number: an optional sign, digits, an optional point and digits.
bool ParseDecimal(const std::string& text, double& out) {
  const std::string t = vz::Trim(text);
  std::size_t i = (!t.empty() && (t[0] == '-' || t[0] == '+')) ? 1 : 0;
  bool digits = false, point = false;
  for (; i < t.size(); ++i) {
    if (t[i] >= '0' && t[i] <= '9')
      digits = true;
    else if (t[i] == '.' && !point)
      point = true;
    else
      return false;
  }
  if (!digits) return false;
  out = std::strtod(t.c_str(), nullptr);
  return std::isfinite(out);
}

Assignment CheckAssignment(const std::string& word) {
  const std::size_t eq = word.find('=');
  if (eq == std::string::npos || eq == 0) throw DataError{"not FIELD=VALUE: " + word};
  const std::string name = word.substr(0, eq);
  const std::string value = word.substr(eq + 1);
  vz::WorkArea& w = *vz::CurrentTable();
  Assignment a;
  a.field = name.size() <= 10 ? vz::FieldNo(name) : 0;
  if (a.field == 0) throw DataError{"no field " + name + " in " + w.FileName};
  const vz::FieldDesc& f = w.Fields[static_cast<std::size_t>(a.field - 1)];
  a.type = f.Type;
  const auto bad = [&](const std::string& why) { return DataError{"field " + name + ": " + why}; };
  switch (f.Type) {
    case 'C': a.text = vz::platform::Utf8ToAnsi(value).substr(0, f.Len); break;
    case 'N':
    case 'F': {
      if (!ParseDecimal(value, a.number)) throw bad("not a decimal number: " + value);
      // The text the engine stores must fit the field.
      std::string shown;
      if (f.Dec > 0) {
        std::uint8_t real[6];
        if (!vz::DoubleToReal48(a.number, real)) throw bad("the number is too large: " + value);
        char buffer[400];
        std::snprintf(buffer, sizeof buffer, "%.*f", static_cast<int>(f.Dec),
                      vz::Real48ToDouble(real));
        shown = buffer;
      } else {
        const double whole = std::trunc(a.number);
        if (whole > 2147483647.0 || whole < -2147483648.0)
          throw bad("the number is too large: " + value);
        shown = std::to_string(static_cast<long long>(whole));
      }
      if (shown.size() > f.Len)
        throw bad(value + " does not fit " + std::to_string(f.Len) + " characters");
      break;
    }
    case 'D':
      if (value.empty()) {
        a.text.assign(8, ' ');
      } else if (value.size() != 8 || vz::JulianOfStored(value) == 0 ||
                 value.compare(0, 4, "0000") == 0) {
        throw bad("not a date YYYYMMDD: " + value);
      } else {
        a.text = value;
      }
      break;
    case 'L':
      if (value != "T" && value != "F" && value != "?") throw bad("not T, F or ?: " + value);
      a.text = value;
      break;
    case 'M':
      if (!w.Memo) throw bad(w.FileName + " has no memo file");
      if (!value.empty() && value[0] == '@') {
        std::ifstream in(value.substr(1), std::ios::binary);
        if (!in) throw bad("cannot read " + value.substr(1));
        a.text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad()) throw bad("cannot read " + value.substr(1));
        a.convertMemo = false;
      } else {
        a.text = vz::platform::Utf8ToAnsi(value);
      }
      break;
    default: throw bad(std::string("fields of type ") + f.Type + " cannot be written");
  }
  return a;
}

// A logical field's character, written as given after the record: the
// native form knows true and false only, and keeps a stored "?" that reads
// as false.
struct Logical {
  int field;
  std::string value;
};

// Stores checked values in the current record's native form (memo texts
// are written to the memo file here). Returns the logical fields.
std::vector<Logical> Assign(const std::vector<Assignment>& values) {
  vz::WorkArea& w = *vz::CurrentTable();
  std::vector<Logical> logicals;
  for (const Assignment& a : values) {
    const vz::FieldDesc& f = w.Fields[static_cast<std::size_t>(a.field - 1)];
    std::uint8_t* slot = vz::FieldAddress(a.field);
    switch (a.type) {
      case 'C':
        slot[0] = f.Len;
        std::memset(slot + 1, ' ', f.Len);
        std::memcpy(slot + 1, a.text.data(), a.text.size());
        break;
      case 'N':
      case 'F':
        if (f.Dec > 0)
          vz::DoubleToReal48(a.number, slot);
        else
          vz::SetNativeInt(slot, static_cast<std::int32_t>(std::trunc(a.number)));
        break;
      case 'D': {
        const std::string shown = vz::StoredToDisplay(a.text.c_str());
        slot[0] = static_cast<std::uint8_t>(shown.size());
        std::memset(slot + 1, ' ', 10);
        std::memcpy(slot + 1, shown.data(), std::min<std::size_t>(shown.size(), 10));
        break;
      }
      case 'L':
        slot[0] = a.text == "T";
        logicals.push_back({a.field, a.text});
        break;
      case 'M': {
        const std::int64_t block = a.text.empty() ? 0 : vz::WriteMemoText(a.text, a.convertMemo);
        vz::DispatchPending();
        vz::SetNativeInt(slot, static_cast<std::int32_t>(block));
        break;
      }
      default: break;
    }
  }
  return logicals;
}

// Takes a lock, waiting up to ten seconds while another program holds it.
bool WaitForLock(const std::function<bool()>& take) {
  for (int attempt = 0; attempt < 1000; ++attempt) {
    if (take()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

void LockOrEnd(const std::function<bool()>& take, const std::string& what) {
  if (!WaitForLock(take))
    vz::SetError(33,
                 what + " of " + vz::CurrentTable()->FileName + " stays locked by another program");
}

int DataFailure(const char* command, const DataError& e) {
  std::fprintf(stderr, "vorza-dbf %s: %s\n", command, e.message.c_str());
  vz::CloseAll();
  return kDataError;
}

int RunAppend(const std::vector<std::string>& argv) {
  WriteArgs a;
  if (!SplitWriteArgs(argv, a) || a.words.size() < 2) return -1;
  OpenForWriting(a.words[0], false);
  std::vector<Assignment> values;
  try {
    for (std::size_t i = 1; i < a.words.size(); ++i) values.push_back(CheckAssignment(a.words[i]));
  } catch (const DataError& e) {
    return DataFailure("append", e);
  }
  OpenIndexesForWriting(a.indexes);
  LockOrEnd([] { return vz::ALock(); }, "The table");
  // A new record starts blank, stored bytes included: fields not named are
  // written as blanks.
  vz::WorkArea& w = *vz::CurrentTable();
  std::fill(w.RawRec.begin(), w.RawRec.end(), static_cast<std::uint8_t>(' '));
  vz::ClearRecord();
  const std::vector<Logical> logicals = Assign(values);
  vz::Append();
  const std::int64_t recno = vz::RecNo();
  for (const Logical& l : logicals) vz::Poke(l.field, recno, l.value);
  vz::Unlock();
  std::printf("%lld\n", static_cast<long long>(recno));
  vz::CloseAll();
  return 0;
}

int RunReplace(const std::vector<std::string>& argv) {
  WriteArgs a;
  if (!SplitWriteArgs(argv, a) || a.words.size() < 3) return -1;
  OpenForWriting(a.words[0], false);
  std::int64_t recno = 0;
  std::vector<Assignment> values;
  try {
    recno = RecordNumberOf(a.words[1]);
    for (std::size_t i = 2; i < a.words.size(); ++i) values.push_back(CheckAssignment(a.words[i]));
  } catch (const DataError& e) {
    return DataFailure("replace", e);
  }
  OpenIndexesForWriting(a.indexes);
  LockOrEnd([recno] { return vz::RLock(recno); }, "Record " + std::to_string(recno));
  vz::GO(recno);
  const std::vector<Logical> logicals = Assign(values);
  vz::Replace();
  for (const Logical& l : logicals) vz::Poke(l.field, recno, l.value);
  vz::Unlock();
  vz::CloseAll();
  return 0;
}

int RunMark(const std::vector<std::string>& argv, bool deleted) {
  WriteArgs a;
  if (!SplitWriteArgs(argv, a) || a.words.size() != 2) return -1;
  OpenForWriting(a.words[0], false);
  std::int64_t recno = 0;
  try {
    recno = RecordNumberOf(a.words[1]);
  } catch (const DataError& e) {
    return DataFailure(deleted ? "delete" : "recall", e);
  }
  OpenIndexesForWriting(a.indexes);
  LockOrEnd([recno] { return vz::RLock(recno); }, "Record " + std::to_string(recno));
  vz::GO(recno);
  if (deleted)
    vz::DeleteRec();
  else
    vz::RecallRec();
  vz::Unlock();
  vz::CloseAll();
  return 0;
}

int RunDelete(const std::vector<std::string>& argv) {
  return RunMark(argv, true);
}
int RunRecall(const std::vector<std::string>& argv) {
  return RunMark(argv, false);
}

int RunPack(const std::vector<std::string>& argv) {
  WriteArgs a;
  if (!SplitWriteArgs(argv, a) || a.words.size() != 1) return -1;
  OpenForWriting(a.words[0], true);
  OpenIndexesForWriting(a.indexes);
  vz::PACK();
  vz::CloseAll();
  return 0;
}

const Command kCommands[] = {
    {"info", "usage: vorza-dbf info TABLE\n"
             "  Prints the header (version, records, header_length, record_length, memo)\n"
             "  and one line 'field NAME TYPE LENGTH DECIMALS' per field.\n",
     RunInfo},
    {"list", "usage: vorza-dbf list TABLE [--index NDX] [--all] [--raw]\n"
             "  One line per record in record-number order: RECNO, a tab, * for a\n"
             "  deleted record or - , then a tab and the value of each field.\n"
             "\n"
             "  --index NDX  in the order of the index NDX\n"
             "  --all        the deleted records too (left out otherwise)\n"
             "  --raw        the bytes as stored (\\xNN escapes), not converted\n",
     RunList},
    {"grep", "usage: vorza-dbf grep TABLE TEXT [--index NDX] [--names]\n"
             "  Every live record whose memo text holds TEXT (with --names: or whose\n"
             "  name does), letter case and accents not counting, as list writes it,\n"
             "  in record-number order or in the order of NDX.\n"
             "\n"
             "  --index NDX  in the order of the index NDX\n"
             "  --names      the names are searched as well as the texts\n",
     RunGrep},
    {"memo", "usage: vorza-dbf memo TABLE RECNO [FIELD] [--raw]\n"
             "  The memo text of record RECNO (the first memo field unless FIELD).\n"
             "\n"
             "  --raw  the bytes exactly as stored, not converted\n",
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
              "  table's folder when NDX names no folder). Prints nothing on success.\n"
              "\n"
              "  --unique    one entry per key (the first record that has it)\n"
              "  --progress  writes the build's progress (1% to 100%) to standard error\n",
     RunIndex},
    {"find", "usage: vorza-dbf find TABLE NDX KEY [--exact]\n"
             "  Searches NDX for KEY, a prefix of the key, and prints the record number\n"
             "  found, or 0.\n"
             "\n"
             "  --exact  the whole key must be equal\n",
     RunFind},
    {"ndxinfo", "usage: vorza-dbf ndxinfo NDX\n"
                "  Prints the anchor of NDX: expression, key_length, key_type, unique,\n"
                "  table and records (-1 and no table when the record-count check fails).\n",
     RunNdxInfo},
    {"export", "usage: vorza-dbf export TABLE [--format csv|jsonl] [--index NDX] [--all]\n"
               "  Writes every live record of TABLE, memo texts included, to standard\n"
               "  output as UTF-8. Character and memo fields are texts without trailing\n"
               "  blanks, N and F fields numbers, dates YYYY-MM-DD, logical fields true\n"
               "  or false; a blank or unreadable number, date or logical value is null\n"
               "  (an empty CSV cell), and so is a memo the engine cannot read (with a\n"
               "  warning on standard error). A field name that repeats an earlier one\n"
               "  gets _2, _3, ... after it.\n"
               "\n"
               "  --format csv    CSV after RFC 4180 (the default): a header row of the\n"
               "                  field names, then one row per record, rows ended by\n"
               "                  CR LF\n"
               "  --format jsonl  JSON Lines: one object per record with \"_recno\" and\n"
               "                  \"_deleted\", then the fields by name\n"
               "  --index NDX     in the order of the index NDX\n"
               "  --all           the deleted records too; in CSV a first column\n"
               "                  _deleted says true or false\n",
     RunExport},
    {"import", "usage: vorza-dbf import TABLE SOURCE [--format text|csv|jsonl] [--progress]\n"
               "  Makes the cheat table TABLE (.dbf and .dbt, the fields cheatname C 35\n"
               "  and cheatmemo M) from SOURCE, UTF-8 text stored in the OEM code page.\n"
               "  An existing table of that name is replaced whole, or not at all: the\n"
               "  new files are written beside it and renamed over it at the end. A\n"
               "  fault in SOURCE is reported with its line and column, and nothing is\n"
               "  written.\n"
               "\n"
               "  --format text   the tool's text format (the default, but for a name\n"
               "                  ending in .csv, .jsonl or .ndjson):\n"
               "                    # comment lines, only before the first entry\n"
               "                    @@ Name of a cheat (at most 35 characters)\n"
               "                    The cheat's text, any number of lines.\n"
               "                    @@* Name of a cheat stored as a deleted record\n"
               "                    Its text.\n"
               "                  Leading and trailing blank lines of a text are\n"
               "                  dropped; its lines are joined with CR LF.\n"
               "  --format csv    CSV as export writes it: a header row naming the\n"
               "                  columns cheatname and cheatmemo, and _deleted\n"
               "                  (true or false) if you like, in any order\n"
               "  --format jsonl  JSON Lines as export writes it: one object a line\n"
               "                  with \"cheatname\", \"cheatmemo\" and, if you like,\n"
               "                  \"_deleted\" and \"_recno\" (record numbers left out\n"
               "                  become blank deleted records, so that records keep\n"
               "                  their numbers)\n"
               "  --progress      writes the progress (1% to 100%) to standard error\n",
     RunImport},
    {"append", "usage: vorza-dbf append TABLE FIELD=VALUE... [--index NDX]...\n"
               "  Appends one record (the table locked meanwhile; other programs may go on\n"
               "  using it) and prints its record number. Fields not named are blank.\n"
               "  Values: C a text (UTF-8; cut to the field's length); N, F a decimal number;\n"
               "  D YYYYMMDD, or empty for no date; L T, F or ?; M the memo text, or @FILE\n"
               "  for the bytes of FILE as they are. A field that does not exist or a value\n"
               "  that does not fit its field ends the command with status 65, nothing written.\n"
               "\n"
               "  --index NDX  an index kept in step with the table (repeat it for more)\n",
     RunAppend},
    {"replace", "usage: vorza-dbf replace TABLE RECNO FIELD=VALUE... [--index NDX]...\n"
                "  Changes the fields named of record RECNO (the record locked meanwhile).\n"
                "  Values as for append; a record number that is not in the table ends the\n"
                "  command with status 65, nothing written.\n"
                "\n"
                "  --index NDX  an index kept in step with the table (repeat it for more)\n",
     RunReplace},
    {"delete", "usage: vorza-dbf delete TABLE RECNO [--index NDX]...\n"
               "  Marks record RECNO deleted (it stays in the table until pack).\n"
               "\n"
               "  --index NDX  an index kept in step with the table (repeat it for more)\n",
     RunDelete},
    {"recall", "usage: vorza-dbf recall TABLE RECNO [--index NDX]...\n"
               "  Marks the deleted record RECNO live again.\n"
               "\n"
               "  --index NDX  an index kept in step with the table (repeat it for more)\n",
     RunRecall},
    {"pack", "usage: vorza-dbf pack TABLE [--index NDX]...\n"
             "  Removes the deleted records for good (nobody else may have the table\n"
             "  open). Indexes not named are out of date after.\n"
             "\n"
             "  --index NDX  an index built anew afterwards (repeat it for more)\n",
     RunPack},
};

// Takes the global option --codepage N (or --codepage=N) out of the
// arguments, wherever it stands, and selects the OEM code page: N when
// given, else VORZA_OEM_CODEPAGE, else the locale's. False, after a message,
// when the page asked for is none this program knows.
bool SelectCodePage(std::vector<std::string>& args) {
  std::string given;
  bool seen = false;
  for (std::size_t i = 0; i < args.size();) {
    if (args[i] == "--codepage") {
      if (i + 1 >= args.size()) {
        std::fputs("vorza-dbf: --codepage needs a code page (437, 850 or 866)\n", stderr);
        return false;
      }
      given = args[i + 1];
      seen = true;
      args.erase(args.begin() + static_cast<std::ptrdiff_t>(i),
                 args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
    } else if (args[i].rfind("--codepage=", 0) == 0) {
      given = args[i].substr(std::strlen("--codepage="));
      seen = true;
      args.erase(args.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      ++i;
    }
  }
  int page = 0;
  if (seen) {
    page = vz::platform::ParseOemCodePage(given);
    if (page == 0) {
      std::fprintf(
          stderr,
          "vorza-dbf: --codepage %s: not a code page this program knows (437, 850 or 866)\n",
          vz::platform::VisibleText(given).c_str());
      return false;
    }
  } else {
    std::string problem;
    page = vz::platform::OemCodePageFromEnvironment(&problem);
    if (!problem.empty()) {
      std::fprintf(stderr, "vorza-dbf: %s\n", vz::platform::VisibleText(problem).c_str());
      return false;
    }
  }
  vz::platform::SetOemCodePage(page);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!SelectCodePage(args)) {
    std::fputs(kUsage, stderr);
    return kUsageError;
  }
  if (args.empty()) {
    std::fputs(kUsage, stderr);
    return kUsageError;
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (args[0] == "--version") {
    std::printf("vorza-dbf %s\n", VORZA_VERSION);
    return 0;
  }
  vz::InitEngine();
  // An engine error ends the command with its message and code.
  vz::InstallHaltingPresentation();
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
