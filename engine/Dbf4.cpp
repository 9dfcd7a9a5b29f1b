#include "engine/Dbf4.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <new>

#include "engine/TZDbfLow.h"
#include "engine/TimeDate.h"
#include "engine/text_search.h"
#include "engine/tzmsg.h"
#include "platform/codepage.h"
#include "platform/files.h"

namespace vz {
namespace {

WorkArea* NeedTable(const char* op) {
  WorkArea* a = CurrentTable();
  if (!a)
    SetError(215, std::string("No database in use [") + op +
                      "]  WorkArea = " + Str(Engine().Areas.Current));
  return a;
}

bool IsWordChar(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
         c == '_' || c == '\\';
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

bool IndexActive() {
  return Engine().Index.Active && Engine().Index.Active();
}

void Semaphore(bool begin) {
  if (Engine().Index.Semaphore) Engine().Index.Semaphore(begin);
}

// Reads and unpacks record n; false when the read failed.
bool ReadUnpack(WorkArea& a, std::int64_t n) {
  if (!GetDbfRecord(a, n)) return false;
  Unpack(a);
  return true;
}

// ReadUnpack with a failure stored only: a move first closes the index
// semaphore, then dispatches the error (DispatchPending).
bool ReadUnpackStored(WorkArea& a, std::int64_t n) {
  ScopedErrorDispatch quiet(false);
  return ReadUnpack(a, n);
}

bool WhileHolds(WorkArea& a) {
  if (a.WhileExpr)
    return Engine().Evaluator.IsTrue ? Engine().Evaluator.IsTrue(*a.WhileExpr) : true;
  if (a.WhileProc) return a.WhileProc();
  return true;
}

// Parses an integer the way field texts are read: optional sign and digits;
// false for anything else. Values beyond 32 bits are clamped.
bool ParseInt32(std::string_view s, std::int32_t& out) {
  std::size_t i = 0;
  bool neg = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) neg = s[i++] == '-';
  if (i >= s.size()) return false;
  std::int64_t v = 0;
  bool big = false;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    if (!big) {
      v = v * 10 + (s[i] - '0');
      if (v > 0x80000000LL) big = true;
    }
  }
  if (neg) v = -v;
  if (big || v > INT32_MAX) v = neg ? INT32_MIN : INT32_MAX;
  if (v < INT32_MIN) v = INT32_MIN;
  out = static_cast<std::int32_t>(v);
  return true;
}

bool ParseDouble(std::string_view s, double& out) {
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  const char* end = s.data() + s.size();
  auto [p, ec] = std::from_chars(s.data(), end, out);
  if (ec == std::errc::result_out_of_range) return p == end;
  return ec == std::errc() && p == end;
}

}  // namespace

// --- Work areas --------------------------------------------------------------

void Select(int n) {
  ClearError();
  if (n == 0) {
    for (int i = 1; i <= kMaxAreas; ++i) {
      if (!Engine().Areas.Slot[i]) {
        Engine().Areas.Current = i;
        return;
      }
    }
    SetError(220, "No free workarea available [Select(0)]");
    return;
  }
  if (n < 0 || n > kMaxAreas) {
    SetError(220, "Invalid workarea selected = [Select(" + Str(n) + ")]");
    return;
  }
  Engine().Areas.Current = n;
}

int SelectedArea() {
  return Engine().Areas.Current;
}

std::string Alias() {
  const WorkArea* a = CurrentTable();
  return a ? a->Alias : std::string();
}

namespace {

// The steps of USE after the table is in its slot.
void FinishUse(WorkArea& a, const std::string& up, const std::string& alias, bool exclusive,
               std::uint8_t* buffer, std::size_t size, RecordProc encode, RecordProc decode) {
  a.Alias = alias;
  a.Exclusive = exclusive;

  std::size_t nativeSize = 1;
  for (const FieldDesc& f : a.Fields) nativeSize += f.NativeSize;
  try {
    if (buffer) {
      a.Native = buffer;
      a.OwnsNative = false;
    } else {
      a.OwnedNative.assign(nativeSize, 0);
      a.Native = a.OwnedNative.data();
      a.OwnsNative = true;
      size = nativeSize;
    }
  } catch (const std::bad_alloc&) {
    CloseArea();
    SetError(217, "[USE(" + up + ",Nil,0)]");
    return;
  }
  a.NativeSize = size;
  if (size != nativeSize) {
    CloseArea();
    SetError(266, "Database record/buffer size mismatch: " + up + " [USE()]" + "\n\r" +
                      "Record Size=" + Str(static_cast<long long>(nativeSize)) +
                      ", Buffer Size=" + Str(static_cast<long long>(size)));
    return;
  }

  for (int i = 1; i <= kMaxAreas; ++i) {
    if (i != Engine().Areas.Current && Engine().Areas.Slot[i] &&
        Engine().Areas.Slot[i]->Alias == alias) {
      CloseArea();
      SetError(220, "Alias name \"" + alias + "\" already in use." + " [USE]");
      return;
    }
  }

  a.Encode = std::move(encode);
  a.Decode = std::move(decode);

  if (a.RecCount > 0) {
    GoTop();
  } else {
    std::memset(a.Native, 0, a.NativeSize);
    BlankNative(a);
    a.Eof = a.Bof = true;
  }
  try {
    a.Swap.assign(nativeSize, 0);
  } catch (const std::bad_alloc&) {
    CloseArea();
    SetError(217, "[USE(" + up + ",<@Buffer>," + Str(static_cast<long long>(size)) + ")]");
    return;
  }
  if (a.Memo && Engine().MemoUnit.Open) {
    if (!Engine().MemoUnit.Open(a)) {
      const int code = Engine().Errors.ErrorCode ? Engine().Errors.ErrorCode : 2;
      CloseArea();
      SetError(code, "Problem with memo [USE(" + up + ",<@Buffer>," +
                         Str(static_cast<long long>(size)) + ")]");
      return;
    }
  }
}

}  // namespace

void USE(const std::string& command, std::uint8_t* buffer, std::size_t size) {
  USE(command, buffer, size, nullptr, nullptr);
}

