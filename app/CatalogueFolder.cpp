#include "app/CatalogueFolder.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "app/MachineCatalogue.h"
#include "platform/files.h"

namespace vz::app {
namespace {

bool IsFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string AsFolder(const std::filesystem::path& path) {
  std::string out = std::filesystem::absolute(path).lexically_normal().string();
  if (out.empty() || out.back() != '/') out += '/';
  return out;
}

bool HoldsAMachine(const std::string& folder) {
  return !folder.empty() && !OfferedMachines(folder).empty();
}

}  // namespace

const char* ProcessEnvironment(const char* name) {
  return std::getenv(name);
}

std::string UserCatalogueFolder(const Environment& env) {
  const char* data = env("XDG_DATA_HOME");
  if (data && data[0] == '/') return AsFolder(std::filesystem::path(data) / "vorza");
  const char* home = env("HOME");
  if (home && *home) return AsFolder(std::filesystem::path(home) / ".local/share/vorza");
  return "";
}

std::string InstalledSampleFolder(const std::string& programDir) {
  return AsFolder(std::filesystem::path(programDir) / "../share/vorza");
}

CatalogueChoice ChooseCatalogueFolder(const std::string& given, const std::string& programDir,
                                      const Environment& env) {
  if (!given.empty()) {
    if (!IsFolder(given)) return {"", given + ": no such folder"};
    return {AsFolder(given), ""};
  }
  if (const std::string user = UserCatalogueFolder(env); HoldsAMachine(user)) return {user, ""};
  if (const std::string sample = InstalledSampleFolder(programDir); HoldsAMachine(sample))
    return {sample, ""};
  return {AsFolder(programDir), ""};
}

std::string ReleaseInformationFolder(const std::string& catalogue, const std::string& programDir) {
  const char* const doc = "vorzaw95.doc";
  if (platform::FileExists(catalogue + doc)) return catalogue;
  if (const std::string sample = InstalledSampleFolder(programDir);
      platform::FileExists(sample + doc))
    return sample;
  return catalogue;
}

}  // namespace vz::app
