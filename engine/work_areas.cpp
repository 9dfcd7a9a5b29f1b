// Work areas: selecting one, USE (opening a table into the current area)
// and closing, and the per-area procedures.
#include <algorithm>
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
#include "platform/scope_guard.h"

namespace vz {

WorkArea* NoTable(const char* op) {
  SetError(215, std::string("No database in use [") + op +
                    "]  WorkArea = " + Str(Engine().Areas.Current));
  return nullptr;
}

bool IsWordChar(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' ||
         c == '\\';
}

std::string Quoted(const std::string& s) {
  return "\"" + s + "\"";
}

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
  for (const FieldDesc& f : a.Fields) {
    nativeSize += f.NativeSize;
    // A date unpacks in the date format of the moment it is unpacked.
    if (f.Type == 'D') a.UnpackAtOnce = true;
  }
  try {
    if (buffer) {
      a.NativeBuffer = buffer;
      a.OwnsNative = false;
      a.UnpackAtOnce = true;
    } else {
      a.OwnedNative.assign(nativeSize, 0);
      a.NativeBuffer = a.OwnedNative.data();
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
    std::memset(a.NativeBuffer, 0, a.NativeSize);
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
  if (!OpenDbf(*area)) return;

  WorkArea& a = *area;
  Engine().Areas.Slot[Engine().Areas.Current] = std::move(area);
  // From here a raised error must not leave a half-opened table behind.
  ScopeGuard closeOnRaise([&] {
    if (CurrentTable() == &a) {
      ScopedErrorDispatch quiet(false);
      CloseArea();
    }
  });
  FinishUse(a, up, alias, exclusive, buffer, size, std::move(encode), std::move(decode));
  closeOnRaise.Dismiss();
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
