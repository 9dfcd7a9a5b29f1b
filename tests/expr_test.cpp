// The key-expression language: lexing, precedence, the type rules, every
// function, the result record and working-pool size, error messages, field
// values from the tables, and filter / while conditions in navigation.
#include "index/expr.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "engine/dates.h"
#include "engine/dbf.h"
#include "engine/dbt_file.h"
#include "engine/errors.h"
#include "engine/trim.h"
#include "platform/clock.h"
#include "tests/support/DbfBuilder.h"
#include "tests/support/DbtBuilder.h"
#include "tests/support/TempDir.h"

namespace vz {
namespace {

using test::DbfBuilder;

// 1 January 2000 as a Julian day number.
constexpr double kJan1st2000 = 2451545;

struct Outcome {
  bool compiled = false;
  char type = '?';
  int width = -1;
  int decimals = -1;
  std::size_t pool = 0;
  std::string text;
  double number = 0;
  bool logical = false;
};

// Compiles and evaluates on the current record; any error is a failure of
// the calling test.
Outcome Compute(const std::string& source) {
  Outcome o;
  ScopedErrorDispatch quiet(false);
  ClearError();
  CompiledExpr* e = CompileExpr(source);
  if (!e) {
    ADD_FAILURE() << "does not compile: " << source << "\n" << Engine().Errors.ErrorDetail;
    return o;
  }
  o.compiled = true;
  o.type = e->ResultType();
  o.width = e->Width();
  o.decimals = e->Decimals();
  o.pool = e->PoolSize();
  const ExprValue v = e->Evaluate();
  EXPECT_EQ(Engine().Errors.ErrorCode, 0) << source << "\n" << Engine().Errors.ErrorDetail;
  EXPECT_EQ(v.type, e->ResultTypeCode()) << source;
  o.text.assign(v.text);
  o.number = v.number;
  o.logical = v.logical;
  ReleaseExpr(e);
  EXPECT_EQ(e, nullptr);
  return o;
}

std::string Text(const std::string& source) {
  const Outcome o = Compute(source);
  EXPECT_EQ(o.type, 'C') << source;
  return o.text;
}
double Num(const std::string& source) {
  const Outcome o = Compute(source);
  EXPECT_EQ(o.type, 'N') << source;
  return o.number;
}
bool Logic(const std::string& source) {
  const Outcome o = Compute(source);
  EXPECT_EQ(o.type, 'L') << source;
  return o.logical;
}
double Day(const std::string& source) {
  const Outcome o = Compute(source);
  EXPECT_EQ(o.type, 'D') << source;
  return o.number;
}
char TypeOf(const std::string& source) {
  return Compute(source).type;
}

// The whole detail of a compile error (code 351 required).
std::string Problem(const std::string& source) {
  ScopedErrorDispatch quiet(false);
  ClearError();
  const std::size_t live = LiveExpressions();
  CompiledExpr* e = CompileExpr(source);
  if (e) {
    ADD_FAILURE() << "compiles, but should not: " << source;
    ReleaseExpr(e);
    return {};
  }
  EXPECT_EQ(Engine().Errors.ErrorCode, 351) << source;
  EXPECT_EQ(LiveExpressions(), live) << source;
  return Engine().Errors.ErrorDetail;
}

// The specific text of a compile error ("Syntax error", ...).
std::string Reason(const std::string& source) {
  const std::string d = Problem(source);
  const std::string head = "Error in expression : ";
  if (d.compare(0, head.size(), head) != 0) return "unexpected detail: " + d;
  return d.substr(head.size(), d.find("\r\n") - head.size());
}

std::string Mismatch(const std::string& op) {
  return "PARSER:Type mismatch in expression \"" + op + "\"";
}
std::string FunctionMismatch(const std::string& name) {
  return "PARSER:Type mismatch in function \"" + name + "\"";
}

std::string Padded(const std::string& s, std::size_t width) {
  return s + std::string(width - s.size(), ' ');
}

class ExprTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ResetEngineForTest();
    InstallMemoUnit();
    InstallEvaluator();
    test::DbtBuilder memo(false);
    const int m1 = memo.Add("IDDQD\r\nIDKFA");
    memo.Write("games.dbt");
    DbfBuilder b;
    b.Version(0x83)
        .Field("CHEATNAME", 'C', 35)
        .Field("LEVEL", 'N', 3)
        .Field("SCORE", 'N', 8, 2)
        .Field("ADDED", 'D', 8)
        .Field("OK", 'L', 1)
        .Field("LEFT", 'C', 4)      // named like a function
        .Field("platform", 'C', 6)  // stored in lower case
        .Field("CHEATMEMO", 'M', 10);
    b.Record({"Doom", "12", "3.25", "19931210", "T", "lft1", "dos", test::MemoField(m1)});
    b.Record({"Pok\x82mon Snap", "3", "-1.50", "19990321", "F", "lft2", "n64", ""});
    b.Record({"Quake", "1", "100.00", "", "Y", "", "pc", ""}, true);
    b.Record({"Bad", "abc", "1,5", "20231340", "?", "", "", "garbage"});
    b.Write("games.dbf");
    USE("games.dbf");
    live_ = LiveExpressions();
  }
  void TearDown() override {
    SetErrorDispatch(false);
    CloseAll();
    EXPECT_EQ(LiveExpressions(), live_);
    test::ResetEngineForTest();
  }

  // A second table in area 2 under the alias OTH; area 1 stays current.
  void OpenOther() {
    DbfBuilder b;
    b.Field("NAME", 'C', 8).Field("LONGFIELDN", 'N', 4, 1);
    b.Record({"first", "1.5"}).Record({"second", "22.0"});
    b.Write("other.dbf");
    Select(2);
    USE("other.dbf alias OTH");
    Select(1);
  }

  test::TempDir dir_{true};
  std::size_t live_ = 0;
};

TEST_F(ExprTest, ResultRecordAndWorkingPool) {
  Outcome o = Compute("CHEATNAME");
  EXPECT_EQ(o.type, 'C');
  EXPECT_EQ(o.width, 35);
  EXPECT_EQ(o.decimals, 0);
  EXPECT_EQ(o.pool, 36u);
  EXPECT_EQ(o.text, Padded("Doom", 35));

  o = Compute("cheatname");  // letters outside quotes are upper-cased
  EXPECT_EQ(o.type, 'C');
  EXPECT_EQ(o.width, 35);
  EXPECT_EQ(o.text, Padded("Doom", 35));
  o = Compute("(CheatName)");  // still exactly one field
  EXPECT_EQ(o.width, 35);

  o = Compute("SCORE");
  EXPECT_EQ(o.type, 'N');
  EXPECT_EQ(o.width, 8);
  EXPECT_EQ(o.decimals, 2);
  EXPECT_DOUBLE_EQ(o.number, 3.25);
  EXPECT_EQ(o.pool, 0u);
  o = Compute("SCORE * 2");
  EXPECT_EQ(o.width, 11);
  EXPECT_EQ(o.decimals, 0);
  o = Compute("-LEVEL");
  EXPECT_EQ(o.width, 11);
  EXPECT_DOUBLE_EQ(o.number, -12);

  o = Compute("ADDED");
  EXPECT_EQ(o.type, 'D');
  EXPECT_EQ(o.width, 8);
  o = Compute("OK");
  EXPECT_EQ(o.type, 'L');
  EXPECT_EQ(o.width, 1);
  EXPECT_TRUE(o.logical);
  EXPECT_EQ(Compute("LEVEL > 1").width, 1);
  EXPECT_EQ(Compute("DATE()").width, 8);

  o = Compute("'abc'");
  EXPECT_EQ(o.width, 0);
  EXPECT_EQ(o.pool, 4u);
  EXPECT_EQ(o.text, "abc");  // the inside of a literal keeps its case
  EXPECT_EQ(Compute("CHEATNAME + 'x'").width, 0);
  EXPECT_EQ(Compute("CHEATNAME + 'x'").pool, 38u);
  EXPECT_EQ(Compute("UPPER(CHEATNAME)").pool, 36u);
  EXPECT_EQ(Compute("CHEATNAME + LEFT").pool, 36u + 5u);
  EXPECT_EQ(Compute("LEVEL + SCORE").pool, 0u);  // numeric fields take no pool

  // The reservations of the functions whose results may outgrow their input.
  EXPECT_EQ(Compute("CHR(65)").pool, 2u);
  EXPECT_EQ(Compute("DTOS(ADDED)").pool, 9u);
  EXPECT_EQ(Compute("DTOC(ADDED)").pool, 11u);
  EXPECT_EQ(Compute("CDOW(ADDED)").pool, 15u);
  EXPECT_EQ(Compute("CMONTH(ADDED)").pool, 15u);
  EXPECT_EQ(Compute("CMON(ADDED)").pool, 15u);
  EXPECT_EQ(Compute("SOUNDEX('x')").pool, 15u + 2u);
  EXPECT_EQ(Compute("IIF(OK, 'a', 'bc')").pool, 256u + 2u + 3u);
  EXPECT_EQ(Compute("REPLICATE('x', 3)").pool, 256u + 2u);
  EXPECT_EQ(Compute("SPACE(3)").pool, 256u);
  EXPECT_EQ(Compute("STR(LEVEL)").pool, 256u);
  EXPECT_EQ(Compute("STR(LEVEL) + STR(SCORE, 8, 2)").pool, 512u);
  EXPECT_EQ(Compute("UPPER(LOWER(TRIM(CHEATNAME)))").pool, 36u);
  EXPECT_EQ(Compute("LEN(CHEATNAME) + ASC('a')").pool, 38u);
}

