// What the table component's tests share: the games of their tables and a
// fixture that opens a table set up like the reader's.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <stdexcept>

#include "engine/dates.h"
#include "engine/dbf.h"
#include "engine/dbt_file.h"
#include "engine/engine_context.h"
#include "engine/errors.h"
#include "engine/trim.h"
#include "engine/work_area.h"
#include "index/expr.h"
#include "index/indexes.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/hooks.h"
#include "tests/support/DbtBuilder.h"
#include "tests/support/TableFixture.h"

namespace vz::dbf_table_test {

using test::Bytes;
using test::Cheat;
using test::RecordingLink;
using Strings = std::vector<std::string>;

// Record order: 1 Quake, 2 Doom, 3 Zork (deleted), 4 Abuse, 5 Heretic,
// 6 Blood, 7 Myst, 8 Doom II.
inline std::vector<Cheat> Games() {
  return {{"Quake", "q text"}, {"Doom", "d text"}, {"Zork", "z", true}, {"Abuse", "a"},
          {"Heretic", "h"},    {"Blood", "b"},     {"Myst", "m"},       {"Doom II", "d2"}};
}
// The visible names in name order.
inline const Strings kNameOrder = {"Abuse", "Blood", "Doom", "Doom II", "Heretic", "Myst", "Quake"};

// Moves a file's modification time by `seconds` from now.
inline void SetModified(const std::string& path, int seconds) {
  namespace fs = std::filesystem;
  fs::last_write_time(path, fs::file_time_type::clock::now() + std::chrono::seconds(seconds));
}

inline bool NoAreaFilled() {
  for (int i = 1; i <= kMaxAreas; ++i)
    if (Engine().Areas.Slot[static_cast<std::size_t>(i)]) return false;
  return true;
}

// Record r of a data file as stored (deletion flag first).
inline std::string StoredRecord(const std::string& path, int r) {
  const Bytes b = test::ReadFile(path);
  const std::size_t header = b[8] | (b[9] << 8);
  const std::size_t length = b[10] | (b[11] << 8);
  const std::size_t at = header + static_cast<std::size_t>(r - 1) * length;
  if (b.size() < at + length) return std::string();
  return std::string(b.begin() + static_cast<std::ptrdiff_t>(at),
                     b.begin() + static_cast<std::ptrdiff_t>(at + length));
}

inline std::string Padded(const std::string& s, std::size_t n) {
  return s + std::string(n - s.size(), ' ');
}

class DbfTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ResetAll();
    messages_.clear();
    platform::SetMessagePresenter([this](const std::string& m) { messages_.push_back(m); });
  }
  void TearDown() override {
    link_.SetDataSource(nullptr);
    source_.SetDataSet(nullptr);
    table_.reset();
    platform::SetMessagePresenter(nullptr);
    test::ResetAll();
  }

  std::string Ndx() const { return dir_.File("cheat.ndx"); }
  void Machine(const std::string& base, const std::vector<Cheat>& cheats) {
    test::WriteCheatTable(dir_.File(base), cheats);
  }

  // A table set up like the reader's, linked to link_ with `rows` buffers;
  // index builds are counted.
  DbfTable& Reader(int rows = 5) {
    table_ = std::make_unique<DbfTable>();
    test::ConfigureLikeCheatDbf(*table_, "1," + Ndx() + ",CHEATNAME");
    table_->OnAfterMakeIndex = [this](const std::string& name) { built_.push_back(name); };
    source_.SetDataSet(table_.get());
    link_.SetDataSource(&source_);
    link_.SetBufferCount(rows);
    return *table_;
  }
  DbfTable& OpenReader(const std::string& base, int rows = 5) {
    DbfTable& t = Reader(rows);
    t.SetDbfFileName(dir_.File(base));
    t.Open();
    t.First();
    return t;
  }
  // Every visible name from First to the end; the dataset is left at its end.
  static Strings Browse(DbfTable& t) {
    Strings names;
    t.First();
    while (!t.Eof()) {
      names.push_back(t.FieldByName("cheatname")->AsString());
      t.Next();
    }
    return names;
  }

  test::TempDir dir_;
  std::unique_ptr<DbfTable> table_;
  data::DataSource source_;
  RecordingLink link_;
  Strings messages_;
  Strings built_;
};

}  // namespace vz::dbf_table_test
