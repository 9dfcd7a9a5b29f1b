#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace vz::platform {

int DosErrorFromErrno(int err) {
  switch (err) {
    case 0: return kOk;
    case ENOENT: return kFileNotFound;
    case ENOTDIR:
    case ELOOP:
    case ENAMETOOLONG: return kPathNotFound;
    case EMFILE:
    case ENFILE: return kTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY: return kAccessDenied;
    case EBADF: return kInvalidHandle;
    case ENOMEM: return kNotEnoughMemory;
    case EINVAL: return kInvalidAccessCode;
    case EWOULDBLOCK: return kSharingViolation;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return kDiskWriteError;
    case EIO:
    default: return kDiskReadError;
  }
}

File::~File() {
  Close();
}

File::File(File&& other) noexcept : fd_(other.fd_), mode_(other.mode_) {
  other.fd_ = -1;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    mode_ = other.mode_;
    other.fd_ = -1;
  }
  return *this;
}

namespace {

int OpenFlags(int mode) {
  switch (mode & 3) {
    case kModeRead: return O_RDONLY;
    case kModeWrite: return O_WRONLY;
    default: return O_RDWR;
  }
}

// Takes the whole-file sharing lock of an open mode. Returns 0 or 32.
int TakeShareLock(int fd, int mode) {
  const int share = mode & 0x70;
  const int op = (share == kShareDenyAll ? LOCK_EX : LOCK_SH) | LOCK_NB;
  while (flock(fd, op) != 0) {
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) return kSharingViolation;
    return 0;  // a file system without flock: no sharing rules to keep
  }
  return 0;
}

// The code of a failed open: a missing file is 2 in a folder that exists
// and 3 when the folder itself is missing; a socket (ENXIO) is no file to
// open.
int OpenError(const std::string& path, int err) {
  if (err == ENXIO) return kAccessDenied;
  if (err == ENOENT) return MissingFileCode(path);
  return DosErrorFromErrno(err);
}

// Opens a path that must name a regular file. The open does not wait (a
// named pipe would otherwise block until a writer comes); what was opened
// is looked at through the descriptor, so that a file swapped in between
// cannot slip through, and anything but a regular file (a folder, a pipe,
// a socket, a device) is refused with 5. Returns the descriptor or -code.
int OpenRegular(const std::string& path, int flags) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -OpenError(path, errno);
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return -kAccessDenied;
  }
  const int fl = fcntl(fd, F_GETFL);
  if (fl != -1) fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
  return fd;
}

}  // namespace

int File::Open(const std::string& path, int mode) {
  Close();
  if ((mode & 3) == 3) return kInvalidAccessCode;
  const int fd = OpenRegular(path, OpenFlags(mode));
  if (fd < 0) return -fd;
  if (int rc = TakeShareLock(fd, mode); rc != 0) {
    ::close(fd);
    return rc;
  }
  fd_ = fd;
  mode_ = mode;
  return kOk;
}

int File::Create(const std::string& path, int mode) {
  Close();
  if ((mode & 3) == kModeRead) mode |= kModeReadWrite;
  const int fd = OpenRegular(path, OpenFlags(mode) | O_CREAT);
  if (fd < 0) return -fd;
  if (int rc = TakeShareLock(fd, mode); rc != 0) {
    ::close(fd);
    return rc;
  }
  if (ftruncate(fd, 0) != 0) {
    const int rc = DosErrorFromErrno(errno);
    ::close(fd);
    return rc;
  }
  fd_ = fd;
  mode_ = mode;
  return kOk;
}

void File::Adopt(int fd, int mode) {
  Close();
  fd_ = fd;
  mode_ = mode;
}

int File::Close() {
  if (fd_ < 0) return kOk;
  const int rc = ::close(fd_);
  fd_ = -1;
  return rc == 0 ? kOk : DosErrorFromErrno(errno);
}