TEST_F(ExprTest, Lexing) {
  EXPECT_EQ(Text("\"double\" + 'single'"), "doublesingle");
  EXPECT_EQ(Text("\"it's\""), "it's");
  EXPECT_EQ(Text("'say \"hi\"'"), "say \"hi\"");
  EXPECT_EQ(Text("''"), "");
  EXPECT_EQ(Text("'  a b  '"), "  a b  ");
  EXPECT_DOUBLE_EQ(Num("\tLEVEL\t+\t1 "), 13);
  EXPECT_DOUBLE_EQ(Num("level+1"), 13);
  EXPECT_DOUBLE_EQ(Num("Level"), 12);
  EXPECT_EQ(Text("platform"), "dos   ");  // field names compared without regard to case
  EXPECT_EQ(Text("PLATFORM"), "dos   ");

  EXPECT_DOUBLE_EQ(Num("1E3"), 1000);
  EXPECT_DOUBLE_EQ(Num("1e3"), 1000);
  EXPECT_DOUBLE_EQ(Num("2.5E1"), 25);
  EXPECT_DOUBLE_EQ(Num("1.5"), 1.5);
  EXPECT_DOUBLE_EQ(Num("007"), 7);
  EXPECT_EQ(Reason("1..2"), "Syntax error");
  EXPECT_EQ(Reason("1E"), "Syntax error");
  EXPECT_EQ(Reason("1E5E5"), "Syntax error");
  EXPECT_EQ(Reason("1.2.3"), "Syntax error");
  EXPECT_EQ(Reason("1E-5"), "Syntax error");  // the number is "1E"; a sign is no part of it
  EXPECT_DOUBLE_EQ(Num("1E0-5"), -4);
  EXPECT_EQ(Reason(".5"), "Syntax error");  // a word, and no known one
  EXPECT_EQ(Reason("1 2"), "Syntax error");

  EXPECT_EQ(Reason("'abc"), "Syntax error");
  EXPECT_EQ(Reason("\"abc'"), "Syntax error");
  EXPECT_EQ(Reason("'it''s'"), "Syntax error");  // no escapes: two literals in a row
  EXPECT_EQ(Reason("LEVEL + 'x"), "Syntax error");

  EXPECT_DOUBLE_EQ(Num("2 ** 3"), 8);
  EXPECT_DOUBLE_EQ(Num("2 ^ 3"), 8);
  EXPECT_TRUE(Logic("1 # 2"));
  EXPECT_TRUE(Logic("1 <> 2"));
  EXPECT_FALSE(Logic("2 # 2"));
  EXPECT_TRUE(Logic("1<=1"));
  EXPECT_TRUE(Logic("1>=1"));
  EXPECT_TRUE(Logic("'a'=='a'"));
  EXPECT_TRUE(Logic(".t."));
  EXPECT_FALSE(Logic(".f."));
  EXPECT_TRUE(Logic(".not. .f."));
  EXPECT_EQ(Reason(".not..f."), "Syntax error");  // one word

  // Keywords and their abbreviations.
  EXPECT_EQ(Text("UPPE(CHEATNAME)"), Padded("DOOM", 35));
  EXPECT_EQ(Text("upper(cheatname)"), Padded("DOOM", 35));
  EXPECT_EQ(Text("lowe('AB')"), "ab");
  EXPECT_EQ(Text("REPL('ab', 2)"), "abab");
  EXPECT_EQ(Text("REPLI('ab', 2)"), "abab");
  EXPECT_EQ(Text("REPLICAT('ab', 2)"), "abab");
  EXPECT_EQ(Text("SOUN('Robert')"), "R163");
  EXPECT_EQ(Text("SOUNDE('Robert')"), "R163");
  EXPECT_EQ(Text("SUBS('abc', 2, 1)"), "b");
  EXPECT_EQ(Text("SUBST('abc', 2, 1)"), "b");
  EXPECT_EQ(Text("RIGH('abc', 1)"), "c");
  EXPECT_EQ(Text("LTRI(' a')"), "a");
  EXPECT_EQ(Text("RTRI('a ')"), "a");
  EXPECT_EQ(Text("SPAC(2)"), "  ");
  EXPECT_EQ(Text("STUF('abc', 1, 1, 'x')"), "xbc");
  EXPECT_EQ(Text("CMON(ADDED)"), "December ");
  EXPECT_EQ(Text("CMONT(ADDED)"), "December ");
  EXPECT_DOUBLE_EQ(Num("MONT(ADDED)"), 12);
  EXPECT_DOUBLE_EQ(Num("ROUN(2.567, 1)"), 2.5);
  EXPECT_DOUBLE_EQ(Num("RECN()"), 1);
  EXPECT_FALSE(Logic("DELE()"));
  EXPECT_FALSE(Logic("DELET()"));
  EXPECT_FALSE(Logic("DELETE()"));
  EXPECT_EQ(Reason("UP(CHEATNAME)"), "Syntax error");
  EXPECT_EQ(Reason("UPP(CHEATNAME)"), "Syntax error");
  EXPECT_EQ(Reason("UPPERS(CHEATNAME)"), "Syntax error");
  EXPECT_EQ(Reason("REP('a', 2)"), "Syntax error");
  EXPECT_EQ(Reason("REPLICATES('a', 2)"), "Syntax error");
  EXPECT_EQ(Reason("SOU('a')"), "Syntax error");
  EXPECT_EQ(Reason("SUB('abc', 1, 1)"), "Syntax error");
  EXPECT_EQ(Reason("CMO(ADDED)"), "Syntax error");
  EXPECT_EQ(Reason("DEL()"), "Syntax error");
  EXPECT_EQ(Reason("NOSUCHFIELD"), "Syntax error");
  EXPECT_EQ(Reason("UPPER"), "Syntax error");  // a function needs its parentheses
  EXPECT_EQ(Reason("DATE"), "Syntax error");
  EXPECT_EQ(Reason("LEVEL ! 2"), "Syntax error");
  EXPECT_EQ(Reason("LEVEL & 2"), "Syntax error");
  EXPECT_EQ(Reason(std::string("LEVEL \x01 2")), "Syntax error");
  EXPECT_EQ(Reason(std::string("LEVEL\0", 6)), "Syntax error");
  EXPECT_EQ(Reason("LEVEL\r\n+ 1"), "Syntax error");  // only blanks and tabs separate
  EXPECT_EQ(Reason(""), "Syntax error");
  EXPECT_EQ(Reason("   "), "Syntax error");
  EXPECT_EQ(Reason("()"), "Syntax error");
  EXPECT_EQ(Reason("(1"), "Syntax error");
  EXPECT_EQ(Reason("1)"), "Syntax error");
  EXPECT_EQ(Reason("1 +"), "Syntax error");
  EXPECT_EQ(Reason("* 2"), "Syntax error");
  EXPECT_EQ(Reason("LEVEL.AND..T."), "Syntax error");  // one word: blanks are needed

  // Argument counts.
  EXPECT_EQ(Reason("LEFT('abc')"), "Syntax error");
  EXPECT_EQ(Reason("LEFT('abc', 1, 2)"), "Syntax error");
  EXPECT_EQ(Reason("DATE(1)"), "Syntax error");
  EXPECT_EQ(Reason("STR()"), "Syntax error");
  EXPECT_EQ(Reason("STR(1, 2, 3, 4)"), "Syntax error");
  EXPECT_EQ(Reason("IIF(.T., 'a')"), "Syntax error");
  EXPECT_EQ(Reason("STUFF('a', 1, 1)"), "Syntax error");
  EXPECT_EQ(Reason("LEFT('abc',)"), "Syntax error");
  EXPECT_EQ(Reason("LEFT(,1)"), "Syntax error");
}

TEST_F(ExprTest, FieldsNamedLikeFunctions) {
  // LEFT is a field of the table; followed by "(" it is the function.
  EXPECT_EQ(Text("LEFT"), "lft1");
  EXPECT_EQ(Compute("LEFT").width, 4);
  EXPECT_EQ(Text("LEFT(CHEATNAME, 2)"), "Do");
  EXPECT_EQ(Text("LEFT (CHEATNAME, 2)"), "Do");
  EXPECT_EQ(Text("LEFT(LEFT, 3)"), "lft");
  EXPECT_EQ(Text("LEFT + LEFT(LEFT, 1)"), "lft1l");

  // A field called UP: the word alone is the field; "UP(" names no function.
  CloseAll();
  DbfBuilder b;
  b.Field("UP", 'C', 3).Field("UPPE", 'C', 2).Record({"abc", "xy"});
  b.Write("up.dbf");
  USE("up.dbf");
  EXPECT_EQ(Text("UP"), "abc");
  EXPECT_EQ(Text("UPPE"), "xy");
  EXPECT_EQ(Text("UPPE(UP)"), "ABC");
  EXPECT_EQ(Text("UPPE(UPPE)"), "XY");
  EXPECT_EQ(Reason("UP(UP)"), "Syntax error");
}

