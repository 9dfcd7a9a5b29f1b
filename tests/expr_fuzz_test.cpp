// Robustness of the key-expression language against generated texts: random
// mixes of tokens and bytes, well-typed expressions with odd arguments and
// their mutations, and texts nested up to the length limit, each compiled
// and (when it compiles) evaluated on records with odd field contents.
// Whatever the text, compiling either succeeds or reports code 351, and
// evaluating either succeeds or reports 354 / 358; under the sanitizers
// nothing may overrun the working pool or the stack.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "engine/dbf.h"
#include "engine/dbt_file.h"
#include "engine/errors.h"
#include "engine/trim.h"
#include "index/expr.h"
#include "tests/support/DbfBuilder.h"
#include "tests/support/DbtBuilder.h"
#include "tests/support/TempDir.h"

namespace vz {
namespace {

using test::DbfBuilder;

struct OddField {
  const char* name;
  char type;
  int len;
  int dec;
};

const OddField kOddFields[] = {
    {"NAME", 'C', 20, 0}, {"CODE", 'C', 1, 0},   {"QTY", 'N', 6, 2},
    {"BIG", 'N', 20, 0},  {"WHEN", 'D', 8, 0},   {"FLAG", 'L', 1, 0},
    {"NOTE", 'M', 10, 0}, {"LONG", 'C', 254, 0}, {"RATE", 'F', 8, 3},
};

// One record from one text per field, each cut or padded with `pad` to
// its width; the deletion flag first.
std::string RawRecord(char flag, const std::vector<std::string>& values, char pad = ' ') {
  std::string rec(1, flag);
  std::size_t i = 0;
  for (const OddField& f : kOddFields) {
    std::string v = i < values.size() ? values[i] : std::string();
    ++i;
    v.resize(static_cast<std::size_t>(f.len), pad);
    rec += v;
  }
  return rec;
}

std::string Bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s += static_cast<char>(b);
  return s;
}

class Generator {
 public:
  explicit Generator(std::uint32_t seed) : rng_(seed) {}

  std::size_t Below(std::size_t n) { return n == 0 ? 0 : rng_() % n; }
  bool Chance(int percent) { return static_cast<int>(Below(100)) < percent; }
  template <std::size_t N>
  const char* Pick(const char* const (&list)[N]) {
    return list[Below(N)];
  }

  // --- Random mixes of tokens and bytes ---
  std::string Mix() {
    static const char* const kOps[] = {
        "+", "-",  "*",  "/",     "^",    "**",    "=", "==", "<>", "#",  "$", "<",
        ">", "<=", ">=", ".AND.", ".OR.", ".NOT.", "(", ")",  ",",  "->", "(", ")"};
    static const char* const kLiterals[] = {"'abc'", "\"x y\"",  "''",         "'",        "\"",
                                            "'open", "\"it's\"", "'\xE9\xFF'", "'\x01\t'", "' '"};
    static const char* const kNumbers[] = {"0",
                                           "1",
                                           "12.5",
                                           "1E3",
                                           "1E999",
                                           "1..2",
                                           "1E",
                                           "255",
                                           "256",
                                           "300",
                                           "0.001",
                                           "1E300",
                                           "9999999",
                                           "1.",
                                           "00",
                                           "1E-5",
                                           "3.14159265358979",
                                           "1E9"};
    static const char* const kWords[] = {"NAME", "CODE", "QTY",       "BIG",  "WHEN",     "FLAG",
                                         "NOTE", "LONG", "RATE",      "name", "B->OTHER", "B->VAL",
                                         "X->Y", "B->",  "ODD->NAME", ".T.",  ".F.",      "_",
                                         ".",    "UP",   "NOSUCH",    "DATE", "TRUE"};
    std::string out;
    const std::size_t target = 1 + Below(Chance(10) ? 320 : 60);
    while (out.size() < target) {
      switch (Below(7)) {
        case 0: out += Pick(kOps); break;
        case 1: out += Pick(kLiterals); break;
        case 2: out += Pick(kNumbers); break;
        case 3: out += Pick(kWords); break;
        case 4: out += Call(); break;
        case 5: out += static_cast<char>(Below(256)); break;
        default: out += Chance(80) ? " " : "\t"; break;
      }
      if (Chance(30)) out += ' ';
    }
    return out;
  }