int File::ReadAt(std::uint64_t offset, void* buffer, std::size_t count, std::size_t& got) {
  got = 0;
  if (fd_ < 0) return kFileNotOpen;
  if (offset > static_cast<std::uint64_t>(INT64_MAX)) return kOk;
  auto* p = static_cast<char*>(buffer);
  while (got < count) {
    const ssize_t n = ::pread(fd_, p + got, count - got, static_cast<off_t>(offset + got));
    if (n < 0) {
      if (errno == EINTR) continue;
      return DosErrorFromErrno(errno == EISDIR ? EIO : errno);
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return kOk;
}

namespace {

struct WriteFaultState {
  bool counting = false;
  std::int64_t nth = 0;
  int err = 0;
  bool persistent = false;
  std::int64_t count = 0;
  bool hit = false;
};

WriteFaultState& TheWriteFault() {
  static WriteFaultState state;
  return state;
}

// Counts a write; the errno value it must fail with, or 0.
int InjectedWriteError() {
  WriteFaultState& f = TheWriteFault();
  if (!f.counting) return 0;
  ++f.count;
  if (f.nth <= 0 || f.count < f.nth || (f.count > f.nth && !f.persistent)) return 0;
  f.hit = true;
  return f.err;
}

}  // namespace

void SetWriteFault(std::int64_t nth, int err, bool persistent) {
  TheWriteFault() = WriteFaultState{true, nth, err, persistent, 0, false};
}

void ClearWriteFault() {
  TheWriteFault() = WriteFaultState{};
}

std::int64_t WritesCounted() {
  return TheWriteFault().count;
}

bool WriteFaultHit() {
  return TheWriteFault().hit;
}

int File::WriteAt(std::uint64_t offset, const void* buffer, std::size_t count) {
  if (fd_ < 0) return kFileNotOpen;
  if (!Writable()) return kAccessDenied;
  if (const int err = InjectedWriteError(); err != 0) {
    if (count / 2 > 0 && offset <= static_cast<std::uint64_t>(INT64_MAX))
      (void)!::pwrite(fd_, buffer, count / 2, static_cast<off_t>(offset));
    return err == EBADF ? kAccessDenied : kDiskWriteError;
  }
  if (offset > static_cast<std::uint64_t>(INT64_MAX)) return kDiskWriteError;
  const auto* p = static_cast<const char*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    const ssize_t n = ::pwrite(fd_, p + done, count - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno == EBADF ? kAccessDenied : kDiskWriteError;
    }
    if (n == 0) return kDiskWriteError;
    done += static_cast<std::size_t>(n);
  }
  return kOk;
}

int File::Size(std::uint64_t& size) const {
  size = 0;
  if (fd_ < 0) return kFileNotOpen;
  struct stat st;
  if (fstat(fd_, &st) != 0) return DosErrorFromErrno(errno);
  size = static_cast<std::uint64_t>(st.st_size);
  return kOk;
}

int File::Truncate(std::uint64_t size) {
  if (fd_ < 0) return kFileNotOpen;
  if (!Writable()) return kAccessDenied;
  if (ftruncate(fd_, static_cast<off_t>(size)) != 0) return DosErrorFromErrno(errno);
  return kOk;
}

int File::Commit() {
  if (fd_ < 0) return kFileNotOpen;
  if (!Writable()) return kOk;  // nothing of ours to flush
  if (fdatasync(fd_) != 0 && errno != EINVAL && errno != EROFS) return DosErrorFromErrno(errno);
  return kOk;
}

namespace {

int RangeLock(int fd, bool writable, short type, std::uint64_t offset, std::uint64_t length,
              bool wait) {
  struct flock fl;
  std::memset(&fl, 0, sizeof fl);
  fl.l_type = type == F_UNLCK ? F_UNLCK : (type == F_RDLCK || !writable ? F_RDLCK : F_WRLCK);
  fl.l_whence = SEEK_SET;
  if (offset > static_cast<std::uint64_t>(INT64_MAX)) offset = INT64_MAX;
  if (length > static_cast<std::uint64_t>(INT64_MAX) - offset) length = INT64_MAX - offset;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = static_cast<off_t>(length);
  for (;;) {
    if (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) == 0) return kOk;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EACCES) return kLockViolation;
    return DosErrorFromErrno(errno);
  }
}

}  // namespace

int File::Lock(std::uint64_t offset, std::uint64_t length, bool wait) {
  if (fd_ < 0) return kFileNotOpen;
  return RangeLock(fd_, Writable(), F_WRLCK, offset, length, wait);
}

int File::LockShared(std::uint64_t offset, std::uint64_t length, bool wait) {
  if (fd_ < 0) return kFileNotOpen;
  return RangeLock(fd_, false, F_RDLCK, offset, length, wait);
}

int File::Unlock(std::uint64_t offset, std::uint64_t length) {
  if (fd_ < 0) return kFileNotOpen;
  return RangeLock(fd_, Writable(), F_UNLCK, offset, length, false);
}

