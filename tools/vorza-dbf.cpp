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

#include "engine/errors.h"
#include "index/indexes.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/hooks.h"
#include "tools/commands.h"

namespace {

using namespace vz::tool;

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

int UsageError(const Command& c) {
  std::fputs(c.usage, stderr);
  return kUsageError;
}

const Command kCommands[] = {
    {"info",
     "usage: vorza-dbf info TABLE\n"
     "  Prints the header (version, records, header_length, record_length, memo)\n"
     "  and one line 'field NAME TYPE LENGTH DECIMALS' per field.\n",
     RunInfo},
    {"list",
     "usage: vorza-dbf list TABLE [--index NDX] [--all] [--raw]\n"
     "  One line per record in record-number order: RECNO, a tab, * for a\n"
     "  deleted record or - , then a tab and the value of each field.\n"
     "\n"
     "  --index NDX  in the order of the index NDX\n"
     "  --all        the deleted records too (left out otherwise)\n"
     "  --raw        the bytes as stored (\\xNN escapes), not converted\n",
     RunList},
    {"grep",
     "usage: vorza-dbf grep TABLE TEXT [--index NDX] [--names]\n"
     "  Every live record whose memo text holds TEXT (with --names: or whose\n"
     "  name does), letter case and accents not counting, as list writes it,\n"
     "  in record-number order or in the order of NDX.\n"
     "\n"
     "  --index NDX  in the order of the index NDX\n"
     "  --names      the names are searched as well as the texts\n",
     RunGrep},
    {"memo",
     "usage: vorza-dbf memo TABLE RECNO [FIELD] [--raw]\n"
     "  The memo text of record RECNO (the first memo field unless FIELD).\n"
     "\n"
     "  --raw  the bytes exactly as stored, not converted\n",
     RunMemo},
    {"locate",
     "usage: vorza-dbf locate TABLE FIELD VALUE\n"
     "  The first record, in record-number order, whose FIELD begins with VALUE\n"
     "  (letter case not counting; FIELD may carry the words NOCASE, EXACT and\n"
     "  CONTAINED). Prints its record number, or 0.\n",
     RunLocate},
    {"eval",
     "usage: vorza-dbf eval TABLE RECNO EXPR\n"
     "  Evaluates the key expression EXPR on record RECNO and prints its type\n"
     "  letter (C, N, D, L), a tab and its value.\n",
     RunEval},
    {"index",
     "usage: vorza-dbf index TABLE EXPR NDX [--unique] [--progress]\n"
     "  Builds the index NDX of TABLE on the key expression EXPR (placed in the\n"
     "  table's folder when NDX names no folder). Prints nothing on success.\n"
     "\n"
     "  --unique    one entry per key (the first record that has it)\n"
     "  --progress  writes the build's progress (1% to 100%) to standard error\n",
     RunIndex},
    {"find",
     "usage: vorza-dbf find TABLE NDX KEY [--exact]\n"
     "  Searches NDX for KEY, a prefix of the key, and prints the record number\n"
     "  found, or 0.\n"
     "\n"
     "  --exact  the whole key must be equal\n",
     RunFind},
    {"ndxinfo",
     "usage: vorza-dbf ndxinfo NDX\n"
     "  Prints the anchor of NDX: expression, key_length, key_type, unique,\n"
     "  table and records (-1 and no table when the record-count check fails).\n",
     RunNdxInfo},
    {"export",
     "usage: vorza-dbf export TABLE [--format csv|jsonl] [--index NDX] [--all]\n"
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
    {"import",
     "usage: vorza-dbf import TABLE SOURCE [--format text|csv|jsonl] [--progress]\n"
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
    {"append",
     "usage: vorza-dbf append TABLE FIELD=VALUE... [--index NDX]...\n"
     "  Appends one record (the table locked meanwhile; other programs may go on\n"
     "  using it) and prints its record number. Fields not named are blank.\n"
     "  Values: C a text (UTF-8; cut to the field's length); N, F a decimal number;\n"
     "  D YYYYMMDD, or empty for no date; L T, F or ?; M the memo text, or @FILE\n"
     "  for the bytes of FILE as they are. A field that does not exist or a value\n"
     "  that does not fit its field ends the command with status 65, nothing written.\n"
     "\n"
     "  --index NDX  an index kept in step with the table (repeat it for more)\n",
     RunAppend},
    {"replace",
     "usage: vorza-dbf replace TABLE RECNO FIELD=VALUE... [--index NDX]...\n"
     "  Changes the fields named of record RECNO (the record locked meanwhile).\n"
     "  Values as for append; a record number that is not in the table ends the\n"
     "  command with status 65, nothing written.\n"
     "\n"
     "  --index NDX  an index kept in step with the table (repeat it for more)\n",
     RunReplace},
    {"delete",
     "usage: vorza-dbf delete TABLE RECNO [--index NDX]...\n"
     "  Marks record RECNO deleted (it stays in the table until pack).\n"
     "\n"
     "  --index NDX  an index kept in step with the table (repeat it for more)\n",
     RunDelete},
    {"recall",
     "usage: vorza-dbf recall TABLE RECNO [--index NDX]...\n"
     "  Marks the deleted record RECNO live again.\n"
     "\n"
     "  --index NDX  an index kept in step with the table (repeat it for more)\n",
     RunRecall},
    {"pack",
     "usage: vorza-dbf pack TABLE [--index NDX]...\n"
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
