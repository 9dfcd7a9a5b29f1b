// The input is a key expression and a record: the expression text, then a
// NUL byte, a settings byte (bits 0-3: date format; bit 4: century; bit 5:
// ANSI table) and the record's bytes (deletion flag first, then NAME C 20,
// CODE C 1, QTY N 6 2, BIG N 20, WHEN D 8, FLAG L 1, NOTE M 10, RATE F 8 3,
// LONG C 60; padded with blanks). Without a NUL the whole input is the
// expression, over a fixed record. The expression is normalised, compiled
// in the context of that table (with a second table open under the alias
// OTHER) and evaluated on both of its records, also as an index key. A
// character, numeric or date expression then builds an index that is
// walked; a logical one becomes the table's filter and while condition.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/dates.h"
#include "engine/dbf.h"
#include "engine/dbt_file.h"
#include "engine/engine_context.h"
#include "engine/trim.h"
#include "engine/work_area.h"
#include "fuzz/FuzzSupport.h"
#include "fuzz/FuzzTables.h"
#include "fuzz/Walk.h"
#include "index/expr.h"
#include "index/indexes.h"

using namespace vz;

namespace {

volatile std::uint64_t gSink = 0;

void Consume(std::string_view s) {
  fuzz::ConsumeBytes(s.data(), s.size());
}

void Evaluate(CompiledExpr& e) {
  fuzz::Try([&] {
    const ExprValue v = e.Evaluate();
    Consume(v.text);
    std::uint64_t bits;
    std::memcpy(&bits, &v.number, sizeof bits);
    gSink = gSink + bits + v.logical + static_cast<std::uint64_t>(v.type);
  });
  for (bool oem : {true, false}) {
    fuzz::Try([&] {
      const KeyValue k = EvaluateKey(e, oem);
      Consume(k.text);
    });
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Initialize();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t nul = input.find('\0');
  const std::string text = input.substr(0, nul);
  std::uint8_t settings = 0;
  std::string record;
  if (nul != std::string::npos && nul + 1 < input.size()) {
    settings = static_cast<std::uint8_t>(input[nul + 1]);
    record = input.substr(nul + 2);
  }

  Consume(NormalizeExpression(text));
  Consume(Soundex(text));

  fuzz::ResetEngine();
  SetDateFormat((settings & 0x0F) % 9);
  SetCentury(settings & 0x10);
  Engine().Settings.AnsiTables = settings & 0x20;
  const fuzz::ExprTableFiles files =
      fuzz::ExprTable(record.empty() && nul != std::string::npos ? " " : record);
  const test::Bytes other = fuzz::OtherTable();
  const std::string table = fuzz::File("fx.dbf");
  fuzz::WriteFile(table, files.dbf.data(), files.dbf.size());
  fuzz::WriteFile(fuzz::File("fx.dbt"), files.dbt.data(), files.dbt.size());
  fuzz::WriteFile(fuzz::File("other.dbf"), other.data(), other.size());
  fuzz::Try([&] {
    Select(2);
    USE(fuzz::File("other.dbf") + " ALIAS OTHER");
    Select(1);
    USE(table);
  });
  if (!CurrentTable() || SelectedArea() != 1) {
    fuzz::ResetEngine();
    fuzz::RemoveFiles();
    return 0;
  }

  CompiledExpr* e = nullptr;
  fuzz::Try([&] { e = CompileExpr(text); });
  char type = 0;
  if (e) {
    type = e->ResultType();
    gSink = gSink + static_cast<std::uint64_t>(e->Width() + e->Decimals()) + e->PoolSize();
    Evaluate(*e);
    fuzz::Try([] { GO(2); });
    Evaluate(*e);
    fuzz::Try([] { GO(1); });
    Evaluate(*e);
    ReleaseExpr(e);
  }

  if (type == 'C' || type == 'N' || type == 'D') {
    // As the key of an index over the two records.
    fuzz::Try([&] { Index_On(fuzz::File("fx.ndx"), text); });
    fuzz::Try([] { GoTop(); });
    fuzz::Try([] { SKIP(1); });
    fuzz::Try([] { SKIP(-1); });
    fuzz::Try([] { GoBottom(); });
    fuzz::Try([] { Find("Quake"); });
    fuzz::Try([] { CloseIndexes(); });
  } else if (type == 'L') {
    fuzz::Try([&] { SetFilterExpr(text); });
    fuzz::Try([] { GoTop(); });
    fuzz::Try([] { SKIP(1); });
    fuzz::Try([] { GoBottom(); });
    fuzz::Try([] { SKIP(-1); });
    fuzz::Try([] { SetFilterExpr(""); });
    fuzz::Try([&] { SetWhileExpr(text); });
    fuzz::Try([] { GoTop(); });
    fuzz::Try([] { SKIP(1); });
    fuzz::Try([] { SKIP(-1); });
    fuzz::Try([] { SetWhileExpr(""); });
  }

  fuzz::ResetEngine();
  if (LiveExpressions() != 0) {
    std::fprintf(stderr, "fuzz_expr: %zu compiled expressions left alive\n", LiveExpressions());
    std::abort();
  }
  fuzz::RemoveFiles();
  return 0;
}