TEST_F(ExprTest, PrecedenceAndGrouping) {
  EXPECT_DOUBLE_EQ(Num("2 + 3 * 4"), 14);
  EXPECT_DOUBLE_EQ(Num("(2 + 3) * 4"), 20);
  EXPECT_DOUBLE_EQ(Num("2 * 3 ^ 2"), 18);
  EXPECT_DOUBLE_EQ(Num("2 ^ 3 ^ 2"), 64);  // from the left
  EXPECT_DOUBLE_EQ(Num("2 ^ (3 ^ 2)"), 512);
  EXPECT_DOUBLE_EQ(Num("-3 ^ 2"), 9);  // the sign belongs to the operand
  EXPECT_DOUBLE_EQ(Num("-(3 ^ 2)"), -9);
  EXPECT_DOUBLE_EQ(Num("- 2 ^ 3"), -8);
  EXPECT_DOUBLE_EQ(Num("10 - 4 - 3"), 3);
  EXPECT_DOUBLE_EQ(Num("100 / 10 / 5"), 2);
  EXPECT_DOUBLE_EQ(Num("2 - -3"), 5);
  EXPECT_DOUBLE_EQ(Num("2 - - - 3"), -1);
  EXPECT_DOUBLE_EQ(Num("+ - + 4"), -4);
  EXPECT_DOUBLE_EQ(Num("8 / 2 * 4"), 16);
  EXPECT_DOUBLE_EQ(Num("1 + 2 * 3 - 4 / 2 ^ 2"), 6);
  EXPECT_TRUE(Logic("1 + 2 < 4"));
  EXPECT_TRUE(Logic("1 < 2 = .T."));
  EXPECT_TRUE(Logic("'A' $ 'AB' = .T."));
  EXPECT_TRUE(Logic(".T. .AND. 1 = 1"));
  EXPECT_TRUE(Logic(".T. .OR. .F. .AND. .F."));  // .AND. before .OR.
  EXPECT_FALSE(Logic("(.T. .OR. .F.) .AND. .F."));
  EXPECT_TRUE(Logic(".F. .AND. .F. .OR. .T."));
  EXPECT_TRUE(Logic(".NOT. .F. .AND. .T."));
  EXPECT_FALSE(Logic(".NOT. (.T. .AND. .T.)"));
  EXPECT_TRUE(Logic(".NOT. .NOT. .T."));
  EXPECT_TRUE(Logic("LEVEL > 10 .AND. 'D' $ CHEATNAME .OR. .F."));

  // The operator that meets the wrong types shows which way it grouped.
  EXPECT_EQ(Reason(".NOT. 1 = 1"), Mismatch(".NOT."));  // (.NOT. 1) = 1
  EXPECT_EQ(Reason("-'a' + 'b'"), Mismatch("Unary -"));
  EXPECT_EQ(Reason("'A' $ 'B' < 'C'"), Mismatch("$"));     // 'A' $ ('B' < 'C')
  EXPECT_EQ(Reason("'A' = 'B' $ 'C'"), Mismatch("="));     // 'A' = ('B' $ 'C')
  EXPECT_EQ(Reason("'A' == 'B' == 'C'"), Mismatch("=="));  // ('A' == 'B') == 'C'
  EXPECT_EQ(Reason("'A' $ 'B' $ 'C'"), Mismatch("$"));
  EXPECT_EQ(Reason("1 < 2 < 3"), Mismatch("<"));
  EXPECT_EQ(Reason(".T. = .T. = 1"), Mismatch("="));
  EXPECT_EQ(Reason("1 = 1 .AND. 2"), Mismatch(".AND."));
  EXPECT_EQ(Reason("1 .OR. 1 = 1"), Mismatch(".OR."));
}

TEST_F(ExprTest, TypeRules) {
  EXPECT_EQ(TypeOf("DATE() - CTOD('01/01/99')"), 'N');
  EXPECT_EQ(TypeOf("DATE() + 1"), 'D');
  EXPECT_EQ(TypeOf("1 + DATE()"), 'D');
  EXPECT_EQ(TypeOf("DATE() - 1"), 'D');
  EXPECT_EQ(TypeOf("'a' + 'b'"), 'C');
  EXPECT_EQ(TypeOf("'a' - 'b'"), 'C');
  EXPECT_EQ(TypeOf("CHEATMEMO"), 'M');
  EXPECT_DOUBLE_EQ(Day("CTOD('12/31/99') + 1"), kJan1st2000);
  EXPECT_DOUBLE_EQ(Day("1 + CTOD('12/31/99')"), kJan1st2000);
  EXPECT_DOUBLE_EQ(Day("CTOD('01/02/00') - 1"), kJan1st2000);
  EXPECT_DOUBLE_EQ(Num("CTOD('03/01/00') - CTOD('02/01/00')"), 29);  // 2000 is a leap year
  EXPECT_DOUBLE_EQ(Num("CTOD('03/01/99') - CTOD('02/01/99')"), 28);
  EXPECT_DOUBLE_EQ(Num("ADDED - CTOD('01/01/00')"), -2213);

  EXPECT_EQ(Reason("'A' + 1"), Mismatch("+"));
  EXPECT_EQ(Reason("DATE() + DATE()"), Mismatch("+"));
  EXPECT_EQ(Reason(".T. + .T."), Mismatch("+"));
  EXPECT_EQ(Reason("CHEATMEMO + 'x'"), Mismatch("+"));
  EXPECT_EQ(Reason("1 - DATE()"), Mismatch("-"));
  EXPECT_EQ(Reason("'a' - 1"), Mismatch("-"));
  EXPECT_EQ(Reason("'a' * 2"), Mismatch("*"));
  EXPECT_EQ(Reason("DATE() * 2"), Mismatch("*"));
  EXPECT_EQ(Reason("'a' / 2"), Mismatch("/"));
  EXPECT_EQ(Reason("'a' ^ 2"), Mismatch("** or ^"));
  EXPECT_EQ(Reason("2 ** 'a'"), Mismatch("** or ^"));
  EXPECT_EQ(Reason("1 = 'a'"), Mismatch("="));
  EXPECT_EQ(Reason("DATE() = 1"), Mismatch("="));
  EXPECT_EQ(Reason("1 == 1"), Mismatch("=="));
  EXPECT_EQ(Reason("1 $ 2"), Mismatch("$"));
  EXPECT_EQ(Reason(".T. > .F."), Mismatch(">"));
  EXPECT_EQ(Reason(".T. < .F."), Mismatch("<"));
  EXPECT_EQ(Reason(".T. <= .F."), Mismatch("<="));
  EXPECT_EQ(Reason(".T. >= .F."), Mismatch(">="));
  EXPECT_EQ(Reason("'a' <> 1"), Mismatch("<>"));
  EXPECT_EQ(Reason("'a' # 1"), Mismatch("<>"));
  EXPECT_EQ(Reason("1 .AND. 2"), Mismatch(".AND."));
  EXPECT_EQ(Reason("1 .OR. .T."), Mismatch(".OR."));
  EXPECT_EQ(Reason(".NOT. 'a'"), Mismatch(".NOT."));
  EXPECT_EQ(Reason("-'a'"), Mismatch("Unary -"));
  EXPECT_EQ(Reason("-DATE()"), Mismatch("Unary -"));
  EXPECT_EQ(Reason("+'a'"), Mismatch("Unary +"));
  EXPECT_EQ(Reason("+.T."), Mismatch("Unary +"));

  // Functions name themselves by their full name, however abbreviated.
  EXPECT_EQ(Reason("LEFT(1, 2)"), FunctionMismatch("LEFT"));
  EXPECT_EQ(Reason("LEFT('a', 'b')"), FunctionMismatch("LEFT"));
  EXPECT_EQ(Reason("UPPE(1)"), FunctionMismatch("UPPER"));
  EXPECT_EQ(Reason("CMON(1)"), FunctionMismatch("CMONTH"));
  EXPECT_EQ(Reason("REPL(1, 2)"), FunctionMismatch("REPLICATE"));
  EXPECT_EQ(Reason("SOUN(1)"), FunctionMismatch("SOUNDEX"));
  EXPECT_EQ(Reason("SUBS('a', '1', 1)"), FunctionMismatch("SUBSTR"));
  EXPECT_EQ(Reason("MAX(1, DATE())"), FunctionMismatch("MAX"));
  EXPECT_EQ(Reason("MIN('a', 'b')"), FunctionMismatch("MIN"));
  EXPECT_EQ(Reason("IIF(.T., 1, 2)"), FunctionMismatch("IIF"));
  EXPECT_EQ(Reason("IIF(1, 'a', 'b')"), FunctionMismatch("IIF"));
  EXPECT_EQ(Reason("STR('a')"), FunctionMismatch("STR"));
  EXPECT_EQ(Reason("STR(1, 2, 'a')"), FunctionMismatch("STR"));
  EXPECT_EQ(Reason("DTOS(1)"), FunctionMismatch("DTOS"));
  EXPECT_EQ(Reason("LEN(CHEATMEMO)"), FunctionMismatch("LEN"));
  EXPECT_EQ(Reason("CTOD(DATE())"), FunctionMismatch("CTOD"));
  EXPECT_EQ(Reason("STUF('a', 1, 1, 1)"), FunctionMismatch("STUFF"));
}

