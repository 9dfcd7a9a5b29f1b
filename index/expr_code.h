// The compiled form of an expression, shared by the compiler that writes it
// and the evaluator that runs it: the operation codes of the postfix code,
// and what both take a text to hold.
#pragma once

#include <cstddef>
#include <string_view>

namespace vz::expr {

// A memo field's value holds at most this many bytes.
inline constexpr std::size_t kMemoBuffer = 65535;

enum Op : int {
  kOpEnd = -1,
  kOpConstC = 1,
  kOpConstN,
  kOpConstL,
  kOpFieldC,
  kOpFieldN,
  kOpFieldL,
  kOpFieldD,
  kOpFieldM,
  kOpAddNN,
  kOpAddND,
  kOpAddDN,
  kOpAddCC,
  kOpSubNN,
  kOpSubDN,
  kOpSubDD,
  kOpSubCC,
  kOpMul,
  kOpDiv,
  kOpPow,
  kOpEqN,
  kOpEqC,
  kOpEqL,
  kOpExactEq,
  kOpContains,
  kOpGtN,
  kOpLtN,
  kOpLeN,
  kOpGeN,
  kOpGtC,
  kOpLtC,
  kOpLeC,
  kOpGeC,
  kOpNeN,
  kOpNeC,
  kOpNeL,
  kOpAnd,
  kOpOr,
  kOpNot,
  kOpNeg,
  kOpPos,
  kOpMaxD,  // MAX and MIN on dates (the numeric forms use the function token)
  kOpMinD,
  kOpFunction = 1000,  // + the function's token
};

// A text without the blanks and control characters at its ends.
inline std::string_view TrimView(std::string_view v) {
  std::size_t b = 0, e = v.size();
  while (b < e && static_cast<unsigned char>(v[b]) < 33) ++b;
  while (e > b && static_cast<unsigned char>(v[e - 1]) < 33) --e;
  return v.substr(b, e - b);
}

}  // namespace vz::expr
