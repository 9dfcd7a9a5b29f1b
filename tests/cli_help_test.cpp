// The help of vorza-dbf and of the reader: every option a command's usage
// line names is documented under it, both programs print their version,
// and the manual pages made from the help hold every command and option.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "tests/support/Compat.h"
#include "tests/support/DbfBuilder.h"
#include "tests/support/TempDir.h"

namespace vz {
namespace {

using test::RunTool;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// The options ("--name") a line names.
std::set<std::string> OptionsIn(const std::string& line) {
  std::set<std::string> out;
  for (std::size_t at = line.find("--"); at != std::string::npos; at = line.find("--", at + 2)) {
    std::size_t end = at + 2;
    while (end < line.size() &&
           (std::isalnum(static_cast<unsigned char>(line[end])) || line[end] == '-'))
      ++end;
    if (end > at + 2) out.insert(line.substr(at, end - at));
    at = end - 2;
  }
  return out;
}

// The commands the main help lists.
std::vector<std::string> Commands() {
  std::string help;
  EXPECT_EQ(RunTool("--help", &help), 0);
  std::vector<std::string> out;
  bool in = false;
  for (const std::string& line : Lines(help)) {
    if (line == "Commands:") {
      in = true;
    } else if (in && line.empty()) {
      break;
    } else if (in && line.rfind("  ", 0) == 0 && line[2] != ' ') {
      out.push_back(line.substr(2, line.find(' ', 2) - 2));
    }
  }
  return out;
}

TEST(CliHelp, EveryCommandDocumentsEveryOptionOfItsUsage) {
  const std::vector<std::string> commands = Commands();
  ASSERT_EQ(commands.size(), 16u);
  for (const std::string& command : commands) {
    SCOPED_TRACE(command);
    std::string help;
    ASSERT_EQ(RunTool(command + " --help", &help), 0);
    const std::vector<std::string> lines = Lines(help);
    ASSERT_FALSE(lines.empty());
    ASSERT_EQ(lines[0].rfind("usage: vorza-dbf " + command, 0), 0u) << lines[0];
    std::set<std::string> documented;
    for (std::size_t i = 1; i < lines.size(); ++i)
      if (lines[i].rfind("  --", 0) == 0)
        documented.insert(lines[i].substr(2, lines[i].find(' ', 2) - 2));
    for (const std::string& option : OptionsIn(lines[0]))
      EXPECT_TRUE(documented.count(option)) << option << " is not described in\n" << help;
    // The same text with the option anywhere on the line.
    std::string again;
    ASSERT_EQ(RunTool(command + " x --help", &again), 0);
    EXPECT_EQ(again, help);
  }
}

TEST(CliHelp, BothProgramsPrintTheirVersion) {
  std::string out;
  ASSERT_EQ(RunTool("--version", &out), 0);
  EXPECT_EQ(out, std::string("vorza-dbf ") + VORZA_PROJECT_VERSION + "\n");
#ifdef VORZA_READER
  ASSERT_EQ(test::RunCommand(test::BinPath("vorza") + " --version", &out), 0);
  EXPECT_EQ(out, std::string("vorza ") + VORZA_PROJECT_VERSION + "\n");
#endif
}

TEST(CliHelp, TheManualPageHoldsEveryCommandAndOption) {
  test::TempDir dir;
  std::string page;
  ASSERT_EQ(test::RunCommand("gzip -dc " + std::string(VORZA_MAN_DIR) + "/vorza-dbf.1.gz", &page),
            0);
  EXPECT_EQ(page.rfind(".TH VORZA-DBF 1 ", 0), 0u);
  for (const std::string& command : Commands()) {
    std::string help;
    ASSERT_EQ(RunTool(command + " --help", &help), 0);
    const std::string usage = Lines(help)[0].substr(7);
    std::string escaped;  // as troff writes it
    for (std::size_t i = 0; i < usage.size(); ++i) {
      const char before = i ? usage[i - 1] : ' ';
      escaped += usage[i] == '-' && std::string(" [(|-\"").find(before) != std::string::npos
                     ? std::string("\\-")
                     : std::string(1, usage[i]);
    }
    EXPECT_NE(page.find(".SS \"" + escaped + "\"\n"), std::string::npos) << escaped;
    for (const std::string& option : OptionsIn(usage)) {
      std::string troff = "\\-\\-" + option.substr(2);
      EXPECT_NE(page.find(".TP\n\\fB" + troff + "\\fR"), std::string::npos)
          << command << " " << option;
    }
  }
  // man itself reads it without a complaint.
  std::string out, err;
  test::WriteFile(dir.File("page.1"), page);
  if (test::RunCommand("command -v man", &out) == 0) {
    ASSERT_EQ(test::RunCommand("LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l " + dir.File("page.1"),
                               &out, &err),
              0);
    EXPECT_EQ(err, "");
    EXPECT_NE(out.find("vorza-dbf - reads and writes dBase tables"), std::string::npos) << out;
  }
}

}  // namespace
}  // namespace vz
