#include "fuzz/FuzzTables.h"

#include "tests/support/DbtBuilder.h"

namespace vz::fuzz {
namespace {

struct ExprField {
  const char* name;
  char type;
  int len;
  int dec;
};

const ExprField kExprFields[] = {
    {"NAME", 'C', 20, 0}, {"CODE", 'C', 1, 0}, {"QTY", 'N', 6, 2},
    {"BIG", 'N', 20, 0},  {"WHEN", 'D', 8, 0}, {"FLAG", 'L', 1, 0},
    {"NOTE", 'M', 10, 0}, {"RATE", 'F', 8, 3}, {"LONG", 'C', 60, 0},
};

// A value placed in a field of the given width: numbers right-aligned,
// everything else left-aligned, cut or padded with blanks.
std::string Fit(const std::string& v, int len, bool right) {
  std::string s = v.substr(0, static_cast<std::size_t>(len));
  const std::string pad(static_cast<std::size_t>(len) - s.size(), ' ');
  return right ? pad + s : s + pad;
}

}  // namespace

test::Bytes IndexTable() {
  static const char* const kNames[] = {"Doom",
                                       "Quake",
                                       "Abuse",
                                       "Zork",
                                       "Myst",
                                       "Doom",
                                       "Heretic",
                                       "Blood",
                                       "doom ii",
                                       "Quake",
                                       "",
                                       "Xenon 2",
                                       "Elite",
                                       "Descent",
                                       "Hexen",
                                       "Rise",
                                       "Syndicate",
                                       "Ultima",
                                       "Wing",
                                       "Abuse",
                                       "Lemmings",
                                       "Worms",
                                       "X-Com",
                                       "Civ",
                                       "Dune 2",
                                       "Tetris",
                                       "Pong",
                                       "Frontier",
                                       "Magic",
                                       "Doom",
                                       "Outcast",
                                       "Raptor",
                                       "Stunts",
                                       "Theme",
                                       "Turrican",
                                       "Zool",
                                       "Jazz",
                                       "Keen",
                                       "Prince",
                                       ("\x8E"
                                        "lbum")};
  test::DbfBuilder b;
  b.Field("NAME", 'C', 12)
      .Field("QTY", 'N', 8, 2)
      .Field("WHEN", 'D', 8)
      .Field("FLAG", 'L', 1)
      .Field("CODE", 'N', 5);
  int i = 0;
  for (const char* name : kNames) {
    const int month = 1 + i % 12, day = 1 + (i * 7) % 28;
    const std::string date = i % 9 == 4 ? std::string()
                                        : std::to_string(1990 + i % 15) + (month < 10 ? "0" : "") +
                                              std::to_string(month) + (day < 10 ? "0" : "") +
                                              std::to_string(day);
    const std::string qty = std::to_string(i * 37 % 500) + "." + std::to_string(i % 10) + "0";
    b.Record({name, i % 11 == 3 ? "" : qty, date, i % 2 ? "T" : "F",
              std::to_string((i * 7919) % 1000 - 300)},
             i % 6 == 5);
    ++i;
  }
  return b.Build();
}

const std::vector<std::string>& IndexExpressions() {
  static const std::vector<std::string> kExpressions = {
      "NAME",
      "UPPER(NAME)",
      "QTY",
      "WHEN",
      "DTOS(WHEN)+NAME",
      "CODE",
      "TRIM(NAME)",
      "STR(CODE,5)+NAME",
      "IIF(FLAG,'Y','N')+NAME",
      "SUBSTR(NAME,2,3)",
  };
  return kExpressions;
}

const std::vector<std::string>& SearchKeys() {
  static const std::vector<std::string> kKeys = {
      "Doom", "D",        "doom ii",  "",     "ZZZZZZZZZZZZZ", "Quake       ",
      "12.5", "01/02/99", "19950307", "-300", "\x84lbum"};
  return kKeys;
}

std::string ExprRecord(const ExprRecordValues& v) {
  const std::string* values[] = {&v.name, &v.code, &v.qty,  &v.big,     &v.when,
                                 &v.flag, &v.note, &v.rate, &v.longText};
  std::string rec(1, ' ');
  int i = 0;
  for (const ExprField& f : kExprFields) {
    rec += Fit(*values[i], f.len, f.type == 'N' || f.type == 'F' || f.type == 'M');
    ++i;
  }
  return rec;
}

ExprTableFiles ExprTable(const std::string& record) {
  test::DbtBuilder memo(false);
  const int one = memo.Add("memo one");
  const int two = memo.Add(
      "line one\r\nline two\r\n\x81"
      "ber");
  test::DbfBuilder b;
  b.Version(0x83);
  for (const ExprField& f : kExprFields) b.Field(f.name, f.type, f.len, f.dec);
  const std::size_t length = b.ComputedRecordLength();
  std::string first = record.empty() ? ExprRecord({"Quake", "Q", "12.50", "-12", "19991231", "T",
                                                   std::to_string(one), "3.142", "the long text"})
                                     : record.substr(0, length);
  first.resize(length, ' ');
  b.RawRecord(first);
  b.RawRecord(ExprRecord({"  doom ii ", "", "-0.5", "99999999999", "20000229", "n",
                          std::to_string(two), "", std::string(60, 'x')}));
  return {b.Build(), memo.Build()};
}

test::Bytes OtherTable() {
  test::DbfBuilder b;
  b.Field("NAME", 'C', 10).Field("NUM", 'N', 5);
  b.Record({"other", "42"}).Record({"second", "-7"});
  return b.Build();
}

const std::vector<std::string>& SeedExpressions() {
  static const std::vector<std::string> kExpressions = {
      "NAME",
      "name",
      "UPPER(NAME)+DTOS(WHEN)",
      "UPPE(NAME)",
      "'ABC' = 'AB'",
      "'B' $ 'ABC' .AND. 'ABC' == 'AB'",
      "STR(QTY,8,2)+STR(12.5,3,1)+STR(7)",
      "IIF(FLAG, NAME, CODE)",
      "SOUNDEX(NAME)+SOUNDEX('Robert')",
      "SUBSTR(NAME,2,3)+LEFT(NAME,2)+RIGHT(NAME,3)",
      "DATE() - CTOD('01/01/99')",
      "DATE() + 1",
      "2 ^ 3 ^ 2 + 2 ** 0.5",
      "ROUND(2.567, 2) + ROUND(RATE, 1)",
      "OTHER->NAME + NAME",
      "OTHER->NUM * QTY",
      "NOTE",
      "LEFT(NOTE, 5) + TRIM(NOTE)",
      "VAL(CODE) + VAL('12.5e3') + VAL(NAME)",
      "CHR(65) + CHR(300)",
      "ASC(NAME) + ASC('')",
      "AT('o', NAME)",
      "CDOW(WHEN) + CMONTH(WHEN)",
      "DAY(WHEN) + MONTH(WHEN) + YEAR(WHEN) + DOW(WHEN)",
      "DELETED() .OR. RECNO() > 1",
      "REPLICATE('ab', 3) + SPACE(3)",
      "STUFF(NAME, 2, 1, 'xy')",
      "LTRIM(NAME) + RTRIM(NAME) + TRIM(NAME)",
      "MAX(QTY, BIG) + MIN(QTY, -1)",
      "MIN(WHEN, DATE())",
      "MOD(BIG, 7) + MOD(BIG, 0)",
      "INT(RATE) + ABS(-QTY)",
      ".NOT. FLAG .AND. QTY > 1 .OR. NAME $ 'xyz'",
      "NAME == 'Quake'",
      "NAME <> 'x' .AND. NAME # 'y' .AND. QTY <= 3 .AND. QTY >= -3",
      "DTOC(WHEN) + DTOC(CTOD(''))",
      "LOWER(NAME) + UPPER(LONG)",
      "LEN(LONG) + LEN(TRIM(LONG))",
      "NAME - CODE",
      "-QTY + +BIG",
      "10 / 0",
      "(((((QTY)))))",
      "1 < 2 = .T.",
      "WHEN - WHEN",
      "'A' + 1",
      "UP(NAME)",
      "NAME + 'unterminated",
  };
  return kExpressions;
}

}  // namespace vz::fuzz
