// The compiler of the key-expression language: the text is read into
// tokens and parsed by operator precedence into the typed postfix code the
// evaluator runs. CompileExpr hands out the result and keeps it in the
// engine-wide chain of live expressions until ReleaseExpr.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <unordered_set>

#include "engine/dates.h"
#include "engine/dbf.h"
#include "engine/dbt_file.h"
#include "engine/errors.h"
#include "engine/trim.h"
#include "index/expr.h"
#include "index/expr_code.h"
#include "index/index_state.h"
#include "platform/codepage.h"

namespace vz {

using namespace expr;

namespace {

// Longest source text: longer texts are cut.
constexpr std::size_t kMaxSource = 255;
// Most grammar symbols pending at once (the parser's stacks).
constexpr int kMaxParserStack = 150;

std::unordered_set<CompiledExpr*>& Chain() {
  return IndexEngine().Expressions;
}

bool IsWordStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '.' || c >= 0x80;
}
bool IsWordChar(unsigned char c) {
  return IsWordStart(c) || (c >= '0' && c <= '9');
}

}  // namespace

std::string NormalizeExpression(std::string_view text) {
  std::string out;
  char quote = 0;
  for (char c : text) {
    if (quote) {
      if (c == quote) {
        out += '"';
        quote = 0;
      } else {
        out += c;
      }
    } else if (c == '"' || c == '\'') {
      quote = c;
      out += '"';
    } else if (c != ' ' && c != '\t') {
      out += static_cast<char>(platform::AnsiUpperByte(static_cast<std::uint8_t>(c)));
    }
  }
  return out;
}

// --- The compiler ----------------------------------------------------------------

class ExprCompiler {
 public:
  ExprCompiler(CompiledExpr& out, const std::string& text) : out_(out), src_(text) {
    if (src_.size() > kMaxSource) src_.resize(kMaxSource);
  }

  // Compiles; false after reporting the error.
  bool Compile() {
    Advance();
    if (failed_) return false;
    const int type = ParseBinary(kLevelOr);
    if (failed_) return false;
    if (tok_ != kEnd) return SyntaxError();
    Emit(kOpEnd);
    out_.resultType_ = type;
    FinishResult(type);
    return !failed_;
  }

 private:
  struct Field {
    int area = 0;
    int number = 0;
    char type = 0;
    int len = 0;
    int dec = 0;
  };

