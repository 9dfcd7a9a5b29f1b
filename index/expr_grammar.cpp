#include "index/expr_grammar.h"

namespace vz::expr {
namespace {

const Keyword kKeywords[] = {
    {"ABS", kAbs, 0},
    {"ASC", kAsc, 0},
    {"AT", kAt, 0},
    {"CDOW", kCdow, 15},
    {"CHR", kChr, 2},
    {"CMON", kCmonth, 15},
    {"CMONT", kCmonth, 15},
    {"CMONTH", kCmonth, 15},
    {"CTOD", kCtod, 0},
    {"DATE", kDate, 0},
    {"DAY", kDay, 0},
    {"DELE", kDeleted, 0},
    {"DELET", kDeleted, 0},
    {"DELETE", kDeleted, 0},
    {"DELETED", kDeleted, 0},
    {"DOW", kDow, 0},
    {"DTOC", kDtoc, 11},
    {"DTOS", kDtos, 9},
    {"IIF", kIif, 256},
    {"INT", kInt, 0},
    {"LEFT", kLeft, 0},
    {"LEN", kLen, 0},
    {"LOWE", kLower, 0},
    {"LOWER", kLower, 0},
    {"LTRI", kLtrim, 0},
    {"LTRIM", kLtrim, 0},
    {"MAX", kMax, 0},
    {"MIN", kMin, 0},
    {"MOD", kMod, 0},
    {"MONT", kMonth, 0},
    {"MONTH", kMonth, 0},
    {"RECN", kRecno, 0},
    {"RECNO", kRecno, 0},
    {"REPL", kReplicate, 256},
    {"REPLI", kReplicate, 256},
    {"REPLIC", kReplicate, 256},
    {"REPLICA", kReplicate, 256},
    {"REPLICAT", kReplicate, 256},
    {"REPLICATE", kReplicate, 256},
    {"RIGH", kRight, 0},
    {"RIGHT", kRight, 0},
    {"ROUN", kRound, 0},
    {"ROUND", kRound, 0},
    {"RTRI", kRtrim, 0},
    {"RTRIM", kRtrim, 0},
    {"SOUN", kSoundex, 15},
    {"SOUND", kSoundex, 15},
    {"SOUNDE", kSoundex, 15},
    {"SOUNDEX", kSoundex, 15},
    {"SPAC", kSpace, 256},
    {"SPACE", kSpace, 256},
    {"STR", kStr, 256},
    {"STUF", kStuff, 0},
    {"STUFF", kStuff, 0},
    {"SUBS", kSubstr, 0},
    {"SUBST", kSubstr, 0},
    {"SUBSTR", kSubstr, 0},
    {"TRIM", kTrim, 0},
    {"UPPE", kUpper, 0},
    {"UPPER", kUpper, 0},
    {"VAL", kVal, 0},
    {"YEAR", kYear, 0},
    {".F.", kFalse, 0},
    {".T.", kTrue, 0},
    {".NOT.", kNot, 0},
    {".OR.", kOr, 0},
    {".AND.", kAnd, 0},
};

constexpr int C = kTypeC, N = kTypeN, L = kTypeL, D = kTypeD;

const FunctionRule kFunctions[] = {
    {kAbs, 1, 1, {{N}}, {N}, 1},
    {kAsc, 1, 1, {{C}}, {N}, 1},
    {kAt, 2, 2, {{C, C}}, {N}, 1},
    {kCdow, 1, 1, {{D}}, {C}, 1},
    {kChr, 1, 1, {{N}}, {C}, 1},
    {kCmonth, 1, 1, {{D}}, {C}, 1},
    {kCtod, 1, 1, {{C}}, {D}, 1},
    {kDate, 0, 0, {{}}, {D}, 1},
    {kDay, 1, 1, {{D}}, {N}, 1},
    {kDeleted, 0, 0, {{}}, {L}, 1},
    {kDow, 1, 1, {{D}}, {N}, 1},
    {kDtoc, 1, 1, {{D}}, {C}, 1},
    {kDtos, 1, 1, {{D}}, {C}, 1},
    {kIif, 3, 3, {{L, C, C}}, {C}, 1},
    {kInt, 1, 1, {{N}}, {N}, 1},
    {kLeft, 2, 2, {{C, N}}, {C}, 1},
    {kLen, 1, 1, {{C}}, {N}, 1},
    {kLower, 1, 1, {{C}}, {C}, 1},
    {kLtrim, 1, 1, {{C}}, {C}, 1},
    {kMax, 2, 2, {{N, N}, {D, D}}, {N, D}, 2},
    {kMin, 2, 2, {{N, N}, {D, D}}, {N, D}, 2},
    {kMod, 2, 2, {{N, N}}, {N}, 1},
    {kMonth, 1, 1, {{D}}, {N}, 1},
    {kRecno, 0, 0, {{}}, {N}, 1},
    {kReplicate, 2, 2, {{C, N}}, {C}, 1},
    {kRight, 2, 2, {{C, N}}, {C}, 1},
    {kRound, 2, 2, {{N, N}}, {N}, 1},
    {kRtrim, 1, 1, {{C}}, {C}, 1},
    {kSoundex, 1, 1, {{C}}, {C}, 1},
    {kSpace, 1, 1, {{N}}, {C}, 1},
    {kStr, 1, 3, {{N, N, N}}, {C}, 1},
    {kStuff, 4, 4, {{C, N, N, C}}, {C}, 1},
    {kSubstr, 3, 3, {{C, N, N}}, {C}, 1},
    {kTrim, 1, 1, {{C}}, {C}, 1},
    {kUpper, 1, 1, {{C}}, {C}, 1},
    {kVal, 1, 1, {{C}}, {N}, 1},
    {kYear, 1, 1, {{D}}, {N}, 1},
};

}  // namespace

char TypeLetter(int type) {
  switch (type) {
    case kTypeC: return 'C';
    case kTypeN: return 'N';
    case kTypeL: return 'L';
    case kTypeD: return 'D';
    case kTypeM: return 'M';
    default: return '?';
  }
}

const Keyword* FindKeyword(std::string_view word) {
  for (const Keyword& k : kKeywords)
    if (word == k.name) return &k;
  return nullptr;
}

const char* FunctionName(int token) {
  const char* best = "";
  for (const Keyword& k : kKeywords)
    if (k.token == token) best = k.name;  // the last spelling is the full name
  return best;
}

int BinaryLevel(int token) {
  switch (token) {
    case '^': return kLevelPower;
    case '*':
    case '/': return kLevelMul;
    case '+':
    case '-': return kLevelAdd;
    case '<':
    case '>':
    case kLessEqual:
    case kGreaterEqual: return kLevelCompare;
    case kContains:
    case kExactEqual: return kLevelContains;
    case '=':
    case kNotEqual: return kLevelEqual;
    case kAnd: return kLevelAnd;
    case kOr: return kLevelOr;
    default: return 0;
  }
}

const FunctionRule* FindFunctionRule(int token) {
  for (const FunctionRule& f : kFunctions)
    if (f.token == token) return &f;
  return nullptr;
}

const char* OperatorName(int token, bool unary) {
  if (unary) {
    switch (token) {
      case '+': return "Unary +";
      case '-': return "Unary -";
      default: return ".NOT.";
    }
  }
  switch (token) {
    case '+': return "+";
    case '-': return "-";
    case '*': return "*";
    case '/': return "/";
    case '=': return "=";
    case kContains: return "$";
    case kExactEqual: return "==";
    case '>': return ">";
    case '<': return "<";
    case kNotEqual: return "<>";
    case kLessEqual: return "<=";
    case kGreaterEqual: return ">=";
    case kOr: return ".OR.";
    case kAnd: return ".AND.";
    case '^': return "** or ^";
    default: return "?";
  }
}

}  // namespace vz::expr