  // A function name (abbreviations and near misses too) with a random
  // argument list.
  std::string Call() {
    static const char* const kNames[] = {
        "ABS",     "ASC",   "AT",    "CDOW",    "CHR",       "CMON",   "CMONTH", "CTOD",
        "DATE",    "DAY",   "DELE",  "DELETED", "DOW",       "DTOC",   "DTOS",   "IIF",
        "INT",     "LEFT",  "LEN",   "LOWE",    "LOWER",     "LTRIM",  "MAX",    "MIN",
        "MOD",     "MONTH", "RECNO", "REPL",    "REPLICATE", "RIGHT",  "ROUND",  "RTRIM",
        "SOUNDEX", "SPACE", "STR",   "STUFF",   "SUBS",      "SUBSTR", "TRIM",   "UPPE",
        "UPPER",   "VAL",   "YEAR",  "UP",      "REP",       "STRX",   "SOU"};
    static const char* const kArgs[] = {
        "1",   "-1",     "0",      "'a'",      "''",       "NAME", "QTY",     "WHEN",
        ".T.", "DATE()", "300",    "1E300",    "CTOD('')", "NOTE", "LONG",    "(",
        ")",   "'x",     "10^999", "0*10^999", "-300",     "255",  "B->OTHER"};
    std::string out = Pick(kNames);
    if (Chance(90)) out += Chance(20) ? " (" : "(";
    const std::size_t args = Below(6);
    for (std::size_t i = 0; i < args; ++i) {
      if (i) out += ",";
      out += Chance(25) ? Typed(static_cast<int>(Below(4)), 1) : std::string(Pick(kArgs));
    }
    if (Chance(90)) out += ")";
    return out;
  }

  // --- Well-typed expressions with odd arguments ---
  enum { kC, kN, kL, kD };

  std::string Typed(int type, int depth) {
    switch (type) {
      case kC: return TypedC(depth);
      case kN: return TypedN(depth);
      case kL: return TypedL(depth);
      default: return TypedD(depth);
    }
  }

  std::string Literal() {
    const char quote = Chance(50) ? '\'' : '"';
    std::string s(1, quote);
    const std::size_t n = Chance(20) ? Below(40) : Below(6);
    for (std::size_t i = 0; i < n; ++i) {
      char c = static_cast<char>(Chance(70) ? 'a' + Below(26) : Below(256));
      if (c == quote) c = ' ';
      s += c;
    }
    s += quote;
    return s;
  }

  std::string Number() {
    static const char* const kNumbers[] = {
        "0",        "1",          "2",         "3",          "7",      "10",
        "12.5",     "255",        "256",       "300",        "1000",   "65535",
        "1E9",      "1E300",      "0.5",       "(-1)",       "(-300)", "1E-300",
        "(10^999)", "(0*10^999)", "(-10^999)", "4294967296", "2.567",  "99999999999"};
    return Pick(kNumbers);
  }

  std::string TypedC(int d) {
    static const char* const kLeaves[] = {"NAME", "CODE", "LONG", "B->OTHER", "name"};
    if (d <= 0 || Chance(25)) return Chance(50) ? Literal() : std::string(Pick(kLeaves));
    const int k = d - 1;
    switch (Below(22)) {
      case 0: return TypedC(k) + " + " + TypedC(k);
      case 1: return TypedC(k) + " - " + TypedC(k);
      case 2: return "UPPER(" + TypedC(k) + ")";
      case 3: return "LOWER(" + TypedC(k) + ")";
      case 4: return "LTRIM(" + TypedC(k) + ")";
      case 5: return "RTRIM(" + TypedC(k) + ")";
      case 6: return "TRIM(" + TypedC(k) + ")";
      case 7: return "LEFT(" + TypedC(k) + ", " + TypedN(k) + ")";
      case 8: return "RIGHT(" + TypedC(k) + ", " + TypedN(k) + ")";
      case 9: return "SUBSTR(" + TypedC(k) + ", " + TypedN(k) + ", " + TypedN(k) + ")";
      case 10:
        return "STUFF(" + TypedC(k) + ", " + TypedN(k) + ", " + TypedN(k) + ", " + TypedC(k) + ")";
      case 11: return "REPLICATE(" + TypedC(k) + ", " + TypedN(k) + ")";
      case 12: return "SPACE(" + TypedN(k) + ")";
      case 13: {
        std::string s = "STR(" + TypedN(k);
        if (Chance(60)) s += ", " + TypedN(k);
        if (Chance(50)) s += ", " + TypedN(k);
        return s + ")";
      }
      case 14: return "CHR(" + TypedN(k) + ")";
      case 15: return "DTOC(" + TypedD(k) + ")";
      case 16: return "DTOS(" + TypedD(k) + ")";
      case 17: return "CDOW(" + TypedD(k) + ")";
      case 18: return "CMONTH(" + TypedD(k) + ")";
      case 19: return "SOUNDEX(" + TypedC(k) + ")";
      case 20: return "IIF(" + TypedL(k) + ", " + TypedC(k) + ", " + TypedC(k) + ")";
      default: return "(" + TypedC(k) + ")";
    }
  }

