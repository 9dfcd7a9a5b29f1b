// Import of a cheat table: CSV and JSON Lines sources, and the writing of
// the new table beside the old one.
//
// Writing is all or nothing: the new .dbf and .dbt are made in a folder
// beside the table and put in place by the engine's table swap
// (engine/table_swap.h), which every later open of the table finishes or
// takes back when the import is cut short.
#include "tools/import.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "engine/dbf.h"
#include "engine/dbf_file.h"
#include "engine/dbt_file.h"
#include "engine/errors.h"
#include "engine/table_swap.h"
#include "platform/codepage.h"
#include "platform/hooks.h"

namespace vz::tool {
namespace {

// --- Reading the sources -----------------------------------------------------------------------

// The column of a byte offset inside a line: characters, counted from 1.
int ColumnOf(std::string_view line, std::size_t offset) {
  int column = 1;
  for (std::size_t i = 0; i < offset && i < line.size(); ++i)
    if ((static_cast<unsigned char>(line[i]) & 0xC0) != 0x80) ++column;
  return column;
}

// The offset of the first byte that is not part of well-formed UTF-8.
std::optional<std::size_t> FirstInvalidUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t n = 0;
    std::uint32_t min = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      n = 1, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      n = 2, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      n = 3, min = 0x10000;
    } else {
      return i;
    }
    std::uint32_t cp = c & (0x3F >> n);
    for (std::size_t k = 1; k <= n; ++k) {
      if (i + k >= s.size()) return i;
      const auto d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return i;
      cp = (cp << 6) | (d & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return i;
    i += n + 1;
  }
  return std::nullopt;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string Where(const std::string& path, int line, int column) {
  return path + ":" + std::to_string(line) + ":" + std::to_string(column) + ": ";
}

// Why a name cannot be stored, or empty.
std::string NameProblem(const std::string& utf8) {
  for (char c : utf8)
    if (static_cast<unsigned char>(c) < 0x20)
      return "the name holds a line break or control character";
  if (platform::Utf8ToAnsi(utf8).size() > kCheatNameLength)
    return "the name is longer than " + std::to_string(kCheatNameLength) + " characters";
  return "";
}

bool ReadWholeFile(const std::string& path, std::string& bytes, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read " + path;
    return false;
  }
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    error = "cannot read " + path;
    return false;
  }
  if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) bytes.erase(0, 3);
  return true;
}

struct CsvCell {
  std::string text;
  int line = 0;
  int column = 0;
  bool quoted = false;
};

// An RFC 4180 reader that keeps where each cell starts. Rows end with CR LF
// or LF.
class CsvReader {
 public:
  CsvReader(const std::string& path, const std::string& bytes) : path_(path), s_(bytes) {}

  // The next row; false at the end of the input or on a fault (error set).
  bool Next(std::vector<CsvCell>& row, std::string& error) {
    row.clear();
    if (pos_ >= s_.size()) return false;
    for (;;) {
      CsvCell cell;
      cell.line = line_;
      cell.column = column_;
      if (Peek() == '"') {
        cell.quoted = true;
        Advance();
        for (;;) {
          if (pos_ >= s_.size()) {
            error = Where(path_, cell.line, cell.column) +
                    "the quoted cell that starts here has no closing quote";
            return false;
          }
          const char c = Peek();
          Advance();
          if (c == '"') {
            if (Peek() != '"') break;
            Advance();
          }
          cell.text += c;
        }
        if (pos_ < s_.size() && Peek() != ',' && Peek() != '\n' && !AtCrLf()) {
          error = Where(path_, line_, column_) + "text after the closing quote of a cell";
          return false;
        }
      } else {
        while (pos_ < s_.size() && Peek() != ',' && Peek() != '\n' && !AtCrLf()) {
          if (Peek() == '"') {
            error = Where(path_, line_, column_) +
                    "a quote inside a cell that does not start with one (a cell with quotes "
                    "is written in quotes, its quotes doubled)";
            return false;
          }
          cell.text += Peek();
          Advance();
        }
      }
      row.push_back(std::move(cell));
      if (pos_ < s_.size() && Peek() == ',') {
        Advance();
        continue;
      }
      if (AtCrLf()) Advance();
      if (pos_ < s_.size()) Advance();  // the line feed
      return true;
    }
  }