TEST_F(ExprTest, Comparisons) {
  EXPECT_TRUE(Logic("'ABC' = 'AB'"));
  EXPECT_FALSE(Logic("'AB' = 'ABC'"));
  EXPECT_TRUE(Logic("'AB' = 'AB'"));
  EXPECT_FALSE(Logic("'AB' = ''"));  // an empty right never matches
  EXPECT_FALSE(Logic("'' = ''"));
  EXPECT_FALSE(Logic("'ABC' == 'AB'"));
  EXPECT_TRUE(Logic("'AB' == 'AB'"));
  EXPECT_FALSE(Logic("'AB ' == 'AB'"));
  EXPECT_TRUE(Logic("'B' $ 'ABC'"));
  EXPECT_TRUE(Logic("'BC' $ 'ABC'"));
  EXPECT_FALSE(Logic("'X' $ 'ABC'"));
  EXPECT_FALSE(Logic("'ABCD' $ 'ABC'"));
  EXPECT_TRUE(Logic("'AB' < 'ABC'"));  // a proper prefix is smaller
  EXPECT_FALSE(Logic("'ABC' < 'AB'"));
  EXPECT_TRUE(Logic("'ABC' > 'AB'"));
  EXPECT_TRUE(Logic("'ab' > 'AB'"));
  EXPECT_TRUE(Logic("'AB' <= 'AB'"));
  EXPECT_FALSE(Logic("'AC' <= 'AB'"));
  EXPECT_FALSE(Logic("'AB' >= 'AC'"));
  EXPECT_TRUE(Logic("'AB' <> 'ABC'"));
  EXPECT_TRUE(Logic("'AB' # 'AB '"));
  EXPECT_FALSE(Logic("'AB' <> 'AB'"));
  EXPECT_TRUE(Logic("CHR(200) > 'z'"));  // bytes compare unsigned
  EXPECT_TRUE(Logic("CHR(128) >= CHR(127)"));
  EXPECT_TRUE(Logic("'Doom' $ CHEATNAME"));
  EXPECT_TRUE(Logic("CHEATNAME = 'Doo'"));
  EXPECT_FALSE(Logic("CHEATNAME == 'Doom'"));  // the field keeps its blanks
  EXPECT_TRUE(Logic("TRIM(CHEATNAME) == 'Doom'"));

  EXPECT_TRUE(Logic("1 = 1.0"));
  EXPECT_TRUE(Logic("LEVEL = 12"));
  EXPECT_TRUE(Logic("2 > 1"));
  EXPECT_FALSE(Logic("2 < 1"));
  EXPECT_TRUE(Logic("-1 < 0"));
  EXPECT_TRUE(Logic("SCORE <> 3"));
  EXPECT_TRUE(Logic("ADDED = CTOD('12/10/93')"));
  EXPECT_TRUE(Logic("ADDED < CTOD('12/11/93')"));
  EXPECT_TRUE(Logic("ADDED >= CTOD('12/10/93')"));
  EXPECT_TRUE(Logic("ADDED # CTOD('')"));
  EXPECT_TRUE(Logic(".T. = .T."));
  EXPECT_FALSE(Logic(".T. = .F."));
  EXPECT_TRUE(Logic(".T. <> .F."));
  EXPECT_TRUE(Logic("OK # .F."));
  EXPECT_FALSE(Logic(".T. .AND. .F."));
  EXPECT_TRUE(Logic(".F. .OR. .T."));
  EXPECT_FALSE(Logic(".F. .OR. .F."));
}

TEST_F(ExprTest, Arithmetic) {
  EXPECT_EQ(Num("2 ^ 3"), 8.0);  // exactly
  EXPECT_EQ(Num("10 ^ 2"), 100.0);
  EXPECT_DOUBLE_EQ(Num("2 ^ -1"), 0.5);
  EXPECT_DOUBLE_EQ(Num("9 ^ 0.5"), 3);
  EXPECT_DOUBLE_EQ(Num("(-8) ^ (1 / 3)"), 0);  // a negative base with a fractional power
  EXPECT_DOUBLE_EQ(Num("(-2) ^ 3"), -8);
  EXPECT_DOUBLE_EQ(Num("7 / 2"), 3.5);
  EXPECT_DOUBLE_EQ(Num("LEVEL * SCORE"), 39);
  EXPECT_DOUBLE_EQ(Num("LEVEL - 20"), -8);

  EXPECT_EQ(Text("'ab  ' + 'cd'"), "ab  cd");
  EXPECT_EQ(Text("'ab  ' - 'cd  '"), "abcd    ");  // the left's blanks move to the end
  EXPECT_EQ(Text("'  ' - 'x'"), "x  ");
  EXPECT_EQ(Text("'ab' - 'cd'"), "abcd");
  EXPECT_EQ(Text("' a ' - ' b'"), " a b ");
  EXPECT_EQ(Text("CHEATNAME - '!'"), "Doom!" + std::string(31, ' '));
  EXPECT_EQ(Text("'a' + 'b' - 'c' + 'd'"), "abcd");
  EXPECT_EQ(Text("'x ' + CHEATNAME - 'y'"), "x Doomy" + std::string(31, ' '));

  // Division by zero compiles; evaluating it fails.
  ScopedErrorDispatch quiet(false);
  ClearError();
  CompiledExpr* e = CompileExpr("10/0");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(Engine().Errors.ErrorCode, 0);
  e->Evaluate();
  EXPECT_EQ(Engine().Errors.ErrorCode, 358);
  EXPECT_EQ(Engine().Errors.ErrorDetail, "Error during evaluation: Divide by 0 [Evaluate/Engine]");
  ReleaseExpr(e);

  // A success after a failure leaves no error behind.
  e = CompileExpr("LEVEL / (LEVEL - 12)");
  ASSERT_NE(e, nullptr);
  e->Evaluate();
  EXPECT_EQ(Engine().Errors.ErrorCode, 358);
  GO(2);
  ExprValue v = e->Evaluate();
  EXPECT_EQ(Engine().Errors.ErrorCode, 0);
  EXPECT_DOUBLE_EQ(v.number, 3.0 / -9.0);
  ReleaseExpr(e);

  // With dispatching on the failure is raised.
  SetErrorDispatch(true);
  e = CompileExpr("1 / (LEVEL - 3)");
  ASSERT_NE(e, nullptr);
  EXPECT_THROW(e->Evaluate(), EngineError);
  ReleaseExpr(e);
  EXPECT_THROW(CompileExpr("1 +"), EngineError);
}

