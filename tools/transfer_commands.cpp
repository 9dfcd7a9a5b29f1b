// Moving cheats in and out of a table: import (a text, CSV or JSON Lines
// source becomes a new cheat table) and export.
#include <algorithm>
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
#include "tools/export.h"
#include "tools/import.h"

namespace vz::tool {
namespace {

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

}  // namespace

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
    case vz::tool::SourceFormat::kCsv:
      read = vz::tool::ReadCsvSource(source, entries, error);
      break;
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

}  // namespace vz::tool
