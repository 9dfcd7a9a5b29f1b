// Export of a table as UTF-8 text for other tools: CSV (RFC 4180) or JSON
// Lines, memo texts included.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace vz::tool {

enum class ExportFormat { kCsv, kJsonLines };

// "csv" or "jsonl"; nothing for another name.
std::optional<ExportFormat> ExportFormatNamed(std::string_view name);

// Writes every visible record of the table open in the current work area,
// in its current order, to `out`. The caller opens the table (and its
// index) and decides whether deleted records are visible; `markDeleted`
// adds the deletion mark to a CSV row (JSON objects always carry it).
// Engine errors (a damaged memo, say) are dispatched as usual.
void ExportCurrentTable(ExportFormat format, bool markDeleted, std::FILE* out);

// A stored number as JSON writes it ("-.5" becomes "-0.5", "+007" "7"),
// blanks and control bytes around it left out; nothing when the text is
// blank or no decimal number.
std::optional<std::string> JsonNumber(std::string_view stored);

}  // namespace vz::tool
