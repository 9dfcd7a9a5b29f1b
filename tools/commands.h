// The commands of vorza-dbf, one function each, grouped by what they do:
// reading (read_commands.cpp), moving cheats in and out of a table
// (transfer_commands.cpp) and writing (write_commands.cpp). Each takes the
// arguments after the command's name and returns the exit status, or -1
// for wrong usage (the caller prints the command's usage). What the groups
// share is here too (command_support.cpp).
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

namespace vz::tool {

// Reading.
int RunInfo(const std::vector<std::string>& args);
int RunList(const std::vector<std::string>& argv);
int RunGrep(const std::vector<std::string>& argv);
int RunMemo(const std::vector<std::string>& argv);
int RunLocate(const std::vector<std::string>& argv);
int RunEval(const std::vector<std::string>& argv);
int RunIndex(const std::vector<std::string>& argv);
int RunFind(const std::vector<std::string>& argv);
int RunNdxInfo(const std::vector<std::string>& argv);

// Moving cheats in and out.
int RunImport(const std::vector<std::string>& argv);
int RunExport(const std::vector<std::string>& argv);

// Writing.
int RunAppend(const std::vector<std::string>& argv);
int RunReplace(const std::vector<std::string>& argv);
int RunDelete(const std::vector<std::string>& argv);
int RunRecall(const std::vector<std::string>& argv);
int RunPack(const std::vector<std::string>& argv);

// Escapes a text for one-line output: tab, CR, LF and backslash.
std::string Escape(const std::string& utf8);
// Appends the escape of one of those four characters; false (nothing
// appended) for any other.
bool AppendEscape(std::string& out, char32_t c);

// Text of an OEM table as the engine delivers it (ANSI), then as UTF-8.
std::string Shown(const std::string& oem);

// Opens a table the way the reader does, in work area 1. Engine errors end
// the program through the engine's dispatcher. A command that only reads
// keeps every file it opens afterwards read-only too (memo file, indexes,
// semaphore file), so that nothing it reads is ever written, not even the
// repairs an index open makes on a writable file; `writes` gives a command
// that makes files the engine's usual modes after the table is open.
void OpenLikeTheReader(const std::string& table, bool writes = false);

// Opens an index as the controlling order; engine errors end the program.
void OpenIndexLikeTheReader(const std::string& ndx);

// Splits flags (--all) from the other arguments.
struct Args {
  std::vector<std::string> words;
  std::vector<std::string> flags;
  bool Has(const char* flag) const {
    for (const auto& f : flags)
      if (f == flag) return true;
    return false;
  }
};

// The flags apart from the words; `index`, when given, takes the value of
// --index NDX.
Args SplitArgs(const std::vector<std::string>& args, std::string* index = nullptr);

// True when every flag given is one of `allowed`.
bool OnlyFlags(const Args& a, std::initializer_list<const char*> allowed);

}  // namespace vz::tool