  std::string TypedN(int d) {
    static const char* const kLeaves[] = {"QTY", "BIG", "RATE", "RECNO()", "B->VAL"};
    if (d <= 0 || Chance(25)) return Chance(60) ? Number() : std::string(Pick(kLeaves));
    const int k = d - 1;
    static const char* const kOps[] = {" + ", " - ", " * ", " / ", " ^ ", " ** "};
    switch (Below(20)) {
      case 0:
      case 1: return TypedN(k) + Pick(kOps) + TypedN(k);
      case 2: return "-" + TypedN(k);
      case 3: return "+" + TypedN(k);
      case 4: return "ABS(" + TypedN(k) + ")";
      case 5: return "ASC(" + TypedC(k) + ")";
      case 6: return "AT(" + TypedC(k) + ", " + TypedC(k) + ")";
      case 7: return "INT(" + TypedN(k) + ")";
      case 8: return "LEN(" + TypedC(k) + ")";
      case 9: return std::string(Chance(50) ? "MAX(" : "MIN(") + TypedN(k) + ", " + TypedN(k) + ")";
      case 10: return "MOD(" + TypedN(k) + ", " + TypedN(k) + ")";
      case 11: return "ROUND(" + TypedN(k) + ", " + TypedN(k) + ")";
      case 12: return "VAL(" + TypedC(k) + ")";
      case 13: {
        static const char* const kParts[] = {"DAY(", "MONTH(", "YEAR(", "DOW("};
        return Pick(kParts) + TypedD(k) + ")";
      }
      case 14: return TypedD(k) + " - " + TypedD(k);
      default: return "(" + TypedN(k) + ")";
    }
  }

  std::string TypedD(int d) {
    static const char* const kLeaves[] = {"WHEN", "DATE()", "CTOD('')", "CTOD('12/31/99')",
                                          "CTOD('02/30/00')"};
    if (d <= 0 || Chance(30)) return Pick(kLeaves);
    const int k = d - 1;
    switch (Below(7)) {
      case 0: return TypedD(k) + " + " + TypedN(k);
      case 1: return TypedN(k) + " + " + TypedD(k);
      case 2: return TypedD(k) + " - " + TypedN(k);
      case 3: return std::string(Chance(50) ? "MAX(" : "MIN(") + TypedD(k) + ", " + TypedD(k) + ")";
      case 4: return "CTOD(" + TypedC(k) + ")";
      default: return "(" + TypedD(k) + ")";
    }
  }

  std::string TypedL(int d) {
    static const char* const kLeaves[] = {".T.", ".F.", "FLAG", "DELETED()"};
    if (d <= 0 || Chance(25)) return Pick(kLeaves);
    const int k = d - 1;
    static const char* const kCompare[] = {" = ", " <> ", " # ", " < ", " > ", " <= ", " >= "};
    switch (Below(9)) {
      case 0: return TypedN(k) + Pick(kCompare) + TypedN(k);
      case 1: return TypedC(k) + Pick(kCompare) + TypedC(k);
      case 2: return TypedD(k) + Pick(kCompare) + TypedD(k);
      case 3: return TypedC(k) + (Chance(50) ? " $ " : " == ") + TypedC(k);
      case 4: return TypedL(k) + (Chance(50) ? " .AND. " : " .OR. ") + TypedL(k);
      case 5: return ".NOT. " + TypedL(k);
      case 6: return TypedL(k) + (Chance(50) ? " = " : " <> ") + TypedL(k);
      default: return "(" + TypedL(k) + ")";
    }
  }