  // --- Lexing ---
  void Advance() {
    text_.clear();
    while (pos_ < src_.size() && (src_[pos_] == ' ' || src_[pos_] == '\t')) ++pos_;
    if (pos_ >= src_.size()) {
      tok_ = kEnd;
      return;
    }
    const auto c = static_cast<unsigned char>(src_[pos_]);
    if (c == '"' || c == '\'') {
      const std::size_t end = src_.find(static_cast<char>(c), pos_ + 1);
      if (end == std::string::npos) {
        pos_ = src_.size();
        SyntaxError();
        return;
      }
      text_ = src_.substr(pos_ + 1, end - pos_ - 1);
      pos_ = end + 1;
      tok_ = kConstC;
      return;
    }
    if (c >= '0' && c <= '9') {
      const std::size_t start = pos_;
      while (pos_ < src_.size() && ((src_[pos_] >= '0' && src_[pos_] <= '9') || src_[pos_] == '.' ||
                                    src_[pos_] == 'E' || src_[pos_] == 'e'))
        ++pos_;
      const std::string_view t(src_.data() + start, pos_ - start);
      const auto r = std::from_chars(t.data(), t.data() + t.size(), number_);
      if (r.ec != std::errc() || r.ptr != t.data() + t.size() || !std::isfinite(number_)) {
        SyntaxError();
        return;
      }
      tok_ = kConstN;
      return;
    }
    if (IsWordStart(c)) {
      std::size_t start = pos_;
      while (pos_ < src_.size() && IsWordChar(static_cast<unsigned char>(src_[pos_]))) ++pos_;
      std::string word = platform::AnsiUpper(src_.substr(start, pos_ - start));
      std::string alias;
      if (pos_ + 2 < src_.size() && src_[pos_] == '-' && src_[pos_ + 1] == '>' &&
          IsWordStart(static_cast<unsigned char>(src_[pos_ + 2]))) {
        alias = word;
        pos_ += 2;
        start = pos_;
        while (pos_ < src_.size() && IsWordChar(static_cast<unsigned char>(src_[pos_]))) ++pos_;
        word = platform::AnsiUpper(src_.substr(start, pos_ - start));
      }
      // A name followed by "(" is a function, not a field.
      std::size_t look = pos_;
      while (look < src_.size() && (src_[look] == ' ' || src_[look] == '\t')) ++look;
      const bool call = look < src_.size() && src_[look] == '(';
      if (!call && LookUpField(alias, word)) return;
      if (!alias.empty()) {
        tok_ = kEot;
        return;
      }
      const Keyword* k = FindKeyword(word);
      tok_ = k ? k->token : kEot;
      reserve_ = k ? k->poolReserve : 0;
      return;
    }
    ++pos_;
    const char next = pos_ < src_.size() ? src_[pos_] : '\0';
    switch (c) {
      case '=':
        if (next == '=')
          ++pos_, tok_ = kExactEqual;
        else
          tok_ = '=';
        return;
      case '*':
        if (next == '*')
          ++pos_, tok_ = '^';
        else
          tok_ = '*';
        return;
      case '<':
        if (next == '>')
          ++pos_, tok_ = kNotEqual;
        else if (next == '=')
          ++pos_, tok_ = kLessEqual;
        else
          tok_ = '<';
        return;
      case '>':
        if (next == '=')
          ++pos_, tok_ = kGreaterEqual;
        else
          tok_ = '>';
        return;
      case '#': tok_ = kNotEqual; return;
      case '$': tok_ = kContains; return;
      case '^':
      case '+':
      case '-':
      case '/':
      case '(':
      case ')':
      case ',': tok_ = c; return;
      default:
        tok_ = kEot;  // a character no rule accepts
        return;
    }
  }

  bool LookUpField(const std::string& alias, const std::string& word) {
    int area = Engine().Areas.Current;
    if (!alias.empty()) {
      area = 0;
      for (int i = 1; i <= kMaxAreas && area == 0; ++i)
        if (Engine().Areas.Slot[i] && Engine().Areas.Slot[i]->Alias == alias) area = i;
      if (area == 0) return false;
    }
    WorkArea* w = Engine().Areas.Slot[area].get();
    if (!w) return false;
    const std::string wanted = platform::AsciiUpper(TrimRight(word.substr(0, 10)));
    for (int i = 0; i < w->FieldCount; ++i) {
      const FieldDesc& f = w->Fields[i];
      if (platform::AsciiUpper(f.Name) != wanted) continue;
      int base;
      switch (f.Type) {
        case 'C': base = 0; break;
        case 'N':
        case 'F': base = 1; break;
        case 'L': base = 2; break;
        case 'D': base = 3; break;
        case 'M': base = 4; break;
        default: return false;
      }
      tok_ = (alias.empty() ? kFieldC : kAliasFieldC) + base;
      field_ = Field{area, i + 1, f.Type, f.Len, f.Dec};
      return true;
    }
    return false;
  }

  // --- Errors ---
  bool Error(const std::string& what) {
    if (failed_) return false;
    failed_ = true;
    const std::size_t at = std::min(pos_, src_.size());
    std::size_t start = 0;
    std::string excerpt = "[";
    if (at > 50) {
      start = at - 51;
      excerpt = "[...";
    }
    excerpt += src_.substr(start, 51);
    excerpt += start + 51 < src_.size() ? "...]" : "]";
    SetError(351, "Error in expression : " + what + "\r\n" + excerpt + "\r\n" + " [AssignExpr]");
    return false;
  }
  bool SyntaxError() { return Error("Syntax error"); }
  int Mismatch(int op, bool unary) {
    Error(std::string("PARSER:Type mismatch in expression \"") + OperatorName(op, unary) + "\"");
    return 0;
  }

  bool Push(int symbols) {
    depth_ += symbols;
    if (depth_ > kMaxParserStack) return Error("Parser_stack_overflow");
    return true;
  }
  void Pop(int symbols) { depth_ -= symbols; }

