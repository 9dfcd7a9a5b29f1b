#include "fuzz/FuzzSupport.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "platform/hooks.h"
#include "tests/support/TableFixture.h"

namespace vz::fuzz {
namespace {

constexpr const char* kPrefix = "vorza-fuzz-";

std::string& TheDir() {
  static std::string dir;
  return dir;
}

std::string BaseDir() {
  struct stat st;
  if (stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && access("/dev/shm", W_OK | X_OK) == 0)
    return "/dev/shm";
  const char* tmp = std::getenv("TMPDIR");
  return tmp && *tmp ? tmp : "/tmp";
}

// Folders of earlier runs whose process has ended (a crash ends a run
// without its exit handlers).
void RemoveStaleFolders(const std::string& base) {
  DIR* d = opendir(base.c_str());
  if (!d) return;
  std::vector<std::string> stale;
  while (const dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name.rfind(kPrefix, 0) != 0) continue;
    const long pid = std::strtol(name.c_str() + std::strlen(kPrefix), nullptr, 10);
    if (pid <= 0 || (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)) stale.push_back(base + "/" + name);
  }
  closedir(d);
  for (const std::string& path : stale) {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
}

void RemoveDir() {
  if (TheDir().empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(TheDir(), ec);
  TheDir().clear();
}

}  // namespace

void Initialize() {
  if (!TheDir().empty()) return;
  const std::string base = BaseDir();
  RemoveStaleFolders(base);
  std::string tmpl = base + "/" + kPrefix + std::to_string(getpid()) + "-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) {
    std::perror("fuzz: mkdtemp");
    std::abort();
  }
  TheDir() = buf.data();
  std::atexit(RemoveDir);

  // Nothing the engine says may end the process or fill the log.
  platform::SetHaltPresenter([](const std::string&, const std::string&) {});
  platform::SetMessagePresenter([](const std::string&) {});
  platform::SetTerminator([](int) { throw Halted(); });
  ResetEngine();
}

const std::string& Dir() { return TheDir(); }

std::string File(const std::string& name) { return TheDir() + "/" + name; }

void WriteFile(const std::string& path, const void* data, std::size_t size) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    std::perror(("fuzz: " + path).c_str());
    std::abort();
  }
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = write(fd, p, size);
    if (n <= 0) {
      std::perror(("fuzz: " + path).c_str());
      std::abort();
    }
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  close(fd);
}

void RemoveFiles() {
  DIR* d = opendir(TheDir().c_str());
  if (!d) return;
  std::vector<std::string> names;
  while (const dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(d);
  for (const std::string& name : names) {
    std::error_code ec;
    std::filesystem::remove_all(TheDir() + "/" + name, ec);
  }
}

void ResetEngine() { test::ResetAll(); }

}  // namespace vz::fuzz