  // A few bytes of a text deleted, replaced, duplicated or inserted.
  std::string Mutate(std::string s) {
    static const char* const kBits[] = {"(",  ")", "'",  "\"", ",", "-", "+", ".NOT.",
                                        "->", "^", "1E", "$",  "=", " ", ".", "NAME"};
    const std::size_t edits = 1 + Below(3);
    for (std::size_t i = 0; i < edits; ++i) {
      const std::size_t at = Below(s.size() + 1);
      switch (Below(4)) {
        case 0:
          if (at < s.size()) s.erase(at, 1 + Below(3));
          break;
        case 1:
          if (at < s.size()) s[at] = static_cast<char>(Below(256));
          break;
        case 2: s.insert(at, Pick(kBits)); break;
        default: s.insert(at, s.substr(at, Below(12))); break;
      }
    }
    return s;
  }

  // Texts nested up to (and past) the length limit: either openers
  // repeated with or without their closers, or wrappers that fit the type
  // of what they wrap, so that most of these compile.
  std::string Nested() { return Chance(40) ? Openers() : Wrapped(); }

  std::string Openers() {
    static const char* const kOpeners[] = {
        "(",     "-",     "+",      ".NOT. ", "UPPER(", "ABS(",       "IIF(.T.,", "SUBSTR(",
        "STR(",  "LEFT(", "-(",     "1+(",    "'a'+(",  "REPLICATE(", "LEN(",     "MAX(1,",
        "CTOD(", "DTOS(", "STR(1,", "VAL(",   "2^",     "1*(",        ".NOT.(",   "(.T. .AND. "};
    const bool mixed = Chance(50);
    const char* one = Pick(kOpeners);
    std::string out;
    const std::size_t limit = Chance(50) ? 255 : 40 + Below(240);
    while (out.size() < limit) out += mixed ? Pick(kOpeners) : one;
    if (Chance(70)) {
      static const char* const kCores[] = {"1", "'x'", ".T.", "NAME", "QTY", "WHEN", "DATE()"};
      out += Pick(kCores);
      std::size_t opened = 0;
      for (char c : out) opened += c == '(';
      if (Chance(80)) out += std::string(opened, ')');
    }
    return out;
  }

