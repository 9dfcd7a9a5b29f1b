// The fixed tables that some targets open beside their input, made by the
// test generators. The seed maker uses the same ones, so that the seeds of
// the index and expression targets fit the tables the targets open.
#pragma once

#include <string>
#include <vector>

#include "tests/support/DbfBuilder.h"

namespace vz::fuzz {

// The table the index target opens its input on: NAME C 12, QTY N 8 2,
// WHEN D 8, FLAG L 1, CODE N 5 — 40 records, some deleted, names that
// repeat, blank dates.
test::Bytes IndexTable();
// Key expressions whose indexes over IndexTable() seed the index target.
const std::vector<std::string>& IndexExpressions();
// Search texts that the index target gives to Find.
const std::vector<std::string>& SearchKeys();

// The expression target's table: one field of each kind. Its first record
// comes from the input (the bytes after the deletion flag, padded with
// blanks), its second is fixed; `record` empty gives a fixed first record
// as well.
struct ExprTableFiles {
  test::Bytes dbf;
  test::Bytes dbt;
};
ExprTableFiles ExprTable(const std::string& record);
// The second table, opened under the alias OTHER: NAME C 10, NUM N 5.
test::Bytes OtherTable();
// Expressions that seed the expression target.
const std::vector<std::string>& SeedExpressions();
// The fields of the expression table, as the seeds' records fill them.
struct ExprRecordValues {
  std::string name, code, qty, big, when, flag, note, rate, longText;
};
std::string ExprRecord(const ExprRecordValues& v);

}  // namespace vz::fuzz
