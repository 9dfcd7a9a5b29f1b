// Export of a table as CSV or JSON Lines.
//
// Values, the same in both formats (CSV writes the JSON value's text, an
// empty cell for null):
//   C, M  the text (OEM converted as the engine converts it, then UTF-8),
//         trailing blanks removed; a memo the engine cannot read is null,
//         with a warning on standard error
//   N, F  the stored number; null when blank or not a number
//   D     YYYY-MM-DD; null when blank or not a date of the calendar
//   L     true (T, Y), false (F, N); null otherwise ("?", blank)
// A field name that repeats an earlier one is written with "_2" ("_3", ...)
// after it. A JSON object starts with "_recno" and "_deleted"; a CSV row starts with
// a "_deleted" cell only when asked to mark deleted records. CSV rows end
// with CR LF; a cell holding a comma, a quote or a line break is quoted,
// its quotes doubled.
#include "tools/export.h"

#include <algorithm>
#include <string>
#include <vector>

#include "engine/dates.h"
#include "engine/dbf.h"
#include "engine/dbt_file.h"
#include "engine/errors.h"
#include "platform/codepage.h"

namespace vz::tool {
namespace {

enum class Kind { kText, kNumber, kDate, kLogical, kNull };

struct Value {
  Kind kind = Kind::kNull;
  std::string text;  // UTF-8 text, number, YYYY-MM-DD, "true" or "false"
};

std::string_view WithoutTrailingBlanks(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

bool AllDigits(std::string_view s) {
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

Value DateValue(std::string_view stored) {
  if (stored.size() != 8 || !AllDigits(stored) || JulianOfStored(stored) == 0 ||
      stored.substr(0, 4) == "0000")
    return {};
  std::string iso(stored.substr(0, 4));
  iso += '-';
  iso += stored.substr(4, 2);
  iso += '-';
  iso += stored.substr(6, 2);
  return {Kind::kDate, iso};
}

Value LogicalValue(std::string_view stored) {
  const char c = stored.empty() ? ' ' : stored[0];
  if (c == 'T' || c == 't' || c == 'Y' || c == 'y') return {Kind::kLogical, "true"};
  if (c == 'F' || c == 'f' || c == 'N' || c == 'n') return {Kind::kLogical, "false"};
  return {};
}

// Field i (1-based) of the current record.
Value ValueOf(WorkArea& area, int i) {
  const FieldDesc& f = area.Fields[static_cast<std::size_t>(i - 1)];
  const std::string_view stored(reinterpret_cast<const char*>(area.RawRec.data()) + f.Offset,
                                f.Len);
  switch (f.Type) {
    case 'N':
    case 'F': {
      std::optional<std::string> number = JsonNumber(stored);
      if (!number) return {};
      return {Kind::kNumber, *number};
    }
    case 'D': return DateValue(stored);
    case 'L': return LogicalValue(stored);
    case 'M': {
      const std::int32_t block = NativeInt(FieldAddress(i));
      if (block <= 0) return {Kind::kText, ""};
      std::string text;
      {
        ScopedErrorDispatch quiet(false);
        text = ReadMemoText(block, area.Oem);
      }
      if (Engine().Errors.ErrorCode != 0) {
        // A memo the engine refuses (an address past the memo file, say) is
        // null; the rest of the table is still worth having.
        std::string detail = TakeErrorDetail();
        std::replace(detail.begin(), detail.end(), '\r', ' ');
        std::replace(detail.begin(), detail.end(), '\n', ' ');
        std::fprintf(stderr, "vorza-dbf export: record %lld, %s: %s: %s (written as null)\n",
                     static_cast<long long>(area.RecNo),
                     platform::AnsiToUtf8(platform::OemToAnsi(f.Name)).c_str(),
                     ErrorText(Engine().Errors.ErrorCode).c_str(), detail.c_str());
        ClearError();
        return {};
      }
      return {Kind::kText, platform::AnsiToUtf8(WithoutTrailingBlanks(text))};
    }
    default: return {Kind::kText, platform::AnsiToUtf8(WithoutTrailingBlanks(stored))};
  }
}

void AppendCsvCell(std::string& line, std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
    line += text;
    return;
  }
  line += '"';
  for (char c : text) {
    if (c == '"') line += '"';
    line += c;
  }
  line += '"';
}

void AppendJsonString(std::string& line, std::string_view text) {
  static const char* hex = "0123456789abcdef";
  line += '"';
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '"': line += "\\\""; break;
      case '\\': line += "\\\\"; break;
      case '\n': line += "\\n"; break;
      case '\r': line += "\\r"; break;
      case '\t': line += "\\t"; break;
      case '\b': line += "\\b"; break;
      case '\f': line += "\\f"; break;
      default:
        if (u < 0x20) {
          line += "\\u00";
          line += hex[u >> 4];
          line += hex[u & 15];
        } else {
          line += c;
        }
    }
  }
  line += '"';
}

void AppendJsonValue(std::string& line, const Value& v) {
  switch (v.kind) {
    case Kind::kText:
    case Kind::kDate: AppendJsonString(line, v.text); break;
    case Kind::kNumber:
    case Kind::kLogical: line += v.text; break;
    case Kind::kNull: line += "null"; break;
  }
}

void Write(std::FILE* out, const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), out);
}

}  // namespace