  void Emit(int op, int argc = 0) {
    ExprInstr i;
    i.op = op;
    i.argc = argc;
    out_.code_.push_back(std::move(i));
  }

  // --- Grammar ---
  int ParseBinary(int minLevel) {
    int left = ParseUnary();
    while (!failed_) {
      const int op = tok_;
      const int level = BinaryLevel(op);
      if (level == 0 || level < minLevel) break;
      Advance();
      if (!Push(2)) return 0;
      const int right = ParseBinary(level + 1);
      Pop(2);
      if (failed_) return 0;
      left = EmitBinary(op, left, right);
    }
    return failed_ ? 0 : left;
  }

  int ParseUnary() {
    if (failed_) return 0;
    const int op = tok_;
    if (op == '-' || op == '+' || op == kNot) {
      Advance();
      if (!Push(1)) return 0;
      const int t = ParseUnary();
      Pop(1);
      if (failed_) return 0;
      if (op == kNot) {
        if (t != kTypeL) return Mismatch(op, true);
        Emit(kOpNot);
        return kTypeL;
      }
      if (t != kTypeN) return Mismatch(op, true);
      Emit(op == '-' ? kOpNeg : kOpPos);
      return kTypeN;
    }
    return ParsePrimary();
  }

  int ParsePrimary() {
    const int t = tok_;
    switch (t) {
      case kConstC: {
        ExprInstr i;
        i.op = kOpConstC;
        i.constType = kTypeC;
        i.text = text_;
        out_.code_.push_back(std::move(i));
        pool_ += text_.size() + 1;  // literals get room in the pool
        Advance();
        return kTypeC;
      }
      case kConstN: {
        ExprInstr i;
        i.op = kOpConstN;
        i.constType = kTypeN;
        i.number = number_;
        out_.code_.push_back(std::move(i));
        Advance();
        return kTypeN;
      }
      case kTrue:
      case kFalse: {
        ExprInstr i;
        i.op = kOpConstL;
        i.constType = kTypeL;
        i.logical = t == kTrue;
        out_.code_.push_back(std::move(i));
        Advance();
        return kTypeL;
      }
      case '(': {
        Advance();
        if (!Push(1)) return 0;
        const int inner = ParseBinary(kLevelOr);
        Pop(1);
        if (failed_) return 0;
        if (tok_ != ')') return SyntaxError();
        Advance();
        return inner;
      }
      default: break;
    }
    if (t >= kFieldC && t <= kAliasFieldC + 4) {
      const Field f = field_;
      ExprInstr i;
      i.area = f.area;
      i.field = f.number;
      int type;
      switch (f.type) {
        case 'C': i.op = kOpFieldC, type = kTypeC, pool_ += f.len + 1u; break;
        case 'L': i.op = kOpFieldL, type = kTypeL; break;
        case 'D': i.op = kOpFieldD, type = kTypeD; break;
        case 'M': i.op = kOpFieldM, type = kTypeM, pool_ += kMemoBuffer; break;
        default: i.op = kOpFieldN, type = kTypeN; break;
      }
      out_.code_.push_back(std::move(i));
      ++fields_;
      lastField_ = f;
      Advance();
      return type;
    }
    if (const FunctionRule* rule = FindFunctionRule(t)) return ParseCall(*rule);
    SyntaxError();
    return 0;
  }

  int ParseCall(const FunctionRule& rule) {
    const int reserve = reserve_;
    const int token = tok_;
    Advance();
    if (tok_ != '(') return SyntaxError();
    Advance();
    if (!Push(2)) return 0;
    std::vector<int> types;
    if (tok_ != ')') {
      for (;;) {
        const int t = ParseBinary(kLevelOr);
        if (failed_) return 0;
        types.push_back(t);
        if (tok_ != ',') break;
        Advance();
        if (!Push(2)) return 0;
      }
    }
    if (tok_ != ')') return SyntaxError();
    const int count = static_cast<int>(types.size());
    if (count < rule.minArgs || count > rule.maxArgs) return SyntaxError();
    Advance();
    depth_ -= 2 + 2 * std::max(0, count - 1);
    int result = 0;
    int signature = -1;
    for (int s = 0; s < rule.signatures && signature < 0; ++s) {
      bool match = true;
      for (int a = 0; a < count; ++a) match = match && types[a] == rule.args[s][a];
      if (match) signature = s;
    }
    if (signature < 0) {
      Error(std::string("PARSER:Type mismatch in function \"") + FunctionName(token) + "\"");
      return 0;
    }
    result = rule.result[signature];
    int op = kOpFunction + token;
    if (result == kTypeD && token == kMax) op = kOpMaxD;
    if (result == kTypeD && token == kMin) op = kOpMinD;
    Emit(op, count);
    if (token == kDeleted || token == kRecno) out_.code_.back().area = Engine().Areas.Current;
    pool_ += static_cast<std::size_t>(reserve);
    return result;
  }