TEST_F(ExprTest, Functions) {
  EXPECT_DOUBLE_EQ(Num("ABS(-3.5)"), 3.5);
  EXPECT_DOUBLE_EQ(Num("ABS(3)"), 3);
  EXPECT_DOUBLE_EQ(Num("ASC('A')"), 65);
  EXPECT_DOUBLE_EQ(Num("ASC('abc')"), 97);
  EXPECT_DOUBLE_EQ(Num("ASC('')"), 0);
  EXPECT_DOUBLE_EQ(Num("ASC(CHR(233))"), 233);
  EXPECT_DOUBLE_EQ(Num("AT('B', 'ABC')"), 2);
  EXPECT_DOUBLE_EQ(Num("AT('BC', 'ABCBC')"), 2);
  EXPECT_DOUBLE_EQ(Num("AT('X', 'ABC')"), 0);
  EXPECT_DOUBLE_EQ(Num("AT('ABCD', 'ABC')"), 0);
  EXPECT_DOUBLE_EQ(Num("AT('A', '')"), 0);
  EXPECT_EQ(Text("CHR(65)"), "A");
  EXPECT_EQ(Text("CHR(65.9)"), "A");
  EXPECT_EQ(Text("CHR(255)"), "\xFF");
  EXPECT_EQ(Text("CHR(300)"), "");
  EXPECT_EQ(Text("CHR(256)"), "");
  EXPECT_EQ(Text("CHR(-1)"), "");
  EXPECT_EQ(Text("CHR(65) + CHR(66)"), "AB");
  EXPECT_TRUE(Logic("IIF(.T., 'a', 'b') == 'a'"));
  EXPECT_EQ(Text("IIF(LEVEL > 20, 'big', 'small')"), "small");
  EXPECT_EQ(Text("IIF(OK, CHEATNAME, '')"), Padded("Doom", 35));
  EXPECT_DOUBLE_EQ(Num("INT(3.7)"), 3);
  EXPECT_DOUBLE_EQ(Num("INT(-3.7)"), -3);
  EXPECT_EQ(Text("LEFT('abc', 2)"), "ab");
  EXPECT_EQ(Text("LEFT('abc', 0)"), "");
  EXPECT_EQ(Text("LEFT('abc', -1)"), "");
  EXPECT_EQ(Text("LEFT('abc', 10)"), "abc");
  EXPECT_EQ(Text("LEFT('abc', 2.9)"), "ab");
  EXPECT_DOUBLE_EQ(Num("LEN('abc')"), 3);
  EXPECT_DOUBLE_EQ(Num("LEN('')"), 0);
  EXPECT_DOUBLE_EQ(Num("LEN(CHEATNAME)"), 35);
  EXPECT_DOUBLE_EQ(Num("LEN(TRIM(CHEATNAME))"), 4);
  EXPECT_EQ(Text("LOWER('AbC 1')"), "abc 1");
  EXPECT_EQ(Text("UPPER('aBc 1')"), "ABC 1");
  EXPECT_EQ(Text("UPPER('\xE9t\xE9')"), "\xC9T\xC9");  // windows-1252 letters too
  EXPECT_EQ(Text("LOWER('\xC9"
                 "A\xD6')"),
            "\xE9"
            "a\xF6");
  EXPECT_EQ(Text("LTRIM('  a  ')"), "a  ");
  EXPECT_EQ(Text("RTRIM('  a  ')"), "  a");
  EXPECT_EQ(Text("TRIM('  a  ')"), "  a");
  EXPECT_EQ(Text("TRIM('   ')"), "");
  EXPECT_EQ(Text("LTRIM('')"), "");
  EXPECT_DOUBLE_EQ(Num("MAX(1, 2)"), 2);
  EXPECT_DOUBLE_EQ(Num("MIN(1, 2)"), 1);
  EXPECT_DOUBLE_EQ(Num("MAX(-1, -2)"), -1);
  EXPECT_DOUBLE_EQ(Day("MAX(CTOD('01/02/00'), CTOD('01/01/00'))"), kJan1st2000 + 1);
  EXPECT_DOUBLE_EQ(Day("MIN(CTOD('01/02/00'), CTOD('01/01/00'))"), kJan1st2000);
  EXPECT_DOUBLE_EQ(Num("MOD(7, 3)"), 1);
  EXPECT_DOUBLE_EQ(Num("MOD(-7, 3)"), -1);  // the sign of the dividend
  EXPECT_DOUBLE_EQ(Num("MOD(7, -3)"), 1);
  EXPECT_DOUBLE_EQ(Num("MOD(7.9, 3.9)"), 1);  // of the truncated integers
  EXPECT_DOUBLE_EQ(Num("MOD(7, 0)"), 7);
  EXPECT_DOUBLE_EQ(Num("MOD(7.8, 0)"), 7);
  EXPECT_DOUBLE_EQ(Num("MOD(-7.8, 0.5)"), -7);
  EXPECT_EQ(Text("REPLICATE('ab', 3)"), "ababab");
  EXPECT_EQ(Text("REPLICATE('ab', 0)"), "");
  EXPECT_EQ(Text("REPLICATE('ab', -1)"), "");
  EXPECT_EQ(Text("REPLICATE('', 1000000000)"), "");  // at once, whatever the count
  EXPECT_EQ(Text("REPLICATE('x', 255)"), std::string(255, 'x'));
  EXPECT_EQ(Text("RIGHT('abc', 2)"), "bc");
  EXPECT_EQ(Text("RIGHT('abc', 3)"), "abc");
  EXPECT_EQ(Text("RIGHT('abc', 5)"), "abc");
  EXPECT_EQ(Text("RIGHT('abc', -1)"), "");
  EXPECT_EQ(Text("RIGHT('abc', 0)"), "");
  EXPECT_DOUBLE_EQ(Num("ROUND(2.3, 1)"), 2.3);
  EXPECT_DOUBLE_EQ(Num("ROUND(2.567, 2)"), 2.56);
  EXPECT_DOUBLE_EQ(Num("ROUND(2.567, 0)"), 2);
  EXPECT_DOUBLE_EQ(Num("ROUND(-2.567, 2)"), -2.56);
  EXPECT_DOUBLE_EQ(Num("ROUND(1.005, 2)"), 1.0);
  EXPECT_DOUBLE_EQ(Num("ROUND(0.29, 2)"), 0.29);
  EXPECT_DOUBLE_EQ(Num("ROUND(1234.567, -2)"), 1200);  // to hundreds
  EXPECT_DOUBLE_EQ(Num("ROUND(-1299, -2)"), -1200);
  EXPECT_DOUBLE_EQ(Num("ROUND(7, 3)"), 7);
  EXPECT_EQ(Text("SOUNDEX('Robert')"), "R163");
  EXPECT_EQ(Text("SOUNDEX('Rupert')"), "R163");
  EXPECT_EQ(Text("SOUNDEX('robert')"), "R163");
  EXPECT_EQ(Text("SOUNDEX('Tymczak')"), "T522");
  EXPECT_EQ(Text("SOUNDEX('Lloyd')"), "L300");
  EXPECT_EQ(Text("SOUNDEX('Ashcraft')"), "A226");  // H codes 0: the next C is written again
  EXPECT_EQ(Text("SOUNDEX('A')"), "A000");
  EXPECT_EQ(Text("SOUNDEX('B-b.b c')"), "B200");  // non-letters skipped
  EXPECT_EQ(Text("SOUNDEX('1ab')"), "1100");
  EXPECT_EQ(Text("SOUNDEX('Pfister')"), "P236");
  EXPECT_EQ(Text("SOUNDEX('Washington')"), "W252");
  EXPECT_EQ(Soundex("Robert"), "R163");
  EXPECT_EQ(Text("SPACE(3)"), "   ");
  EXPECT_EQ(Text("SPACE(0)"), "");
  EXPECT_EQ(Text("SPACE(-1)"), "");
  EXPECT_EQ(Text("STR(7)"), "         7");
  EXPECT_EQ(Text("STR(12.5, 3, 1)"), "***");
  EXPECT_EQ(Text("STR(1234, 3)"), "***");
  EXPECT_EQ(Text("STR(3.14159, 6, 2)"), "  3.14");
  EXPECT_EQ(Text("STR(-5, 4)"), "  -5");
  EXPECT_EQ(Text("STR(LEVEL, 5)"), "   12");
  EXPECT_EQ(Text("STR(SCORE, 6, 2)"), "  3.25");
  EXPECT_EQ(Text("STR(5, 0)"), "");
  EXPECT_EQ(Text("STR(5, -1)"), "");
  EXPECT_EQ(Text("STR(5, 3, -1)"), "  5");
  EXPECT_EQ(Text("STUFF('abcdef', 2, 3, 'XY')"), "aXYef");
  EXPECT_EQ(Text("STUFF('abc', 0, 1, 'X')"), "Xbc");
  EXPECT_EQ(Text("STUFF('abc', -5, 1, 'X')"), "Xbc");
  EXPECT_EQ(Text("STUFF('abc', 4, 1, 'X')"), "abcX");
  EXPECT_EQ(Text("STUFF('abc', 10, 1, 'X')"), "abcX");
  EXPECT_EQ(Text("STUFF('abc', 2, 0, 'X')"), "aXbc");
  EXPECT_EQ(Text("STUFF('abc', 2, -1, 'X')"), "aXbc");
  EXPECT_EQ(Text("STUFF('abc', 2, 10, '')"), "a");
  EXPECT_EQ(Text("SUBSTR('abcdef', 2, 3)"), "bcd");
  EXPECT_EQ(Text("SUBSTR('abc', 1, 3)"), "abc");
  EXPECT_EQ(Text("SUBSTR('abc', 0, 2)"), "ab");
  EXPECT_EQ(Text("SUBSTR('abc', -5, 2)"), "ab");
  EXPECT_EQ(Text("SUBSTR('abc', 3, 5)"), "c");
  EXPECT_EQ(Text("SUBSTR('abc', 4, 2)"), "");
  EXPECT_EQ(Text("SUBSTR('abc', 10, 2)"), "");
  EXPECT_EQ(Text("SUBSTR('abc', 2, -1)"), "");
  EXPECT_EQ(Text("SUBSTR(CHEATNAME, 2, 3)"), "oom");
  EXPECT_DOUBLE_EQ(Num("VAL('12.5')"), 12.5);
  EXPECT_DOUBLE_EQ(Num("VAL('  42abc')"), 42);
  EXPECT_DOUBLE_EQ(Num("VAL('-3')"), -3);
  EXPECT_DOUBLE_EQ(Num("VAL('+3')"), 3);
  EXPECT_DOUBLE_EQ(Num("VAL('1E2')"), 100);
  EXPECT_DOUBLE_EQ(Num("VAL('abc')"), 0);
  EXPECT_DOUBLE_EQ(Num("VAL('')"), 0);
  EXPECT_DOUBLE_EQ(Num("VAL('   ')"), 0);
  EXPECT_DOUBLE_EQ(Num("VAL(STR(LEVEL))"), 12);

  EXPECT_DOUBLE_EQ(Num("RECNO()"), 1);
  EXPECT_FALSE(Logic("DELETED()"));
  GO(3);
  EXPECT_DOUBLE_EQ(Num("RECNO()"), 3);
  EXPECT_TRUE(Logic("DELETED()"));
  EXPECT_TRUE(Logic("DELETED() .AND. RECNO() = 3"));

  // The working pool runs out.
  ScopedErrorDispatch quiet(false);
  for (const char* text : {"REPLICATE('x', 1000)", "SPACE(300)", "REPLICATE('ab', 200)",
                           "REPLICATE('x', 1E300)", "SPACE(1E300)"}) {
    ClearError();
    CompiledExpr* e = CompileExpr(text);
    ASSERT_NE(e, nullptr) << text;
    const ExprValue v = e->Evaluate();
    EXPECT_EQ(Engine().Errors.ErrorCode, 354) << text;
    EXPECT_EQ(Engine().Errors.ErrorDetail, "Working pool overflow [PARSER/Allocate]") << text;
    EXPECT_TRUE(v.text.empty()) << text;
    ReleaseExpr(e);
  }
}