bool File::IsRangeLockedByOther(std::uint64_t offset, std::uint64_t length) {
  if (fd_ < 0) return false;
  struct flock fl;
  std::memset(&fl, 0, sizeof fl);
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = static_cast<off_t>(length);
  if (fcntl(fd_, F_OFD_GETLK, &fl) != 0) return false;
  return fl.l_type != F_UNLCK;
}

namespace {

RetryPause& TheRetryPause() {
  static RetryPause pause;
  return pause;
}

}  // namespace

RetryPause SetRetryPause(RetryPause pause) {
  return std::exchange(TheRetryPause(), std::move(pause));
}

void PauseBeforeRetry(std::chrono::milliseconds duration) {
  if (TheRetryPause()) {
    TheRetryPause()(duration);
    return;
  }
  std::this_thread::sleep_for(duration);
}

bool FileExists(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool IsSpecialFile(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) &&
         !S_ISDIR(st.st_mode);
}

int MissingFileCode(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash != std::string::npos && !DirectoryExists(path.substr(0, slash + 1)))
    return kPathNotFound;
  return kFileNotFound;
}

bool DirectoryExists(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int DeleteFile(const std::string& path) {
  if (::unlink(path.c_str()) != 0) return DosErrorFromErrno(errno);
  return kOk;
}

int RenameFile(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) return DosErrorFromErrno(errno);
  return kOk;
}

int FreeDiskSpace(const std::string& path, std::uint64_t& bytes) {
  bytes = 0;
  std::string where = path.empty() ? "." : path;
  if (!DirectoryExists(where) && !FileExists(where)) {
    where = DirectoryOf(where);
    if (where.empty()) where = ".";
  }
  struct statvfs sv;
  if (statvfs(where.c_str(), &sv) != 0) return DosErrorFromErrno(errno);
  bytes = static_cast<std::uint64_t>(sv.f_bavail) * static_cast<std::uint64_t>(sv.f_frsize);
  return kOk;
}

int ModificationTime(const std::string& path, std::int64_t& nanoseconds) {
  nanoseconds = 0;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return DosErrorFromErrno(errno);
  nanoseconds = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  return kOk;
}

std::string ProgramDirectory() {
  std::vector<char> buf(4096);
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return "./";
    if (static_cast<std::size_t>(n) < buf.size()) {
      const std::string exe(buf.data(), static_cast<std::size_t>(n));
      return exe.substr(0, exe.rfind('/') + 1);
    }
    buf.resize(buf.size() * 2);
  }
}

bool DirectoryWritable(const std::string& dir) {
  std::string pattern = dir.empty() ? "./" : dir;
  if (pattern.back() != '/') pattern += '/';
  pattern += ".vorza-probe-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = ::mkstemp(name.data());
  if (fd < 0) return false;
  ::close(fd);
  ::unlink(name.data());
  return true;
}

std::string UserCacheDirectory(const std::string& application) {
  std::string base;
  if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg == '/') {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = std::string(home) + "/.cache";
  } else {
    return {};
  }
  std::error_code ec;
  const std::filesystem::path dir = std::filesystem::path(base) / application;
  std::filesystem::create_directories(dir, ec);
  if (!std::filesystem::is_directory(dir, ec)) return {};
  std::string result = dir.string();
  if (result.back() != '/') result += '/';
  return result;
}

std::size_t NameStart(std::string_view path) {
  const std::size_t p = path.find_last_of("/\\:");
  return p == std::string_view::npos ? 0 : p + 1;
}

std::string DirectoryOf(const std::string& path) {
  return path.substr(0, NameStart(path));
}

std::string NameOf(const std::string& path) {
  return path.substr(NameStart(path));
}

std::string ExpandFileName(const std::string& path) {
  if (path.empty()) return path;
  std::filesystem::path p(path);
  std::error_code ec;
  if (p.is_relative()) {
    const auto cwd = std::filesystem::current_path(ec);
    if (!ec) p = cwd / p;
  }
  std::string out = p.lexically_normal().string();
  // Keep a trailing separator off, unless the path is the root itself.
  if (out.size() > 1 && out.back() == '/' && path.back() != '/') out.pop_back();
  return out;
}