 private:
  char Peek() const { return pos_ < s_.size() ? s_[pos_] : '\0'; }
  bool AtCrLf() const { return Peek() == '\r' && pos_ + 1 < s_.size() && s_[pos_ + 1] == '\n'; }
  void Advance() {
    const char c = s_[pos_++];
    if (c == '\n') {
      ++line_;
      column_ = 1;
    } else if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
      ++column_;
    }
  }

  const std::string& path_;
  const std::string& s_;
  std::size_t pos_ = 0;
  int line_ = 1;
  int column_ = 1;
};

bool CheckUtf8(const std::string& path, const std::string& bytes, std::string& error) {
  const std::optional<std::size_t> bad = FirstInvalidUtf8(bytes);
  if (!bad) return true;
  const std::size_t lineStart = bytes.rfind('\n', *bad == 0 ? 0 : *bad - 1);
  const std::size_t from = (lineStart == std::string::npos || *bad == 0) ? 0 : lineStart + 1;
  const int line = 1 + static_cast<int>(std::count(
                           bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(from), '\n'));
  error = Where(path, line, ColumnOf(std::string_view(bytes).substr(from), *bad - from)) +
          "not UTF-8 text";
  return false;
}

}  // namespace

std::optional<SourceFormat> SourceFormatNamed(std::string_view name) {
  if (name == "text") return SourceFormat::kText;
  if (name == "csv") return SourceFormat::kCsv;
  if (name == "jsonl") return SourceFormat::kJsonLines;
  return std::nullopt;
}

SourceFormat SourceFormatOf(const std::string& path) {
  const std::string extension = Lower(std::filesystem::path(path).extension().string());
  if (extension == ".csv") return SourceFormat::kCsv;
  if (extension == ".jsonl" || extension == ".ndjson") return SourceFormat::kJsonLines;
  return SourceFormat::kText;
}

bool ReadCsvSource(const std::string& path, std::vector<CheatEntry>& entries, std::string& error) {
  std::string bytes;
  if (!ReadWholeFile(path, bytes, error) || !CheckUtf8(path, bytes, error)) return false;
  CsvReader reader(path, bytes);
  std::vector<CsvCell> row;
  if (!reader.Next(row, error)) {
    if (error.empty()) error = Where(path, 1, 1) + "no header row (CHEATNAME,CHEATMEMO)";
    return false;
  }
  int nameColumn = -1, textColumn = -1, deletedColumn = -1;
  for (std::size_t i = 0; i < row.size(); ++i) {
    const std::string name = Lower(row[i].text);
    int* slot = name == "cheatname"   ? &nameColumn
                : name == "cheatmemo" ? &textColumn
                : name == "_deleted"  ? &deletedColumn
                                      : nullptr;
    if (!slot) {
      error = Where(path, row[i].line, row[i].column) + "a column named \"" + row[i].text +
              "\": a cheat table has the columns CHEATNAME and CHEATMEMO (and _deleted)";
      return false;
    }
    if (*slot >= 0) {
      error = Where(path, row[i].line, row[i].column) + "a second column " + row[i].text;
      return false;
    }
    *slot = static_cast<int>(i);
  }
  if (nameColumn < 0) {
    error = Where(path, 1, 1) + "no column CHEATNAME in the header row";
    return false;
  }
  const std::size_t columns = row.size();
  while (reader.Next(row, error)) {
    // A blank line is no row.
    if (row.size() == 1 && row[0].text.empty() && !row[0].quoted && columns > 1) continue;
    if (row.size() != columns) {
      error = Where(path, row[0].line, 1) + std::to_string(row.size()) +
              " cells where the header has " + std::to_string(columns);
      return false;
    }
    CheatEntry e;
    const CsvCell& name = row[static_cast<std::size_t>(nameColumn)];
    e.line = name.line;
    e.name = name.text;
    if (const std::string problem = NameProblem(e.name); !problem.empty()) {
      error = Where(path, name.line, name.column) + problem;
      return false;
    }
    if (textColumn >= 0) e.text = row[static_cast<std::size_t>(textColumn)].text;
    if (deletedColumn >= 0) {
      const CsvCell& mark = row[static_cast<std::size_t>(deletedColumn)];
      if (mark.text == "true") {
        e.deleted = true;
      } else if (mark.text != "false" && !mark.text.empty()) {
        error = Where(path, mark.line, mark.column) + "_deleted is true, false or empty, not \"" +
                mark.text + "\"";
        return false;
      }
    }
    entries.push_back(std::move(e));
  }
  return error.empty();
}