void USE(const std::string& commandText, std::uint8_t* buffer, std::size_t size, RecordProc encode,
         RecordProc decode) {
  ClearError();
  CloseArea();
  std::string command = Trim(commandText);
  if (command.empty()) return;
  // The upper-cased copy finds the option words; the caller's spelling of
  // the file name is kept for opening the file.
  std::string up = platform::AnsiUpper(command) + " ";
  command += " ";
  const std::size_t tail = platform::NameStart(up);

  if (up.find("LINKED LIST", tail) != std::string::npos ||
      up.find("VIRTUAL FILE", tail) != std::string::npos) {
    SetError(220, "Tables kept in memory are not supported: " + up + "[USE]");
    return;
  }
  if ((buffer == nullptr) != (size == 0)) {
    SetError(220, "Buffer is NIL or size is zero, attempting to open " + up + " [USE]");
    return;
  }

  bool exclusive = false;
  for (std::size_t pos = up.find(" EXCLUSIVE", tail); pos != std::string::npos;
       pos = up.find(" EXCLUSIVE", pos)) {
    const std::size_t after = pos + 10;
    if (after < up.size() && IsWordChar(up[after])) {
      ++pos;
      continue;
    }
    up.erase(pos, 10);
    command.erase(pos, 10);
    exclusive = true;
  }

  std::string alias;
  if (const std::size_t pos = up.find(" ALIAS ", tail); pos != std::string::npos) {
    alias = up.substr(pos + 7, 64);
    alias = Trim(alias);
    if (const std::size_t blank = alias.find(' '); blank != std::string::npos) alias.resize(blank);
    up.resize(pos);
    command.resize(pos);
  }

  command = Trim(command);
  up = Trim(up);
  const std::string openName = AddDefaultExtension(platform::ExpandFileName(command), "DBF");
  const std::string fileName = platform::AsciiUpper(openName);
  if (alias.empty()) {
    std::string base = platform::NameOf(platform::AsciiUpper(platform::ExpandFileName(command)));
    if (const std::size_t dot = base.rfind('.'); dot != std::string::npos) base.resize(dot);
    alias = platform::AnsiUpper(base.substr(0, 64));
  }

  for (int i = 1; i <= kMaxAreas; ++i) {
    if (i != Engine().Areas.Current && Engine().Areas.Slot[i] &&
        Engine().Areas.Slot[i]->FileName == fileName) {
      SetError(214, "File: " + fileName + " is already in use." + " [" + "USE" + "]");
      return;
    }
  }

  if (Engine().Settings.DefaultFileMode == platform::kModeExclusive) exclusive = true;
  int mode = exclusive ? platform::kModeExclusive : Engine().Settings.DefaultFileMode;
  if (!Engine().Settings.NetworkMode) {
    mode = platform::kModeReadWrite;
    exclusive = true;
  }
  if (Engine().Settings.ForcedFileMode != -1) mode = Engine().Settings.ForcedFileMode;

  std::unique_ptr<WorkArea> area;
  try {
    area = std::make_unique<WorkArea>();
  } catch (const std::bad_alloc&) {
    SetError(217, "[USE(" + up + ",<@Buffer>,<size>)]");
    return;
  }
  area->FileName = fileName;
  area->OpenName = openName;
  area->FileMode = mode;
  area->Oem = !Engine().Settings.AnsiTables;
  if (!OpenDBF(*area)) return;

  WorkArea& a = *area;
  Engine().Areas.Slot[Engine().Areas.Current] = std::move(area);
  // From here a raised error must not leave a half-opened table behind.
  try {
    FinishUse(a, up, alias, exclusive, buffer, size, std::move(encode), std::move(decode));
  } catch (...) {
    if (CurrentTable() == &a) {
      ScopedErrorDispatch quiet(false);
      CloseArea();
    }
    throw;
  }
}

void CloseArea() {
  if (!CurrentTable()) return;
  if (Engine().Index.CloseIndexes) Engine().Index.CloseIndexes();
  // From here the area leaves its slot whatever happens below.
  std::unique_ptr<WorkArea> owned = std::move(Engine().Areas.Slot[Engine().Areas.Current]);
  WorkArea& a = *owned;
  RefreshRecCount(a);
  if (a.FileLocked || !a.RecordLocks.empty()) {
    a.File.Unlock(0, UINT64_MAX / 2);
    a.FileLocked = false;
    a.RecordLocks.clear();
  }
  a.Swap.clear();
  if (a.Memo && Engine().MemoUnit.Close) Engine().MemoUnit.Close(a);
  a.FilterExpr.reset();
  a.WhileExpr.reset();
  a.FilterProc = nullptr;
  a.WhileProc = nullptr;
  a.Cache = ReadCache{};
  a.Blocks.Clear();
  a.Map.Unmap();
  CloseDbf(a);
}

void CloseAll() {
  ClearError();
  for (int i = 1; i <= kMaxAreas; ++i) {
    Engine().Areas.Current = i;
    CloseArea();
  }
  Engine().Areas.Current = 1;
}

// --- Records -------------------------------------------------------------------

bool GetDbfRecord(WorkArea& a, std::int64_t n) {
  if (n < 1 || n > a.RecCount) {
    SetError(212, "Invalid record number = " + Str(n) + " (" + a.FileName + ")  [GetDbfRecord]");
    return false;
  }
  a.Bof = a.Eof = false;
  if (const int rc = ReadRecordBytes(a, n, a.RawRec.data()); rc != 0) {
    SetError(rc, "File:  " + a.FileName + "  [GetDbfRecord]");
    return false;
  }
  a.RecNo = n;
  if (a.RecordLen > 1) {
    if (a.Decode) a.Decode(a.RawRec.data() + 1, a.RecordLen - 1);
    if (a.Oem) platform::OemToAnsi(a.RawRec.data() + 1, a.RecordLen - 1);
  }
  return true;
}

double Real48ToDouble(const std::uint8_t* p) {
  if (p[0] == 0) return 0.0;
  const std::uint64_t frac = static_cast<std::uint64_t>(p[1]) |
                             (static_cast<std::uint64_t>(p[2]) << 8) |
                             (static_cast<std::uint64_t>(p[3]) << 16) |
                             (static_cast<std::uint64_t>(p[4]) << 24) |
                             (static_cast<std::uint64_t>(p[5] & 0x7F) << 32);
  const double m = 1.0 + std::ldexp(static_cast<double>(frac), -39);
  const double v = std::ldexp(m, static_cast<int>(p[0]) - 129);
  return (p[5] & 0x80) ? -v : v;
}

bool DoubleToReal48(double v, std::uint8_t* p) {
  std::memset(p, 0, 6);
  if (v == 0.0) return true;
  const bool negative = std::signbit(v);
  bool fits = true;
  int e = 0;
  std::uint64_t frac = 0;
  if (!std::isfinite(v)) {
    fits = false;
    e = 255 - 128;
    frac = (1ULL << 39) - 1;
  } else {
    const double m = std::frexp(std::fabs(v), &e);  // v = m * 2^e, 0.5 <= m < 1
    frac = static_cast<std::uint64_t>(std::llround(std::ldexp(2.0 * m - 1.0, 39)));
    if (frac >= (1ULL << 39)) {
      frac = 0;
      ++e;
    }
    if (e + 128 < 1) return true;  // too small: zero
    if (e + 128 > 255) {
      fits = false;
      e = 255 - 128;
      frac = (1ULL << 39) - 1;
    }
  }
  p[0] = static_cast<std::uint8_t>(e + 128);
  for (int i = 0; i < 5; ++i) p[1 + i] = static_cast<std::uint8_t>(frac >> (8 * i));
  p[5] = static_cast<std::uint8_t>((p[5] & 0x7F) | (negative ? 0x80 : 0));
  return fits;
}

