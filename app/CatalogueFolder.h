// Where the reader's catalogue is: one rule for the folder given on the
// command line and for the folder it opens without one.
#pragma once

#include <functional>
#include <string>

namespace vz::app {

// Reads an environment variable (null when it is not set).
using Environment = std::function<const char*(const char* name)>;

// The process's own environment.
const char* ProcessEnvironment(const char* name);

struct CatalogueChoice {
  std::string folder;   // absolute, ending in "/"; empty when `problem` says why not
  std::string problem;  // "FOLDER: no such folder"
};

// The catalogue the reader opens:
//   - `given` (the command line's FOLDER) when it is not empty: it must be a
//     folder;
//   - else the user's data folder ($XDG_DATA_HOME/vorza, else
//     ~/.local/share/vorza) when it holds at least one machine's table;
//   - else the sample installed with the program, `share/vorza` of the
//     prefix whose `bin` holds the program, when it holds one;
//   - else the program's own folder (a build tree keeps the sample there).
// `programDir` ends in "/".
CatalogueChoice ChooseCatalogueFolder(const std::string& given, const std::string& programDir,
                                      const Environment& env = ProcessEnvironment);

// The user's data folder for catalogues, ending in "/" (empty when neither
// XDG_DATA_HOME nor HOME is set). XDG_DATA_HOME counts only when absolute.
std::string UserCatalogueFolder(const Environment& env = ProcessEnvironment);

// The sample catalogue installed with a program in `programDir`.
std::string InstalledSampleFolder(const std::string& programDir);

// The folder to read the release information (vorzaw95.doc) from when the
// current folder has none: the catalogue's when it has it, else the
// installed sample's when that has it, else the catalogue's.
std::string ReleaseInformationFolder(const std::string& catalogue, const std::string& programDir);

}  // namespace vz::app
