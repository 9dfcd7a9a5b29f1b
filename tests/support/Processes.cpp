#include "tests/support/Processes.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

#include "tests/support/Compat.h"
#include "tests/support/TempDir.h"

extern char** environ;

namespace vz::test {

KilledBuild KillIndexBuild(const std::string& table, const std::string& expression,
                           const std::string& ndx, int percent, const std::string& tempDir) {
  return KillAtProgress({"index", table, expression, ndx, "--progress"}, percent, tempDir, ndx);
}

KilledBuild KillAtProgress(const std::vector<std::string>& toolArgs, int percent,
                           const std::string& tempDir, const std::string& watched) {
  KilledBuild result;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    result.problem = "no pipe";
    return result;
  }
  // One page; everything but the reports up to `percent` is filled now.
  const int capacity = ::fcntl(fds[1], F_SETPIPE_SZ, 4096);
  std::size_t reports = 0;
  for (int i = 1; i <= percent; ++i) reports += std::to_string(i).size() + 2;  // "N%\n"
  if (capacity <= 0 || static_cast<std::size_t>(capacity) <= reports) {
    result.problem = "the pipe cannot be made small";
    ::close(fds[0]);
    ::close(fds[1]);
    return result;
  }
  const std::string filler(static_cast<std::size_t>(capacity) - reports, '.');
  if (::write(fds[1], filler.data(), filler.size()) != static_cast<ssize_t>(filler.size())) {
    result.problem = "the pipe cannot be filled";
    ::close(fds[0]);
    ::close(fds[1]);
    return result;
  }