std::optional<ExportFormat> ExportFormatNamed(std::string_view name) {
  if (name == "csv") return ExportFormat::kCsv;
  if (name == "jsonl") return ExportFormat::kJsonLines;
  return std::nullopt;
}

std::optional<std::string> JsonNumber(std::string_view stored) {
  // Around the number, blanks and control bytes count for nothing (as
  // when the engine reads a number).
  while (!stored.empty() && static_cast<unsigned char>(stored.front()) <= ' ')
    stored.remove_prefix(1);
  while (!stored.empty() && static_cast<unsigned char>(stored.back()) <= ' ')
    stored.remove_suffix(1);
  std::size_t i = 0;
  const bool negative = i < stored.size() && stored[i] == '-';
  if (i < stored.size() && (stored[i] == '-' || stored[i] == '+')) ++i;
  const auto digits = [&] {
    const std::size_t from = i;
    while (i < stored.size() && stored[i] >= '0' && stored[i] <= '9') ++i;
    return stored.substr(from, i - from);
  };
  std::string_view whole = digits(), fraction, exponent;
  if (i < stored.size() && stored[i] == '.') {
    ++i;
    fraction = digits();
  }
  if (whole.empty() && fraction.empty()) return std::nullopt;
  bool exponentNegative = false;
  if (i < stored.size() && (stored[i] == 'e' || stored[i] == 'E')) {
    ++i;
    exponentNegative = i < stored.size() && stored[i] == '-';
    if (i < stored.size() && (stored[i] == '-' || stored[i] == '+')) ++i;
    exponent = digits();
    if (exponent.empty()) return std::nullopt;
  }
  if (i != stored.size()) return std::nullopt;
  while (whole.size() > 1 && whole.front() == '0') whole.remove_prefix(1);
  std::string out = negative ? "-" : "";
  out += whole.empty() ? std::string_view("0") : whole;
  if (!fraction.empty()) {
    out += '.';
    out += fraction;
  }
  if (!exponent.empty()) {
    out += exponentNegative ? "e-" : "e";
    out += exponent;
  }
  return out;
}

void ExportCurrentTable(ExportFormat format, bool markDeleted, std::FILE* out) {
  WorkArea& area = *CurrentTable();
  // Field names; one that repeats an earlier one (some programs write
  // such tables) gets a suffix, so that every JSON key is unique.
  std::vector<std::string> names;
  for (const FieldDesc& f : area.Fields) {
    const std::string name = platform::AnsiToUtf8(platform::OemToAnsi(f.Name));
    std::string unique = name;
    for (int n = 2; std::find(names.begin(), names.end(), unique) != names.end(); ++n)
      unique = name + "_" + std::to_string(n);
    names.push_back(unique);
  }
  std::string line;
  if (format == ExportFormat::kCsv) {
    bool first = true;
    if (markDeleted) {
      line += "_deleted";
      first = false;
    }
    for (const std::string& name : names) {
      if (!first) line += ',';
      first = false;
      AppendCsvCell(line, name);
    }
    line += "\r\n";
    Write(out, line);
  }
  for (GoTop(); !dEOF(); SKIP(1)) {
    const bool deleted = area.RawRec[0] == '*';
    line.clear();
    if (format == ExportFormat::kCsv) {
      bool first = true;
      if (markDeleted) {
        line += deleted ? "true" : "false";
        first = false;
      }
      for (int i = 1; i <= area.FieldCount; ++i) {
        if (!first) line += ',';
        first = false;
        const Value v = ValueOf(area, i);
        if (v.kind == Kind::kText)
          AppendCsvCell(line, v.text);
        else
          line += v.text;
      }
      line += "\r\n";
    } else {
      line += "{\"_recno\":" + std::to_string(area.RecNo);
      line += deleted ? ",\"_deleted\":true" : ",\"_deleted\":false";
      for (int i = 1; i <= area.FieldCount; ++i) {
        line += ',';
        AppendJsonString(line, names[static_cast<std::size_t>(i - 1)]);
        line += ':';
        AppendJsonValue(line, ValueOf(area, i));
      }
      line += "}\n";
    }
    Write(out, line);
  }
}

}  // namespace vz::tool
