#include "index/tzparser.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <unordered_set>

#include "engine/Dbf4.h"
#include "engine/Memo.h"
#include "engine/TimeDate.h"
#include "engine/tzmsg.h"
#include "index/tzndxlow.h"
#include "platform/clock.h"
#include "platform/codepage.h"

namespace vz {

using namespace expr;

namespace {

// Longest source text: longer texts are cut.
constexpr std::size_t kMaxSource = 255;
// Most grammar symbols pending at once (the parser's stacks).
constexpr int kMaxParserStack = 150;
// A memo field's value holds at most this many bytes.
constexpr std::size_t kMemoBuffer = 65535;
// The latest date the language knows (31 December 9999).
constexpr double kLastJulian = 5373484;
constexpr double kFirstJulian = 1721426;

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

std::unordered_set<CompiledExpr*>& Chain() {
  return IndexEngine().Expressions;
}

bool IsWordStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '.' || c >= 0x80;
}
bool IsWordChar(unsigned char c) { return IsWordStart(c) || (c >= '0' && c <= '9'); }

std::string_view TrimView(std::string_view v) {
  std::size_t b = 0, e = v.size();
  while (b < e && static_cast<unsigned char>(v[b]) < 33) ++b;
  while (e > b && static_cast<unsigned char>(v[e - 1]) < 33) --e;
  return v.substr(b, e - b);
}

double ParseNumber(std::string_view t) {
  t = TrimView(t);
  if (!t.empty() && t[0] == '+') t.remove_prefix(1);
  double d = 0;
  const auto r = std::from_chars(t.data(), t.data() + t.size(), d);
  if (r.ec != std::errc() || !std::isfinite(d)) return 0;
  return d;
}

// The empty date, and a date that is no number at all (what an overflowing
// computation such as 0 * 10 ^ 999 leaves), have no parts.
bool NoDate(double julian) { return julian == 0 || std::isnan(julian); }

// Date parts of a Julian day number (clamped to the years 1 to 9999).
void DateParts(double julian, int& y, int& m, int& d) {
  double j = std::floor(julian);
  if (j > kLastJulian) j = kLastJulian;
  if (!(j >= kFirstJulian)) j = kFirstJulian;  // NaN too
  CalendarDate(static_cast<std::int64_t>(j), y, m, d);
}

// A number argument as an int inside [lo, hi]; NaN counts as lo.
int ClampedInt(double v, int lo, int hi) {
  if (!(v >= lo)) return lo;
  if (v > hi) return hi;
  return static_cast<int>(v);
}

std::string Digits(int v, int width) {
  std::string s = std::to_string(v < 0 ? 0 : v);
  while (static_cast<int>(s.size()) < width) s = "0" + s;
  return s.substr(s.size() - width);
}

// DTOC: the date in the engine's date format.
std::string DateText(double julian) {
  const int code = Engine().Dates.DateFormat;
  const bool century = Engine().Dates.Century;
  const int yw = century ? 4 : 2;
  char sep = '/';
  int order = 0;  // 0 MDY, 1 YMD, 2 DMY
  switch (code) {
    case 0: order = 0, sep = '/'; break;
    case 1: order = 1, sep = '.'; break;
    case 2:
    case 8: order = 2, sep = '/'; break;
    case 3: order = 2, sep = '-'; break;
    default: order = 2, sep = '.'; break;
  }
  std::string yy, mm, dd;
  if (NoDate(julian)) {
    yy.assign(yw, ' '), mm = "  ", dd = "  ";
  } else {
    int y, m, d;
    DateParts(julian, y, m, d);
    yy = Digits(y, yw), mm = Digits(m, 2), dd = Digits(d, 2);
  }
  switch (order) {
    case 0: return mm + sep + dd + sep + yy;
    case 1: return yy + sep + mm + sep + dd;
    default: return dd + sep + mm + sep + yy;
  }
}

std::string StrOf(double v, int width, int decimals) {
  if (width < 0) width = 0;
  if (width > 255) width = 255;
  if (decimals < 0) decimals = 0;
  if (decimals > 15) decimals = 15;
  char buf[400];
  if (!std::isfinite(v)) v = 0;
  // Halves round away from zero, on the value corrected to 12 significant
  // digits (2.5 gives 3, 0.125 with two decimals 0.13), as people expect.
  const double scale = std::pow(10.0, decimals);
  if (std::fabs(v) * scale < 1e15) {
    std::snprintf(buf, sizeof buf, "%.12g", v * scale);
    const double rounded = std::round(std::strtod(buf, nullptr));
    v = rounded == 0 ? 0.0 : rounded / scale;
  }
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  std::string s = buf;
  if (static_cast<int>(s.size()) > width) return std::string(width, '*');
  return std::string(width - s.size(), ' ') + s;
}

// ROUND(x, n) cuts x to n decimals towards zero (no rounding of halves):
// ROUND(2.567, 2) is 2.56. A negative n cuts whole digits before the point
// instead, working on tens, hundreds, ...: ROUND(123.456, -1) is 120,
// ROUND(1234.5, -2) is 1200, ROUND(50, -2) is 0 and ROUND(150, -2) is 100.
// A fractional n counts as its whole part. The correction below works on
// 12 significant digits, so a number with more digits than that loses the
// ones past the twelfth.
double TruncatedRound(double x, double n) {
  // The value corrected to 12 significant digits, so that the binary error
  // of a decimal fraction does not cost a digit, then cut to n decimals.
  auto correct = [](double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.12g", v);
    return std::strtod(buf, nullptr);
  };
  const int places = std::isnan(n) ? 0 : ClampedInt(n, -300, 300);
  if (places < 0) {
    // x / 10^-n corrected, cut to a whole number, then scaled back.
    const double unit = std::pow(10.0, -places);
    return correct(std::trunc(correct(x / unit)) * unit);
  }
  const double ip = std::trunc(x);
  const double scaled = correct((x - ip) * std::pow(10.0, places));
  const double r = ip + std::trunc(scaled) * std::pow(0.1, places);
  return correct(r);
}

}  // namespace

