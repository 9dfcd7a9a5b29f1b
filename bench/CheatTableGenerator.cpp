#include "bench/CheatTableGenerator.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <vector>

#include "bench/BenchUtil.h"

namespace vz::bench {
namespace {

const char* const kWords[] = {
    "Doom",
    "Quake",
    "Star",
    "Wars",
    "Tony",
    "Hawk",
    "Racer",
    "Legend",
    "Zelda",
    "Mario",
    "Kart",
    "Final",
    "Fantasy",
    "Metal",
    "Gear",
    "Solid",
    "Tomb",
    "Raider",
    "Crash",
    "Bandicoot",
    "Spyro",
    "Dragon",
    "Resident",
    "Evil",
    "Sonic",
    "Adventure",
    "Soul",
    "Calibur",
    "Crazy",
    "Taxi",
    "Shenmue",
    "Jet",
    "Grind",
    "Radio",
    "Golden",
    "Eye",
    "Perfect",
    "Dark",
    "Banjo",
    "Kazooie",
    "Turok",
    "Dinosaur",
    "Hunter",
    "Command",
    "Conquer",
    "Age",
    "Empires",
    "Half",
    "Life",
    "Unreal",
    "Tournament",
    "Diablo",
    "Warcraft",
    "Orcs",
    "Humans",
    "Pok\x82mon",
    "Caf\x82",
    "M\x81nchen",
    "Espa\xA4"
    "a",
    "Stra\xE1"
    "e",
    "Cr\x88me",
    "Ni\xA4o",
    "Bo\x93te",
};
constexpr int kWordCount = sizeof(kWords) / sizeof(kWords[0]);

const char* const kMemoWords[] = {"press",    "hold",   "select", "start",   "enter", "code",
                                  "level",    "unlock", "all",    "weapons", "god",   "mode",
                                  "infinite", "lives",  "then",   "the",     "at",    "title",
                                  "screen",   "pause",  "menu",   "L1",      "R1",    "Triangle",
                                  "Circle",   "Up",     "Down",   "Left",    "Right"};
constexpr int kMemoWordCount = sizeof(kMemoWords) / sizeof(kMemoWords[0]);

void PutU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Whether nearly every page (all but one in a hundred) of the open file
// `fd` of `size` bytes is in the page cache. The kernel here lets a few
// pages of a cached file go now and then, with plenty of memory free.
bool MostlyCached(int fd, std::size_t size) {
  if (size == 0) return true;
  void* p = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
  if (p == MAP_FAILED) return false;
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  std::vector<unsigned char> in((size + page - 1) / page);
  const bool got = mincore(p, size, in.data()) == 0;
  munmap(p, size);
  const auto cached = std::count_if(in.begin(), in.end(), [](unsigned char c) { return c & 1; });
  return got && static_cast<std::size_t>(cached) * 100 >= in.size() * 99;
}

// Puts a file into the page cache as a file read from disk is held there.
// How the kernel holds a file's pages (many small pieces, as a file just
// written or partly pushed out by others, or large ones, as a file read
// in order) changes the speed of a scan through a mapping by two to three
// times here. So a file freshly written, or one that lost more than a few
// of its pages, is dropped from the cache and read again whole: then every
// table, large or small, is measured in the same state.
void SettleInCache(const std::string& path, bool fresh) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  struct stat st;
  if (fstat(fd, &st) == 0 && (fresh || !MostlyCached(fd, static_cast<std::size_t>(st.st_size)))) {
    fdatasync(fd);  // dirty pages are not dropped
    posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  }
  ::close(fd);
  ReadFileOnce(path);
}

}  // namespace

