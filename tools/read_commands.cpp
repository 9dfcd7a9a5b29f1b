// The reading commands: info, list, grep, memo, locate, eval, index, find,
// ndxinfo. Every table is opened as the reader opens it.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/dates.h"
#include "engine/dbf.h"
#include "engine/dbf_file.h"
#include "engine/dbt_file.h"
#include "engine/errors.h"
#include "engine/text_search.h"
#include "engine/trim.h"
#include "index/expr.h"
#include "index/indexes.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "tools/commands.h"

namespace vz::tool {
namespace {

// Appends bytes with every byte below 0x20 or above 0x7E as \xNN and the
// backslash doubled.
void AppendRawEscaped(std::string& out, std::string_view bytes) {
  static const char* hex = "0123456789abcdef";
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
}

// Appends ANSI text as UTF-8 with tabs, line ends and backslashes escaped:
// Escape(AnsiToUtf8(ansi)), without the two strings between.
void AppendShown(std::string& out, std::string_view ansi) {
  for (unsigned char c : ansi) {
    const char32_t u = c < 0x80 ? c : vz::platform::AnsiToUnicode(c);
    if (!AppendEscape(out, u)) vz::platform::AppendUtf8(out, u);
  }
}

// Appends one field of the current record as `list` shows it. `bytes` are
// the field's stored bytes: converted to ANSI (decoded) or as in the file
// (raw).
void AppendListValue(std::string& line, const vz::FieldDesc& f, std::string_view bytes, bool raw) {
  std::string_view v = bytes;
  switch (f.Type) {
    case 'C':
      while (!v.empty() && v.back() == ' ') v.remove_suffix(1);
      break;
    case 'N':
    case 'F': v = vz::TrimmedView(bytes); break;
    case 'M': {
      // The block number, without its sign; 0 for anything but a number.
      const std::string_view t = vz::TrimmedView(bytes);
      long long n = 0;
      bool digits = !t.empty();
      std::size_t i = (!t.empty() && t[0] == '-') ? 1 : 0;
      for (; i < t.size(); ++i) digits = digits && t[i] >= '0' && t[i] <= '9';
      if (digits && t.size() < 19) std::from_chars(t.data(), t.data() + t.size(), n);
      char text[24];
      const auto end = std::to_chars(text, text + sizeof text, n < 0 ? -n : n).ptr;
      line.append(text, end);
      return;
    }
    default: break;
  }
  if (raw)
    AppendRawEscaped(line, v);
  else
    AppendShown(line, v);
}

// Writes the current record as a line of `list`.
void WriteListLine(vz::WorkArea& w, bool raw, std::string& line) {
  char number[24];
  line.assign(number, std::to_chars(number, number + sizeof number, w.RecNo).ptr);
  line += '\t';
  line += w.RawRec[0] == '*' ? '*' : '-';
  for (int i = 1; i <= w.FieldCount; ++i) {
    const vz::FieldDesc& f = w.Fields[i - 1];
    line += '\t';
    if (raw) {
      AppendListValue(line, f, vz::PeekView(w, i, w.RecNo), true);
    } else {
      AppendListValue(
          line, f,
          std::string_view(reinterpret_cast<const char*>(w.RawRec.data()) + f.Offset, f.Len),
          false);
    }
  }
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stdout);
}

}  // namespace

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
  const bool found =
      vz::Locate(vz::platform::Utf8ToAnsi(argv[1]), vz::platform::Utf8ToAnsi(argv[2]));
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
  vz::CompiledExpr* e = vz::CompileExpr(vz::platform::Utf8ToAnsi(argv[2]));
  const vz::ExprValue v = e->Evaluate();
  std::string out(1, e->ResultType());
  out += '\t';
  switch (v.type) {
    case vz::expr::kTypeC:
    case vz::expr::kTypeM: out += Escape(vz::platform::AnsiToUtf8(std::string(v.text))); break;
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
    default: out += v.logical ? "T" : "F"; break;
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

}  // namespace vz::tool
