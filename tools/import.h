// Import of a cheat table: the sources it is read from (the tool's text
// format, CSV, JSON Lines) and the writing of the new table, which replaces
// the old one whole or not at all.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vz::tool {

// One cheat of a source, its texts in UTF-8.
struct CheatEntry {
  std::string name;
  std::string text;
  bool deleted = false;
  int line = 0;  // where it starts in the source
  // The record number it is to get (0: the next). Numbers skipped are
  // kept as blank deleted records, so that records keep their numbers.
  std::int64_t recno = 0;
};

// The longest name a cheat table holds (bytes in the table's code page).
inline constexpr std::size_t kCheatNameLength = 35;

enum class SourceFormat { kText, kCsv, kJsonLines };

// "text", "csv" or "jsonl"; nothing for another name.
std::optional<SourceFormat> SourceFormatNamed(std::string_view name);
// By the file's extension: .csv, .jsonl (or .ndjson), anything else text.
SourceFormat SourceFormatOf(const std::string& path);

// Read a CSV file with a header row naming the columns (CHEATNAME and
// CHEATMEMO, optionally _deleted, in any letter case and order) or JSON
// Lines with one object a line (the same names as keys; "_recno", if any,
// gives the record number), as `export` writes a cheat table. False with a message
// ("SOURCE:LINE:COLUMN: what") on the first fault.
bool ReadCsvSource(const std::string& path, std::vector<CheatEntry>& entries, std::string& error);
bool ReadJsonLinesSource(const std::string& path, std::vector<CheatEntry>& entries,
                         std::string& error);

// Writes the cheat table `table` (.dbf and .dbt, fields cheatname C 35 and
// cheatmemo M 10) with the entries, texts stored in the OEM code page.
// The new files are written under temporary names in a folder made for them
// beside the table, flushed to disk and then renamed over the old ones,
// the memo file first. On any failure the temporary files are removed and
// an old table of that name is left as it was; the return value is then the
// exit status (the engine's error code, or 1) after a message on standard
// error. `progress` is called with 1 to 100 as the records are written.
int WriteCheatTable(const std::string& table, const std::vector<CheatEntry>& entries,
                    const std::function<void(int)>& progress);

}  // namespace vz::tool