std::string DateToStored(double julian) {
  if (NoDate(julian)) return std::string(8, ' ');
  int y, m, d;
  DateParts(julian, y, m, d);
  return Digits(y, 4) + Digits(m, 2) + Digits(d, 2);
}

namespace {

// The block number in a memo field's text, read as the storage engine reads
// it: an optional sign and digits between blanks, anything else 0; a number
// that does not fit 32 bits names no block.
std::int64_t MemoBlock(std::string_view raw) {
  const std::string_view t = TrimView(raw);
  std::size_t i = 0;
  bool negative = false;
  if (!t.empty() && (t[0] == '-' || t[0] == '+')) {
    negative = t[0] == '-';
    i = 1;
  }
  if (i >= t.size()) return 0;
  std::int64_t v = 0;
  for (; i < t.size(); ++i) {
    if (t[i] < '0' || t[i] > '9') return 0;
    v = v * 10 + (t[i] - '0');
    if (v > INT32_MAX) return kMemoOutOfRange;
  }
  return negative ? -v : v;
}

}  // namespace

std::string Soundex(std::string_view text) {
  static const char kCodes[] = "01230120022455012623010202";
  std::string out;
  char previous = 0;
  for (char raw : text) {
    const auto c = platform::AnsiUpperByte(static_cast<std::uint8_t>(raw));
    const bool letter = c >= 'A' && c <= 'Z';
    const char digit = letter ? kCodes[c - 'A'] : 0;
    if (out.empty()) {
      out += static_cast<char>(c);
      previous = digit;
      continue;
    }
    if (!letter) continue;
    if (digit == '0') {
      previous = '0';
      continue;
    }
    if (digit == previous) continue;
    out += digit;
    previous = digit;
    if (out.size() == 4) break;
  }
  while (out.size() < 4) out += '0';
  return out;
}

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
        if (next == '=') ++pos_, tok_ = kExactEqual;
        else tok_ = '=';
        return;
      case '*':
        if (next == '*') ++pos_, tok_ = '^';
        else tok_ = '*';
        return;
      case '<':
        if (next == '>') ++pos_, tok_ = kNotEqual;
        else if (next == '=') ++pos_, tok_ = kLessEqual;
        else tok_ = '<';
        return;
      case '>':
        if (next == '=') ++pos_, tok_ = kGreaterEqual;
        else tok_ = '>';
        return;
      case '#':
        tok_ = kNotEqual;
        return;
      case '$':
        tok_ = kContains;
        return;
      case '^':
      case '+':
      case '-':
      case '/':
      case '(':
      case ')':
      case ',':
        tok_ = c;
        return;
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
      default:
        break;
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
      default:
        break;
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