  int EmitBinary(int op, int l, int r) {
    const int C = kTypeC, N = kTypeN, L = kTypeL, D = kTypeD;
    auto both = [&](int a, int b) { return l == a && r == b; };
    switch (op) {
      case '+':
        if (both(N, N)) return Emit(kOpAddNN), N;
        if (both(N, D)) return Emit(kOpAddND), D;
        if (both(D, N)) return Emit(kOpAddDN), D;
        if (both(C, C)) return Emit(kOpAddCC), C;
        break;
      case '-':
        if (both(N, N)) return Emit(kOpSubNN), N;
        if (both(D, N)) return Emit(kOpSubDN), D;
        if (both(D, D)) return Emit(kOpSubDD), N;
        if (both(C, C)) return Emit(kOpSubCC), C;
        break;
      case '*':
        if (both(N, N)) return Emit(kOpMul), N;
        break;
      case '/':
        if (both(N, N)) return Emit(kOpDiv), N;
        break;
      case '^':
        if (both(N, N)) return Emit(kOpPow), N;
        break;
      case '=':
        if (both(N, N) || both(D, D)) return Emit(kOpEqN), L;
        if (both(C, C)) return Emit(kOpEqC), L;
        if (both(L, L)) return Emit(kOpEqL), L;
        break;
      case kExactEqual:
        if (both(C, C)) return Emit(kOpExactEq), L;
        break;
      case kContains:
        if (both(C, C)) return Emit(kOpContains), L;
        break;
      case '>':
      case '<':
      case kLessEqual:
      case kGreaterEqual: {
        const bool text = both(C, C);
        if (!text && !both(N, N) && !both(D, D)) break;
        int o = 0;
        if (op == '>') o = text ? kOpGtC : kOpGtN;
        if (op == '<') o = text ? kOpLtC : kOpLtN;
        if (op == kLessEqual) o = text ? kOpLeC : kOpLeN;
        if (op == kGreaterEqual) o = text ? kOpGeC : kOpGeN;
        return Emit(o), L;
      }
      case kNotEqual:
        if (both(N, N) || both(D, D)) return Emit(kOpNeN), L;
        if (both(C, C)) return Emit(kOpNeC), L;
        if (both(L, L)) return Emit(kOpNeL), L;
        break;
      case kAnd:
        if (both(L, L)) return Emit(kOpAnd), L;
        break;
      case kOr:
        if (both(L, L)) return Emit(kOpOr), L;
        break;
      default: break;
    }
    return Mismatch(op, false);
  }

  void FinishResult(int type) {
    const bool single = fields_ == 1 && out_.code_.size() == 2;
    out_.decimals_ = 0;
    switch (type) {
      case kTypeD: out_.width_ = 8; break;
      case kTypeL: out_.width_ = 1; break;
      case kTypeM: out_.width_ = static_cast<int>(pool_); break;
      case kTypeN:
        if (single) {
          out_.width_ = lastField_.len;
          out_.decimals_ = lastField_.dec;
        } else {
          out_.width_ = out_.decimals_ + 11;
        }
        break;
      default: out_.width_ = single ? lastField_.len : 0; break;
    }
    out_.textWidth_ = type == kTypeC ? (single ? lastField_.len : TextWidth()) : 0;
    out_.pool_.assign(pool_, '\0');
  }

