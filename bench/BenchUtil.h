// Small helpers for the benchmark programs: timing, medians, the report.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace vz::bench {

inline double NowMs() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

inline double TimeMs(const std::function<void()>& f) {
  const double t0 = NowMs();
  f();
  return NowMs() - t0;
}

inline double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Reads a whole file once (the page cache permitting, from memory): the
// baseline every benchmark is compared with. Returns the bytes read.
inline long long ReadFileOnce(const std::string& path) {
  static std::vector<char> buffer(1 << 20);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  long long total = 0;
  for (ssize_t n; (n = ::read(fd, buffer.data(), buffer.size())) > 0;) total += n;
  ::close(fd);
  return total;
}

// Runs a program (argv[0] a path) with its standard output going to
// /dev/null and waits for it. Returns its exit status (-1 when it did not
// exit normally); `usage`, when given, receives what the program used
// (its peak resident memory among it).
inline int RunProcess(const std::vector<std::string>& args, struct rusage* usage = nullptr) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) ::dup2(null, 1);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    std::_Exit(127);
  }
  int status = 0;
  struct rusage ignored;
  if (pid < 0 || ::wait4(pid, &status, 0, usage ? usage : &ignored) < 0) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The folder of the running benchmark program (where vorza-dbf lives too).
inline std::string ProgramFolder(const char* argv0) {
  const std::string self = argv0;
  return self.substr(0, self.rfind('/') + 1);
}

struct Case {
  std::string name;
  std::function<void()> run;
  std::vector<double> samples;
};

// The results also go, one per line, to the file named by $VORZA_BENCH_TSV
// when it is set (scripts/bench gathers them into one table):
//   group <TAB> name <TAB> median ms <TAB> ratio to the group's baseline
//   group <TAB> name <TAB> value <TAB> unit          (other figures)
inline std::string& Group() {
  static std::string group = "bench";
  return group;
}

inline void WriteTsv(const std::string& line) {
  const char* path = std::getenv("VORZA_BENCH_TSV");
  if (!path || !*path) return;
  if (FILE* f = std::fopen(path, "a")) {
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
  }
}

// A timing measured outside RunCases, with its ratio to a baseline median.
inline void ReportTiming(const std::string& name, double medianMs, double baselineMs) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "\t%.4f\t%.4f", medianMs,
                baselineMs > 0 ? medianMs / baselineMs : 0.0);
  WriteTsv(Group() + "\t" + name + buffer);
}

// Another figure (a memory size, a count).
inline void ReportValue(const std::string& name, double value, const std::string& unit) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "\t%.0f\t", value);
  WriteTsv(Group() + "\t" + name + buffer + unit);
}

// Runs every case `reps` times, round-robin so that all of them see the
// same machine, and prints medians with their ratio to the first case (the
// baseline: reading the data file once). Returns the medians.
inline std::vector<double> RunCases(std::vector<Case>& cases, int reps,
                                    const std::string& unitNote = "") {
  for (int r = 0; r < reps; ++r)
    for (Case& c : cases) c.samples.push_back(TimeMs(c.run));
  const double base = Median(cases.front().samples);
  std::printf("%-44s %12s %10s\n", "benchmark", "median ms", "ratio");
  std::vector<double> medians;
  for (Case& c : cases) {
    const double m = Median(c.samples);
    medians.push_back(m);
    std::printf("%-44s %12.2f %10.2f\n", c.name.c_str(), m, base > 0 ? m / base : 0.0);
    ReportTiming(c.name, m, base);
  }
  if (!unitNote.empty()) std::printf("%s\n", unitNote.c_str());
  return medians;
}

}  // namespace vz::bench
