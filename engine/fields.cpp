// Field access on the current area: the field list, the fields of the
// native record, Peek, blanking the record.
#include <cstring>

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

namespace {

const FieldDesc* FieldOf(const char* op, int i) {
  WorkArea* a = NeedTable(op);
  if (!a) return nullptr;
  if (i < 1 || i > a->FieldCount) {
    std::string name(op);
    if (name.size() >= 2 && name.compare(name.size() - 2, 2, "()") == 0)
      name.resize(name.size() - 1);
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
  if (i < 0 || i > a->FieldCount) {
    SetError(220, "Invalid field number. [FieldAddress(" + Str(i) + ")]");
    return nullptr;
  }
  std::uint8_t* native = HandOutNative(*a);
  return i == 0 ? native : native + a->Fields[i - 1].NativeOffset;
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
  a.UnpackPending = false;
  if (!a.NativeBuffer) return;
  std::uint8_t* n = a.NativeBuffer;
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
      case 'M': std::memset(slot, 0, f.NativeSize); break;
      case 'L': slot[0] = 0; break;
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
    const std::size_t block = static_cast<std::size_t>(
        std::clamp<std::uint64_t>(end > offset ? end - offset : 0, len, kBlock));
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

}  // namespace vz
