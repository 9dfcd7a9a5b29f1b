#include "engine/table_swap.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/files.h"

namespace vz {
namespace {

constexpr const char* kCommitMark = "commit";
constexpr const char* kKeptPrefix = "previous-";
// How long an open waits for a live replacement past its commit mark.
constexpr int kWaitsForLiveSwap = 2000;  // of 1 ms

// For the tests: VORZA_SWAP_KILL_AT names a point of Commit ("flushed",
// "committed", "memo", "table") where the process kills itself, as a crash
// or a kill would end it there.
void KillPointForTests(const char* point) {
  const char* at = std::getenv("VORZA_SWAP_KILL_AT");
  if (at && std::strcmp(at, point) == 0) ::kill(::getpid(), SIGKILL);
}

std::vector<std::string> EntriesOf(const std::string& folder) {
  std::vector<std::string> out;
  if (DIR* d = ::opendir(folder.c_str())) {
    while (const dirent* e = ::readdir(d)) {
      const std::string entry = e->d_name;
      if (entry != "." && entry != "..") out.push_back(entry);
    }
    ::closedir(d);
  }
  return out;
}

bool StartsWith(const std::string& s, const char* prefix) {
  return s.rfind(prefix, 0) == 0 && s.size() > std::strlen(prefix);
}

// Commits a file's (or a folder's) contents to disk. Returns 0 or errno.
int Sync(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  const int rc = ::fsync(fd) == 0 ? 0 : errno;
  ::close(fd);
  return rc;
}

std::string Here(const std::string& dir) {
  return dir.empty() ? "." : dir;
}

// Removes a replacement's folder: the kept old memo file first (without
// it nothing can take the new memo file back any more), then the other
// files, the commit mark last, then the folder. Quietly leaves what it
// cannot remove.
void RemoveSwapFolder(const std::string& folder) {
  std::vector<std::string> entries = EntriesOf(folder);
  for (const std::string& e : entries)
    if (StartsWith(e, kKeptPrefix)) ::unlink((folder + "/" + e).c_str());
  for (const std::string& e : entries)
    if (!StartsWith(e, kKeptPrefix) && e != kCommitMark) ::unlink((folder + "/" + e).c_str());
  ::unlink((folder + "/" + kCommitMark).c_str());
  ::rmdir(folder.c_str());
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {
  }, sb{};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

// Finishes the replacement whose folder this process holds locked: rolls a
// committed one forward, takes back one that had not committed.
int Settle(const std::string& folder, const std::string& dir, const std::string& name,
           std::string& message) {
  bool committed = false;
  std::string memo, kept;
  bool table = false;
  for (const std::string& e : EntriesOf(folder)) {
    if (e == kCommitMark)
      committed = true;
    else if (e == name)
      table = true;
    else if (StartsWith(e, kKeptPrefix))
      kept = e.substr(std::strlen(kKeptPrefix));
    else
      memo = e;
  }
  const auto fail = [&](const std::string& what) {
    const int err = errno;
    message = "An import into " + dir + name + " was cut short and cannot be finished: " + what +
              ": " + std::strerror(err);
    const int code = platform::DosErrorFromErrno(err);
    return code ? code : platform::kAccessDenied;
  };
  if (committed) {
    // Memo file first, as the replacement does.
    if (!memo.empty() && ::rename((folder + "/" + memo).c_str(), (dir + memo).c_str()) != 0)
      return fail("cannot put " + dir + memo + " in place");
    if (table && ::rename((folder + "/" + name).c_str(), (dir + name).c_str()) != 0)
      return fail("cannot put " + dir + name + " in place");
    if (!memo.empty() || table) Sync(Here(dir));
  } else if (!kept.empty() && kept.find('/') == std::string::npos && memo.empty() &&
             !SameFile(folder + "/" + kKeptPrefix + kept, dir + kept)) {
    // A table rename that failed took the mark back and was cut before it
    // could put the old memo file back beside the old table.
    if (::rename((folder + "/" + kKeptPrefix + kept).c_str(), (dir + kept).c_str()) != 0)
      return fail("cannot put the old " + dir + kept + " back");
    Sync(Here(dir));
  }
  RemoveSwapFolder(folder);
  return 0;
}

// Removes the folders ".NAME.import-XXXXXX" that replacements of an
// earlier kind (a folder of their own per replacement, no commit mark)
// left when they were cut short, and that are not held by anybody. One cut
// between its renames had put its memo file in place while the new table
// was still in the folder: the old memo file goes back.
void RemoveFoldersOfTheEarlierKind(const std::string& dir, const std::string& name) {
  const std::string prefix = "." + name + ".import-";
  std::vector<std::string> stale;
  for (const std::string& entry : EntriesOf(Here(dir))) {
    if (entry.rfind(prefix, 0) != 0 || entry.size() != prefix.size() + 6) continue;
    const std::string path = dir + entry;
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) continue;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) stale.push_back(path);
    ::close(fd);
  }
  for (const std::string& path : stale) {
    if (::access((path + "/" + name).c_str(), F_OK) == 0)
      for (const std::string& e : EntriesOf(path))
        if (StartsWith(e, kKeptPrefix)) {
          const std::string memo = e.substr(std::strlen(kKeptPrefix));
          if (memo.find('/') == std::string::npos)
            ::rename((path + "/" + e).c_str(), (dir + memo).c_str());
        }
    RemoveSwapFolder(path);
  }
}

// Where the file name of a path starts (only "/" separates folders here).
std::size_t NameStartOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? 0 : slash + 1;
}

}  // namespace