  // The most characters a text result can have, read off the code: fields
  // and literals have theirs, TRIM, UPPER and their kin keep their
  // argument's, a sum adds, LEFT, SUBSTR, SPACE and STR with constant counts
  // have those. 0 when the code holds anything else.
  int TextWidth() const {
    // Far beyond any key; keeps the sums of widths from overflowing.
    constexpr int kWidthLimit = 1 << 20;
    struct Value {
      int width = -1;  // -1: not a text of known width
      double number = 0;
      bool constant = false;
    };
    std::vector<Value> stack;
    auto pop = [&stack]() {
      Value v = stack.back();
      stack.pop_back();
      return v;
    };
    for (const ExprInstr& in : out_.code_) {
      Value v;
      switch (in.op) {
        case kOpEnd: continue;
        case kOpConstC: v.width = static_cast<int>(in.text.size()); break;
        case kOpConstN:
          v.number = in.number;
          v.constant = true;
          break;
        case kOpFieldC: {
          const WorkArea* w =
              in.area >= 1 && in.area <= kMaxAreas ? Engine().Areas.Slot[in.area].get() : nullptr;
          if (!w || in.field < 1 || in.field > w->FieldCount) return 0;
          v.width = w->Fields[static_cast<std::size_t>(in.field - 1)].Len;
          break;
        }
        case kOpFieldN:
        case kOpFieldL:
        case kOpFieldD: break;
        case kOpAddCC:
        case kOpSubCC: {
          if (stack.size() < 2) return 0;
          const Value b = pop(), a = pop();
          if (a.width < 0 || b.width < 0) return 0;
          v.width = std::min(a.width + b.width, kWidthLimit);
          break;
        }
        default: {
          if (in.op <= kOpFunction || stack.size() < static_cast<std::size_t>(in.argc)) return 0;
          std::vector<Value> args(stack.end() - in.argc, stack.end());
          stack.resize(stack.size() - static_cast<std::size_t>(in.argc));
          // A count as the function takes it, held to what a text can be
          // (a constant may be any number, NaN included).
          const auto count = [&](std::size_t i, int otherwise) {
            if (i >= args.size() || !args[i].constant) return otherwise;
            const double n = args[i].number;
            return n >= 1 ? static_cast<int>(std::min(n, double{kWidthLimit})) : 0;
          };
          switch (in.op - kOpFunction) {
            case kTrim:
            case kLtrim:
            case kRtrim:
            case kUpper:
            case kLower:
              if (args.empty()) return 0;
              v.width = args[0].width;
              break;
            case kLeft:
            case kRight:
            case kSubstr:
              if (args.empty() || args[0].width < 0) return 0;
              v.width = std::min(args[0].width, count(args.size() - 1, args[0].width));
              if (in.op - kOpFunction == kSubstr && args.size() < 3) v.width = args[0].width;
              break;
            case kSpace: v.width = count(0, -1); break;
            case kStr: v.width = count(1, 10); break;
            case kDtos: v.width = 8; break;
            default: return 0;
          }
          if (v.width < 0) return 0;
        }
      }
      stack.push_back(v);
    }
    return stack.size() == 1 && stack.back().width > 0 ? stack.back().width : 0;
  }

  CompiledExpr& out_;
  std::string src_;
  std::size_t pos_ = 0;
  int tok_ = kEnd;
  std::string text_;
  double number_ = 0;
  int reserve_ = 0;
  Field field_;
  Field lastField_;
  int fields_ = 0;
  std::size_t pool_ = 0;
  int depth_ = 1;
  bool failed_ = false;
};

CompiledExpr* CompileExpr(const std::string& text) {
  if (Engine().Errors.ErrorCode >= 350 && Engine().Errors.ErrorCode <= 363) ClearError();
  auto e = std::unique_ptr<CompiledExpr>(new CompiledExpr());
  e->source_ = text.substr(0, kMaxSource);
  ExprCompiler compiler(*e, text);
  if (!compiler.Compile()) return nullptr;
  CompiledExpr* p = e.release();
  Chain().insert(p);
  return p;
}

void ReleaseExpr(CompiledExpr*& expr) {
  if (!expr) return;
  Chain().erase(expr);
  delete expr;
  expr = nullptr;
}

CompiledExpr::~CompiledExpr() = default;

std::size_t LiveExpressions() {
  return Chain().size();
}

}  // namespace vz