TEST_F(ExprTest, DateFunctions) {
  EXPECT_DOUBLE_EQ(Day("CTOD('01/01/00')"), kJan1st2000);
  EXPECT_DOUBLE_EQ(Day("CTOD('')"), 0);
  EXPECT_DOUBLE_EQ(Day("CTOD('13/45/99')"), 0);
  EXPECT_DOUBLE_EQ(Day("CTOD('02/29/99')"), 0);
  EXPECT_DOUBLE_EQ(Day("CTOD('not a date')"), 0);
  EXPECT_DOUBLE_EQ(Day("CTOD('02/29/00')"), kJan1st2000 + 59);
  EXPECT_DOUBLE_EQ(Day("CTOD('01/01/2000')"), kJan1st2000);
  EXPECT_DOUBLE_EQ(Day("CTOD('01/01/00 and more')"), 0);  // the first ten characters
  EXPECT_DOUBLE_EQ(Day("CTOD('') + 1721426"), 1721426);
  EXPECT_EQ(Text("DTOS(CTOD('') + 1721426)"), "00010101");  // 1 January of the year 1
  EXPECT_EQ(Text("DTOS(CTOD('') + 5373484)"), "99991231");
  EXPECT_EQ(Text("DTOS(CTOD('') + 5373484 + 100)"), "99991231");  // later counts as that day
  EXPECT_EQ(Text("DTOC(CTOD('') + 5373484 + 100)"), "12/31/99");

  EXPECT_EQ(Text("DTOS(ADDED)"), "19931210");
  EXPECT_EQ(Text("DTOS(CTOD('02/29/00'))"), "20000229");
  EXPECT_EQ(Text("DTOS(CTOD(''))"), "        ");
  EXPECT_DOUBLE_EQ(Num("DAY(ADDED)"), 10);
  EXPECT_DOUBLE_EQ(Num("MONTH(ADDED)"), 12);
  EXPECT_DOUBLE_EQ(Num("YEAR(ADDED)"), 1993);
  EXPECT_DOUBLE_EQ(Num("DAY(CTOD(''))"), 0);
  EXPECT_DOUBLE_EQ(Num("MONTH(CTOD(''))"), 0);
  EXPECT_DOUBLE_EQ(Num("YEAR(CTOD(''))"), 0);
  EXPECT_DOUBLE_EQ(Num("DOW(CTOD('01/01/00'))"), 7);  // a Saturday
  EXPECT_DOUBLE_EQ(Num("DOW(CTOD('01/02/00'))"), 1);  // Sunday
  EXPECT_DOUBLE_EQ(Num("DOW(ADDED)"), 6);             // 10 December 1993, a Friday
  EXPECT_DOUBLE_EQ(Num("DOW(CTOD(''))"), 0);
  EXPECT_EQ(Text("CDOW(CTOD('01/01/00'))"), "Saturday ");
  EXPECT_EQ(Text("CDOW(CTOD('01/05/00'))"), "Wednesday");
  EXPECT_EQ(Text("CDOW(ADDED)"), "Friday   ");
  EXPECT_EQ(Text("CDOW(CTOD(''))"), std::string(9, ' '));
  EXPECT_EQ(Text("CMONTH(CTOD('01/01/00'))"), "January  ");
  EXPECT_EQ(Text("CMONTH(CTOD('09/01/00'))"), "September");
  EXPECT_EQ(Text("CMONTH(CTOD(''))"), std::string(9, ' '));

  // DATE() is today.
  const platform::LocalDate today = platform::Today();
  const double todayJulian = static_cast<double>(JulianDay(today.year, today.month, today.day));
  EXPECT_DOUBLE_EQ(Day("DATE()"), todayJulian);
  EXPECT_DOUBLE_EQ(Num("DATE() - CTOD('01/01/99')"), todayJulian - (kJan1st2000 - 365));
  EXPECT_DOUBLE_EQ(Num("YEAR(DATE())"), today.year);
  EXPECT_DOUBLE_EQ(Day("DATE() + 1"), todayJulian + 1);

  // DTOC follows the date format and the century setting. 10 February 2000:
  const std::string feb10 = "DTOC(CTOD('') + 2451585)";
  const std::string blank = "DTOC(CTOD(''))";
  struct Shape {
    int code;
    const char* shortForm;
    const char* longForm;
    const char* blankShort;
  };
  const Shape shapes[] = {
      {0, "02/10/00", "02/10/2000", "  /  /  "}, {1, "00.02.10", "2000.02.10", "  .  .  "},
      {2, "10/02/00", "10/02/2000", "  /  /  "}, {3, "10-02-00", "10-02-2000", "  -  -  "},
      {4, "10.02.00", "10.02.2000", "  .  .  "}, {5, "10.02.00", "10.02.2000", "  .  .  "},
      {6, "10.02.00", "10.02.2000", "  .  .  "}, {7, "10.02.00", "10.02.2000", "  .  .  "},
      {8, "10/02/00", "10/02/2000", "  /  /  "},
  };
  for (const Shape& s : shapes) {
    SetDateFormat(s.code);
    SetCentury(false);
    EXPECT_EQ(Text(feb10), s.shortForm) << "format " << s.code;
    EXPECT_EQ(Text(blank), s.blankShort) << "format " << s.code;
    SetCentury(true);
    EXPECT_EQ(Text(feb10), s.longForm) << "format " << s.code;
    EXPECT_EQ(Text(blank).size(), 10u) << "format " << s.code;
    EXPECT_EQ(Text("DTOS(CTOD('') + 2451585)"), "20000210");
  }
  SetCentury(true);
  SetDateFormat(0);
  EXPECT_EQ(Text(blank), "  /  /    ");
  EXPECT_DOUBLE_EQ(Day("CTOD('01/01/2000')"), kJan1st2000);
  EXPECT_EQ(Text("DTOC(ADDED)"), "12/10/1993");
  SetCentury(false);
  SetDateFormat(2);  // CTOD reads the engine's format
  EXPECT_DOUBLE_EQ(Day("CTOD('10/02/00')"), kJan1st2000 + 40);
  EXPECT_EQ(Text("DTOC(ADDED)"), "10/12/93");

  // A date that is no number at all counts as the empty date.
  SetDateFormat(0);
  EXPECT_EQ(Text("DTOS(DATE() + 0 * 10 ^ 999)"), "        ");
  EXPECT_EQ(Text("DTOC(DATE() + 0 * 10 ^ 999)"), "  /  /  ");
  EXPECT_DOUBLE_EQ(Num("DAY(DATE() + 0 * 10 ^ 999)"), 0);
  EXPECT_DOUBLE_EQ(Num("DOW(DATE() + 0 * 10 ^ 999)"), 0);
  EXPECT_EQ(Text("CDOW(DATE() + 0 * 10 ^ 999)"), std::string(9, ' '));
  EXPECT_EQ(Text("DTOS(DATE() + 10 ^ 999)"), "99991231");
  EXPECT_EQ(Text("DTOS(DATE() - 10 ^ 999)"), "00010101");
  EXPECT_EQ(Text("DTOS(CTOD('') - 5)"), "00010101");
}

TEST_F(ExprTest, NumbersThatAreNoNumbers) {
  // Overflowing powers and what follows from them stay harmless.
  EXPECT_EQ(Text("STR(0 * 10 ^ 999)"), "         0");
  EXPECT_EQ(Text("STR(1, 0 * 10 ^ 999)"), "");
  EXPECT_EQ(Text("STR(1, 5, 0 * 10 ^ 999)"), "    1");
  EXPECT_DOUBLE_EQ(Num("ROUND(2.5, 0 * 10 ^ 999)"), 2);
  EXPECT_EQ(Text("CHR(0 * 10 ^ 999)"), "");
  EXPECT_EQ(Text("SPACE(0 * 10 ^ 999)"), "");
  EXPECT_EQ(Text("LEFT('abc', 0 * 10 ^ 999)"), "");
  EXPECT_EQ(Text("SUBSTR('abc', 0 * 10 ^ 999, 2)"), "ab");
  EXPECT_EQ(Text("STUFF('abc', 0 * 10 ^ 999, 1, 'X')"), "Xbc");
  EXPECT_EQ(Text("REPLICATE('a', 0 * 10 ^ 999)"), "");
  EXPECT_EQ(Text("STR(1E300, 5)"), "*****");
  EXPECT_EQ(Text("STR(1, 1E300)").size(), 255u);
}

TEST_F(ExprTest, FieldValues) {
  // An OEM table: texts come converted to ANSI, keys go back to OEM.
  GO(2);
  EXPECT_EQ(Text("TRIM(CHEATNAME)"), "Pok\xE9mon Snap");
  EXPECT_EQ(Text("UPPER(TRIM(CHEATNAME))"), "POK\xC9MON SNAP");
  EXPECT_DOUBLE_EQ(Num("LEVEL"), 3);
  EXPECT_DOUBLE_EQ(Num("SCORE"), -1.5);
  EXPECT_FALSE(Logic("OK"));
  EXPECT_EQ(Text("DTOS(ADDED)"), "19990321");
  {
    ScopedErrorDispatch quiet(false);
    CompiledExpr* e = CompileExpr("UPPER(TRIM(CHEATNAME))");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(EvaluateKey(*e, true).text, "POK\x90MON SNAP");
    EXPECT_EQ(EvaluateKey(*e, false).text, "POK\xC9MON SNAP");
    ReleaseExpr(e);
    e = CompileExpr("LEVEL * 2");
    ASSERT_NE(e, nullptr);
    const KeyValue k = EvaluateKey(*e, true);
    EXPECT_DOUBLE_EQ(k.number, 6);
    EXPECT_TRUE(k.text.empty());
    ReleaseExpr(e);
    e = CompileExpr("ADDED");
    ASSERT_NE(e, nullptr);
    EXPECT_DOUBLE_EQ(EvaluateKey(*e, true).number, kJan1st2000 - 286);
    ReleaseExpr(e);
    e = CompileExpr("LEVEL = 3");
    ASSERT_NE(e, nullptr);
    EXPECT_DOUBLE_EQ(EvaluateKey(*e, true).number, 1);
    ReleaseExpr(e);
  }

  GO(3);
  EXPECT_TRUE(Logic("OK"));  // Y counts as true
  EXPECT_DOUBLE_EQ(Day("ADDED"), 0);
  EXPECT_EQ(Text("DTOS(ADDED)"), "        ");
  EXPECT_DOUBLE_EQ(Num("SCORE"), 100);

  GO(4);  // odd contents: a word in a numeric field, an impossible date
  EXPECT_DOUBLE_EQ(Num("LEVEL"), 0);
  EXPECT_DOUBLE_EQ(Day("ADDED"), 0);
  EXPECT_FALSE(Logic("OK"));
  EXPECT_EQ(Text("LEFT"), "    ");

  // Past the end: a blank record.
  GoBottom();
  SKIP();
  ASSERT_TRUE(dEOF());
  EXPECT_EQ(Text("CHEATNAME"), std::string(35, ' '));
  EXPECT_DOUBLE_EQ(Num("LEVEL"), 0);
  EXPECT_DOUBLE_EQ(Num("SCORE"), 0);
  EXPECT_DOUBLE_EQ(Day("ADDED"), 0);
  EXPECT_FALSE(Logic("OK"));
  EXPECT_FALSE(Logic("DELETED()"));
  EXPECT_DOUBLE_EQ(Num("RECNO()"), 5);
  EXPECT_EQ(Compute("CHEATMEMO").text, "");

  // One compiled expression follows the record pointer.
  ScopedErrorDispatch quiet(false);
  CompiledExpr* e = CompileExpr("STR(RECNO(), 1) + '-' + TRIM(LEFT) + IIF(DELETED(), '*', '')");
  ASSERT_NE(e, nullptr);
  const char* expected[] = {"1-lft1", "2-lft2", "3-*", "4-"};
  for (int r = 1; r <= 4; ++r) {
    GO(r);
    EXPECT_EQ(e->Evaluate().text, expected[r - 1]);
  }
  ReleaseExpr(e);
}

