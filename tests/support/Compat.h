// The corpus of dBase files written by other programs (read in place, never
// copied) and what independent readers returned for them.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace vz::test {

// Folder of the corpus (its files/ and expect/ folders).
std::string CompatDir();
// The expectation files of the tables (not of the indexes), sorted.
std::vector<std::string> CompatTableExpectations();
nlohmann::json LoadJson(const std::string& path);
// Decodes the corpus's escaping: \xHH is a byte, everything else itself.
std::string Unescape(const std::string& escaped);
// Encodes bytes as `vorza-dbf list --raw` writes them.
std::string RawEscape(const std::string& bytes);
// Path of a program built beside the tests.
std::string BinPath(const std::string& program);
// Runs `vorza-dbf ARGS` (ARGS as the shell reads them) and returns its
// exit status; its output and error output go to `out` and `err` when
// given, and are dropped otherwise.
int RunTool(const std::string& args, std::string* out = nullptr, std::string* err = nullptr);
// How many of the tool's end-to-end cases a test runs in this build: every
// one, or one in kToolCaseStride under the sanitizers, where each run of
// the tool costs ten times as much. The tests rotate the cases they keep,
// so every kind of case still runs there; the Release build runs them all.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr int kToolCaseStride = 4;
#else
inline constexpr int kToolCaseStride = 1;
#endif
// Quotes a word for the shell.
std::string ShellQuote(const std::string& s);

}  // namespace vz::test
