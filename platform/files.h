// Files as the engine sees them: open modes with access and sharing codes,
// reads and writes at byte offsets, byte-range locks, and DOS-style error
// codes.
//
// Open modes keep their codes: the low two bits are the access (0 read,
// 1 write, 2 read/write), bits 4 to 6 the sharing (0x00 compatibility,
// 0x10 deny all, 0x20 deny write, 0x30 deny read, 0x40 deny none). They map to
// POSIX as follows:
//   - access: O_RDONLY, O_WRONLY or O_RDWR;
//   - sharing: an advisory whole-file lock (flock) taken at open, held until
//     close. Deny-all takes it exclusively; every other sharing code takes it
//     shared. So an exclusive open fails (code 32) while anybody else holds
//     the file open, and every open fails while somebody holds it exclusively;
//     shared readers and writers live side by side.
//   - byte-range locks (record and file locks, the index semaphore) are
//     open-file-description locks (F_OFD_SETLK): exclusive on a file opened
//     for writing, shared on one opened for reading only. A conflict is
//     code 33.
// These locks are advisory: they bind programs that take them, as every
// part of this program does.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace vz::platform {

// DOS-style error codes of the file layer.
enum DosError : int {
  kOk = 0,
  kFileNotFound = 2,
  kPathNotFound = 3,
  kTooManyOpenFiles = 4,
  kAccessDenied = 5,
  kInvalidHandle = 6,
  kNotEnoughMemory = 8,
  kInvalidAccessCode = 12,
  kDataInvalid = 13,
  kSharingViolation = 32,
  kLockViolation = 33,
  kDiskReadError = 100,
  kDiskWriteError = 101,
  kFileNotOpen = 103,
  kEndOfFile = 213,
};

// Maps an errno value to the engine's DOS-style code.
int DosErrorFromErrno(int err);

// Open-mode codes.
constexpr int kModeRead = 0x00;
constexpr int kModeWrite = 0x01;
constexpr int kModeReadWrite = 0x02;
constexpr int kShareCompat = 0x00;
constexpr int kShareDenyAll = 0x10;
constexpr int kShareDenyWrite = 0x20;
constexpr int kShareDenyRead = 0x30;
constexpr int kShareDenyNone = 0x40;
constexpr int kModeExclusive = kModeReadWrite | kShareDenyAll;  // 0x12
constexpr int kModeShared = kModeReadWrite | kShareDenyNone;    // 0x42

class File {
 public:
  File() = default;
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;

  // Opens an existing file. Returns 0 or a DOS-style code.
  int Open(const std::string& path, int mode);
  // Creates (or empties) a file and opens it with the given mode.
  int Create(const std::string& path, int mode);
  // Takes over an open descriptor (temporary files).
  void Adopt(int fd, int mode);
  int Close();

  bool IsOpen() const { return fd_ >= 0; }
  bool Writable() const { return (mode_ & 3) != kModeRead; }
  int Mode() const { return mode_; }
  int Descriptor() const { return fd_; }

  // Reads up to `count` bytes at `offset`; `got` receives what was read
  // (fewer at the end of the file). Returns 0 or a DOS-style code.
  int ReadAt(std::uint64_t offset, void* buffer, std::size_t count, std::size_t& got);
  // Writes all `count` bytes at `offset`.
  int WriteAt(std::uint64_t offset, const void* buffer, std::size_t count);
  int Size(std::uint64_t& size) const;
  int Truncate(std::uint64_t size);
  int Commit();

  // Byte-range locks; `wait` retries until the lock is granted.
  int Lock(std::uint64_t offset, std::uint64_t length, bool wait = false);
  // A shared lock: others may hold shared locks on the range too, nobody an
  // exclusive one.
  int LockShared(std::uint64_t offset, std::uint64_t length, bool wait = false);
  int Unlock(std::uint64_t offset, std::uint64_t length);
  // True when another open file description holds a conflicting lock.
  bool IsRangeLockedByOther(std::uint64_t offset, std::uint64_t length);

 private:
  int fd_ = -1;
  int mode_ = 0;
};

// The wait before an operation that met another program's lock (or a
// record another program is writing) is tried again. The default sleeps
// for the duration; a process that knows nobody shares its files (a fuzz
// target) may install one that returns at once. Returns the one before.
using RetryPause = std::function<void(std::chrono::milliseconds)>;
RetryPause SetRetryPause(RetryPause pause);
void PauseBeforeRetry(std::chrono::milliseconds duration);

bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
// Whether a path names something that is neither a regular file nor a
// folder: a named pipe, a socket or a device.
bool IsSpecialFile(const std::string& path);
// The code for a file that is not there: 3 when its folder does not exist
// either, else 2.
int MissingFileCode(const std::string& path);
// Deletes a file. Returns 0 or a DOS-style code.
int DeleteFile(const std::string& path);
int RenameFile(const std::string& from, const std::string& to);
// Bytes free for an unprivileged user on the file system that holds `path`
// (a file or a folder; for a file that does not exist yet, its folder).
int FreeDiskSpace(const std::string& path, std::uint64_t& bytes);
// Last-modification time in nanoseconds since the epoch.
int ModificationTime(const std::string& path, std::int64_t& nanoseconds);