std::string SwapFolderOf(const std::string& table) {
  const std::size_t start = NameStartOf(table);
  return table.substr(0, start) + "." + table.substr(start) + ".import";
}

int FinishCutSwap(const std::string& table, std::string& message) {
  const std::size_t start = NameStartOf(table);
  const std::string dir = table.substr(0, start);
  const std::string name = table.substr(start);
  if (name.empty()) return 0;
  const std::string folder = SwapFolderOf(table);
  for (int attempt = 0;; ++attempt) {
    // The one look-up of an ordinary open: no such folder.
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return 0;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      // A live replacement. Until its mark the table in place is the old
      // one, whole; past it, the pair in place is whole again once its
      // renames are done.
      const bool committed = ::faccessat(fd, kCommitMark, F_OK, AT_SYMLINK_NOFOLLOW) == 0;
      ::close(fd);
      if (!committed) return 0;
      if (attempt >= kWaitsForLiveSwap) {
        message = "An import into " + table + " does not finish putting its files in place";
        return platform::kSharingViolation;
      }
      platform::PauseBeforeRetry(std::chrono::milliseconds(1));
      continue;
    }
    // Held: is it still the folder of that name (and not one that a
    // replacement finished and removed while this waited for its lock)?
    struct stat held {
    }, named{};
    const bool same = ::fstat(fd, &held) == 0 && ::lstat(folder.c_str(), &named) == 0 &&
                      held.st_dev == named.st_dev && held.st_ino == named.st_ino;
    int rc = 0;
    if (same) rc = Settle(folder, dir, name, message);
    ::close(fd);
    if (same || attempt >= kWaitsForLiveSwap) return rc;
  }
}

TableSwap::TableSwap(std::string table) : table_(std::move(table)) {
  const std::size_t start = NameStartOf(table_);
  dir_ = table_.substr(0, start);
  name_ = table_.substr(start);
  folder_ = SwapFolderOf(table_);
  newTable_ = folder_ + "/" + name_;
}

TableSwap::~TableSwap() {
  Discard();
}

void TableSwap::Discard() {
  if (fd_ < 0) return;
  RemoveSwapFolder(folder_);
  ::close(fd_);
  fd_ = -1;
}

