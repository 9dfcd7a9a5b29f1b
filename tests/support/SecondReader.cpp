// A second reader of a catalogue for the tests of shared use: a table
// component set up exactly as the reader's (read-only, shared, cheat.ndx
// beside the table, checked at every open and built when it cannot be
// trusted), driven line by line from standard input. Each command answers with one line.
//
//   open TABLE    opens TABLE (closing the one open) and goes to the first
//                 name; answers "ok"
//   names         every visible name in name order, tab-separated
//   locate TEXT   the search box's scan; answers the current name
//   exit          closes the table and deletes cheat.ndx, as File/Exit
//                 does; answers "bye" and ends
//
// Engine errors end it with the engine's message and code.
#include <cstdio>
#include <iostream>
#include <string>

#include "app/CheatTable.h"
#include "engine/dates.h"
#include "engine/dbt_file.h"
#include "engine/trim.h"
#include "index/expr.h"
#include "index/indexes.h"
#include "platform/files.h"
#include "table/DbfTable.h"

int main() {
  vz::InitEngine();
  vz::InstallHaltingPresentation();
  vz::DbfTable table;
  vz::app::ConfigureAsCheatTable(table, "cheat.ndx");
  std::string line;
  std::string ndx;
  while (std::getline(std::cin, line)) {
    const std::size_t blank = line.find(' ');
    const std::string command = line.substr(0, blank);
    const std::string argument =
        blank == std::string::npos ? std::string() : line.substr(blank + 1);
    std::string answer;
    if (command == "open") {
      table.SetDbfFileName(argument);
      table.Open();
      table.First();
      ndx = vz::platform::DirectoryOf(argument) + "cheat.ndx";
      answer = "ok";
    } else if (command == "names") {
      table.First();
      for (bool first = true; !table.Eof(); table.Next(), first = false)
        answer += (first ? "" : "\t") + table.FieldByName("CHEATNAME")->AsString();
    } else if (command == "locate") {
      table.LocateRec("cheatname", argument);
      answer = table.FieldByName("CHEATNAME")->AsString();
    } else if (command == "exit") {
      table.Close();
      vz::platform::DeleteFile(ndx);
      std::cout << "bye" << std::endl;
      return 0;
    } else {
      answer = "unknown command " + command;
    }
    std::cout << answer << std::endl;
  }
  return 0;
}