// Finds an existing file for a name given by a caller that thinks letter
// case does not matter: the exact spelling when it exists, else the name
// without a trailing dot (a name ending in a dot means "no extension"), else
// the single entry of its folder whose name equals the last component without
// regard to ASCII letter case. Returns the spelling to open, or the given
// name unchanged when none of these exists.
std::string ResolveFileName(const std::string& path);

// A temporary file created atomically (mkstemp) in `dir` with a name that
// starts with `prefix`; it is deleted when the object dies, whatever path
// the program takes out of the scope that owns it.
class TempFile {
 public:
  TempFile() = default;
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  // Returns 0 or a DOS-style code.
  int Create(const std::string& dir, const std::string& prefix);
  void Remove();
  File& file() { return file_; }
  const std::string& name() const { return name_; }

 private:
  File file_;
  std::string name_;
};

// A test hook that makes writes fail as a full disk or a failing device
// does. Once set, every File::WriteAt of the process is counted; the `nth`
// (from 1) fails with the errno value `err` after writing the first half of
// its bytes (a full disk takes what fits), and so does every one after it
// when `persistent` is true. An `nth` of 0 only
// counts. Making a file shorter (Truncate) is not a write: it needs no
// space and is how a failed write is taken back. Not for threads: the
// engine is single-threaded.
void SetWriteFault(std::int64_t nth, int err, bool persistent = false);
// Writes go through again; the count stops.
void ClearWriteFault();
// The writes counted since SetWriteFault.
std::int64_t WritesCounted();
// Whether a set fault has failed a write since SetWriteFault.
bool WriteFaultHit();

// A file held in memory only (memfd_create): it lies in no folder and goes
// when the object dies. Path() names it for the normal open path
// (/proc/self/fd/N), so File::Open reaches it as any other file, with its
// own open modes, sharing locks and byte-range locks; a symbolic link to
// Path() makes it appear under a name of the caller's choosing (a table
// and its memo file side by side, say).
class MemoryFile {
 public:
  MemoryFile() = default;
  ~MemoryFile();
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  // Makes a new, empty file; `label` only names it in /proc/self/fd.
  // Returns 0 or a DOS-style code.
  int Create(const std::string& label);
  // Replaces the whole content with `size` bytes. Returns 0 or a code.
  int Assign(const void* data, std::size_t size);
  bool IsOpen() const { return fd_ >= 0; }
  const std::string& Path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};

// The folder of the running program's own file, with its trailing "/".
std::string ProgramDirectory();

// Whether files can be made in a folder by this process: a file is made
// there and removed again (permission bits say nothing for a read-only file
// system, nor for a privileged user).
bool DirectoryWritable(const std::string& dir);

// The user's cache folder for `application`: $XDG_CACHE_HOME/application,
// else ~/.cache/application, made when missing, with its trailing "/".
// Empty when it cannot be made.
std::string UserCacheDirectory(const std::string& application);

// Directory part of a path including its trailing separator ("" for none).
// "/", "\" and ":" all separate directories.
std::string DirectoryOf(const std::string& path);
// The last component of a path.
std::string NameOf(const std::string& path);
// Position just after the last directory separator (0 when there is none).
std::size_t NameStart(std::string_view path);
// An absolute, lexically normal form of the path (current directory for a
// relative one); letter case and the spelling of each component are kept.
std::string ExpandFileName(const std::string& path);

// A read-only view of the first bytes of an open file, mapped shared: what
// any program writes into the file shows in the view at once, with no
// system call per read. A view never grows by itself: a caller that wants
// bytes past its end maps the file again.
//
// Pages of a view that the file no longer holds (another program cut the
// file) must only be touched inside a MappingGuard: outside one, touching
// them ends the program.
class FileMapping {
 public:
  FileMapping() = default;
  ~FileMapping();
  FileMapping(const FileMapping&) = delete;
  FileMapping& operator=(const FileMapping&) = delete;
  FileMapping(FileMapping&& other) noexcept;
  FileMapping& operator=(FileMapping&& other) noexcept;

  // Maps the first `length` bytes of the file (0 unmaps). Returns 0 or a
  // DOS-style code; on failure nothing stays mapped and the caller reads
  // through File::ReadAt.
  int Map(const File& file, std::uint64_t length);
  void Unmap();
  bool IsMapped() const { return data_ != nullptr; }
  const std::uint8_t* Data() const { return data_; }
  std::uint64_t Length() const { return length_; }

  // Copies `count` bytes at `offset` (inside the view) to `out`, inside a
  // guard. Bytes that another program is rewriting while they are copied
  // are not delivered half old, half new: the copy is taken again until
  // two copies agree. False when the file no longer holds the bytes (the
  // view is then unmapped) or when they never stood still.
  bool Copy(std::uint64_t offset, void* out, std::size_t count);

 private:
  std::uint8_t* data_ = nullptr;
  std::uint64_t length_ = 0;
  std::size_t mapped_ = 0;  // the length given to the system
};

// While a guard lives, a page of a FileMapping that the file no longer
// holds reads as zeros instead of ending the program, and the guard says
// so: whatever was read from a view under a guard that Faulted() is to be
// thrown away (and the view unmapped). Guards nest.
class MappingGuard {
 public:
  MappingGuard();
  ~MappingGuard();
  MappingGuard(const MappingGuard&) = delete;
  MappingGuard& operator=(const MappingGuard&) = delete;
  bool Faulted() const;
};

}  // namespace vz::platform
