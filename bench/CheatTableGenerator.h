// A deterministic generator of large cheat tables for benchmarks: the
// catalogue's layout (cheatname C 35, cheatmemo M 10, version 0x8B with a
// block-header memo file), written straight from the file format.
#pragma once

#include <cstdint>
#include <string>

namespace vz::bench {

struct CheatTableSpec {
  std::int64_t records = 1000000;
  std::uint32_t seed = 20261207;
  int deletedPerMille = 30;    // share of deleted records
  int duplicatePerMille = 50;  // share of names that repeat an earlier one
  int minMemo = 50;
  int maxMemo = 3000;
};

// Writes TABLE.dbf and TABLE.dbt (TABLE without extension). Returns false
// with a message on failure.
bool GenerateCheatTable(const std::string& table, const CheatTableSpec& spec, std::string& error);

// The folder that keeps generated tables between runs ($VORZA_BENCH_CACHE,
// else ~/.cache/vorza-bench), created when missing.
std::string BenchCacheDir();

// Generates the table once into the cache folder and returns its .dbf
// path, with the table's files wholly in the page cache, held as files
// read from disk are.
std::string CachedCheatTable(const CheatTableSpec& spec);

// The benchmark programs' options: --records N (the table's size) and
// --reps R (how many runs each median is taken over).
void ParseArgs(int argc, char** argv, CheatTableSpec& spec, int& reps);

}  // namespace vz::bench