  std::string Wrapped() {
    struct Wrapper {
      int in, out;
      const char* prefix;
      const char* suffix;
    };
    static const Wrapper kWrappers[] = {
        {kN, kN, "-", ""},
        {kN, kN, "+", ""},
        {kN, kN, "(", ")"},
        {kN, kN, "ABS(", ")"},
        {kN, kN, "INT(", ")"},
        {kN, kN, "1+(", ")"},
        {kN, kN, "2^(", ")"},
        {kN, kN, "MAX(1,", ")"},
        {kN, kN, "MOD(", ",7)"},
        {kN, kN, "ROUND(", ",1)"},
        {kN, kN, "(", "/2)"},
        {kN, kN, "(", "*QTY)"},
        {kC, kC, "UPPER(", ")"},
        {kC, kC, "TRIM(", ")"},
        {kC, kC, "'a'+(", ")"},
        {kC, kC, "LEFT(", ",300)"},
        {kC, kC, "SUBSTR(", ",2,9)"},
        {kC, kC, "IIF(.T.,", ",'b')"},
        {kC, kC, "STUFF(", ",1,1,'zz')"},
        {kC, kC, "REPLICATE(", ",2)"},
        {kC, kC, "(", "-' ')"},
        {kC, kC, "(NAME+", ")"},
        {kC, kC, "SOUNDEX(", ")"},
        {kL, kL, ".NOT. ", ""},
        {kL, kL, "(", ")"},
        {kL, kL, "(.T. .AND. ", ")"},
        {kL, kL, "(", " .OR. .F.)"},
        {kL, kL, "(", " = FLAG)"},
        {kD, kD, "(", "+1)"},
        {kD, kD, "MAX(DATE(),", ")"},
        {kD, kD, "(", ")"},
        {kD, kD, "(", "-QTY)"},
        {kN, kC, "STR(", ")"},
        {kN, kC, "CHR(", ")"},
        {kN, kC, "SPACE(", ")"},
        {kN, kC, "STR(1,", ")"},
        {kC, kN, "LEN(", ")"},
        {kC, kN, "VAL(", ")"},
        {kC, kN, "ASC(", ")"},
        {kC, kN, "AT('a',", ")"},
        {kD, kC, "DTOS(", ")"},
        {kD, kC, "DTOC(", ")"},
        {kD, kC, "CDOW(", ")"},
        {kC, kD, "CTOD(", ")"},
        {kD, kN, "YEAR(", ")"},
        {kD, kN, "DOW(", ")"},
        {kN, kD, "CTOD('')+(", ")"},
        {kC, kL, "('a'$(", "))"},
        {kN, kL, "(", ">0)"},
        {kL, kC, "IIF(", ",'y','n')"},
        {kD, kL, "(", "=WHEN)"},
    };
    static const char* const kCores[][3] = {{"'x'", "NAME", "LONG"},
                                            {"1", "QTY", "(0*10^999)"},
                                            {".T.", "FLAG", "DELETED()"},
                                            {"DATE()", "WHEN", "CTOD('')"}};
    int type = static_cast<int>(Below(4));
    std::string prefix, suffix;
    const std::string core = kCores[type][Below(3)];
    const std::size_t limit = Chance(70) ? 255 : 256 + Below(60);
    for (int guard = 0; guard < 1000; ++guard) {
      const Wrapper& w = kWrappers[Below(std::size(kWrappers))];
      if (w.in != type) continue;
      const std::size_t grown = prefix.size() + core.size() + suffix.size() +
                                std::strlen(w.prefix) + std::strlen(w.suffix);
      if (grown > limit) break;
      prefix = w.prefix + prefix;
      suffix += w.suffix;
      type = w.out;
    }
    if (Chance(10)) suffix.resize(Below(suffix.size() + 1));  // left open
    return prefix + core + suffix;
  }

 private:
  std::mt19937 rng_;
};

class ExprFuzzTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ResetEngineForTest();
    InstallMemoUnit();
    InstallEvaluator();

    test::DbtBuilder memo(false);
    const int shortMemo = memo.Add("short memo \x82");
    std::string longText;
    for (int i = 0; i < 7000; ++i) longText += "0123456789";  // beyond what a value holds
    const int longMemo = memo.Add(longText);
    memo.Write("odd.dbt");

    DbfBuilder b;
    b.Version(0x83);
    for (const OddField& f : kOddFields) b.Field(f.name, f.type, f.len, f.dec);
    const std::string nul(1, '\0');
    b.RawRecord(RawRecord(' ', {"Doom", "A", "  3.25", "12345678901234567890", "19931210", "T",
                                test::MemoField(shortMemo), "long text", "   1.500"}));
    b.RawRecord(
        RawRecord(' ', {nul + nul + "ab\xFF\xFF" + nul + "x", nul, "\xFF\xFF\xFF\xFF\xFF\xFF",
                        "  --1e5..+", "99999999", nul, "\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF",
                        std::string(254, '\xFF'), "********"}));
    b.RawRecord(RawRecord(' ', {}));
    b.RawRecord(RawRecord(' ', {"'\"$#()", "'", "1e308", "1e400", "00000000", "y", "9999999999",
                                std::string(254, 'z'), "nan"}));
    b.RawRecord(std::string(b.ComputedRecordLength(), '\0'));
    b.RawRecord(RawRecord('*', {"deleted", "D", "-99.99", "-1E300", "99991231", "F",
                                test::MemoField(longMemo), "", "inf"}));
    b.RawRecord(
        RawRecord(' ', {Bytes({1, 2, 9, 13, 10, 0x1A}), "\x1A", "1,5", "-9999999999999999999",
                        "00010101", "?", "-2", std::string(254, ' '), "-0.0"}));
    b.RawRecord(RawRecord(
        ' ', {"abc", "b", "12abc", "0x1F", "2023abcd", "t", "  abc", "x", " 1e-400"}, '\0'));
    b.Write("odd.dbf");