std::string ResolveFileName(const std::string& path) {
  if (path.empty()) return path;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return path;
  if (path.back() == '.') {
    const std::string bare = path.substr(0, path.size() - 1);
    if (!bare.empty() && bare.back() != '/' && stat(bare.c_str(), &st) == 0) return bare;
  }
  const std::size_t start = NameStart(path);
  const std::string dir = path.substr(0, start);
  std::string name = path.substr(start);
  if (name.empty()) return path;
  if (name.back() == '.') name.pop_back();
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return path;
  std::string found;
  int matches = 0;
  std::string wanted = name;
  for (char& c : wanted)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  while (dirent* e = ::readdir(d)) {
    std::string candidate = e->d_name;
    for (char& c : candidate)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (candidate == wanted) {
      found = e->d_name;
      ++matches;
    }
  }
  ::closedir(d);
  return matches == 1 ? dir + found : path;
}

TempFile::~TempFile() {
  Remove();
}

int TempFile::Create(const std::string& dir, const std::string& prefix) {
  Remove();
  std::string folder = dir.empty() ? std::string(".") : dir;
  if (folder.back() != '/') folder += '/';
  std::vector<char> tmpl(folder.begin(), folder.end());
  tmpl.insert(tmpl.end(), prefix.begin(), prefix.end());
  const char suffix[] = "XXXXXX";
  tmpl.insert(tmpl.end(), suffix, suffix + 6);
  tmpl.push_back('\0');
  const int fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
  if (fd < 0) return DosErrorFromErrno(errno);
  name_ = tmpl.data();
  file_.Adopt(fd, kModeReadWrite | kShareDenyAll);
  return kOk;
}

void TempFile::Remove() {
  file_.Close();
  if (!name_.empty()) {
    ::unlink(name_.c_str());
    name_.clear();
  }
}

// --- Mappings --------------------------------------------------------------------
//
// Views are mapped shared and read-only. Touching a page of a view past the
// end of its file raises SIGBUS; the handler below turns that into a page
// of zeros plus a mark for the guard of the thread, when the thread is
// inside a guard and the page belongs to a live view. Any other SIGBUS goes
// to whatever handled it before.

namespace {

constexpr std::size_t kMaxViews = 512;
// The live views, for the handler (which may only look at plain memory).
std::atomic<std::uintptr_t> gViewStart[kMaxViews];
std::atomic<std::uintptr_t> gViewEnd[kMaxViews];
std::mutex gViewsMutex;
struct sigaction gPreviousBusAction;
std::uintptr_t gPageSize = 4096;
std::once_flag gHandlerOnce;

__attribute__((tls_model("initial-exec"))) thread_local int tGuardDepth = 0;
__attribute__((tls_model("initial-exec"))) thread_local volatile sig_atomic_t tFaulted = 0;

bool InLiveView(std::uintptr_t at) {
  for (std::size_t i = 0; i < kMaxViews; ++i) {
    const std::uintptr_t start = gViewStart[i].load(std::memory_order_acquire);
    if (start != 0 && at >= start && at < gViewEnd[i].load(std::memory_order_acquire)) return true;
  }
  return false;
}

void OnBusError(int sig, siginfo_t* info, void* context) {
  const auto at = reinterpret_cast<std::uintptr_t>(info ? info->si_addr : nullptr);
  if (tGuardDepth > 0 && at != 0 && InLiveView(at)) {
    void* page = reinterpret_cast<void*>(at & ~(gPageSize - 1));
    if (::mmap(page, gPageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) !=
        MAP_FAILED) {
      tFaulted = 1;
      return;  // the access runs again and reads zeros
    }
  }
  // Not a guarded read of a view: the earlier disposition takes the fault.
  if (gPreviousBusAction.sa_flags & SA_SIGINFO) {
    if (gPreviousBusAction.sa_sigaction) {
      gPreviousBusAction.sa_sigaction(sig, info, context);
      return;
    }
  } else if (gPreviousBusAction.sa_handler != SIG_DFL && gPreviousBusAction.sa_handler != SIG_IGN) {
    gPreviousBusAction.sa_handler(sig);
    return;
  }
  ::signal(SIGBUS, SIG_DFL);  // the access runs again and ends the program
}

void InstallBusHandler() {
  std::call_once(gHandlerOnce, [] {
    const long page = ::sysconf(_SC_PAGESIZE);
    if (page > 0) gPageSize = static_cast<std::uintptr_t>(page);
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, &gPreviousBusAction);
  });
}