std::int32_t NativeInt(const std::uint8_t* p) {
  std::int32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

void SetNativeInt(std::uint8_t* p, std::int32_t v) { std::memcpy(p, &v, 4); }

namespace {

std::string_view TrimView(std::string_view v) {
  std::size_t b = 0, e = v.size();
  while (b < e && static_cast<unsigned char>(v[b]) < 33) ++b;
  while (e > b && static_cast<unsigned char>(v[e - 1]) < 33) --e;
  return v.substr(b, e - b);
}

// Copies a field's few bytes eight at a time (an inlined copy of unknown
// length otherwise starts a string instruction, slow to start for so few).
void CopyShort(std::uint8_t* to, const char* from, std::size_t n) {
  for (; n >= 8; n -= 8, to += 8, from += 8) std::memcpy(to, from, 8);
  for (; n > 0; --n) *to++ = static_cast<std::uint8_t>(*from++);
}

// The common memo field: blanks, at most nine digits, blanks. False for
// anything else (signs, long numbers, other bytes), which the general
// reading below decides.
bool ShortBlockNumber(std::string_view bytes, std::int32_t& out) {
  std::size_t i = 0;
  const std::size_t n = bytes.size();
  while (i < n && static_cast<unsigned char>(bytes[i]) < 33) ++i;
  std::int32_t v = 0;
  int digits = 0;
  for (; i < n && bytes[i] >= '0' && bytes[i] <= '9'; ++i) {
    if (++digits > 9) return false;
    v = v * 10 + (bytes[i] - '0');
  }
  for (; i < n; ++i)
    if (static_cast<unsigned char>(bytes[i]) >= 33) return false;
  out = v;
  return true;
}

// Unpacks one field's stored bytes into its native slot.
void UnpackField(const FieldDesc& f, const std::uint8_t* raw, std::uint8_t* slot) {
  const char* text = reinterpret_cast<const char*>(raw + f.Offset);
  const std::string_view bytes(text, f.Len);
  switch (f.Type) {
    case 'C':
      slot[0] = f.Len;
      CopyShort(slot + 1, text, f.Len);
      break;
    case 'D': {
      char stored[8];
      std::memset(stored, ' ', 8);
      std::memcpy(stored, text, f.Len < 8 ? f.Len : 8);
      const std::string shown = StoredToDisplay(stored);
      slot[0] = static_cast<std::uint8_t>(shown.size());
      std::memset(slot + 1, ' ', 10);
      std::memcpy(slot + 1, shown.data(), shown.size() < 10 ? shown.size() : 10);
      break;
    }
    case 'L':
      slot[0] = f.Len > 0 && (text[0] == 'T' || text[0] == 't' || text[0] == 'Y' || text[0] == 'y');
      break;
    case 'M': {
      std::int32_t v = 0;
      if (ShortBlockNumber(bytes, v)) {
        SetNativeInt(slot, v);
        break;
      }
      const std::string_view t = TrimView(bytes);
      if (!ParseInt32(t, v)) v = 0;
      // A number beyond 32 bits cannot name a block: mark it out of range.
      if (!t.empty() && (v == INT32_MAX || v == INT32_MIN)) {
        std::int64_t check = 0;
        bool big = false;
        for (char c : t)
          if (c >= '0' && c <= '9') {
            check = check * 10 + (c - '0');
            if (check > INT32_MAX) {
              big = true;
              break;  // more digits only make it bigger
            }
          }
        if (big) v = kMemoOutOfRange;
      }
      SetNativeInt(slot, v);
      break;
    }
    case 'N':
    case 'F': {
      const std::string_view t = TrimView(bytes);
      if (f.Dec > 0) {
        double d = 0;
        if (!ParseDouble(t, d)) d = 0;
        DoubleToReal48(d, slot);
      } else {
        std::int32_t v = 0;
        if (!ParseInt32(t, v)) {
          double d = 0;
          if (ParseDouble(t, d) && std::isfinite(d)) {
            d = std::trunc(d);
            v = d >= 2147483647.0    ? INT32_MAX
                : d <= -2147483648.0 ? INT32_MIN
                                     : static_cast<std::int32_t>(d);
          }
        }
        SetNativeInt(slot, v);
      }
      break;
    }
  }
}

}  // namespace

void Unpack(WorkArea& a) {
  a.Native[0] = a.RawRec[0] == '*';
  for (const FieldDesc& f : a.Fields) UnpackField(f, a.RawRec.data(), a.Native + f.NativeOffset);
}

namespace {

// Writes `text` right-aligned into a field of `len` bytes; asterisks when
// it does not fit.
void RightAlign(std::uint8_t* field, int len, const std::string& text) {
  if (static_cast<int>(text.size()) > len) {
    std::memset(field, '*', len);
    return;
  }
  std::memset(field, ' ', len);
  std::memcpy(field + (len - text.size()), text.data(), text.size());
}

}  // namespace

void Pack(WorkArea& a) {
  const std::uint8_t* n = a.Native;
  std::uint8_t* raw = a.RawRec.data();
  raw[0] = n[0] ? '*' : ' ';
  std::uint8_t before[256];
  for (const FieldDesc& f : a.Fields) {
    const std::uint8_t* slot = n + f.NativeOffset;
    std::uint8_t* field = raw + f.Offset;
    // A field whose value is what the stored bytes already say keeps those
    // bytes: a date outside the two-digit window, a number in another
    // spelling or a damaged field is not rewritten unless it was changed.
    if (f.NativeSize > 0 && f.NativeSize <= sizeof before) {
      UnpackField(f, raw, before);
      if (std::memcmp(before, slot, f.NativeSize) == 0) continue;
    }
    switch (f.Type) {
      case 'C': {
        const std::size_t len = slot[0] < f.Len ? slot[0] : f.Len;
        std::memset(field, ' ', f.Len);
        std::memcpy(field, slot + 1, len);
        break;
      }
      case 'D': {
        std::string stored;
        const std::size_t len = slot[0] < 10 ? slot[0] : 10;
        if (!DisplayToStored(std::string_view(reinterpret_cast<const char*>(slot + 1), len),
                             stored))
          stored.assign(8, ' ');
        std::memset(field, ' ', f.Len);
        std::memcpy(field, stored.data(), f.Len < 8 ? f.Len : 8);
        break;
      }
      case 'L':
        field[0] = slot[0] ? 'T' : 'F';
        break;
      case 'M': {
        const std::int32_t v = NativeInt(slot);
        if (v == 0) std::memset(field, ' ', f.Len);
        else RightAlign(field, f.Len, std::to_string(v));
        break;
      }
      case 'N':
      case 'F': {
        if (f.Dec > 0) {
          char buf[400];
          std::snprintf(buf, sizeof buf, "%.*f", static_cast<int>(f.Dec), Real48ToDouble(slot));
          RightAlign(field, f.Len, buf);
        } else {
          RightAlign(field, f.Len, std::to_string(NativeInt(slot)));
        }
        break;
      }
    }
  }
}

bool IsVisible(WorkArea& a) {
  if (Engine().Settings.HideDeleted && a.RawRec[0] == '*') return false;
  if (a.FilterProc) return a.FilterProc();
  if (a.FilterExpr && Engine().Evaluator.IsTrue) return Engine().Evaluator.IsTrue(*a.FilterExpr);
  return true;
}

void CallAfterMove(WorkArea& a) {
  if (!a.AfterMove) return;
  VoidProc proc = std::move(a.AfterMove);
  a.AfterMove = nullptr;
  const int area = Engine().Areas.Current;
  const std::int64_t recNo = a.RecNo;
  try {
    proc();
  } catch (...) {
    // A raised error leaves the caller's area current and the procedure
    // installed, as a normal return does.
    Engine().Areas.Current = area;
    if (CurrentTable() == &a) a.AfterMove = std::move(proc);
    throw;
  }
  Engine().Areas.Current = area;
  // The procedure may have closed the area.
  WorkArea* still = CurrentTable();
  if (still != &a) return;
  a.AfterMove = std::move(proc);
  // An error already pending (the move's own, or the procedure's) has been
  // reported by whoever set it; only a cycle is reported here.
  if (Engine().Errors.ErrorCode == 0 && a.RecNo != recNo) SetError(224, a.FileName);
}

void GO(std::int64_t n) {
  ClearError();
  WorkArea* a = NeedTable("GO()");
  if (!a) return;
  if (n > a->RecCount) RefreshRecCount(*a);
  const std::string badNumber =
      "Invalid record number = " + Str(n) + " Database " + Quoted(a->FileName) + " [GO]";
  if (a->RecCount == 0) {
    a->Bof = a->Eof = true;
    BlankNative(*a);
    StoreError(212, badNumber);
  } else {
    a->Bof = a->Eof = false;
    if (n < 1 || n > a->RecCount) {
      a->RecNo = a->RecCount + 1;
      a->Eof = true;
      StoreError(212, badNumber);
    } else {
      const bool indexed = IndexActive();
      if (indexed) Semaphore(true);
      bool read;
      {
        // Stored only: dispatched once below, after the semaphore is closed.
        ScopedErrorDispatch quiet(false);
        read = GetDbfRecord(*a, n);
      }
      if (read) {
        Unpack(*a);
        if (indexed) {
          if (Engine().Index.Synchronise) Engine().Index.Synchronise();
          if (Engine().Index.StoreKeys) Engine().Index.StoreKeys();
        }
      }
      if (indexed) Semaphore(false);
    }
  }
  DispatchPending();
  if (CurrentTable() == a) CallAfterMove(*a);
}

void Dbf4RawGo(std::int64_t n) { Dbf4RawGo(n, false); }

void Dbf4RawGo(std::int64_t n, bool callAfterMove) {
  WorkArea* a = CurrentTable();
  if (!a) {
    SetError(215, "No database in use [Dbf4RawGo]  WorkArea = " + Str(Engine().Areas.Current));
    return;
  }
  if (n > a->RecCount) {
    a->RecNo = a->RecCount + 1;
    a->Eof = true;
    BlankNative(*a);
  } else if (n <= 0) {
    SetError(212, "Invalid record number = " + Str(n) + " [Dbf4RawGo]");
    return;
  } else {
    bool ok;
    {
      ScopedErrorDispatch quiet(false);
      ok = GetDbfRecord(*a, n);
    }
    if (!ok) {
      SetError(Engine().Errors.ErrorCode, TakeErrorDetail() + " [Dbf4RawGo]");
      return;
    }
    Unpack(*a);
  }
  if (callAfterMove) CallAfterMove(*a);
}

void SKIP(std::int64_t n) {
  ClearError();
  WorkArea* a = NeedTable("SKIP()");
  if (!a) return;
  std::int64_t lastVisible = a->RecCount + 1;
  if (n == 0) {
    if (a->RecCount > 0 && !a->Eof && a->RecNo >= 1 && a->RecNo <= a->RecCount) {
      // A re-read asks the file, not the record cache.
      ForgetCachedRecords(*a);
      if (!ReadUnpack(*a, a->RecNo)) return;
    } else {
      BlankNative(*a);
    }
    CallAfterMove(*a);
    return;
  }
  if (a->Eof && n > 0) {
    SetError(212, "Database " + Quoted(a->FileName) + " is past EOF." + " [SKIP]");
    return;
  }
  if (a->RecCount == 0) {
    a->Bof = a->Eof = true;
    SetError(212, "Database " + Quoted(a->FileName) + " is empty." + " [SKIP]");
    return;
  }
  if (a->Bof && n < 0) return;
  // A move forward that a while condition ended stands on the record that
  // failed it, with EOF set; a move back goes on from that record, in index
  // order as in record order, not from past the last key.
  const bool endedByWhile = a->Eof && a->RecNo >= 1 && a->RecNo <= a->RecCount;
  a->Bof = a->Eof = false;
  const bool indexed = IndexActive();
  if (indexed && endedByWhile && n < 0 && Engine().Index.SetEof) Engine().Index.SetEof(false);
  if (indexed) Semaphore(true);

  bool endReached = false;
  bool whileOk = true;
  if (Engine().CustomSkip) {
    const std::int64_t target = Engine().CustomSkip(n, endReached);
    if (!endReached && !ReadUnpackStored(*a, target)) {
      if (indexed) Semaphore(false);
      DispatchPending();
      return;
    }
  } else {
    std::int64_t passed = 0;
    for (;;) {
      std::int64_t next;
      if (n > 0) {
        if (indexed) {
          next = Engine().Index.NextEntry ? Engine().Index.NextEntry() : a->RecNo;
          if (next == a->RecNo) endReached = true;
        } else {
          RefreshRecCountSoon(*a);
          next = a->RecNo + 1;
          // At the end of the known records, ask the file itself: another
          // program may just have appended.
          if (next > a->RecCount) RefreshRecCount(*a);
          if (next > a->RecCount) {
            endReached = true;
            next = a->RecCount;
          }
        }
      } else {
        if (IsVisible(*a)) lastVisible = a->RecNo;
        if (indexed) {
          next = Engine().Index.PriorEntry ? Engine().Index.PriorEntry() : a->RecNo;
          if (next == a->RecNo) endReached = true;
        } else {
          next = a->RecNo - 1;
          if (next < 1) {
            endReached = true;
            next = 1;
          }
        }
      }
      if (next < 1 || next > a->RecCount) {
        // Nothing left to read (the table shrank under the pointer).
        endReached = true;
        break;
      }
      if (!ReadUnpackStored(*a, next)) {
        if (indexed) Semaphore(false);
        DispatchPending();
        return;
      }
      if (IsVisible(*a)) passed += n > 0 ? 1 : -1;
      whileOk = WhileHolds(*a);
      if (passed == n || endReached || !whileOk) break;
    }
  }

  if (endReached) {
    if (n > 0) {
      a->RecNo = a->RecCount + 1;
      SetEOF(true);
      BlankNative(*a);
      if (indexed && Engine().Index.Synchronise) Engine().Index.Synchronise();
    } else {
      // GoTop's own after-move call would come before BOF is set, and twice
      // for one move: the procedure is held back for the call below.
      VoidProc after = std::move(a->AfterMove);
      a->AfterMove = nullptr;
      try {
        GoTop();
      } catch (...) {
        a->AfterMove = std::move(after);
        throw;
      }
      a->AfterMove = std::move(after);
      SetBOF(true);
    }
  } else if (!whileOk) {
    if (n > 0) {
      SetEOF(true);
    } else {
      if (lastVisible == a->RecCount + 1) {
        a->RecNo = a->RecCount + 1;
        BlankNative(*a);
      } else if (!ReadUnpackStored(*a, lastVisible)) {
        if (indexed) Semaphore(false);
        DispatchPending();
        return;
      }
      a->Bof = true;
      if (indexed) {
        if (Engine().Index.Synchronise) Engine().Index.Synchronise();
        if (Engine().Index.SetBof) Engine().Index.SetBof(true);
      }
    }
  }
  if (indexed) {
    Semaphore(false);
    if (Engine().Index.StoreKeys) Engine().Index.StoreKeys();
  }
  DispatchPending();
  CallAfterMove(*a);
}

namespace {

// No visible record: the pointer stands past the end with both flags set.
void NoVisibleRecord(WorkArea& a, bool indexed) {
  BlankNative(a);
  a.RecNo = a.RecCount + 1;
  a.Bof = a.Eof = true;
  if (indexed) {
    if (Engine().Index.Synchronise) Engine().Index.Synchronise();
    if (Engine().Index.SetBof) Engine().Index.SetBof(true);
    if (Engine().Index.SetEof) Engine().Index.SetEof(true);
  }
}

}  // namespace

void GoTop() {
  ClearError();
  WorkArea* a = NeedTable("GoTop");
  if (!a) return;
  if (a->RecCount == 0) return;
  const bool indexed = IndexActive();
  std::int64_t r = 1;
  if (indexed) {
    Semaphore(true);
    r = Engine().Index.FirstEntry ? Engine().Index.FirstEntry() : 1;
  }
  bool ok = true;
  if (r < 1 || r > a->RecCount) {
    NoVisibleRecord(*a, indexed);
  } else if (!ReadUnpackStored(*a, r)) {
    ok = false;
  } else {
    while (!IsVisible(*a) && !a->Eof && Engine().Errors.ErrorCode == 0) {
      std::int64_t next;
      if (indexed) {
        next = Engine().Index.NextEntry ? Engine().Index.NextEntry() : a->RecNo;
        if ((Engine().Index.AtEof && Engine().Index.AtEof()) || next == a->RecNo)
          next = a->RecCount + 1;
      } else {
        next = a->RecNo + 1;
      }
      if (next < 1 || next > a->RecCount) {
        NoVisibleRecord(*a, indexed);
      } else if (!ReadUnpackStored(*a, next)) {
        ok = false;
        break;
      }
    }
  }
  if (indexed) {
    if (ok && Engine().Index.StoreKeys) Engine().Index.StoreKeys();
    Semaphore(false);
  }
  // An index that failed during the move left its own error.
  DispatchPending();
  if (ok) CallAfterMove(*a);
}

void GoBottom() {
  ClearError();
  WorkArea* a = NeedTable("GoBottom");
  if (!a) return;
  RefreshRecCount(*a);
  if (a->RecCount == 0) return;
  const bool indexed = IndexActive();
  std::int64_t r = a->RecCount;
  if (indexed) {
    Semaphore(true);
    r = Engine().Index.LastEntry ? Engine().Index.LastEntry() : a->RecCount;
  }
  bool ok = true;
  if (r < 1 || r > a->RecCount) {
    NoVisibleRecord(*a, indexed);
  } else if (!ReadUnpackStored(*a, r)) {
    ok = false;
  } else {
    while (!IsVisible(*a) && Engine().Errors.ErrorCode == 0) {
      std::int64_t next;
      bool atBof;
      if (indexed) {
        next = Engine().Index.PriorEntry ? Engine().Index.PriorEntry() : a->RecNo;
        atBof = (Engine().Index.AtBof && Engine().Index.AtBof()) || next == a->RecNo;
      } else {
        next = a->RecNo - 1;
        atBof = a->Bof;
      }
      if (next < 1 || atBof) {
        NoVisibleRecord(*a, indexed);
        break;
      }
      if (!ReadUnpackStored(*a, next)) {
        ok = false;
        break;
      }
    }
  }
  if (indexed) {
    if (ok && Engine().Index.StoreKeys) Engine().Index.StoreKeys();
    Semaphore(false);
  }
  // An index that failed during the move left its own error.
  DispatchPending();
  if (ok) CallAfterMove(*a);
}

void SetBOF(bool on) {
  WorkArea* a = CurrentTable();
  if (!a) return;
  a->Bof = on;
  if (IndexActive() && Engine().Index.SetBof) Engine().Index.SetBof(on);
}

void SetEOF(bool on) {
  WorkArea* a = CurrentTable();
  if (!a) return;
  a->Eof = on;
  if (IndexActive() && Engine().Index.SetEof) Engine().Index.SetEof(on);
}

bool dEOF() {
  ClearError();
  WorkArea* a = NeedTable("dEOF");
  if (!a) return false;
  RefreshRecCountSoon(*a);
  if (a->RecNo > a->RecCount) SetEOF(true);
  if (IndexActive() && Engine().Index.AtEof) return Engine().Index.AtEof();
  return a->Eof;
}

bool dBOF() {
  ClearError();
  WorkArea* a = NeedTable("dBOF");
  if (!a) return false;
  if (IndexActive() && Engine().Index.AtBof) return Engine().Index.AtBof();
  return a->Bof;
}

std::int64_t RecCount() {
  ClearError();
  WorkArea* a = NeedTable("RecCount");
  if (!a) return 0;
  RefreshRecCount(*a);
  return a->RecCount;
}

std::int64_t RecNo() {
  ClearError();
  WorkArea* a = NeedTable("RecNo");
  return a ? a->RecNo : 0;
}

std::uint32_t RecSize() {
  ClearError();
  WorkArea* a = NeedTable("RecSize");
  return a ? a->RecordLen : 0;
}

bool Deleted() {
  ClearError();
  WorkArea* a = NeedTable("Deleted");
  return a && a->Native && a->Native[0] != 0;
}

// --- Fields --------------------------------------------------------------------

namespace {

const FieldDesc* FieldOf(const char* op, int i) {
  WorkArea* a = NeedTable(op);
  if (!a) return nullptr;
  if (i < 1 || i > a->FieldCount) {
    std::string name(op);
    if (name.size() >= 2 && name.compare(name.size() - 2, 2, "()") == 0) name.resize(name.size() - 1);
    SetError(220, "Invalid field number. [" + name + Str(i) + ")]");
    return nullptr;
  }
  return &a->Fields[i - 1];
}

}  // namespace

int FieldCount() {
  ClearError();
  WorkArea* a = NeedTable("FieldCount()");
  return a ? a->FieldCount : 0;
}

char FieldType(int i) {
  ClearError();
  const FieldDesc* f = FieldOf("FieldType()", i);
  return f ? f->Type : ' ';
}

int FieldLen(int i) {
  ClearError();
  const FieldDesc* f = FieldOf("FieldLen()", i);
  if (!f) return 0;
  if (f->Type == 'D') return Engine().Dates.Century ? 10 : 8;
  return f->Len;
}

int FieldDec(int i) {
  ClearError();
  const FieldDesc* f = FieldOf("FieldDec()", i);
  return f ? f->Dec : 0;
}

std::string Field(int i) {
  ClearError();
  const FieldDesc* f = FieldOf("Field()", i);
  return f ? f->Name : std::string();
}

std::uint8_t* FieldAddress(int i) {
  ClearError();
  WorkArea* a = NeedTable("FieldAddress()");
  if (!a) return nullptr;
  if (i == 0) return a->Native;
  if (i < 0 || i > a->FieldCount) {
    SetError(220, "Invalid field number. [FieldAddress(" + Str(i) + ")]");
    return nullptr;
  }
  return a->Native + a->Fields[i - 1].NativeOffset;
}

int FieldNo(const std::string& name) {
  ClearError();
  WorkArea* a = NeedTable("FieldNo()");
  if (!a) return 0;
  const std::string wanted = platform::AsciiUpper(TrimRight(name.substr(0, 10)));
  for (int i = 0; i < a->FieldCount; ++i)
    if (platform::AsciiUpper(a->Fields[i].Name) == wanted) return i + 1;
  return 0;
}

void BlankNative(WorkArea& a) {
  if (!a.Native) return;
  std::uint8_t* n = a.Native;
  n[0] = 0;
  const std::string blank = BlankDate();
  for (const FieldDesc& f : a.Fields) {
    std::uint8_t* slot = n + f.NativeOffset;
    switch (f.Type) {
      case 'C':
        slot[0] = f.Len;
        std::memset(slot + 1, ' ', f.Len);
        break;
      case 'D':
        slot[0] = static_cast<std::uint8_t>(blank.size());
        std::memset(slot + 1, ' ', 10);
        std::memcpy(slot + 1, blank.data(), blank.size());
        break;
      case 'N':
      case 'F':
      case 'M':
        std::memset(slot, 0, f.NativeSize);
        break;
      case 'L':
        slot[0] = 0;
        break;
    }
  }
}

void ClearRecord() {
  ClearError();
  WorkArea* a = NeedTable("ClearRecord");
  if (a) BlankNative(*a);
}

bool IsWhileOn() {
  ClearError();
  WorkArea* a = NeedTable("IsWhileOn");
  return a && (a->WhileProc || a->WhileExpr);
}

std::string_view PeekView(WorkArea& a, int i, std::int64_t r) {
  if (r < 1 || r > a.RecCount || i < 0 || i > a.FieldCount) return {};
  const std::uint64_t offset = RecordOffset(a, r) + (i == 0 ? 0 : a.Fields[i - 1].Offset);
  const std::size_t len = i == 0 ? 1 : a.Fields[i - 1].Len;
  if (a.PeekBytes.size() < len) a.PeekBytes.resize(len);
  if (CopyMapped(a, offset, a.PeekBytes.data(), len))
    return std::string_view(reinterpret_cast<const char*>(a.PeekBytes.data()), len);
  ReadCache& c = a.Cache;
  if (offset < c.Start || offset + len > c.Start + c.Len) {
    // A large block for scans, but never more than the records hold from
    // here: a small table does not need a large buffer.
    constexpr std::uint64_t kBlock = 256 * 1024;
    const std::uint64_t end = RecordOffset(a, a.RecCount + 1);
    const std::size_t block =
        static_cast<std::size_t>(std::clamp<std::uint64_t>(end > offset ? end - offset : 0, len, kBlock));
    if (c.Data.size() < block) c.Data.resize(block);
    c.Start = offset;
    c.Len = 0;
    std::size_t got = 0;
    if (const int rc = a.File.ReadAt(offset, c.Data.data(), block, got); rc != 0) {
      SetError(rc, "Error reading " + a.FileName + " [Peek]");
      return {};
    }
    c.Len = got;
    if (got < len) return {};
  }
  return std::string_view(reinterpret_cast<const char*>(c.Data.data() + (offset - c.Start)), len);
}

std::string Peek(int i, std::int64_t r) {
  ClearError();
  WorkArea* a = NeedTable("Peek");
  if (!a) return std::string();
  return std::string(PeekView(*a, i, r));
}

bool WhileConditionHolds() {
  WorkArea* a = CurrentTable();
  return a ? WhileHolds(*a) : true;
}

int LenientInt(const std::string& text) {
  std::string s = TrimLeft(text);
  if (!s.empty() && s[0] == '+') s = TrimLeft(s.substr(1));
  const char thousands = Engine().Dates.DecimalSeparator == '.' ? ',' : '.';
  std::string t;
  for (char c : s)
    if (c != thousands) t += c;
  if (const std::size_t dollar = t.find('$'); dollar != std::string::npos) t.erase(dollar, 1);
  if (const std::size_t blank = t.find(' '); blank != std::string::npos) t.resize(blank);
  std::size_t run = 0;
  while (run < t.size() && ((t[run] >= '0' && t[run] <= '9') || t[run] == '-')) ++run;
  t.resize(run);
  if (t.empty()) return 0;
  std::int32_t v = 0;
  if (!ParseInt32(t, v)) return 0;
  if (v > 32767) return 32767;
  if (v < -32768) return -32768;
  return v;
}

void SetAfterMove(VoidProc proc) {
  if (WorkArea* a = CurrentTable()) a->AfterMove = std::move(proc);
}

void SetFilterProc(BoolProc proc) {
  if (WorkArea* a = CurrentTable()) a->FilterProc = std::move(proc);
}

void SetWhileProc(BoolProc proc) {
  if (WorkArea* a = CurrentTable()) a->WhileProc = std::move(proc);
}

}  // namespace vz

