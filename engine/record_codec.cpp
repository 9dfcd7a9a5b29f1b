// The record codec: reading a record into the area's raw buffer, unpacking
// it into the native record (and packing it back), the native number forms,
// and the visibility of a record (deleted flag, filter).
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "engine/dates.h"
#include "engine/dbf.h"
#include "engine/dbf_file.h"
#include "engine/dbf_internal.h"
#include "engine/errors.h"
#include "engine/text_search.h"
#include "engine/trim.h"
#include "platform/codepage.h"
#include "platform/files.h"

namespace vz {

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
  const std::uint64_t frac =
      static_cast<std::uint64_t>(p[1]) | (static_cast<std::uint64_t>(p[2]) << 8) |
      (static_cast<std::uint64_t>(p[3]) << 16) | (static_cast<std::uint64_t>(p[4]) << 24) |
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

void SetNativeInt(std::uint8_t* p, std::int32_t v) {
  std::memcpy(p, &v, 4);
}

namespace {

// Copies a field's few bytes eight at a time (an inlined copy of unknown
// length otherwise starts a string instruction, slow to start for so few);
// the last word may overlap the one before.
void CopyShort(std::uint8_t* to, const char* from, std::size_t n) {
  if (n < 8) {
    for (; n > 0; --n) *to++ = static_cast<std::uint8_t>(*from++);
    return;
  }
  for (std::size_t i = 0; i + 8 < n; i += 8) std::memcpy(to + i, from + i, 8);
  std::memcpy(to + n - 8, from + n - 8, 8);
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
      const std::string_view t = TrimmedView(bytes);
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
      const std::string_view t = TrimmedView(bytes);
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

void UnpackFrom(WorkArea& a, const std::uint8_t* raw) {
  std::uint8_t* native = a.NativeBuffer;
  native[0] = raw[0] == '*';
  for (const FieldDesc& f : a.Fields) UnpackField(f, raw, native + f.NativeOffset);
}

}  // namespace

void Unpack(WorkArea& a) {
  if (a.UnpackAtOnce) {
    a.UnpackPending = false;
    UnpackFrom(a, a.RawRec.data());
    return;
  }
  // The copy's size changes only with the record length: a plain copy then.
  if (a.PendingRaw.size() == a.RawRec.size())
    std::memcpy(a.PendingRaw.data(), a.RawRec.data(), a.RawRec.size());
  else
    a.PendingRaw.assign(a.RawRec.begin(), a.RawRec.end());
  a.UnpackPending = true;
}

std::uint8_t* NativeRecord(WorkArea& a) {
  if (a.UnpackPending) {
    a.UnpackPending = false;
    UnpackFrom(a, a.PendingRaw.data());
  }
  return a.NativeBuffer;
}

std::uint8_t* HandOutNative(WorkArea& a) {
  a.UnpackAtOnce = true;
  return NativeRecord(a);
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
  const std::uint8_t* n = NativeRecord(a);
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
      case 'L': field[0] = slot[0] ? 'T' : 'F'; break;
      case 'M': {
        const std::int32_t v = NativeInt(slot);
        if (v == 0)
          std::memset(field, ' ', f.Len);
        else
          RightAlign(field, f.Len, std::to_string(v));
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

bool PassesFilter(WorkArea& a) {
  if (a.FilterProc) return a.FilterProc();
  if (a.FilterExpr && Engine().Evaluator.IsTrue) return Engine().Evaluator.IsTrue(*a.FilterExpr);
  return true;
}

}  // namespace vz