bool TableSwap::Begin(std::string& error) {
  if (name_.empty()) {
    error = "no table name in " + table_;
    return false;
  }
  if (FinishCutSwap(table_, error) != 0) return false;
  RemoveFoldersOfTheEarlierKind(dir_, name_);
  // The folder is made and locked under a name of its own, then given its
  // name: an open never sees it there unlocked.
  std::string made = dir_ + "." + name_ + ".import-XXXXXX";
  if (!::mkdtemp(made.data())) {
    error = "cannot make a folder for the new files in " + Here(dir_) + ": " + std::strerror(errno);
    return false;
  }
  fd_ = ::open(made.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd_ < 0 || ::flock(fd_, LOCK_EX) != 0 ||
      ::renameat2(AT_FDCWD, made.c_str(), AT_FDCWD, folder_.c_str(), RENAME_NOREPLACE) != 0) {
    const int err = errno;
    ::rmdir(made.c_str());
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    error = err == EEXIST ? "another import into " + table_ + " is under way"
                          : "cannot make a folder for the new files in " + Here(dir_) + ": " +
                                std::strerror(err);
    return false;
  }
  return true;
}

bool TableSwap::Commit(std::string& error) {
  if (fd_ < 0) {
    error = "no new table was made";
    return false;
  }
  // The memo file the engine made beside the new table.
  std::string memo;
  bool table = false;
  for (const std::string& e : EntriesOf(folder_)) {
    if (e == name_)
      table = true;
    else
      memo = e;
  }
  if (!table || memo.empty()) {
    error = "the new table has no memo file";
    return false;
  }
  const std::string newMemo = folder_ + "/" + memo;
  const std::string finalMemo = dir_ + memo;
  const std::string finalTable = dir_ + name_;

  // The new files get the old ones' permissions.
  struct stat old {};
  if (::stat(finalTable.c_str(), &old) == 0) ::chmod(newTable_.c_str(), old.st_mode & 07777);
  if (::stat(finalMemo.c_str(), &old) == 0) ::chmod(newMemo.c_str(), old.st_mode & 07777);
  for (const std::string& path : {newMemo, newTable_})
    if (const int rc = Sync(path); rc != 0) {
      error = "cannot write " + path + ": " + std::strerror(rc);
      return false;
    }

  const std::string kept = folder_ + "/" + kKeptPrefix + memo;
  const bool hadMemo = ::link(finalMemo.c_str(), kept.c_str()) == 0;
  if (!hadMemo && errno != ENOENT) {
    error = "cannot keep " + finalMemo + ": " + std::strerror(errno);
    return false;
  }
  KillPointForTests("flushed");

  // The commit mark: from here an open puts the new files in place.
  const std::string mark = folder_ + "/" + kCommitMark;
  const int markFd = ::open(mark.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (markFd < 0 || ::fsync(markFd) != 0 || ::fsync(fd_) != 0) {
    error = "cannot write " + mark + ": " + std::strerror(errno);
    if (markFd >= 0) ::close(markFd);
    ::unlink(mark.c_str());
    return false;
  }
  ::close(markFd);
  KillPointForTests("committed");

  // Takes the mark back (so an open no longer finishes this) and then the
  // memo file, when one rename fails.
  const auto takeBack = [&](const std::string& what, bool memoMoved) {
    const int err = errno;
    ::unlink(mark.c_str());
    ::fsync(fd_);
    if (memoMoved) {
      if (hadMemo)
        ::rename(kept.c_str(), finalMemo.c_str());
      else
        ::unlink(finalMemo.c_str());
    }
    error = "cannot put " + what + " in place: " + std::strerror(err);
    return false;
  };
  if (::rename(newMemo.c_str(), finalMemo.c_str()) != 0) return takeBack(finalMemo, false);
  KillPointForTests("memo");
  if (::rename(newTable_.c_str(), finalTable.c_str()) != 0) return takeBack(finalTable, true);
  KillPointForTests("table");
  Sync(Here(dir_));
  Discard();
  return true;
}

}  // namespace vz
