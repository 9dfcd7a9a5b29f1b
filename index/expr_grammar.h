// The tables of the key-expression language: token codes, the keyword table
// with its abbreviations, the operator precedence levels, and the operand
// and argument types each operator and function accepts.
#pragma once

#include <cstdint>
#include <string_view>

namespace vz::expr {

// Value types and their codes.
enum TypeCode : int {
  kTypeC = 331,
  kTypeN = 332,
  kTypeL = 333,
  kTypeD = 334,
  kTypeM = 335,
};
char TypeLetter(int type);

// Token codes. Single-character operators use their character code; the end
// of input is 0.
enum Token : int {
  kEnd = 0,
  kAbs = 257,
  kAsc = 259,
  kAt = 261,
  kCdow = 264,
  kChr = 266,
  kCmonth = 267,
  kCtod = 269,
  kDate = 270,
  kDay = 271,
  kDeleted = 272,
  kDow = 274,
  kDtoc = 275,
  kDtos = 277,
  kIif = 283,
  kInt = 284,
  kLeft = 288,
  kLen = 289,
  kLower = 292,
  kLtrim = 293,
  kMax = 294,
  kMin = 295,
  kMod = 296,
  kMonth = 297,
  kRecno = 300,
  kReplicate = 301,
  kRight = 302,
  kRound = 303,
  kRtrim = 305,
  kSoundex = 308,
  kSpace = 310,
  kStr = 311,
  kStuff = 312,
  kSubstr = 313,
  kTrim = 316,
  kUpper = 318,
  kVal = 319,
  kYear = 320,
  kFieldC = 321,       // 321..325: fields of type C, N, L, D, M
  kAliasFieldC = 326,  // 326..330: the same with an alias
  kConstC = 331,
  kConstN = 332,
  kEot = 336,  // a word found nowhere: no rule accepts it
  kFalse = 337,
  kTrue = 338,
  kNot = 339,
  kOr = 340,
  kAnd = 341,
  kNotEqual = 342,   // <> and #
  kLessEqual = 343,  // <=
  kGreaterEqual = 344,
  kExactEqual = 345,  // ==
  kContains = 346,    // $
};

struct Keyword {
  const char* name;
  int token;
  int poolReserve;  // bytes of working pool the function's result may need
};

// Looks a word up in the keyword table (abbreviations included); null when
// the word is not a keyword.
const Keyword* FindKeyword(std::string_view word);

// The canonical name of a function token ("UPPER" for UPPE as well).
const char* FunctionName(int token);

// Binding strength of a binary operator token (higher binds tighter); 0
// for tokens that are no binary operator. Levels: ^ 8, * / 7, + - 6,
// < > <= >= 5, $ == 4, = <> # 3, .AND. 2, .OR. 1.
int BinaryLevel(int token);
inline constexpr int kLevelOr = 1;
inline constexpr int kLevelAnd = 2;
inline constexpr int kLevelEqual = 3;
inline constexpr int kLevelContains = 4;
inline constexpr int kLevelCompare = 5;
inline constexpr int kLevelAdd = 6;
inline constexpr int kLevelMul = 7;
inline constexpr int kLevelPower = 8;

// How a function takes its arguments: up to two signatures of up to four
// argument types, and the result type of each.
struct FunctionRule {
  int token;
  int minArgs;
  int maxArgs;
  int args[2][4];
  int result[2];
  int signatures;
};
const FunctionRule* FindFunctionRule(int token);

// The operator text used in type-mismatch messages.
const char* OperatorName(int token, bool unary);

}  // namespace vz::expr