TEST_F(ExprTest, MemoFields) {
  Outcome o = Compute("CHEATMEMO");
  EXPECT_EQ(o.type, 'M');
  EXPECT_EQ(o.text, "IDDQD\r\nIDKFA");
  GO(2);
  EXPECT_EQ(Compute("CHEATMEMO").text, "");  // no memo
  GO(4);
  EXPECT_EQ(Compute("CHEATMEMO").text, "");  // a block number that is no number
  EXPECT_EQ(SelectedArea(), 1);

  // A memo block number beyond 32 bits, and one past the file's end.
  CloseAll();
  test::DbtBuilder memo(false);
  const int m1 = memo.Add("first memo");
  memo.Write("notes.dbt");
  DbfBuilder b;
  b.Version(0x83).Field("NOTE", 'M', 10);
  b.Record({test::MemoField(m1)}).Record({"9999999999"}).Record({"      4711"}).Record({"12x"});
  b.Write("notes.dbf");
  USE("notes.dbf");
  {
    ScopedErrorDispatch quiet(false);
    CompiledExpr* e = CompileExpr("NOTE");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->ResultType(), 'M');
    const char* expected[] = {"first memo", "", "", ""};
    for (int r = 1; r <= 4; ++r) {
      GO(r);
      Engine().Errors.ErrorCode = 212;  // an earlier error stays what it was
      EXPECT_EQ(e->Evaluate().text, expected[r - 1]) << r;
      EXPECT_EQ(Engine().Errors.ErrorCode, 212) << r;
    }
    ReleaseExpr(e);
  }
}

TEST_F(ExprTest, Aliases) {
  OpenOther();
  ASSERT_EQ(SelectedArea(), 1);
  Outcome o = Compute("OTH->NAME");
  EXPECT_EQ(o.type, 'C');
  EXPECT_EQ(o.width, 8);
  EXPECT_EQ(o.pool, 9u);
  EXPECT_EQ(o.text, "first   ");
  EXPECT_EQ(Text("oth->name"), "first   ");
  EXPECT_DOUBLE_EQ(Num("OTH->LONGFIELDN"), 1.5);
  EXPECT_DOUBLE_EQ(Num("OTH->LONGFIELDNAME"), 1.5);  // names are cut to 10 characters
  EXPECT_EQ(Compute("OTH->LONGFIELDN").width, 4);
  EXPECT_EQ(Compute("OTH->LONGFIELDN").decimals, 1);
  EXPECT_DOUBLE_EQ(Num("GAMES->LEVEL + OTH->LONGFIELDN"), 13.5);
  EXPECT_EQ(Text("TRIM(OTH->NAME) + '/' + TRIM(CHEATNAME)"), "first/Doom");
  EXPECT_EQ(Reason("OTH->NOPE"), "Syntax error");
  EXPECT_EQ(Reason("OT->NAME"), "Syntax error");  // the alias is compared whole
  EXPECT_EQ(Reason("OTHE->NAME"), "Syntax error");
  EXPECT_EQ(Reason("OTHER->NAME"), "Syntax error");  // the file name is no alias here
  EXPECT_EQ(Reason("NAME"), "Syntax error");         // not a field of the current area
  EXPECT_EQ(Reason("OTH->LEVEL"), "Syntax error");
  EXPECT_EQ(Reason("OTH -> NAME"), "Syntax error");
  EXPECT_EQ(Reason("OTH->UPPER(NAME)"), "Syntax error");

  // The aliased field follows the record of its own area.
  ScopedErrorDispatch quiet(false);
  CompiledExpr* e = CompileExpr("TRIM(OTH->NAME) + STR(LEVEL, 3)");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->Evaluate().text, "first 12");
  Select(2);
  GO(2);
  Select(1);
  GO(2);
  EXPECT_EQ(e->Evaluate().text, "second  3");
  Select(2);
  GO(3);  // past the end
  Select(1);
  EXPECT_EQ(e->Evaluate().text, "  3");
  EXPECT_EQ(SelectedArea(), 1);
  // The other area closed: its fields read as empty, nothing breaks.
  Select(2);
  CloseArea();
  Select(1);
  ClearError();
  EXPECT_EQ(e->Evaluate().text, "  3");
  EXPECT_EQ(Engine().Errors.ErrorCode, 0);
  ReleaseExpr(e);

  // Compiled in area 2, the fields are those of area 2.
  OpenOther();
  Select(2);
  EXPECT_EQ(Text("NAME"), "first   ");
  EXPECT_DOUBLE_EQ(Num("GAMES->LEVEL"), 3);  // area 1 stands on record 2
  EXPECT_EQ(Reason("CHEATNAME"), "Syntax error");
  EXPECT_DOUBLE_EQ(Num("RECNO()"), 1);
  Select(1);
}

TEST_F(ExprTest, ErrorMessages) {
  EXPECT_EQ(Problem("FOO"), "Error in expression : Syntax error\r\n[FOO]\r\n [AssignExpr]");
  EXPECT_EQ(Problem("'A' + 1"),
            "Error in expression : PARSER:Type mismatch in expression \"+\"\r\n['A' + 1]\r\n"
            " [AssignExpr]");
  EXPECT_EQ(Problem("left(1,2)"),
            "Error in expression : PARSER:Type mismatch in function \"LEFT\"\r\n[left(1,2)]\r\n"
            " [AssignExpr]");

  // A text of more than 51 characters with the error early: the excerpt is
  // its start, and "..." tells that more follows.
  std::string late;
  for (int i = 0; i < 10; ++i) late += "LEVEL + ";
  late += "1";
  EXPECT_EQ(Problem("FOO + " + late), "Error in expression : Syntax error\r\n[" +
                                          ("FOO + " + late).substr(0, 51) +
                                          "...]\r\n [AssignExpr]");

  // The error far into the text: the excerpt starts 51 characters before it.
  const std::string head = late.substr(0, 64);  // "LEVEL + " eight times
  std::string text = head + "FOO + LEVEL + LEVEL + LEVEL + LEVEL + LEVEL";
  EXPECT_EQ(Problem(text), "Error in expression : Syntax error\r\n[..." + text.substr(16, 51) +
                               "...]\r\n [AssignExpr]");
  text = head + "FOO";  // the error at the end: nothing follows the excerpt
  EXPECT_EQ(Problem(text), "Error in expression : Syntax error\r\n[..." + text.substr(16, 51) +
                               "]\r\n [AssignExpr]");

  // Where "..." starts: at 50 characters the excerpt still starts at the
  // beginning, at 51 it is marked as cut (51 characters before it).
  text = std::string(45, ' ') + "1 FOO" + std::string(10, ' ') + "+ 1";  // FOO ends at 50
  EXPECT_EQ(Problem(text), "Error in expression : Syntax error\r\n[" + text.substr(0, 51) +
                               "...]\r\n [AssignExpr]");
  text = std::string(46, ' ') + "1 FOO" + std::string(10, ' ') + "+ 1";  // FOO ends at 51
  EXPECT_EQ(Problem(text), "Error in expression : Syntax error\r\n[..." + text.substr(0, 51) +
                               "...]\r\n [AssignExpr]");

  // An unterminated literal is found at the end of the text.
  text = "'" + std::string(80, 'x');
  EXPECT_EQ(Problem(text), "Error in expression : Syntax error\r\n[..." + text.substr(30, 51) +
                               "]\r\n [AssignExpr]");

  // With dispatching on, the message is raised with the error text.
  SetErrorDispatch(true);
  try {
    CompileExpr("LEVEL + 'x'");
    ADD_FAILURE() << "no error raised";
  } catch (const EngineError& e) {
    EXPECT_NE(std::string(e.what()).find(Mismatch("+")), std::string::npos) << e.what();
  }
  EXPECT_EQ(LiveExpressions(), live_);
}

TEST_F(ExprTest, LengthAndNesting) {
  // Only the first 255 bytes count.
  std::string text = "LEVEL + 1" + std::string(246, ' ');
  ASSERT_EQ(text.size(), 255u);
  EXPECT_DOUBLE_EQ(Num(text + "+ garbage that is never read"), 13);
  text = "'" + std::string(253, 'x') + "'";
  Outcome o = Compute(text + "*/ more garbage");
  EXPECT_EQ(o.text, std::string(253, 'x'));
  EXPECT_EQ(o.pool, 254u);
  {
    ScopedErrorDispatch quiet(false);
    CompiledExpr* e = CompileExpr(text + " rest");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->Source(), text);
    ReleaseExpr(e);
  }
  EXPECT_EQ(Reason("'" + std::string(254, 'x') + "'"), "Syntax error");  // the quote is cut off
  EXPECT_EQ(Reason(std::string(253, ' ') + "LEVEL"), "Syntax error");    // "LE"

  // Deep nesting within 255 bytes still compiles.
  EXPECT_DOUBLE_EQ(Num(std::string(127, '(') + "1" + std::string(127, ')')), 1);
  EXPECT_DOUBLE_EQ(Num(std::string(140, '-') + "1"), 1);
  EXPECT_DOUBLE_EQ(Num(std::string(139, '-') + "1"), -1);
  text.clear();
  for (int i = 0; i < 40; ++i) text += ".NOT. ";
  EXPECT_TRUE(Logic(text + ".T."));
  EXPECT_EQ(Reason(".NOT..NOT..T."), "Syntax error");  // without blanks one word
  text.clear();
  for (int i = 0; i < 50; ++i) text += "ABS(";
  EXPECT_DOUBLE_EQ(Num(text + "-1" + std::string(50, ')')), 1);
  text.clear();
  for (int i = 0; i < 30; ++i) text += "1+(";
  EXPECT_DOUBLE_EQ(Num(text + "1" + std::string(30, ')')), 31);

  // Too much pending at once.
  const std::string overflow = "Parser_stack_overflow";
  EXPECT_EQ(Reason(std::string(200, '(') + "1" + std::string(200, ')')), overflow);
  EXPECT_EQ(Reason(std::string(254, '(') + "1"), overflow);
  EXPECT_EQ(Reason(std::string(200, '-') + "1"), overflow);
  EXPECT_EQ(Reason(std::string(254, '+') + "1"), overflow);
  text.clear();
  for (int i = 0; i < 80; ++i) text += "1+(";
  EXPECT_EQ(Reason(text), overflow);
  text.clear();
  for (int i = 0; i < 60; ++i) text += "-(-(";
  EXPECT_EQ(Reason(text), overflow);
  text.clear();
  for (int i = 0; i < 42; ++i) text += "STR(1,";
  EXPECT_EQ(Reason(text), overflow);
}