bool RegisterView(std::uintptr_t start, std::uintptr_t end) {
  std::lock_guard<std::mutex> lock(gViewsMutex);
  for (std::size_t i = 0; i < kMaxViews; ++i) {
    if (gViewStart[i].load(std::memory_order_relaxed) == 0) {
      gViewEnd[i].store(end, std::memory_order_release);
      gViewStart[i].store(start, std::memory_order_release);
      return true;
    }
  }
  return false;
}

void ForgetView(std::uintptr_t start) {
  std::lock_guard<std::mutex> lock(gViewsMutex);
  for (std::size_t i = 0; i < kMaxViews; ++i) {
    if (gViewStart[i].load(std::memory_order_relaxed) == start) {
      gViewStart[i].store(0, std::memory_order_release);
      gViewEnd[i].store(0, std::memory_order_release);
      return;
    }
  }
}

inline void CompilerBarrier() {
  asm volatile("" ::: "memory");
}

}  // namespace

MappingGuard::MappingGuard() {
  if (tGuardDepth++ == 0) tFaulted = 0;
  CompilerBarrier();
}

MappingGuard::~MappingGuard() {
  CompilerBarrier();
  --tGuardDepth;
}

bool MappingGuard::Faulted() const {
  CompilerBarrier();
  return tFaulted != 0;
}

FileMapping::~FileMapping() {
  Unmap();
}

FileMapping::FileMapping(FileMapping&& other) noexcept
    : data_(other.data_), length_(other.length_), mapped_(other.mapped_) {
  other.data_ = nullptr;
  other.length_ = 0;
  other.mapped_ = 0;
}

FileMapping& FileMapping::operator=(FileMapping&& other) noexcept {
  if (this != &other) {
    Unmap();
    data_ = other.data_;
    length_ = other.length_;
    mapped_ = other.mapped_;
    other.data_ = nullptr;
    other.length_ = 0;
    other.mapped_ = 0;
  }
  return *this;
}

void FileMapping::Unmap() {
  if (!data_) return;
  ForgetView(reinterpret_cast<std::uintptr_t>(data_));
  ::munmap(data_, mapped_);
  data_ = nullptr;
  length_ = 0;
  mapped_ = 0;
}

int FileMapping::Map(const File& file, std::uint64_t length) {
  Unmap();
  if (length == 0) return kOk;
  if (!file.IsOpen()) return kFileNotOpen;
  if (length > static_cast<std::uint64_t>(SIZE_MAX / 2)) return kNotEnoughMemory;
  InstallBusHandler();
  const std::size_t size = static_cast<std::size_t>(length);
  void* p = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, file.Descriptor(), 0);
  if (p == MAP_FAILED) return DosErrorFromErrno(errno);
  const auto start = reinterpret_cast<std::uintptr_t>(p);
  if (!RegisterView(start, start + size)) {
    ::munmap(p, size);
    return kTooManyOpenFiles;
  }
  data_ = static_cast<std::uint8_t*>(p);
  length_ = length;
  mapped_ = size;
  return kOk;
}

bool FileMapping::Copy(std::uint64_t offset, void* out, std::size_t count) {
  if (!data_ || offset > length_ || count > length_ - offset) return false;
  if (count == 0) return true;  // `out` may be null then
  const std::uint8_t* from = data_ + offset;
  MappingGuard guard;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    std::memcpy(out, from, count);
    CompilerBarrier();
    const bool same = std::memcmp(out, from, count) == 0;
    if (guard.Faulted()) {
      Unmap();
      return false;
    }
    if (same) return true;
  }
  return false;
}

MemoryFile::~MemoryFile() {
  if (fd_ >= 0) ::close(fd_);
}

int MemoryFile::Create(const std::string& label) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = ::memfd_create(label.c_str(), MFD_CLOEXEC);
  if (fd_ < 0) {
    path_.clear();
    return DosErrorFromErrno(errno);
  }
  path_ = "/proc/self/fd/" + std::to_string(fd_);
  return kOk;
}

int MemoryFile::Assign(const void* data, std::size_t size) {
  if (fd_ < 0) return kFileNotOpen;
  if (::ftruncate(fd_, 0) != 0) return DosErrorFromErrno(errno);
  const auto* p = static_cast<const char*>(data);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pwrite(fd_, p + done, size - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return kDiskWriteError;
    done += static_cast<std::size_t>(n);
  }
  return kOk;
}

}  // namespace vz::platform
