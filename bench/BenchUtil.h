// Small helpers for the benchmark programs: timing, medians, the report.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
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

struct Case {
  std::string name;
  std::function<void()> run;
  std::vector<double> samples;
};

// Runs every case `reps` times, round-robin so that all of them see the
// same machine, and prints medians with their ratio to the first case.
inline void RunCases(std::vector<Case>& cases, int reps, const std::string& unitNote = "") {
  for (int r = 0; r < reps; ++r)
    for (Case& c : cases) c.samples.push_back(TimeMs(c.run));
  const double base = Median(cases.front().samples);
  std::printf("%-44s %12s %10s\n", "benchmark", "median ms", "ratio");
  for (Case& c : cases) {
    const double m = Median(c.samples);
    std::printf("%-44s %12.2f %10.2f\n", c.name.c_str(), m, base > 0 ? m / base : 0.0);
  }
  if (!unitNote.empty()) std::printf("%s\n", unitNote.c_str());
}

}  // namespace vz::bench