TEST_F(ExprTest, NormalForm) {
  EXPECT_EQ(NormalizeExpression("upper( cheatname ) + 'a b'"), "UPPER(CHEATNAME)+\"a b\"");
  EXPECT_EQ(NormalizeExpression("\tlevel\t>  1 .and. ok"), "LEVEL>1.AND.OK");
  EXPECT_EQ(NormalizeExpression("\"It's\" $ name"), "\"It's\"$NAME");
  EXPECT_EQ(NormalizeExpression("'Mixed Case\t' # x"), "\"Mixed Case\t\"#X");
  EXPECT_EQ(NormalizeExpression("\xE9t\xE9"), "\xC9T\xC9");
  EXPECT_EQ(NormalizeExpression(""), "");
  EXPECT_EQ(NormalizeExpression("'open"), "\"open");
}

TEST_F(ExprTest, FilterAndWhileConditions) {
  // LEVEL by record: 12, 3, 1, (not a number) 0.
  ASSERT_TRUE(SetFilterExpr("LEVEL > 1"));
  EXPECT_EQ(LiveExpressions(), live_ + 1);
  GoTop();
  EXPECT_EQ(RecNo(), 1);
  SKIP();
  EXPECT_EQ(RecNo(), 2);
  SKIP();
  EXPECT_TRUE(dEOF());
  GoBottom();
  EXPECT_EQ(RecNo(), 2);
  SKIP(-1);
  EXPECT_EQ(RecNo(), 1);

  ASSERT_TRUE(SetFilterExpr(".NOT. DELETED() .AND. 'o' $ LOWER(CHEATNAME)"));
  EXPECT_EQ(LiveExpressions(), live_ + 1);  // the old filter was released
  GoTop();
  EXPECT_EQ(RecNo(), 1);
  SKIP();
  EXPECT_EQ(RecNo(), 2);
  SKIP();
  EXPECT_TRUE(dEOF());

  ASSERT_TRUE(SetFilterExpr(""));
  EXPECT_EQ(LiveExpressions(), live_);
  GoTop();
  SKIP(3);
  EXPECT_EQ(RecNo(), 4);

  {
    ScopedErrorDispatch quiet(false);
    EXPECT_FALSE(SetFilterExpr("LEVEL"));  // a condition must be logical
    EXPECT_EQ(Engine().Errors.ErrorCode, 351);
    EXPECT_FALSE(SetFilterExpr("LEVEL >"));
    EXPECT_EQ(Engine().Errors.ErrorCode, 351);
    EXPECT_EQ(LiveExpressions(), live_);
  }

  // The while condition ends the scan where it stops holding.
  ASSERT_TRUE(SetWhileExpr("LEVEL > 2"));
  EXPECT_TRUE(IsWhileOn());
  GoTop();
  EXPECT_EQ(RecNo(), 1);
  SKIP();
  EXPECT_EQ(RecNo(), 2);
  SKIP();
  EXPECT_TRUE(dEOF());
  ASSERT_TRUE(SetWhileExpr(""));
  EXPECT_FALSE(IsWhileOn());

  // Both at once; closing the table releases them.
  ASSERT_TRUE(SetFilterExpr("RECNO() <> 2"));
  ASSERT_TRUE(SetWhileExpr("RECNO() < 4"));
  EXPECT_EQ(LiveExpressions(), live_ + 2);
  GoTop();
  EXPECT_EQ(RecNo(), 1);
  SKIP();
  EXPECT_EQ(RecNo(), 3);
  SKIP();
  EXPECT_TRUE(dEOF());
  CloseArea();
  EXPECT_EQ(LiveExpressions(), live_);
}

TEST_F(ExprTest, ReleasedExpressionsLeaveNothingBehind) {
  ScopedErrorDispatch quiet(false);
  const std::size_t before = LiveExpressions();
  CompiledExpr* a = CompileExpr("CHEATNAME");
  CompiledExpr* b = CompileExpr("LEVEL * 2");
  CompiledExpr* c = CompileExpr("1 +");
  EXPECT_EQ(c, nullptr);
  EXPECT_EQ(LiveExpressions(), before + 2);
  ReleaseExpr(a);
  EXPECT_EQ(a, nullptr);
  EXPECT_EQ(LiveExpressions(), before + 1);
  ReleaseExpr(a);  // releasing an empty reference does nothing
  EXPECT_EQ(LiveExpressions(), before + 1);
  EXPECT_DOUBLE_EQ(b->Evaluate().number, 24);
  ReleaseExpr(b);
  EXPECT_EQ(LiveExpressions(), before);
}

TEST_F(ExprTest, WithoutATable) {
  CloseAll();
  EXPECT_DOUBLE_EQ(Num("1 + 2"), 3);
  EXPECT_DOUBLE_EQ(Num("RECNO()"), 0);
  EXPECT_FALSE(Logic("DELETED()"));
  EXPECT_EQ(Reason("CHEATNAME"), "Syntax error");
  ScopedErrorDispatch quiet(false);
  EXPECT_FALSE(SetFilterExpr(".T."));
  EXPECT_EQ(Engine().Errors.ErrorCode, 215);
}

}  // namespace
}  // namespace vz

namespace vz {
namespace {

// STR rounds halves away from zero, on the value corrected to 12 significant
// digits, and never shows a negative zero.
TEST(ExprStrRounding, HalvesGoAwayFromZero) {
  test::ResetEngineForTest();
  auto str = [](const std::string& text) {
    CompiledExpr* e = CompileExpr(text);
    EXPECT_NE(e, nullptr) << text;
    if (!e) return std::string();
    const std::string out(e->Evaluate().text);
    ReleaseExpr(e);
    return out;
  };
  EXPECT_EQ(str("STR(2.5)"), "         3");
  EXPECT_EQ(str("STR(-2.5)"), "        -3");
  EXPECT_EQ(str("STR(0.125,5,2)"), " 0.13");
  EXPECT_EQ(str("STR(1.005,5,2)"), " 1.01");
  EXPECT_EQ(str("STR(-0.4)"), "         0");
  EXPECT_EQ(str("STR(12.5,3,1)"), "***");
  EXPECT_EQ(str("STR(7)"), "         7");
  test::ResetEngineForTest();
}

}  // namespace
}  // namespace vz

namespace vz {
namespace {

double Round(const std::string& x, double places) {
  char n[32];
  std::snprintf(n, sizeof n, "%g", places);
  const std::string text = "ROUND(" + x + ", " + n + ")";
  CompiledExpr* e = CompileExpr(text);
  EXPECT_NE(e, nullptr) << text;
  if (!e) return 0;
  const double v = e->Evaluate().number;
  ReleaseExpr(e);
  return v;
}

// ROUND cuts towards zero; negative places cut whole digits: tens,
// hundreds, ... Binary noise (0.7 * 100 is 70.00000000000001) does not cost
// a digit.
TEST(ExprRound, NegativePlacesCutWholeDigitsTowardsZero) {
  test::ResetEngineForTest();
  EXPECT_EQ(Round("123.456", -1), 120);
  EXPECT_EQ(Round("50", -2), 0);
  EXPECT_EQ(Round("150", -2), 100);
  EXPECT_EQ(Round("-150", -2), -100);
  EXPECT_EQ(Round("99999.99", -5), 0);
  EXPECT_EQ(Round("100000", -5), 100000);
  EXPECT_EQ(Round("0.7 * 100", -1), 70);
  EXPECT_EQ(Round("0.3 * 3000", -2), 900);  // 899.9999999999999 in binary
  EXPECT_EQ(Round("123.456", -1.9), 120);   // places count by their whole part

  // Generated: numbers of up to 11 significant digits (whole parts of up
  // to 8 digits, three decimals) cut to -9 .. 0 places, and numbers below
  // 1000 cut to 0 .. 2 decimals, against the same cut made on their
  // decimal digits.
  std::mt19937_64 random(37);
  for (int i = 0; i < 5000; ++i) {
    const bool decimals = i % 4 == 0;
    const int places = decimals ? static_cast<int>(random() % 3) : -static_cast<int>(random() % 10);
    long long whole = static_cast<long long>(random() % 100000000ULL);
    for (int d = 1 + static_cast<int>(random() % (decimals ? 3 : 8)); d < 8; ++d) whole /= 10;
    const int thousandths = static_cast<int>(random() % 1000);
    const char* sign = random() % 2 ? "-" : "";
    char x[64];
    std::snprintf(x, sizeof x, "%s%lld.%03d", sign, whole, thousandths);
    char want[64];
    if (places <= 0) {
      long long unit = 1;
      for (int k = 0; k < -places; ++k) unit *= 10;
      std::snprintf(want, sizeof want, "%s%lld", sign, whole / unit * unit);
    } else {
      int kept = thousandths;
      for (int k = places; k < 3; ++k) kept /= 10;
      // places is 1 to 3 here, so kept has at most three digits.
      std::string digits = std::to_string(kept);
      digits.insert(0, static_cast<std::size_t>(places) - digits.size(), '0');
      std::snprintf(want, sizeof want, "%s%lld.%s", sign, whole, digits.c_str());
    }
    ASSERT_EQ(Round(x, places), std::strtod(want, nullptr))
        << "ROUND(" << x << ", " << places << ") is " << want;
  }
  test::ResetEngineForTest();
}

}  // namespace
}  // namespace vz
