// The evaluator of compiled expressions: runs the postfix code on the
// current record with the working pool as its stack of texts, and the
// hooks through which the storage engine tests filter and while
// conditions.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "engine/dates.h"
#include "engine/dbf.h"
#include "engine/dbt_file.h"
#include "engine/errors.h"
#include "engine/trim.h"
#include "index/expr.h"
#include "index/expr_code.h"
#include "platform/clock.h"
#include "platform/codepage.h"

namespace vz {

using namespace expr;

namespace {

double ParseNumber(std::string_view t) {
  t = TrimView(t);
  if (!t.empty() && t[0] == '+') t.remove_prefix(1);
  double d = 0;
  const auto r = std::from_chars(t.data(), t.data() + t.size(), d);
  if (r.ec != std::errc() || !std::isfinite(d)) return 0;
  return d;
}

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
  auto textOf = [this](const Slot& s) {
    return std::string_view(pool_.data() + s.offset, s.length);
  };
  // Pushes a text built outside the pool (a copy, so it may have been made
  // from texts just popped).
  auto pushString = [this](std::string result) { return PushText(result.data(), result.size()); };

  for (const ExprInstr& in : code_) {
    if (failed_) break;
    switch (in.op) {
      case kOpEnd: break;
      case kOpConstC: PushText(in.text.data(), in.text.size()); break;
      case kOpConstN: push(kTypeN, in.number); break;
      case kOpConstL: push(kTypeL, in.logical); break;
      case kOpFieldC:
      case kOpFieldN:
      case kOpFieldL:
      case kOpFieldD:
      case kOpFieldM: {
        WorkArea* w =
            in.area >= 1 && in.area <= kMaxAreas ? Engine().Areas.Slot[in.area].get() : nullptr;
        const FieldDesc* f =
            w && in.field >= 1 && in.field <= w->FieldCount && w->RawRec.size() >= w->RecordLen
                ? &w->Fields[in.field - 1]
                : nullptr;
        // Past the end the record is blank.
        const bool blank = !f || w->Eof || w->RecNo < 1 || w->RecNo > w->RecCount;
        std::string_view raw;
        if (f)
          raw =
              std::string_view(reinterpret_cast<const char*>(w->RawRec.data()) + f->Offset, f->Len);
        switch (in.op) {
          case kOpFieldC:
            if (blank) {
              const std::string spaces(f ? f->Len : 0, ' ');
              PushText(spaces.data(), spaces.size());
            } else {
              PushText(raw.data(), raw.size());
            }
            break;
          case kOpFieldN: push(kTypeN, blank ? 0 : ParseNumber(raw)); break;
          case kOpFieldL:
            push(kTypeL, !blank && !raw.empty() &&
                             (raw[0] == 'T' || raw[0] == 't' || raw[0] == 'Y' || raw[0] == 'y'));
            break;
          case kOpFieldD: push(kTypeD, blank ? 0 : static_cast<double>(JulianOfStored(raw))); break;
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
      case kOpPos: break;
      case kOpMaxD:
      case kOpMinD: {
        const Slot r = pop(), l = pop();
        push(kTypeD,
             in.op == kOpMaxD ? std::max(l.number, r.number) : std::min(l.number, r.number));
        break;
      }
      default: RunFunction(in); break;
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

KeyValue EvaluateKey(CompiledExpr& expr, bool oemTable) {
  KeyValue k;
  const ExprValue v = expr.Evaluate();
  if (v.type == kTypeC || v.type == kTypeM) {
    k.text.assign(v.text);
    if (oemTable)
      platform::AnsiToOem(reinterpret_cast<std::uint8_t*>(k.text.data()), k.text.size());
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
  CompiledExpr* e = CompileExpr(text);
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

void InstallEvaluator() {
  Engine().Evaluator.IsTrue = IsTrueHook;
}
bool SetFilterExpr(const std::string& text) {
  return SetAreaExpr(text, true);
}
bool SetWhileExpr(const std::string& text) {
  return SetAreaExpr(text, false);
}

}  // namespace vz