    DbfBuilder second;
    second.Field("OTHER", 'C', 5).Field("VAL", 'N', 4).Record({"zz", "9"});
    second.Write("second.dbf");
    Select(2);
    USE("second.dbf alias B");
    Select(1);
    USE("odd.dbf");
    records_ = RecCount();
    live_ = LiveExpressions();
  }
  void TearDown() override {
    SetErrorDispatch(false);
    CloseAll();
    EXPECT_EQ(LiveExpressions(), live_);
    test::ResetEngineForTest();
  }

  // Compiles a text and evaluates it on every record and past the end;
  // true when it compiled. Failures are counted and the first few shown.
  bool Exercise(const std::string& text) {
    ScopedErrorDispatch quiet(false);
    ClearError();
    CompiledExpr* e = CompileExpr(text);
    if (!e) {
      if (Engine().Errors.ErrorCode != 351 ||
          Engine().Errors.ErrorDetail.rfind("Error in expression : ", 0) != 0)
        Report(text, "compile: code " + std::to_string(Engine().Errors.ErrorCode) + " " +
                         Engine().Errors.ErrorDetail);
      return false;
    }
    if (Engine().Errors.ErrorCode != 0)
      Report(text, "compiled with code " + std::to_string(Engine().Errors.ErrorCode));
    const char type = e->ResultType();
    if (std::string("CNLDM").find(type) == std::string::npos) Report(text, "result type ?");
    if (e->Source().size() > 255) Report(text, "source longer than 255 bytes");
    for (std::int64_t r = 1; r <= records_ + 1; ++r) {
      GO(r);
      ClearError();
      const ExprValue v = e->Evaluate();
      const int code = Engine().Errors.ErrorCode;
      ++evaluations_;
      if (code == 354 || code == 358) {
        ++failedEvaluations_;
        continue;
      }
      if (code != 0) {
        Report(text, "evaluate: code " + std::to_string(code) + " " + Engine().Errors.ErrorDetail);
        continue;
      }
      if (v.type != e->ResultTypeCode()) Report(text, "value of another type");
      if ((type == 'C' || type == 'M') && v.text.size() >= e->PoolSize() && !v.text.empty())
        Report(text, "text larger than the working pool");
    }
    ReleaseExpr(e);
    if (e) Report(text, "reference not emptied");
    return true;
  }

  void Report(const std::string& text, const std::string& what) {
    if (++problems_ <= 10) ADD_FAILURE() << what << "\n  text: \"" << Printable(text) << "\"";
  }

  static std::string Printable(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
      if (c >= 32 && c < 127 && c != '\\') {
        out += static_cast<char>(c);
      } else {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\x%02X", c);
        out += buf;
      }
    }
    return out;
  }

  test::TempDir dir_{true};
  std::int64_t records_ = 0;
  std::size_t live_ = 0;
  int problems_ = 0;
  long evaluations_ = 0;
  long failedEvaluations_ = 0;
};

TEST_F(ExprFuzzTest, RandomMixesOfTokensAndBytes) {
  Generator g(20240611);
  int compiled = 0;
  const int total = 5000;
  for (int i = 0; i < total; ++i) compiled += Exercise(g.Mix());
  EXPECT_EQ(problems_, 0);
  EXPECT_EQ(LiveExpressions(), live_);
  // The mix is mostly nonsense, but not only.
  EXPECT_GT(compiled, 20);
  EXPECT_LT(compiled, total);
}

TEST_F(ExprFuzzTest, WellTypedExpressionsWithOddArguments) {
  Generator g(77);
  int compiled = 0;
  const int total = 3000;
  for (int i = 0; i < total; ++i) {
    const std::string text =
        g.Typed(static_cast<int>(g.Below(4)), 1 + static_cast<int>(g.Below(5)));
    compiled += Exercise(text);
  }
  EXPECT_EQ(problems_, 0);
  // Only those cut at 255 bytes may fail to compile.
  EXPECT_GT(compiled, total * 8 / 10);
  EXPECT_GT(evaluations_, 8L * total * 8 / 10);
  EXPECT_GT(failedEvaluations_, 0);  // divisions by zero and full pools do occur
  EXPECT_EQ(LiveExpressions(), live_);
}