CompiledExpr* AssignExpr(const std::string& text) {
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

std::size_t LiveExpressions() { return Chain().size(); }

// --- The evaluator ----------------------------------------------------------------

void CompiledExpr::Fail(int code, const std::string& detail) {
  failed_ = true;
  SetError(code, detail);
}

bool CompiledExpr::Reserve(std::size_t length, std::uint32_t& offset) {
  if (length + 1 > pool_.size() - top_) {
    Fail(354, "Working pool overflow [PARSER/Allocate]");
    return false;
  }
  offset = static_cast<std::uint32_t>(top_);
  top_ += length + 1;
  return true;
}

bool CompiledExpr::PushText(const char* data, std::size_t length) {
  std::uint32_t at;
  if (!Reserve(length, at)) return false;
  if (length) std::memmove(pool_.data() + at, data, length);
  pool_[at + length] = '\0';
  stack_.push_back(Slot{kTypeC, 0, at, static_cast<std::uint32_t>(length)});
  return true;
}

ExprValue CompiledExpr::Evaluate() {
  // A failure of an earlier evaluation must not show after this one.
  if (Engine().Errors.ErrorCode >= 350 && Engine().Errors.ErrorCode <= 363) ClearError();
  stack_.clear();
  top_ = 0;
  failed_ = false;
  auto pop = [this]() {
    Slot s = stack_.back();
    stack_.pop_back();
    if (s.type == kTypeC || s.type == kTypeM) top_ = s.offset;
    return s;
  };
  auto push = [this](int type, double v) { stack_.push_back(Slot{type, v, 0, 0}); };
  auto textOf = [this](const Slot& s) { return std::string_view(pool_.data() + s.offset, s.length); };
  // Pushes a text built outside the pool (a copy, so it may have been made
  // from texts just popped).
  auto pushString = [this](std::string result) { return PushText(result.data(), result.size()); };

  for (const ExprInstr& in : code_) {
    if (failed_) break;
    switch (in.op) {
      case kOpEnd:
        break;
      case kOpConstC:
        PushText(in.text.data(), in.text.size());
        break;
      case kOpConstN:
        push(kTypeN, in.number);
        break;
      case kOpConstL:
        push(kTypeL, in.logical);
        break;
      case kOpFieldC:
      case kOpFieldN:
      case kOpFieldL:
      case kOpFieldD:
      case kOpFieldM: {
        WorkArea* w =
            in.area >= 1 && in.area <= kMaxAreas ? Engine().Areas.Slot[in.area].get() : nullptr;
        const FieldDesc* f = w && in.field >= 1 && in.field <= w->FieldCount &&
                                     w->RawRec.size() >= w->RecordLen
                                 ? &w->Fields[in.field - 1]
                                 : nullptr;
        // Past the end the record is blank.
        const bool blank = !f || w->Eof || w->RecNo < 1 || w->RecNo > w->RecCount;
        std::string_view raw;
        if (f) raw = std::string_view(reinterpret_cast<const char*>(w->RawRec.data()) + f->Offset, f->Len);
        switch (in.op) {
          case kOpFieldC:
            if (blank) {
              const std::string spaces(f ? f->Len : 0, ' ');
              PushText(spaces.data(), spaces.size());
            } else {
              PushText(raw.data(), raw.size());
            }
            break;
          case kOpFieldN:
            push(kTypeN, blank ? 0 : ParseNumber(raw));
            break;
          case kOpFieldL:
            push(kTypeL, !blank && !raw.empty() &&
                             (raw[0] == 'T' || raw[0] == 't' || raw[0] == 'Y' || raw[0] == 'y'));
            break;
          case kOpFieldD:
            push(kTypeD, blank ? 0 : static_cast<double>(JulianOfStored(raw)));
            break;
          default: {
            std::string memo;
            if (!blank) {
              // A memo that cannot be read is an empty text; the error state
              // the caller had stays as it was.
              const std::int64_t block = MemoBlock(raw);
              const int saved = Engine().Areas.Current;
              const std::uint16_t savedCode = Engine().Errors.ErrorCode,
                                  savedMessage = Engine().Errors.MessageCode;
              std::string savedDetail = Engine().Errors.ErrorDetail;
              Engine().Areas.Current = in.area;
              {
                ScopedErrorDispatch quiet(false);
                memo = ReadMemoText(block, w->Oem);
              }
              Engine().Areas.Current = saved;
              Engine().Errors.ErrorCode = savedCode;
              Engine().Errors.MessageCode = savedMessage;
              Engine().Errors.ErrorDetail = std::move(savedDetail);
            }
            if (memo.size() > kMemoBuffer - 1) memo.resize(kMemoBuffer - 1);
            if (PushText(memo.data(), memo.size())) stack_.back().type = kTypeM;
            break;
          }
        }
        break;
      }
      case kOpAddNN:
      case kOpAddND:
      case kOpAddDN: {
        const Slot r = pop(), l = pop();
        push(in.op == kOpAddNN ? kTypeN : kTypeD, l.number + r.number);
        break;
      }
      case kOpSubNN:
      case kOpSubDN:
      case kOpSubDD: {
        const Slot r = pop(), l = pop();
        push(in.op == kOpSubDN ? kTypeD : kTypeN, l.number - r.number);
        break;
      }
      case kOpAddCC: {
        const Slot r = pop(), l = pop();
        // The two texts lie one after the other: join them in place.
        std::memmove(pool_.data() + l.offset + l.length, pool_.data() + r.offset, r.length);
        const std::size_t len = l.length + r.length;
        top_ = l.offset;
        std::uint32_t at;
        if (!Reserve(len, at)) break;
        pool_[at + len] = '\0';
        stack_.push_back(Slot{kTypeC, 0, at, static_cast<std::uint32_t>(len)});
        break;
      }
      case kOpSubCC: {
        const Slot r = pop(), l = pop();
        std::string left(textOf(l));
        const std::string right(textOf(r));
        std::size_t keep = left.size();
        while (keep > 0 && left[keep - 1] == ' ') --keep;
        const std::size_t blanks = left.size() - keep;
        left.resize(keep);
        pushString(left + right + std::string(blanks, ' '));
        break;
      }
      case kOpMul: {
        const Slot r = pop(), l = pop();
        push(kTypeN, l.number * r.number);
        break;
      }
      case kOpDiv: {
        const Slot r = pop(), l = pop();
        if (r.number == 0) {
          Fail(358, "Error during evaluation: Divide by 0 [Evaluate/Engine]");
          break;
        }
        push(kTypeN, l.number / r.number);
        break;
      }
      case kOpPow: {
        const Slot r = pop(), l = pop();
        double v = std::pow(l.number, r.number);
        if (std::isnan(v)) v = 0;  // a negative base with a fractional power
        push(kTypeN, v);
        break;
      }
      case kOpEqN:
      case kOpNeN:
      case kOpGtN:
      case kOpLtN:
      case kOpLeN:
      case kOpGeN: {
        const Slot r = pop(), l = pop();
        bool v = false;
        switch (in.op) {
          case kOpEqN: v = l.number == r.number; break;
          case kOpNeN: v = l.number != r.number; break;
          case kOpGtN: v = l.number > r.number; break;
          case kOpLtN: v = l.number < r.number; break;
          case kOpLeN: v = l.number <= r.number; break;
          default: v = l.number >= r.number; break;
        }
        push(kTypeL, v);
        break;
      }
      case kOpEqL:
      case kOpNeL: {
        const Slot r = pop(), l = pop();
        const bool same = (l.number != 0) == (r.number != 0);
        push(kTypeL, in.op == kOpEqL ? same : !same);
        break;
      }
      case kOpEqC:
      case kOpExactEq:
      case kOpContains:
      case kOpGtC:
      case kOpLtC:
      case kOpLeC:
      case kOpGeC:
      case kOpNeC: {
        const Slot r = pop(), l = pop();
        const std::string_view a = textOf(l), b = textOf(r);
        bool v = false;
        switch (in.op) {
          case kOpEqC: v = !b.empty() && a.substr(0, b.size()) == b; break;
          case kOpExactEq: v = a == b; break;
          case kOpContains: v = b.find(a) != std::string_view::npos; break;
          case kOpGtC: v = a > b; break;
          case kOpLtC: v = a < b; break;
          case kOpLeC: v = a <= b; break;
          case kOpGeC: v = a >= b; break;
          default: v = a != b; break;
        }
        push(kTypeL, v);
        break;
      }
      case kOpAnd:
      case kOpOr: {
        const Slot r = pop(), l = pop();
        const bool a = l.number != 0, b = r.number != 0;
        push(kTypeL, in.op == kOpAnd ? (a && b) : (a || b));
        break;
      }
      case kOpNot: {
        const Slot x = pop();
        push(kTypeL, x.number == 0);
        break;
      }
      case kOpNeg: {
        const Slot x = pop();
        push(kTypeN, -x.number);
        break;
      }
      case kOpPos:
        break;
      case kOpMaxD:
      case kOpMinD: {
        const Slot r = pop(), l = pop();
        push(kTypeD, in.op == kOpMaxD ? std::max(l.number, r.number) : std::min(l.number, r.number));
        break;
      }
      default:
        RunFunction(in);
        break;
    }
  }
  ExprValue v;
  v.type = resultType_;
  if (failed_ || stack_.size() != 1) {
    v.text = std::string_view();
    return v;
  }
  const Slot& s = stack_.back();
  if (s.type == kTypeC || s.type == kTypeM) v.text = textOf(s);
  v.number = s.number;
  v.logical = s.type == kTypeL && s.number != 0;
  return v;
}


CompiledExpr::Slot CompiledExpr::PopSlot() {
  Slot s = stack_.back();
  stack_.pop_back();
  if (s.type == kTypeC || s.type == kTypeM) top_ = s.offset;
  return s;
}

namespace {

// A count from a number argument: truncated, and kept inside what a text can
// hold (negative counts count as 0).
std::size_t Count(double v) {
  if (!(v > 0)) return 0;
  if (v > 1e9) return static_cast<std::size_t>(1e9);
  return static_cast<std::size_t>(v);
}

}  // namespace

void CompiledExpr::RunFunction(const ExprInstr& in) {
  const int token = in.op - kOpFunction;
  switch (token) {
    case kAbs: {
      const Slot x = PopSlot();
      PushValue(kTypeN, std::fabs(x.number));
      break;
    }
    case kInt: {
      const Slot x = PopSlot();
      PushValue(kTypeN, std::trunc(x.number));
      break;
    }
    case kAsc: {
      const Slot x = PopSlot();
      const std::string_view t = TextOf(x);
      PushValue(kTypeN, t.empty() ? 0 : static_cast<unsigned char>(t[0]));
      break;
    }
    case kLen: {
      const Slot x = PopSlot();
      PushValue(kTypeN, x.length);
      break;
    }
    case kVal: {
      const Slot x = PopSlot();
      std::string_view t = TrimView(TextOf(x));
      if (!t.empty() && t[0] == '+') t.remove_prefix(1);
      double d = 0;
      // The longest leading number; a text that is not a number gives 0.
      const auto r = std::from_chars(t.data(), t.data() + t.size(), d);
      PushValue(kTypeN, r.ec == std::errc() && std::isfinite(d) ? d : 0);
      break;
    }
    case kAt: {
      const Slot b = PopSlot(), a = PopSlot();
      const std::string_view needle = TextOf(a), hay = TextOf(b);
      const std::size_t p = needle.empty() ? std::string_view::npos : hay.find(needle);
      PushValue(kTypeN, p == std::string_view::npos ? 0 : static_cast<double>(p + 1));
      break;
    }
    case kChr: {
      const Slot x = PopSlot();
      const double v = std::trunc(x.number);
      if (v >= 0 && v <= 255) {
        const char c = static_cast<char>(static_cast<int>(v));
        // A NUL ends a text: CHR(0) is the empty text.
        PushText(&c, c == '\0' ? 0 : 1);
      } else {
        PushText("", 0);
      }
      break;
    }
    case kUpper:
    case kLower: {
      const Slot x = PopSlot();
      std::uint32_t at;
      if (!Reserve(x.length, at)) break;
      for (std::uint32_t i = 0; i < x.length; ++i) {
        const auto c = static_cast<std::uint8_t>(pool_[at + i]);
        pool_[at + i] = static_cast<char>(token == kUpper ? platform::AnsiUpperByte(c)
                                                         : platform::AnsiLowerByte(c));
      }
      stack_.push_back(Slot{kTypeC, 0, at, x.length});
      break;
    }
    case kLtrim:
    case kRtrim:
    case kTrim: {
      const Slot x = PopSlot();
      std::string_view t = TextOf(x);
      if (token == kLtrim) {
        while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
      } else {
        while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
      }
      PushText(t.data(), t.size());
      break;
    }
    case kLeft:
    case kRight: {
      const Slot n = PopSlot(), x = PopSlot();
      const std::string_view t = TextOf(x);
      const std::size_t k = std::min(Count(n.number), t.size());
      const std::string_view part = token == kLeft ? t.substr(0, k) : t.substr(t.size() - k);
      PushText(part.data(), part.size());
      break;
    }
    case kSubstr: {
      const Slot n = PopSlot(), s = PopSlot(), x = PopSlot();
      const std::string_view t = TextOf(x);
      // A start before the first character counts from the first; one past
      // the end gives the empty text.
      const std::size_t start = !(s.number >= 1) ? 0 : std::min(Count(s.number) - 1, t.size());
      const std::string_view part = t.substr(start, Count(n.number));
      PushText(part.data(), part.size());
      break;
    }
    case kStuff: {
      const Slot ins = PopSlot(), n = PopSlot(), s = PopSlot(), x = PopSlot();
      std::string t(TextOf(x));
      const std::string add(TextOf(ins));
      const std::size_t start = !(s.number >= 1) ? 0 : std::min(Count(s.number) - 1, t.size());
      const std::size_t cut = std::min(Count(n.number), t.size() - start);
      t.replace(start, cut, add);
      PushText(t.data(), t.size());
      break;
    }
    case kReplicate: {
      const Slot n = PopSlot(), x = PopSlot();
      const std::string unit(TextOf(x));
      const std::size_t times = Count(n.number);
      if (!unit.empty() && times > (pool_.size() - top_) / unit.size()) {
        Fail(354, "Working pool overflow [PARSER/Allocate]");
        break;
      }
      std::string t;
      if (!unit.empty()) {  // nothing to repeat: no time spent on a huge count
        t.reserve(unit.size() * times);
        for (std::size_t i = 0; i < times; ++i) t += unit;
      }
      PushText(t.data(), t.size());
      break;
    }
    case kSpace: {
      const Slot n = PopSlot();
      const std::size_t k = Count(n.number);
      if (k + 1 > pool_.size() - top_) {
        Fail(354, "Working pool overflow [PARSER/Allocate]");
        break;
      }
      const std::string t(k, ' ');
      PushText(t.data(), t.size());
      break;
    }
    case kStr: {
      double decimals = 0, width = 10;
      if (in.argc >= 3) decimals = PopSlot().number;
      if (in.argc >= 2) width = PopSlot().number;
      const Slot x = PopSlot();
      const std::string t =
          StrOf(x.number, ClampedInt(width, -1, 1000), ClampedInt(decimals, -1, 1000));
      PushText(t.data(), t.size());
      break;
    }
    case kRound: {
      const Slot n = PopSlot(), x = PopSlot();
      PushValue(kTypeN, TruncatedRound(x.number, n.number));
      break;
    }
    case kMod: {
      const Slot b = PopSlot(), a = PopSlot();
      const double ia = std::trunc(a.number), ib = std::trunc(b.number);
      // MOD by 0 gives the dividend.
      PushValue(kTypeN, ib == 0 ? ia : std::fmod(ia, ib));
      break;
    }
    case kMax:
    case kMin: {
      const Slot b = PopSlot(), a = PopSlot();
      PushValue(kTypeN, token == kMax ? std::max(a.number, b.number) : std::min(a.number, b.number));
      break;
    }
    case kSoundex: {
      const Slot x = PopSlot();
      const std::string code = Soundex(TextOf(x));
      PushText(code.data(), code.size());
      break;
    }
    case kIif: {
      const Slot c2 = PopSlot(), c1 = PopSlot(), l = PopSlot();
      const std::string t(l.number != 0 ? TextOf(c1) : TextOf(c2));
      PushText(t.data(), t.size());
      break;
    }
    case kDate: {
      const platform::LocalDate d = platform::Today();
      PushValue(kTypeD, static_cast<double>(JulianDay(d.year, d.month, d.day)));
      break;
    }
    case kCtod: {
      const Slot x = PopSlot();
      const std::string t(TextOf(x).substr(0, 10));
      std::string stored;
      double j = 0;
      if (DisplayToStored(t, stored)) j = static_cast<double>(JulianOfStored(stored));
      PushValue(kTypeD, j);
      break;
    }
    case kDtoc: {
      const Slot x = PopSlot();
      const std::string t = DateText(x.number);
      PushText(t.data(), t.size());
      break;
    }
    case kDtos: {
      const Slot x = PopSlot();
      const std::string t = DateToStored(x.number);
      PushText(t.data(), t.size());
      break;
    }
    case kDay:
    case kMonth:
    case kYear:
    case kDow: {
      const Slot x = PopSlot();
      double v = 0;
      if (!NoDate(x.number)) {
        int y, m, d;
        DateParts(x.number, y, m, d);
        if (token == kDay) v = d;
        if (token == kMonth) v = m;
        if (token == kYear) v = y;
        // Sunday is 1, as the engine's day names start with Sunday.
        if (token == kDow) v = DayOfWeek(JulianDay(y, m, d)) + 1;
      }
      PushValue(kTypeN, v);
      break;
    }
    case kCdow:
    case kCmonth: {
      const Slot x = PopSlot();
      std::string t;
      if (NoDate(x.number)) {
        t.assign(token == kCdow ? DayNameWidth() : MonthNameWidth(), ' ');
      } else {
        int y, m, d;
        DateParts(x.number, y, m, d);
        t = token == kCdow ? DayNameAnsi(DayOfWeek(JulianDay(y, m, d))) : MonthNameAnsi(m);
      }
      PushText(t.data(), t.size());
      break;
    }
    case kDeleted: {
      WorkArea* w =
          in.area >= 1 && in.area <= kMaxAreas ? Engine().Areas.Slot[in.area].get() : nullptr;
      const bool del = w && !w->RawRec.empty() && !w->Eof && w->RecNo >= 1 &&
                       w->RecNo <= w->RecCount && w->RawRec[0] == '*';
      PushValue(kTypeL, del);
      break;
    }
    case kRecno: {
      WorkArea* w =
          in.area >= 1 && in.area <= kMaxAreas ? Engine().Areas.Slot[in.area].get() : nullptr;
      PushValue(kTypeN, w ? static_cast<double>(w->RecNo) : 0);
      break;
    }
    default:
      Fail(356,
           "Unknown data type (none of \"C\",\"N\",\"F\",\"L\",\"D\"or\"M\") [PARSER/PushSD]");
      break;
  }
}

KeyValue EvaluateKey(CompiledExpr& expr, bool oemTable) {
  KeyValue k;
  const ExprValue v = expr.Evaluate();
  if (v.type == kTypeC || v.type == kTypeM) {
    k.text.assign(v.text);
    if (oemTable) platform::AnsiToOem(reinterpret_cast<std::uint8_t*>(k.text.data()), k.text.size());
  } else if (v.type == kTypeL) {
    k.number = v.logical ? 1 : 0;
  } else {
    k.number = v.number;
  }
  return k;
}

namespace {

bool IsTrueHook(AreaExpression& e) {
  auto& h = static_cast<AreaExpressionHandle&>(e);
  if (!h.expr) return true;
  const ExprValue v = h.expr->Evaluate();
  return v.type == kTypeL && v.logical;
}

bool SetAreaExpr(const std::string& text, bool filter) {
  ClearError();
  WorkArea* a = CurrentTable();
  if (!a) {
    SetError(215, std::string("No database in use [") + (filter ? "SetFilter" : "SetWhile") +
                      "]  WorkArea = " + Str(Engine().Areas.Current));
    return false;
  }
  std::unique_ptr<AreaExpression>& slot = filter ? a->FilterExpr : a->WhileExpr;
  if (Trim(text).empty()) {
    slot.reset();
    return true;
  }
  CompiledExpr* e = AssignExpr(text);
  if (!e) return false;
  if (e->ResultTypeCode() != kTypeL) {
    ReleaseExpr(e);
    SetError(351, "Error in expression : the condition must be logical\r\n[" + text.substr(0, 51) +
                      "]\r\n [AssignExpr]");
    return false;
  }
  slot = std::make_unique<AreaExpressionHandle>(e);
  return true;
}

}  // namespace

void ParserInit() {
  Engine().Evaluator.IsTrue = IsTrueHook;
}
bool SetFilterExpr(const std::string& text) { return SetAreaExpr(text, true); }
bool SetWhileExpr(const std::string& text) { return SetAreaExpr(text, false); }

}  // namespace vz
