// The dBase key-expression language, what a caller may do with it:
// compile an expression text into a typed postfix code list (CompileExpr),
// evaluate it against the current record, and release it. The grammar's
// tables are in expr_grammar, the compiler in expr_compiler, the evaluator
// in expr_eval and the functions in expr_functions.
//
// Values: character and memo texts, numbers (doubles), dates (doubles
// holding the Julian day number; 0 is the empty date) and logicals. Texts
// live in a working pool sized when the expression is compiled and used as
// a stack while it is evaluated.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/engine_context.h"
#include "engine/trim.h"
#include "engine/work_area.h"
#include "index/expr_grammar.h"

namespace vz {

// One instruction of the postfix code.
struct ExprInstr {
  int op = 0;
  int argc = 0;
  int constType = 0;  // for constant pushes
  double number = 0;
  std::int32_t logical = 0;
  std::string text;  // a character constant
  int area = 0;      // for field pushes: work area and field number
  int field = 0;
};

// The result of an evaluation. `text` points into the expression's working
// pool and stays valid until the next evaluation or release.
struct ExprValue {
  int type = 0;  // expr::kTypeC, kTypeN, kTypeL, kTypeD or kTypeM
  std::string_view text;
  double number = 0;  // numbers and dates
  bool logical = false;
};

class CompiledExpr {
 public:
  ~CompiledExpr();
  CompiledExpr(const CompiledExpr&) = delete;
  CompiledExpr& operator=(const CompiledExpr&) = delete;

  const std::string& Source() const { return source_; }
  // "C", "N", "L", "D" or "M".
  char ResultType() const { return expr::TypeLetter(resultType_); }
  int ResultTypeCode() const { return resultType_; }
  int Width() const { return width_; }
  // The most characters a text result can have (a field's length for
  // TRIM(NAME)), 0 when that cannot be told from the code or the result is
  // no text. Width() is 0 for every text but a plain field.
  int TextWidth() const { return textWidth_; }
  int Decimals() const { return decimals_; }
  std::size_t PoolSize() const { return pool_.size(); }
  const std::vector<ExprInstr>& Code() const { return code_; }

  // Runs the code on the current record; errors go through the engine's
  // dispatcher (then the value is empty of its type).
  ExprValue Evaluate();

 private:
  friend CompiledExpr* CompileExpr(const std::string& text);
  friend class ExprCompiler;
  CompiledExpr() = default;

  struct Slot {
    int type;
    double number;
    std::uint32_t offset;  // texts: start in the pool
    std::uint32_t length;
  };
  bool PushText(const char* data, std::size_t length);
  Slot PopSlot();
  void PushValue(int type, double v) { stack_.push_back(Slot{type, v, 0, 0}); }
  std::string_view TextOf(const Slot& s) const {
    return std::string_view(pool_.data() + s.offset, s.length);
  }
  void RunFunction(const ExprInstr& in);
  bool Reserve(std::size_t length, std::uint32_t& offset);
  void Fail(int code, const std::string& detail);

  std::string source_;
  int resultType_ = 0;
  int width_ = 0;
  int textWidth_ = 0;
  int decimals_ = 0;
  std::vector<ExprInstr> code_;
  std::vector<char> pool_;
  std::size_t top_ = 0;
  std::vector<Slot> stack_;
  bool failed_ = false;
};

// Compiles an expression in the context of the current work area (its
// fields, and aliased fields of the others). Returns null after reporting
// the error (code 351 for the language's errors). The expression belongs to
// the engine-wide chain until ReleaseExpr.
CompiledExpr* CompileExpr(const std::string& text);
// Releases a compiled expression and empties the reference.
void ReleaseExpr(CompiledExpr*& expr);
// How many compiled expressions are alive (the chain's length).
std::size_t LiveExpressions();

// The normal form of an expression text: outside quotes blanks and tabs
// removed and letters upper-cased; inside quotes the text unchanged, both
// kinds of quote written as double quotes.
std::string NormalizeExpression(std::string_view text);

// The index engine's key function: evaluates and, for a character result,
// copies the text (converted ANSI to OEM when the table is OEM). Numbers and
// dates come as their double.
struct KeyValue {
  std::string text;
  double number = 0;
};
KeyValue EvaluateKey(CompiledExpr& expr, bool oemTable);

// A compiled expression held by a work area as its filter or while
// condition; released with it.
struct AreaExpressionHandle : AreaExpression {
  explicit AreaExpressionHandle(CompiledExpr* e) : expr(e) {}
  ~AreaExpressionHandle() override { ReleaseExpr(expr); }
  CompiledExpr* expr;
};

// Installs the evaluator in the storage engine, so filter and while
// expressions work in SKIP, GoTop and GoBottom.
void InstallEvaluator();
// Sets the current area's filter / while expression (empty text: none).
bool SetFilterExpr(const std::string& text);
bool SetWhileExpr(const std::string& text);

// DTOS of a date value: eight digits YYYYMMDD, or eight blanks for the empty
// date (also a value that is no number). Dates before 1 January 1 and after
// 31 December 9999, infinite ones included, are taken as those days.
std::string DateToStored(double julian);

// The Soundex code of a text: 4 characters (also the SOUNDEX index option).
std::string Soundex(std::string_view text);

}  // namespace vz