// --- Writing and locks --------------------------------------------------------

namespace vz {
namespace {

bool Shared(const WorkArea& a) { return !a.Exclusive; }

bool HoldsRecordLock(const WorkArea& a, std::int64_t r) {
  return a.FileLocked ||
         std::find(a.RecordLocks.begin(), a.RecordLocks.end(), r) != a.RecordLocks.end();
}

// Writes the raw record (kept readable) as record n. Returns 0 or a code.
int WriteRawRecord(WorkArea& a, std::int64_t n) {
  std::vector<std::uint8_t> out(a.RawRec);
  if (out.size() > 1) {
    if (a.Oem) platform::AnsiToOem(out.data() + 1, out.size() - 1);
    if (a.Encode) a.Encode(out.data() + 1, out.size() - 1);
  }
  const std::uint64_t offset = RecordOffset(a, n);
  const int rc = a.File.WriteAt(offset, out.data(), out.size());
  if (rc == 0) UpdateCaches(a, offset, out.data(), out.size());
  return rc;
}

// The bytes of the file from `offset` on, as far as they go (at most
// `count`), to put back if a change is taken back.
std::vector<std::uint8_t> BytesAt(WorkArea& a, std::uint64_t offset, std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  std::size_t got = 0;
  if (a.File.ReadAt(offset, bytes.data(), count, got) != 0) got = 0;
  bytes.resize(got);
  return bytes;
}

// Puts bytes read before a change back at `offset` and cuts the file to
// `size` when it grew past it; the caches forget what they held. A write
// that fails here leaves the error of the change as the one reported.
void PutBack(WorkArea& a, std::uint64_t offset, const std::vector<std::uint8_t>& bytes,
             std::uint64_t size) {
  std::uint64_t now = 0;
  if (a.File.Size(now) == 0 && now > size) a.File.Truncate(std::max<std::uint64_t>(size, offset));
  if (!bytes.empty()) a.File.WriteAt(offset, bytes.data(), bytes.size());
  if (a.File.Size(now) == 0 && now > size) a.File.Truncate(size);
  ForgetCachedRecords(a);
  a.Cache.Drop();
}

// Keeps the open indexes in step after a record was written (appended or
// rewritten). False when they could not be: the indexes were left as they
// were (the index layer takes its change back), and the caller takes its
// record back before the error is dispatched.
bool UpdateIndexes(bool appended, const std::function<void()>& takeBack) {
  if (!Engine().Index.UpdateKeys) return true;
  try {
    Engine().Index.UpdateKeys(appended);
  } catch (...) {
    takeBack();
    throw;
  }
  if (Engine().Errors.ErrorCode == 0) return true;
  takeBack();
  DispatchPending();
  return false;
}

}  // namespace

void Replace() {
  ClearError();
  WorkArea* a = NeedTable("REPLACE");
  if (!a) return;
  if (a->Swap.empty()) {
    SetError(204, "Swap-buffer NIL.");
    return;
  }
  if (a->RecCount == 0) {
    SetError(212, "Database " + Quoted(a->FileName) + " is empty." + " [REPLACE]");
    return;
  }
  if (a->Eof || a->RecNo < 1 || a->RecNo > a->RecCount) {
    SetError(212, "Database " + Quoted(a->FileName) + " is at EOF." + " [REPLACE]");
    return;
  }
  // The keys of the record as it stands in the file, before it changes.
  if (Engine().Index.StoreKeys) Engine().Index.StoreKeys();
  Pack(*a);
  // A REPLACE is all or nothing: when the record or a key cannot be
  // written, the record goes back to what it was.
  const std::uint64_t offset = RecordOffset(*a, a->RecNo);
  std::uint64_t size = 0;
  a->File.Size(size);
  const std::vector<std::uint8_t> before = BytesAt(*a, offset, a->RecordLen);
  const auto takeBack = [&] { PutBack(*a, offset, before, size); };
  if (const int rc = WriteRawRecord(*a, a->RecNo); rc != 0) {
    takeBack();
    SetError(rc, "Record #" + Str(a->RecNo) + " in " + a->FileName + " [REPLACE]");
    return;
  }
  if (a->State < 2) a->State = 2;
  UpdateIndexes(false, takeBack);
}

void Append() {
  ClearError();
  WorkArea* a = NeedTable("APPEND");
  if (!a) return;
  if (Shared(*a) && !a->FileLocked) {
    SetError(1201, "File must be locked to append: " + a->FileName + " [APPEND]");
    return;
  }
  RefreshRecCount(*a);
  const std::int64_t n = a->RecCount + 1;
  Pack(*a);
  // An APPEND is all or nothing: when the record, its end mark, the header
  // or a key cannot be written (a full disk), the file goes back to what it
  // was, so that no partial record and no record without its keys stays.
  const std::uint64_t offset = RecordOffset(*a, n);
  std::uint64_t size = 0;
  a->File.Size(size);
  const std::vector<std::uint8_t> before = BytesAt(*a, offset, a->RecordLen + 1);
  const std::int64_t recNo = a->RecNo;
  const bool bof = a->Bof, eof = a->Eof;
  const std::uint8_t state = a->State;
  bool counted = false;
  const auto takeBack = [&] {
    PutBack(*a, offset, before, size);
    a->RecCount = n - 1;
    a->RecNo = recNo;
    a->Bof = bof;
    a->Eof = eof;
    a->State = state;
    if (counted) WriteHeaderCounts(*a);
  };
  int rc = WriteRawRecord(*a, n);
  if (rc == 0) {
    const std::uint8_t mark = 0x1A;
    rc = a->File.WriteAt(RecordOffset(*a, n + 1), &mark, 1);
  }
  if (rc == 0) {
    a->RecCount = n;
    // Other programs that trust the header see the new count at once.
    if (Shared(*a)) {
      counted = true;
      rc = WriteHeaderCounts(*a);
    }
  }
  if (rc != 0) {
    takeBack();
    SetError(rc, "Record #" + Str(n) + " in " + a->FileName + " [APPEND]");
    return;
  }
  a->RecNo = n;
  a->Bof = a->Eof = false;
  a->State = 3;
  UpdateIndexes(true, takeBack);
}

void AppendBlank() {
  WorkArea* a = NeedTable("APPEND");
  if (!a) return;
  ClearRecord();
  Append();
}

namespace {

void MarkRecord(bool deleted, const char* op) {
  ClearError();
  WorkArea* a = NeedTable(op);
  if (!a) return;
  if (a->Eof || a->RecNo < 1 || a->RecNo > a->RecCount) {
    SetError(212, "Database " + Quoted(a->FileName) + " is at EOF." + " [" + op + "]");
    return;
  }
  if (Shared(*a) && !HoldsRecordLock(*a, a->RecNo)) {
    SetError(1200, std::string("Record not locked. [") + op + "]");
    return;
  }
  // The keys before the mark changes: a key expression may use DELETED().
  if (Engine().Index.StoreKeys) Engine().Index.StoreKeys();
  const std::uint8_t flag = deleted ? '*' : ' ';
  const std::uint64_t offset = RecordOffset(*a, a->RecNo);
  const std::uint8_t was = a->RawRec[0];
  if (const int rc = a->File.WriteAt(offset, &flag, 1); rc != 0) {
    SetError(rc, "Record #" + Str(a->RecNo) + " in " + a->FileName + " [" + op + "]");
    return;
  }
  UpdateCaches(*a, offset, &flag, 1);
  a->RawRec[0] = flag;
  a->Native[0] = deleted;
  if (a->State < 2) a->State = 2;
  // When the keys cannot follow, the mark goes back to what it was.
  UpdateIndexes(false, [&] {
    if (a->File.WriteAt(offset, &was, 1) == 0) UpdateCaches(*a, offset, &was, 1);
    a->RawRec[0] = was;
    a->Native[0] = was == '*';
  });
}

}  // namespace

void DeleteRec() { MarkRecord(true, "DeleteRec"); }
void RecallRec() { MarkRecord(false, "RecallRec"); }

void PACK() {
  ClearError();
  WorkArea* a = NeedTable("PACK");
  if (!a) return;
  if (!a->Exclusive) {
    SetError(225, a->FileName + " [PACK]");
    return;
  }
  std::vector<std::uint8_t> record(a->RecordLen);
  std::int64_t kept = 0;
  // What the slots from the first removed record on held: a pack that
  // cannot finish (a write refused) puts them back, and the table is as it
  // was before.
  std::int64_t firstGap = 0;
  std::vector<std::uint8_t> originals;
  const auto putBack = [&] {
    for (std::int64_t slot = firstGap; firstGap > 0 && slot <= kept; ++slot) {
      const std::uint8_t* bytes =
          originals.data() + static_cast<std::size_t>(slot - firstGap) * a->RecordLen;
      a->File.WriteAt(RecordOffset(*a, slot), bytes, a->RecordLen);
    }
    ForgetCachedRecords(*a);
    a->Cache.Drop();
  };
  for (std::int64_t r = 1; r <= a->RecCount; ++r) {
    if (const int rc = ReadRecordBytes(*a, r, record.data()); rc != 0) {
      putBack();
      SetError(rc, "Record #" + Str(r) + " in " + a->FileName + " [PACK]");
      return;
    }
    if (firstGap == 0 && record[0] == '*') firstGap = r;
    if (firstGap > 0) originals.insert(originals.end(), record.begin(), record.end());
    if (record[0] == '*') continue;
    if (++kept == r) continue;
    const std::uint64_t offset = RecordOffset(*a, kept);
    if (const int rc = a->File.WriteAt(offset, record.data(), record.size()); rc != 0) {
      putBack();
      SetError(rc, "Record #" + Str(kept) + " in " + a->FileName + " [PACK]");
      return;
    }
    UpdateCaches(*a, offset, record.data(), record.size());
  }
  // The count first: while it cannot be written the records go back.
  const std::int64_t count = a->RecCount;
  a->RecCount = kept;
  if (const int rc = WriteHeaderCounts(*a); rc != 0) {
    putBack();
    a->RecCount = count;
    WriteHeaderCounts(*a);
    SetError(rc, a->FileName + " [PACK]");
    return;
  }
  // The end mark needs no new space (it lies where a record or the old
  // mark was); a table cut without it still holds its whole records.
  const std::uint64_t end = RecordOffset(*a, kept + 1);
  const std::uint8_t eof = 0x1A;
  const bool marked = a->File.WriteAt(end, &eof, 1) == 0;
  const int rc = a->File.Truncate(marked ? end + 1 : end);
  a->Map.Unmap();  // its pages past the new end are gone
  ForgetCachedRecords(*a);
  a->Cache.Drop();
  a->State = 2;
  if (rc != 0) {
    SetError(rc, a->FileName + " [PACK]");
    return;
  }
  // The builds take a character key's length from the current record, as
  // an index built on the packed table would: the first one.
  if (kept > 0) {
    if (!ReadUnpack(*a, 1)) return;
  } else {
    a->RecNo = 0;
    a->Bof = a->Eof = true;
    BlankNative(*a);
  }
  if (Engine().Index.Rebuild) {
    Engine().Index.Rebuild();
    if (Engine().Errors.ErrorCode != 0) return;
  }
  GoTop();
}

bool ALock() {
  ClearError();
  WorkArea* a = NeedTable("ALOCK");
  if (!a) return false;
  if (!Shared(*a) || a->FileLocked) {
    a->FileLocked = true;
    return true;
  }
  if (a->File.Lock(kLockBase, kLockBase) != 0) return false;
  a->FileLocked = true;
  a->RecordLocks.clear();
  return true;
}

bool RLock(std::int64_t r) {
  ClearError();
  WorkArea* a = NeedTable("RLOCK");
  if (!a) return false;
  if (!Shared(*a) || HoldsRecordLock(*a, r)) return true;
  if (a->RecordLocks.size() >= kMaxRecordLocks) {
    SetError(220, "Zavod record lock limit exceeded [RLOCK]");
    return false;
  }
  if (a->File.Lock(kLockBase + static_cast<std::uint64_t>(r), 1) != 0) return false;
  a->RecordLocks.push_back(r);
  return true;
}

bool RLock() {
  WorkArea* a = CurrentTable();
  return RLock(a ? a->RecNo : 0);
}

bool IsLocked(std::int64_t r) {
  ClearError();
  WorkArea* a = NeedTable("IsLocked");
  if (!a) return false;
  return !Shared(*a) || HoldsRecordLock(*a, r);
}

void UnlockRec(std::int64_t r) {
  ClearError();
  WorkArea* a = NeedTable("UnlockRec");
  if (!a) return;
  auto it = std::find(a->RecordLocks.begin(), a->RecordLocks.end(), r);
  if (it == a->RecordLocks.end()) {
    if (Shared(*a)) SetError(1200, "Record not locked. [UnlockRec(" + Str(r) + ")]");
    return;
  }
  a->File.Unlock(kLockBase + static_cast<std::uint64_t>(r), 1);
  a->RecordLocks.erase(it);
}

void Unlock() {
  ClearError();
  WorkArea* a = NeedTable("Unlock");
  if (!a) return;
  if (Shared(*a)) {
    if (a->FileLocked) a->File.Unlock(kLockBase, kLockBase);
    for (std::int64_t r : a->RecordLocks) a->File.Unlock(kLockBase + static_cast<std::uint64_t>(r), 1);
  }
  a->FileLocked = false;
  a->RecordLocks.clear();
}

void Poke(int i, std::int64_t r, const std::string& bytes) {
  ClearError();
  WorkArea* a = NeedTable("Poke");
  if (!a) return;
  if (r < 1 || r > a->RecCount || i < 0 || i > a->FieldCount) {
    SetError(212, "Invalid record number = " + Str(r) + " (" + a->FileName + ")  [Poke]");
    return;
  }
  const std::size_t len = i == 0 ? 1 : a->Fields[i - 1].Len;
  std::string field = bytes.substr(0, len);
  field.resize(len, ' ');
  const std::uint64_t offset = RecordOffset(*a, r) + (i == 0 ? 0 : a->Fields[i - 1].Offset);
  const auto* p = reinterpret_cast<const std::uint8_t*>(field.data());
  if (const int rc = a->File.WriteAt(offset, p, len); rc != 0) {
    SetError(rc, "Record #" + Str(r) + " in " + a->FileName + " [Poke]");
    return;
  }
  UpdateCaches(*a, offset, p, len);
  if (a->State < 2) a->State = 2;
}

// --- Locate -------------------------------------------------------------------

namespace {

// Takes an option word out of the text; true when it was there.
bool TakeOption(std::string& up, const char* word) {
  const std::size_t n = std::strlen(word);
  bool found = false;
  for (std::size_t pos = up.find(word); pos != std::string::npos; pos = up.find(word, pos)) {
    if (pos + n < up.size() && IsWordChar(up[pos + n])) {
      ++pos;
      continue;
    }
    up.erase(pos, n);
    found = true;
  }
  return found;
}

bool LocateScan(WorkArea& a, std::int64_t from) {
  const LocateTerms& t = Engine().LastLocate;
  const FieldDesc& f = a.Fields[t.field - 1];
  // One table takes a stored byte to the compared one: OEM to ANSI on an
  // OEM table, then upper case unless NOCASE.
  std::uint8_t map[256];
  for (int b = 0; b < 256; ++b) {
    std::uint8_t c = static_cast<std::uint8_t>(b);
    if (a.Oem) c = platform::OemToAnsiByte(c);
    if (!t.nocase) c = platform::AnsiUpperByte(c);
    map[b] = c;
  }
  const std::string& v = t.value;
  const std::size_t l = v.size();
  const std::int64_t count = RecCount();
  std::string text;
  // A memo field is searched in the stored text as a whole: a text that
  // holds no line end cannot be found across one, so it is found where the
  // memo's lines would show it. A text with control bytes is looked for
  // line by line.
  bool wholeText = f.Type == 'M' && t.contained && !v.empty() && Engine().MemoUnit.WithText;
  for (char c : v)
    if (static_cast<std::uint8_t>(c) < 0x20) wholeText = false;
  TextFinder finder;
  if (wholeText) {
    std::array<std::uint8_t, 256> table{};
    std::copy(std::begin(map), std::end(map), table.begin());
    finder = TextFinder(table, v);
  }
  for (std::int64_t r = from; r <= count; ++r) {
    bool pass = false;
    if (f.Type == 'M') {
      const std::string_view block = PeekView(a, t.field, r);
      if (Engine().Errors.ErrorCode) return false;
      std::int32_t number = 0;
      if (!ParseInt32(Trim(block), number) || number == 0) continue;
      if (wholeText) {
        bool held = false;
        {
          // A memo that cannot be read is one that does not match.
          ScopedErrorDispatch quiet(false);
          if (!Engine().MemoUnit.WithText(
                  a, number, [&](const std::uint8_t* bytes, std::size_t n) { held = finder.In(bytes, n); }))
            held = false;
          ClearError();
        }
        if (held) {
          GO(r);
          return true;
        }
        continue;
      }
      std::vector<std::string> lines;
      {
        // A memo that cannot be read is one that does not match.
        ScopedErrorDispatch quiet(false);
        if (Engine().MemoUnit.TextLines) Engine().MemoUnit.TextLines(number, lines);
        ClearError();
      }
      for (const std::string& line : lines) {
        text.resize(line.size());
        for (std::size_t k = 0; k < line.size(); ++k)
          text[k] = static_cast<char>(map[static_cast<std::uint8_t>(line[k])]);
        if (text.find(v) != std::string::npos) {
          pass = true;
          break;
        }
      }
    } else {
      const std::string_view raw = PeekView(a, t.field, r);
      if (Engine().Errors.ErrorCode) return false;
      if (!t.exact && !t.contained) {
        if (raw.size() >= l) {
          pass = true;
          for (std::size_t k = 0; k < l; ++k) {
            if (map[static_cast<std::uint8_t>(raw[k])] != static_cast<std::uint8_t>(v[k])) {
              pass = false;
              break;
            }
          }
        }
      } else {
        text.resize(raw.size());
        for (std::size_t k = 0; k < raw.size(); ++k)
          text[k] = static_cast<char>(map[static_cast<std::uint8_t>(raw[k])]);
        pass = t.contained ? text.find(v) != std::string::npos : text == v;
      }
    }
    if (pass) {
      GO(r);
      return true;
    }
  }
  GoBottom();
  if (a.RecCount > 0 && !a.Eof) SKIP(1);
  Engine().LastLocate.field = 0;
  return false;
}

}  // namespace

bool Locate(const std::string& fieldText, const std::string& valueText) {
  ClearError();
  WorkArea* a = NeedTable("Locate");
  if (!a) return false;
  std::string up = platform::AnsiUpper(Trim(fieldText));
  LocateTerms t;
  t.nocase = TakeOption(up, " NOCASE");
  t.exact = TakeOption(up, " EXACT");
  t.contained = TakeOption(up, " CONTAINED");
  up = Trim(up);
  if (up.empty()) {
    SetError(220, "No field name specified [Locate/Count/Sum]");
    return false;
  }
  t.field = FieldNo(up);
  if (t.field == 0) {
    SetError(220, "Unrecognized field name [Locate/Count/Sum(" + up + ")]");
    return false;
  }
  const FieldDesc& f = a->Fields[t.field - 1];
  std::string v = valueText;
  switch (f.Type) {
    case 'D': {
      std::string stored;
      if (SearchDateToStored(v, stored)) v = stored;
      break;
    }
    case 'N':
    case 'F': {
      double d = 0;
      if (ParseDouble(Trim(v), d)) {
        char buf[400];
        std::snprintf(buf, sizeof buf, "%*.*f", static_cast<int>(f.Len), static_cast<int>(f.Dec), d);
        v = buf;
      }
      break;
    }
    case 'L': {
      const std::string b = platform::AsciiUpper(Trim(v));
      v = (!b.empty() && (b[0] == 'T' || b[0] == 'Y' || b == ".T." || b == ".Y.")) ? "T" : "F";
      break;
    }
    default:
      break;
  }
  if (!t.exact)
    while (!v.empty() && v.back() == ' ') v.pop_back();
  if (!t.nocase) v = platform::AnsiUpper(v);
  t.value = v;
  t.area = Engine().Areas.Current;
  Engine().LastLocate = t;
  return LocateScan(*a, 1);
}

bool Continue() {
  ClearError();
  WorkArea* a = NeedTable("Continue");
  if (!a) return false;
  if (Engine().LastLocate.field == 0 || Engine().LastLocate.area != Engine().Areas.Current ||
      Engine().LastLocate.field > a->FieldCount) {
    SetError(220, "Call to CONTINUE not preceeded by call to LOCATE. [Continue]");
    return false;
  }
  return LocateScan(*a, a->RecNo + 1);
}

}  // namespace vz
