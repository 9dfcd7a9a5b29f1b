// vorza-dbf: the command-line tool over the storage and index engines.
//
// Tables are opened as the reader opens them (shared, read-only, OEM text,
// record count taken from the file size) except where a command writes.
// Output is UTF-8, one item a line. An engine error ends the command with the
// engine's message on standard error and its code as exit status; wrong
// usage prints the usage and exits with 64.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/Dbf4.h"
#include "engine/TZDbfLow.h"
#include "engine/TimeDate.h"
#include "engine/tzmsg.h"
#include "platform/codepage.h"
#include "platform/files.h"

namespace {

constexpr int kUsageError = 64;

const char* const kUsage =
    "usage: vorza-dbf COMMAND [ARGUMENTS]\n"
    "\n"
    "commands:\n"
    "  info TABLE                  the header and the fields of a table\n"
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
// the program through the engine's dispatcher.
void OpenLikeTheReader(const std::string& table) {
  vz::Settings.ForcedFileMode = vz::platform::kModeRead;
  vz::Settings.FixRecCount = true;
  vz::Settings.AnsiTables = false;
  vz::Settings.HideDeleted = true;
  vz::Select(1);
  vz::USE(table);
  vz::Settings.FixRecCount = false;
  vz::Settings.ForcedFileMode = -1;
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

const Command kCommands[] = {
    {"info", "usage: vorza-dbf info TABLE\n"
             "  Prints the header (version, records, header_length, record_length, memo)\n"
             "  and one line 'field NAME TYPE LENGTH DECIMALS' per field.\n",
     RunInfo},
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
  vz::InitDateSettings();
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