bool GenerateCheatTable(const std::string& table, const CheatTableSpec& spec, std::string& error) {
  const std::string dbfName = table + ".dbf", dbtName = table + ".dbt";
  FilePtr dbf(std::fopen((dbfName + ".tmp").c_str(), "wb"));
  FilePtr dbt(std::fopen((dbtName + ".tmp").c_str(), "wb"));
  if (!dbf || !dbt) {
    error = "cannot write " + table;
    return false;
  }
  std::setvbuf(dbf.get(), nullptr, _IOFBF, 1 << 20);
  std::setvbuf(dbt.get(), nullptr, _IOFBF, 1 << 20);
  std::mt19937 rng(spec.seed);

  // Table header: 0x8B, two fields.
  std::uint8_t h[32 + 64 + 1] = {};
  h[0] = 0x8B;
  h[1] = 126, h[2] = 12, h[3] = 7;
  PutU32(h + 4, static_cast<std::uint32_t>(spec.records));
  h[8] = sizeof h & 0xFF, h[9] = sizeof h >> 8;
  h[10] = 46;
  std::memcpy(h + 32, "CHEATNAME", 9);
  h[32 + 11] = 'C', h[32 + 16] = 35;
  std::memcpy(h + 64, "CHEATMEMO", 9);
  h[64 + 11] = 'M', h[64 + 16] = 10;
  h[96] = 0x0D;
  std::fwrite(h, 1, sizeof h, dbf.get());

  // Memo header block (block size 512); the next-free count is written last.
  std::vector<std::uint8_t> block0(512, 0);
  block0[20] = 0x00, block0[21] = 0x02;
  std::fwrite(block0.data(), 1, block0.size(), dbt.get());
  std::uint64_t nextBlock = 1;

  std::vector<std::string> names;
  names.reserve(4096);
  std::string memo, name;
  std::vector<std::uint8_t> padding(512, 0);
  char rec[46];
  for (std::int64_t r = 0; r < spec.records; ++r) {
    if (!names.empty() && static_cast<int>(rng() % 1000) < spec.duplicatePerMille) {
      name = names[rng() % names.size()];
    } else {
      name.clear();
      const int words = 1 + static_cast<int>(rng() % 4);
      for (int w = 0; w < words; ++w) {
        if (w) name += ' ';
        name += kWords[rng() % kWordCount];
      }
      if (rng() % 3 == 0) name += " " + std::to_string(1 + rng() % 99);
      if (name.size() > 35) name.resize(35);
      if (names.size() < 4096)
        names.push_back(name);
      else
        names[rng() % names.size()] = name;
    }
    const int len = spec.minMemo + static_cast<int>(rng() % (spec.maxMemo - spec.minMemo + 1));
    memo.clear();
    while (static_cast<int>(memo.size()) < len) {
      memo += kMemoWords[rng() % kMemoWordCount];
      memo += (rng() % 12 == 0) ? "\r\n" : " ";
    }
    memo.resize(static_cast<std::size_t>(len));

    std::uint8_t head[8] = {0xFF, 0xFF, 0x08, 0x00};
    PutU32(head + 4, static_cast<std::uint32_t>(memo.size() + 8));
    std::fwrite(head, 1, 8, dbt.get());
    std::fwrite(memo.data(), 1, memo.size(), dbt.get());
    const std::uint64_t used = memo.size() + 8;
    const std::uint64_t blocks = (used + 511) / 512;
    std::fwrite(padding.data(), 1, blocks * 512 - used, dbt.get());

    std::memset(rec, ' ', sizeof rec);
    if (static_cast<int>(rng() % 1000) < spec.deletedPerMille) rec[0] = '*';
    std::memcpy(rec + 1, name.data(), name.size());
    const std::string num = std::to_string(nextBlock);
    std::memcpy(rec + 36 + (10 - num.size()), num.data(), num.size());
    std::fwrite(rec, 1, sizeof rec, dbf.get());
    nextBlock += blocks;
  }
  std::fputc(0x1A, dbf.get());
  PutU32(block0.data(), static_cast<std::uint32_t>(nextBlock));
  std::fseek(dbt.get(), 0, SEEK_SET);
  std::fwrite(block0.data(), 1, 4, dbt.get());
  if (std::ferror(dbf.get()) || std::ferror(dbt.get())) {
    error = "write failed for " + table;
    return false;
  }
  dbf.reset();
  dbt.reset();
  std::rename((dbfName + ".tmp").c_str(), dbfName.c_str());
  std::rename((dbtName + ".tmp").c_str(), dbtName.c_str());
  return true;
}

std::string BenchCacheDir() {
  std::string dir;
  if (const char* c = std::getenv("VORZA_BENCH_CACHE"); c && *c) {
    dir = c;
  } else {
    const char* home = std::getenv("HOME");
    dir = std::string(home && *home ? home : "/tmp") + "/.cache/vorza-bench";
  }
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  return dir;
}

std::string CachedCheatTable(const CheatTableSpec& spec) {
  const std::string base =
      BenchCacheDir() + "/cheats-" + std::to_string(spec.records) + "-" + std::to_string(spec.seed);
  struct stat st;
  const bool fresh =
      stat((base + ".dbf").c_str(), &st) != 0 || stat((base + ".dbt").c_str(), &st) != 0;
  if (fresh) {
    std::string error;
    std::fprintf(stderr, "generating %lld records into %s ...\n",
                 static_cast<long long>(spec.records), base.c_str());
    if (!GenerateCheatTable(base, spec, error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      std::exit(1);
    }
  }
  SettleInCache(base + ".dbf", fresh);
  SettleInCache(base + ".dbt", fresh);
  return base + ".dbf";
}

void ParseArgs(int argc, char** argv, CheatTableSpec& spec, int& reps) {
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--records")) spec.records = std::atoll(argv[i + 1]);
    if (!std::strcmp(argv[i], "--reps")) reps = std::atoi(argv[i + 1]);
  }
}

}  // namespace vz::bench