  // Everything the child needs is made before the fork.
  const std::string program = BinPath("vorza-dbf");
  std::vector<std::string> args = {program};
  args.insert(args.end(), toolArgs.begin(), toolArgs.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e)
    if (std::strncmp(*e, "TMPDIR=", 7) != 0) env.emplace_back(*e);
  env.push_back("TMPDIR=" + tempDir);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[1], 2);
    ::execve(program.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  if (pid < 0) {
    result.problem = "no fork";
    ::close(fds[0]);
    return result;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  for (;;) {
    int queued = 0;
    ::ioctl(fds[0], FIONREAD, &queued);
    // No further report fits: the build waits in its next one.
    if (queued > capacity - 4) break;
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) {
      ::close(fds[0]);
      if (percent >= 100 && WIFEXITED(status) && WEXITSTATUS(status) == 0) return result;
      result.problem = "the build ended by itself before it reached " + std::to_string(percent) +
                       "% (status " + std::to_string(status) + ")";
      return result;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      result.problem = "the build did not reach " + std::to_string(percent) + "%";
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  struct stat st {};
  if (::stat(watched.c_str(), &st) == 0) result.sizeAtKill = static_cast<long long>(st.st_size);
  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ::close(fds[0]);
  if (result.problem.empty()) {
    result.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    const bool finished = percent >= 100 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!result.killed && !finished)
      result.problem = "the build ended with status " + std::to_string(status);
  }
  return result;
}

int AppendCheats(const std::string& table, const std::string& ndx,
                 const std::vector<std::string>& cheats, std::string* err) {
  std::string command =
      BinPath("vorza-test-append") + " " + ShellQuote(table) + " " + ShellQuote(ndx);
  for (const std::string& c : cheats) command += " " + ShellQuote(c);
  std::string out, errors;
  const int status = RunCommand(command, &out, &errors);
  if (err) *err = errors;
  return status;
}

SecondReader::SecondReader() {
  // A reader that died must show as an empty answer, not end the test.
  ::signal(SIGPIPE, SIG_IGN);
  int toChild[2], fromChild[2];
  if (::pipe2(toChild, O_CLOEXEC) != 0) return;
  if (::pipe2(fromChild, O_CLOEXEC) != 0) {
    ::close(toChild[0]);
    ::close(toChild[1]);
    return;
  }
  const std::string program = BinPath("vorza-test-reader");
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(toChild[0], 0);
    ::dup2(fromChild[1], 1);
    ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(toChild[0]);
  ::close(fromChild[1]);
  in_ = toChild[1];
  out_ = fromChild[0];
  pid_ = pid;
}

SecondReader::~SecondReader() {
  if (in_ >= 0) ::close(in_);
  if (Running()) ::kill(pid_, SIGKILL);
  Status();
  if (out_ >= 0) ::close(out_);
}

std::string SecondReader::Ask(const std::string& command) {
  if (pid_ < 0 || in_ < 0) return std::string();
  const std::string line = command + "\n";
  if (::write(in_, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
    return std::string();
  for (;;) {
    const std::size_t end = pending_.find('\n');
    if (end != std::string::npos) {
      std::string answer = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      return answer;
    }
    char buffer[4096];
    const ssize_t n = ::read(out_, buffer, sizeof buffer);
    if (n <= 0) return std::string();
    pending_.append(buffer, static_cast<std::size_t>(n));
  }
}

std::vector<std::string> SecondReader::Names() {
  std::vector<std::string> names;
  const std::string answer = Ask("names");
  std::size_t start = 0;
  while (!answer.empty() && start <= answer.size()) {
    const std::size_t tab = answer.find('\t', start);
    names.push_back(
        answer.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) break;
    start = tab + 1;
  }
  return names;
}

bool SecondReader::Exit() {
  const bool bye = Ask("exit") == "bye";
  return bye && Status() == 0;
}

void SecondReader::Kill() {
  if (Running()) ::kill(pid_, SIGKILL);
  Status();
}

bool SecondReader::Running() {
  if (pid_ < 0 || status_ >= 0) return false;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) != pid_) return true;
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return false;
}

int SecondReader::Status() {
  if (pid_ < 0) return -1;
  if (status_ < 0) {
    int status = 0;
    if (::waitpid(pid_, &status, 0) == pid_)
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  return status_;
}

ExclusiveHolder::ExclusiveHolder(const std::string& path) {
  int ready[2], release[2];
  if (::pipe2(ready, O_CLOEXEC) != 0) return;
  if (::pipe2(release, O_CLOEXEC) != 0) {
    ::close(ready[0]);
    ::close(ready[1]);
    return;
  }
  const pid_t pid = ::fork();
  if (pid == 0) {
    // Only system calls in the child: the parent may run threads. The
    // child's copies of the other ends go first, or the release pipe would
    // never reach its end.
    ::close(ready[0]);
    ::close(release[1]);
    const int fd = ::open(path.c_str(), O_RDWR);
    const char ok = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 1 : 0;
    if (::write(ready[1], &ok, 1) != 1) ::_exit(1);
    char c;
    while (::read(release[0], &c, 1) > 0) {
    }
    ::_exit(0);
  }
  ::close(ready[1]);
  ::close(release[0]);
  release_ = release[1];
  pid_ = pid;
  char ok = 0;
  if (pid < 0 || ::read(ready[0], &ok, 1) != 1) ok = 0;
  ::close(ready[0]);
  holding_ = ok == 1;
}

ExclusiveHolder::~ExclusiveHolder() {
  if (release_ >= 0) ::close(release_);
  if (pid_ > 0) {
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
}

FileStamp StampOf(const std::string& path) {
  FileStamp s;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return s;
  s.exists = true;
  s.size = static_cast<long long>(st.st_size);
  s.mtimeNs = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  std::ifstream in(path, std::ios::binary);
  unsigned long long h = 1469598103934665603ULL;
  for (std::istreambuf_iterator<char> i(in), end; i != end; ++i) {
    h ^= static_cast<unsigned char>(*i);
    h *= 1099511628211ULL;
  }
  s.hash = h;
  return s;
}

std::string Describe(const FileStamp& s) {
  if (!s.exists) return "missing";
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "%lld bytes, fnv %016llx, mtime %lld", s.size, s.hash,
                s.mtimeNs);
  return buffer;
}

}  // namespace vz::test