bool ReadJsonLinesSource(const std::string& path, std::vector<CheatEntry>& entries,
                         std::string& error) {
  // Record numbers may leave gaps (the deleted records an export left
  // out), of a reasonable size.
  constexpr std::int64_t kLargestGap = 1 << 20;
  std::string bytes;
  if (!ReadWholeFile(path, bytes, error)) return false;
  std::size_t start = 0;
  for (int number = 1; start < bytes.size(); ++number) {
    std::size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    std::string_view line(bytes.data() + start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find_first_not_of(" \t") == std::string_view::npos) continue;
    // Where a key stands in the line, for the messages about its value.
    const auto columnOfKey = [&](const std::string& key) {
      const std::string lower = Lower(line);
      const std::size_t at = lower.find("\"" + Lower(key) + "\"");
      return at == std::string::npos ? 1 : ColumnOf(line, at);
    };
    nlohmann::json object;
    try {
      object = nlohmann::json::parse(line);
    } catch (const nlohmann::json::parse_error& e) {
      std::string what = e.what();
      // nlohmann's text names its own line and column: keep what follows.
      if (const std::size_t at = what.find("column "); at != std::string::npos)
        if (const std::size_t colon = what.find(": ", at); colon != std::string::npos)
          what = what.substr(colon + 2);
      // ... and leave out the bytes it read last (they may not be text).
      if (const std::size_t at = what.find("; last read"); at != std::string::npos) what.resize(at);
      const std::size_t byte = e.byte == 0 ? 0 : e.byte - 1;
      error = Where(path, number, ColumnOf(line, byte)) + "not JSON: " + what;
      return false;
    }
    if (!object.is_object()) {
      error = Where(path, number, 1) + "not a JSON object";
      return false;
    }
    CheatEntry e;
    e.line = number;
    bool named = false;
    e.recno = (entries.empty() ? 0 : entries.back().recno) + 1;
    for (const auto& [key, value] : object.items()) {
      const std::string k = Lower(key);
      if (k == "cheatname") {
        if (!value.is_string()) {
          error = Where(path, number, columnOfKey(key)) + key + " is not a string";
          return false;
        }
        e.name = value.get<std::string>();
        named = true;
        if (const std::string problem = NameProblem(e.name); !problem.empty()) {
          error = Where(path, number, columnOfKey(key)) + problem;
          return false;
        }
      } else if (k == "cheatmemo") {
        if (!value.is_string() && !value.is_null()) {
          error = Where(path, number, columnOfKey(key)) + key + " is not a string";
          return false;
        }
        if (value.is_string()) e.text = value.get<std::string>();
      } else if (k == "_deleted") {
        if (!value.is_boolean()) {
          error = Where(path, number, columnOfKey(key)) + "_deleted is not true or false";
          return false;
        }
        e.deleted = value.get<bool>();
      } else if (k == "_recno") {
        const std::int64_t previous = entries.empty() ? 0 : entries.back().recno;
        if (!value.is_number_integer() || value.get<std::int64_t>() <= previous ||
            value.get<std::int64_t>() > previous + kLargestGap) {
          error = Where(path, number, columnOfKey(key)) + "_recno is not a record number after " +
                  std::to_string(previous) + " (and at most " + std::to_string(kLargestGap) +
                  " past it)";
          return false;
        }
        e.recno = value.get<std::int64_t>();
      } else {
        error = Where(path, number, columnOfKey(key)) + "a key \"" + key +
                "\": a cheat table has the fields CHEATNAME and CHEATMEMO";
        return false;
      }
    }
    if (!named) {
      error = Where(path, number, 1) + "no CHEATNAME in this object";
      return false;
    }
    entries.push_back(std::move(e));
  }
  return true;
}