TEST_F(ExprFuzzTest, MutatedExpressions) {
  Generator g(4242);
  int compiled = 0;
  const int total = 3000;
  for (int i = 0; i < total; ++i) {
    const std::string text =
        g.Typed(static_cast<int>(g.Below(4)), 1 + static_cast<int>(g.Below(4)));
    compiled += Exercise(g.Mutate(text));
  }
  EXPECT_EQ(problems_, 0);
  EXPECT_GT(compiled, 50);
  EXPECT_LT(compiled, total);
  EXPECT_EQ(LiveExpressions(), live_);
}

TEST_F(ExprFuzzTest, NestingToTheLengthLimit) {
  Generator g(9);
  int compiled = 0, overflows = 0;
  const int total = 1500;
  for (int i = 0; i < total; ++i) {
    const std::string text = g.Nested();
    {
      ScopedErrorDispatch quiet(false);
      ClearError();
      CompiledExpr* e = CompileExpr(text);
      if (!e && Engine().Errors.ErrorDetail.find("Parser_stack_overflow") != std::string::npos)
        ++overflows;
      ReleaseExpr(e);
    }
    compiled += Exercise(text);
    // Far longer texts are cut, never read further.
    Exercise(text + text + text);
  }
  EXPECT_EQ(problems_, 0);
  EXPECT_GT(compiled, 20);
  EXPECT_GT(overflows, 20);
  EXPECT_EQ(LiveExpressions(), live_);
}

TEST_F(ExprFuzzTest, EveryByteEverywhere) {
  // Each byte alone, after an operand, inside a literal and inside a call.
  int compiled = 0;
  for (int c = 0; c < 256; ++c) {
    const std::string b(1, static_cast<char>(c));
    for (const std::string& text :
         {b, "NAME" + b, "1 " + b + " 2", "'" + b + "'", "UPPER(" + b + ")", b + "NAME",
          "QTY" + b + "1", "NAME" + b + "->OTHER", "B" + b + ">OTHER", "1E" + b, "." + b + ".",
          b + b + b})
      compiled += Exercise(text);
  }
  EXPECT_EQ(problems_, 0);
  EXPECT_GT(compiled, 256);  // every byte is a valid literal
}

TEST_F(ExprFuzzTest, ExpressionsOutliveTheirTable) {
  // Compiled for one table, evaluated after another took its place (other
  // types, longer fields) and after the area was closed.
  Generator g(5);
  std::vector<CompiledExpr*> kept;
  {
    ScopedErrorDispatch quiet(false);
    for (int i = 0; i < 300; ++i) {
      CompiledExpr* e = CompileExpr(g.Typed(static_cast<int>(g.Below(4)), 3));
      if (e) kept.push_back(e);
    }
  }
  ASSERT_GT(kept.size(), 200u);

  CloseArea();
  DbfBuilder b;
  b.Field("W1", 'N', 20)
      .Field("W2", 'C', 254)
      .Field("W3", 'C', 254)
      .Field("W4", 'M', 10)
      .Field("W5", 'L', 1)
      .Field("W6", 'C', 254)
      .Field("W7", 'D', 8)
      .Field("W8", 'C', 254)
      .Field("W9", 'C', 254);
  b.Record({"1", std::string(254, 'x'), std::string(254, 'y'), "        12", "T",
            std::string(254, 'z'), "20000101", std::string(254, 'q'), std::string(254, 'r')});
  b.Write("wide.dbf");
  USE("wide.dbf");  // no memo file: the memo field reads as nothing
  {
    ScopedErrorDispatch quiet(false);
    for (CompiledExpr* e : kept) {
      for (int pass = 0; pass < 2; ++pass) {
        ClearError();
        const ExprValue v = e->Evaluate();
        const int code = Engine().Errors.ErrorCode;
        if (code != 0 && code != 354 && code != 358)
          Report(e->Source(), "code " + std::to_string(code));
        if (code == 0 && v.text.size() >= e->PoolSize() && !v.text.empty())
          Report(e->Source(), "text larger than the pool");
      }
    }
    CloseArea();
    Select(2);
    CloseArea();
    Select(1);
    for (CompiledExpr* e : kept) {
      ClearError();
      e->Evaluate();
      const int code = Engine().Errors.ErrorCode;
      if (code != 0 && code != 354 && code != 358)
        Report(e->Source(), "code " + std::to_string(code));
    }
  }
  for (CompiledExpr*& e : kept) ReleaseExpr(e);
  EXPECT_EQ(problems_, 0);
}

}  // namespace
}  // namespace vz
