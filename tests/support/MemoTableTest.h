// A fixture for tests of tables with memo texts: a fresh engine with the
// memo unit in a temporary folder, and a generator of small tables whose
// records point at given memo blocks.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/dbf.h"
#include "engine/dbt_file.h"
#include "engine/errors.h"
#include "engine/trim.h"
#include "platform/codepage.h"
#include "tests/support/DbfBuilder.h"
#include "tests/support/TempDir.h"

namespace vz::test {

class MemoTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetEngineForTest();
    InstallMemoUnit();
  }
  void TearDown() override {
    SetRaiseErrors(false);
    SetErrorDispatch(false);
    CloseAll();
    platform::SetOemCodePage(437);
    ResetEngineForTest();
  }

  // A table of the given version byte with a name and a memo field, one
  // record ("r1", "r2", ...) per memo block number.
  static void Table(const std::string& name, std::uint8_t version, const std::vector<int>& blocks) {
    DbfBuilder b;
    b.Version(version).Field("NAME", 'C', 10).Field("NOTES", 'M', 10);
    for (std::size_t i = 0; i < blocks.size(); ++i)
      b.Record({"r" + std::to_string(i + 1), MemoField(blocks[i])});
    b.Write(name);
  }

  TempDir dir_{true};
};

}  // namespace vz::test