// --- Writing the table -------------------------------------------------------------------------

namespace {

int Fail(const std::string& message, int status = 1) {
  std::fprintf(stderr, "vorza-dbf import: %s\n", message.c_str());
  return status;
}

// Writes the records into the table made at `dbf`; engine errors throw.
void WriteRecords(const std::string& dbf, const std::vector<CheatEntry>& entries,
                  const std::function<void(int)>& progress) {
  if (!CreateDbf(dbf, {{"cheatname", 'C', static_cast<int>(kCheatNameLength), 0},
                       {"cheatmemo", 'M', 10, 0}}))
    return;
  Engine().Settings.AnsiTables = false;
  Select(1);
  USE(dbf + " exclusive");
  const int nameField = FieldNo("cheatname");
  const int memoField = FieldNo("cheatmemo");
  int shown = 0;
  std::int64_t records = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const CheatEntry& e = entries[i];
    // The records skipped before this one: blank and deleted.
    for (; records + 1 < e.recno; ++records) {
      ClearRecord();
      Append();
      DeleteRec();
    }
    ++records;
    ClearRecord();
    const std::string name = platform::Utf8ToAnsi(e.name);
    std::uint8_t* slot = FieldAddress(nameField);
    std::memset(slot + 1, ' ', slot[0]);
    std::memcpy(slot + 1, name.data(), std::min<std::size_t>(name.size(), slot[0]));
    const std::string text = platform::Utf8ToAnsi(e.text);
    const std::int64_t block = text.empty() ? 0 : WriteMemoText(text, true);
    DispatchPending();
    SetNativeInt(FieldAddress(memoField), static_cast<std::int32_t>(block));
    Append();
    if (e.deleted) DeleteRec();
    const int percent = static_cast<int>((i + 1) * 100 / entries.size());
    if (progress && percent > shown) progress(shown = percent);
  }
  CloseAll();
  if (progress && shown < 100) progress(100);
}

}  // namespace

int WriteCheatTable(const std::string& table, const std::vector<CheatEntry>& entries,
                    const std::function<void(int)>& progress) {
  namespace fs = std::filesystem;
  const fs::path dbf = AddDefaultExtension(table, "DBF");
  TableSwap swap(dbf.string());
  std::string error;
  if (!swap.Begin(error)) return Fail(error);

  {
    // Engine errors while the new files are written come back here, so the
    // temporaries go and the old table stays.
    ScopedSetting raise(Engine().Errors.RaiseErrors, true);
    try {
      WriteRecords(swap.NewTable(), entries, progress);
    } catch (const EngineError& e) {
      const int code = Engine().Errors.ErrorCode ? Engine().Errors.ErrorCode : 1;
      try {
        CloseAll();
      } catch (const EngineError&) {
      }
      platform::PresentHalt(kHaltCaption, e.Message());
      return code;
    }
  }
  if (!swap.Commit(error)) return Fail(error);
  return 0;
}

}  // namespace vz::tool
