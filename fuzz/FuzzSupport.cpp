#include "fuzz/FuzzSupport.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <vector>

#include "index/indexes.h"
#include "platform/files.h"
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
    if (pid <= 0 || (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH))
      stale.push_back(base + "/" + name);
  }
  closedir(d);
  for (const std::string& path : stale) {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
}

// The names an input is written to, each a symbolic link to a file held in
// memory: made at the first write, refilled by every later one, kept from
// one input to the next.
struct MemoryName {
  std::string path;
  std::unique_ptr<platform::MemoryFile> file;
};

std::vector<MemoryName>& MemoryNames() {
  static std::vector<MemoryName> names;
  return names;
}

bool IsMemoryName(const std::string& path) {
  for (const MemoryName& m : MemoryNames())
    if (m.path == path) return true;
  return false;
}

[[noreturn]] void Fail(const std::string& what) {
  std::perror(("fuzz: " + what).c_str());
  std::abort();
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
  // No other program shares the private folder: a lock or record that
  // looks busy stays so, and waiting for it only slows the run.
  platform::SetRetryPause([](std::chrono::milliseconds) {});
  ResetEngine();
}

const std::string& Dir() {
  return TheDir();
}

std::string File(const std::string& name) {
  return TheDir() + "/" + name;
}

void WriteFile(const std::string& path, const void* data, std::size_t size) {
  platform::MemoryFile* file = nullptr;
  for (MemoryName& m : MemoryNames())
    if (m.path == path) file = m.file.get();
  if (!file) {
    auto made = std::make_unique<platform::MemoryFile>();
    if (made->Create(path.substr(path.rfind('/') + 1)) != 0) Fail(path);
    file = made.get();
    MemoryNames().push_back({path, std::move(made)});
  }
  // The engine may have put a file of its own in the link's place.
  char target[64];
  const ssize_t n = readlink(path.c_str(), target, sizeof target);
  if (n < 0 || std::string_view(target, static_cast<std::size_t>(n)) != file->Path()) {
    unlink(path.c_str());
    if (symlink(file->Path().c_str(), path.c_str()) != 0) Fail(path);
  }
  if (file->Assign(data, size) != 0) Fail(path);
}

void RemoveFiles() {
  DIR* d = opendir(TheDir().c_str());
  if (!d) return;
  std::vector<std::string> names;
  while (const dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name != "." && name != ".." && !IsMemoryName(TheDir() + "/" + name)) names.push_back(name);
  }
  closedir(d);
  for (const std::string& name : names) {
    std::error_code ec;
    std::filesystem::remove_all(TheDir() + "/" + name, ec);
  }
}

void ResetEngine() {
  test::ResetAll();
  // Nobody else changes a record of the private folder while a shared
  // SyncIndex reads it again: a second try takes the retry's path, the
  // other 48 only repeat it.
  IndexEngine().SyncAttempts = 2;
}

namespace {
volatile std::uint64_t gConsumed = 0;
}  // namespace

void ConsumeBytes(const void* data, std::size_t size) {
  static unsigned char sink[4096];
  const auto* bytes = static_cast<const unsigned char*>(data);
  for (std::size_t done = 0; done < size;) {
    const std::size_t n = std::min(sizeof sink, size - done);
    std::memcpy(sink, bytes + done, n);
    done += n;
  }
  gConsumed = gConsumed + size + (size ? sink[0] : 0);
}

}  // namespace vz::fuzz
