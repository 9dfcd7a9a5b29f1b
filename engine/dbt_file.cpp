#include "engine/dbt_file.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>

#include "engine/dbf_file.h"
#include "engine/errors.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/little_endian.h"

namespace vz {
namespace {

using platform::LoadLe16;
using platform::LoadLe32;
using platform::StoreLe16;
using platform::StoreLe32;

// The memo file's lock lies beyond any real file size, so that it never
// stands in the way of a reader.
constexpr std::uint64_t kMemoLockOffset = 0x7FFFFFFEULL;
constexpr std::int64_t kPiece = 32767;

bool IsBlockHeader(const std::uint8_t* p) {
  return p[0] == 0xFF && p[1] == 0xFF && p[2] == 0x08 && p[3] == 0x00;
}

// The memo file name of a table: its extension replaced by DBT, in the
// letter case of the table's name.
std::string MemoNameOf(const std::string& table) {
  const std::size_t start = platform::NameStart(table);
  const std::size_t dot = table.rfind('.');
  std::string base = (dot == std::string::npos || dot < start) ? table : table.substr(0, dot);
  bool capitals = false;
  for (std::size_t i = start; i < base.size(); ++i)
    if (base[i] >= 'A' && base[i] <= 'Z') capitals = true;
  return base + (capitals ? ".DBT" : ".dbt");
}

DbtFile* MemoOf(WorkArea& a) {
  return static_cast<DbtFile*>(a.MemoData.get());
}

// The memo check that starts each descriptor operation.
DbtFile* CheckMemo(const char* op) {
  WorkArea* a = CurrentTable();
  if (!a) {
    SetError(215, std::string(" [") + op + "]");
    return nullptr;
  }
  DbtFile* m = MemoOf(*a);
  if (!m) {
    SetError(1019, a->FileName + " No Memo Field [" + op + "]");
    return nullptr;
  }
  return m;
}

// Whether a descriptor works on this opening of the memo file (a memo
// stream may outlive the table it was made for).
bool Owns(const DbtFile& m, const BlobDescriptor& d) {
  return d.File == m.Serial;
}

// Ends a descriptor's work: a writer gives back the memo file lock and its
// place as the file's writer. A descriptor of another opening of the file
// is only reset.
void Release(DbtFile& m, BlobDescriptor& d) {
  if (Owns(m, d)) {
    if (d.InUse && d.Mode == 2 && m.Writers > 0) --m.Writers;
    if (d.HoldsLock && m.Locked) {
      m.File.Unlock(kMemoLockOffset, 1);
      m.Locked = false;
    }
  }
  d.Reset();
}

// A failing descriptor operation: reset, release the lock, report.
void DescriptorError(DbtFile& m, BlobDescriptor& d, int code, const char* op) {
  const WorkArea* a = CurrentTable();
  const std::string msg =
      Str(d.BlockNumber) + " " + m.Name + " Record # " + Str(a ? a->RecNo : 0) + " [" + op + "]";
  Release(m, d);
  SetError(code, msg);
}

std::int64_t FileSize(DbtFile& m) {
  std::uint64_t size = 0;
  if (m.File.Size(size) != 0) return 0;
  return static_cast<std::int64_t>(size);
}

bool OpenMemoHook(WorkArea& a) {
  return OpenMemoFile(a);
}

// --- Texts straight out of the mapping -------------------------------------------
//
// A memo file is mapped whole. Its size is looked at again at most
// kSharedWindowNs after the last look, and at once whenever a text seems to
// reach past the mapping: so texts other programs append show, and a file
// that shrank is never read past its end. Reads from the mapping happen
// inside a MappingGuard; when the guard reports a page the file no longer
// holds (another program cut the file), the text is read again the file's
// way.

// Looks at the file's size (`now`, or when the last look is too old) and
// maps the file again when its size changed. False when no mapping serves.
bool FreshMapping(DbtFile& m, bool now) {
  const std::int64_t t = CoarseNowNs();
  if (!now && m.Map.IsMapped() && t - m.MapCheckedAtNs < kSharedWindowNs) return true;
  std::uint64_t size = 0;
  if (m.File.Size(size) != 0) {
    m.Map.Unmap();
    return false;
  }
  m.MapCheckedAtNs = t;
  if (m.Map.IsMapped() && size == m.Map.Length()) return true;
  m.Map.Unmap();
  if (size == m.MapRefusedSize) return false;
  if (m.Map.Map(m.File, size) != 0) {
    m.MapRefusedSize = size;
    return false;
  }
  m.MapRefusedSize = UINT64_MAX;
  return m.Map.IsMapped();
}

// Texts read one after another (a walk in file order) lie one after
// another in the file, but the processor's own prefetching stops at the
// end of each page: the next two pages after a text are asked of the
// memory ahead of time.
void PrefetchPagesAfter(const std::uint8_t* end, const std::uint8_t* limit) {
  constexpr std::uintptr_t kPage = 4096;
  std::uintptr_t next = (reinterpret_cast<std::uintptr_t>(end) | (kPage - 1)) + 1;
  for (int k = 0; k < 2 && next < reinterpret_cast<std::uintptr_t>(limit); ++k, next += kPage)
    __builtin_prefetch(reinterpret_cast<const void*>(next));
}

// Where the text of block b (1 or more) lies in the mapping, as a
// descriptor would find it: after a block header by its length, else up to
// the first terminator (or the end of the file). 0: found; 1003: no text
// at that address; -1: the mapping cannot tell (read the file's way). The
// caller holds a MappingGuard while it uses the bytes.
int MappedText(DbtFile& m, std::int64_t b, const std::uint8_t*& text, std::size_t& len) {
  if (!FreshMapping(m, false)) return -1;
  const std::uint64_t offset = static_cast<std::uint64_t>(b) * m.BlockSize;
  for (int pass = 0; pass < 2; ++pass) {
    const std::uint64_t size = m.Map.Length();
    const std::uint8_t* base = m.Map.Data();
    if (offset + 1 >= size) {
      if (pass == 1) return 1003;
    } else if (offset + 8 <= size && IsBlockHeader(base + offset)) {
      const std::int64_t stated = static_cast<std::int64_t>(LoadLe32(base + offset + 4)) - 8;
      const std::int64_t left = static_cast<std::int64_t>(size - (offset + 8));
      if (stated <= left || pass == 1) {
        text = base + offset + 8;
        len = static_cast<std::size_t>(std::max<std::int64_t>(0, std::min(stated, left)));
        PrefetchPagesAfter(text + len, base + size);
        return 0;
      }
    } else {
      const void* end = std::memchr(base + offset, kMemoTerminator, size - offset);
      if (end || pass == 1) {
        text = base + offset;
        len = end ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(end) - text)
                  : static_cast<std::size_t>(size - offset);
        PrefetchPagesAfter(text + len, base + size);
        return 0;
      }
    }
    // The text seems to reach past the mapping: the file may have grown.
    if (!FreshMapping(m, true)) return -1;
  }
  return -1;
}

// The OEM to ANSI table of the current code page.
const std::uint8_t* OemToAnsiTable(bool& lowSame) {
  static std::uint8_t table[256];
  static int page = 0;
  static bool same = true;
  const int now = platform::OemCodePage();
  if (page != now) {
    same = true;
    for (int b = 0; b < 256; ++b) {
      table[b] = platform::OemToAnsiByte(static_cast<std::uint8_t>(b));
      if (b < 0x80 && table[b] != b) same = false;
    }
    page = now;
  }
  lowSame = same;
  return table;
}

// Copies bytes through a conversion table; runs of bytes below 0x80 (the
// same in both pages) are copied eight at a time.
void CopyConverted(std::uint8_t* out, const std::uint8_t* in, std::size_t n) {
  bool lowSame = false;
  const std::uint8_t* table = OemToAnsiTable(lowSame);
  std::size_t i = 0;
  if (lowSame) {
    for (; i + 8 <= n; i += 8) {
      std::uint64_t w;
      std::memcpy(&w, in + i, 8);
      if ((w & 0x8080808080808080ULL) == 0) {
        std::memcpy(out + i, &w, 8);
        continue;
      }
      for (std::size_t k = 0; k < 8; ++k) out[i + k] = table[in[i + k]];
    }
  }
  for (; i < n; ++i) out[i] = table[in[i]];
}

// The delivered form of a stored text, as a descriptor delivers it: read
// in pieces of kPiece bytes, converted from the first piece without a NUL
// byte on when `convert`.
void DeliverText(const std::uint8_t* bytes, std::size_t len, bool convert, std::string& text) {
  text.resize(len);
  auto* out = reinterpret_cast<std::uint8_t*>(text.data());
  int conversion = convert ? -1 : 0;
  for (std::size_t done = 0; done < len;) {
    const std::size_t piece = std::min<std::size_t>(static_cast<std::size_t>(kPiece), len - done);
    if (conversion == -1 && std::memchr(bytes + done, 0, piece) == nullptr) conversion = 1;
    if (conversion == 1) {
      CopyConverted(out + done, bytes + done, piece);
    } else {
      std::memcpy(out + done, bytes + done, piece);
    }
    done += piece;
  }
}

std::int64_t CreateDescriptor(DbtFile* m, BlobDescriptor& d, bool convert, std::int64_t block,
                              int mode);
std::int64_t ReadDescriptor(DbtFile* m, BlobDescriptor& d, void* buffer, std::int64_t count);
std::int64_t SeekDescriptor(DbtFile* m, BlobDescriptor& d, std::int64_t offset, int origin);

bool WithTextHook(WorkArea& a, std::int64_t block,
                  const std::function<void(const std::uint8_t*, std::size_t)>& use) {
  DbtFile* m = MemoOf(a);
  if (!m) {
    SetError(1019, a.FileName + " No Memo Field [CreateBlobDescriptor]");
    return false;
  }
  if (block == 0) {
    use(nullptr, 0);
    return true;
  }
  if (!a.Decode && block != kMemoOutOfRange) {
    platform::MappingGuard guard;
    const std::uint8_t* bytes = nullptr;
    std::size_t len = 0;
    if (MappedText(*m, block < 0 ? -block : block, bytes, len) == 0) {
      use(bytes, len);
      if (!guard.Faulted()) return true;
      m->Map.Unmap();
    }
  }
  // The file's way, through a descriptor of its own: the area's own one
  // stays as it is. The descriptor works on the current area's table.
  if (CurrentTable() != &a) return false;
  BlobDescriptor d;
  CreateDescriptor(m, d, false, block, 1);
  if (Engine().Errors.ErrorCode != 0) return false;
  const std::int64_t size = SeekDescriptor(m, d, 0, 2);
  SeekDescriptor(m, d, 0, 0);
  std::string text(static_cast<std::size_t>(std::max<std::int64_t>(0, size)), '\0');
  const std::int64_t got = size > 0 ? ReadDescriptor(m, d, text.data(), size) : 0;
  Release(*m, d);
  if (Engine().Errors.ErrorCode != 0) return false;
  use(reinterpret_cast<const std::uint8_t*>(text.data()),
      static_cast<std::size_t>(std::max<std::int64_t>(0, got)));
  return true;
}

bool TextLinesHook(std::int64_t block, std::vector<std::string>& lines) {
  MemoLines reader;
  if (!reader.Assign(block)) return false;
  std::string line;
  while (reader.GetMemo(line)) lines.push_back(line);
  return true;
}
void CloseMemoHook(WorkArea& a) {
  CloseMemoFile(a);
}

}  // namespace

void InstallMemoUnit() {
  Engine().MemoUnit.Open = OpenMemoHook;
  Engine().MemoUnit.Close = CloseMemoHook;
  Engine().MemoUnit.Create = CreateMemoFile;
  Engine().MemoUnit.TextLines = TextLinesHook;
  Engine().MemoUnit.WithText = WithTextHook;
}

DbtFile* CurrentMemo() {
  WorkArea* a = CurrentTable();
  return a ? MemoOf(*a) : nullptr;
}

bool OpenMemoFile(WorkArea& a) {
  const std::string name = MemoNameOf(a.FileName);
  if (a.MemoData) {
    SetError(1007, name + " [USE]");
    return false;
  }
  auto memo = std::make_unique<DbtFile>();
  memo->Serial = ++Engine().MemoOpenings;
  memo->Name = name;
  memo->OpenName = platform::ResolveFileName(MemoNameOf(a.OpenName));
  int mode = platform::kModeReadWrite;
  if ((Engine().Settings.NetworkMode && !a.Exclusive) || Engine().Settings.ForceSharedMemo)
    mode = platform::kModeShared;
  if (Engine().Settings.ForcedFileMode != -1) mode = Engine().Settings.ForcedFileMode;
  if (const int rc = memo->File.Open(memo->OpenName, mode); rc != 0) {
    SetError(rc, "Memo file not found: " + name + " [USE]");
    return false;
  }
  if (a.Header[0] == 0x8B) {
    memo->Layout = 0x8B;
    std::uint8_t head[24] = {};
    std::size_t got = 0;
    memo->File.ReadAt(0, head, sizeof head, got);
    // A file too short to hold its header keeps the standard block size.
    memo->BlockSize = got >= 22 ? LoadLe16(head + 20) : 512;
  } else {
    memo->Layout = 0x83;
    memo->BlockSize = 512;
  }
  if (memo->BlockSize == 0) memo->BlockSize = 512;
  a.MemoData = std::move(memo);
  return true;
}

void CloseMemoFile(WorkArea& a) {
  DbtFile* m = MemoOf(a);
  if (!m) return;
  if (m->Locked) m->File.Unlock(kMemoLockOffset, 1);
  const int rc = m->File.Close();
  const std::string name = m->Name;
  a.MemoData.reset();
  if (rc != 0) SetError(rc, name + " [CloseMemoFile]");
}

int CreateMemoFile(const std::string& tableName, std::uint8_t version) {
  const std::string name = MemoNameOf(tableName);
  platform::File f;
  if (const int rc = f.Create(name, platform::kModeExclusive); rc != 0) return rc;
  std::uint8_t header[512] = {};
  StoreLe32(header, 1);  // the next free block
  if (version == 0x8B) {
    // The table's name (without folder and extension) at 8, block size at 20.
    std::string base = platform::AsciiUpper(platform::NameOf(tableName));
    if (const std::size_t dot = base.rfind('.'); dot != std::string::npos) base.resize(dot);
    std::memcpy(header + 8, base.data(), std::min<std::size_t>(base.size(), 8));
    header[20] = 512 & 0xFF;
    header[21] = 512 >> 8;
  }
  int rc = f.WriteAt(0, header, sizeof header);
  const int closeRc = f.Close();
  if (rc == 0) rc = closeRc;
  if (rc != 0) platform::DeleteFile(name);
  return rc;
}

namespace {

std::int64_t CreateDescriptor(DbtFile* m, BlobDescriptor& d, bool convert, std::int64_t block,
                              int mode) {
  Release(*m, d);
  d.File = m->Serial;
  if (convert) d.Conversion = -1;
  const bool outOfRange = block == kMemoOutOfRange;
  const std::int64_t b = block < 0 && !outOfRange ? -block : block;
  d.BlockNumber = outOfRange ? 0 : b;
  d.Mode = static_cast<std::uint8_t>(mode);
  const std::int64_t size = FileSize(*m);
  if (mode == 1) {
    if (outOfRange) {
      DescriptorError(*m, d, 1003, "CreateBlobDescriptor");
      return 0;
    }
    if (b == 0) {
      // No memo: an empty text, and the file is not touched.
      d.Length = 0;
      d.InUse = 1;
      return 0;
    }
    std::int64_t offset = b * static_cast<std::int64_t>(m->BlockSize);
    if (offset >= size - 1) {
      DescriptorError(*m, d, 1003, "CreateBlobDescriptor");
      return 0;
    }
    std::uint8_t head[8] = {};
    std::size_t got = 0;
    if (const int rc = m->File.ReadAt(static_cast<std::uint64_t>(offset), head, 8, got); rc != 0) {
      DescriptorError(*m, d, rc, "CreateBlobDescriptor");
      return 0;
    }
    if (got == 8 && IsBlockHeader(head)) {
      const std::int64_t stated = static_cast<std::int64_t>(LoadLe32(head + 4)) - 8;
      const std::int64_t left = size - (offset + 8);
      d.Length = std::max<std::int64_t>(0, std::min(stated, left));
      offset += 8;
    }
    d.Start = static_cast<std::uint64_t>(offset);
  } else if (mode == 2) {
    // Two writers would both place their text at the end of the file.
    if (m->Writers > 0) {
      DescriptorError(*m, d, 1017, "CreateBlobDescriptor");
      return 0;
    }
    WorkArea* a = CurrentTable();
    if (!a->Exclusive && !m->Locked) {
      int rc = 0;
      for (int attempt = 0; attempt < 11; ++attempt) {
        rc = m->File.Lock(kMemoLockOffset, 1);
        if (rc == 0) break;
        platform::PauseBeforeRetry(std::chrono::milliseconds(20));
      }
      if (rc != 0) {
        DescriptorError(*m, d, 1017, "CreateBlobDescriptor");
        return 0;
      }
      m->Locked = true;
      d.HoldsLock = true;
    }
    std::uint64_t free = 0;
    if (platform::FreeDiskSpace(m->OpenName, free) == 0 && free < 2ULL * m->BlockSize) {
      DescriptorError(*m, d, 1004, "CreateBlobDescriptor");
      return 0;
    }
    // The new memo goes at the end, after zero bytes up to a whole block:
    // the end as it is now that the lock is held (another program may have
    // added a text while this one waited for the lock).
    const std::int64_t end = FileSize(*m);
    const std::int64_t bs = m->BlockSize;
    const std::int64_t next = std::max<std::int64_t>(1, (end + bs - 1) / bs);
    const std::int64_t offset = next * bs;
    // A write refused (a full disk) leaves the file as it was.
    if (offset > end) {
      std::vector<std::uint8_t> zeros(static_cast<std::size_t>(offset - end), 0);
      if (const int rc =
              m->File.WriteAt(static_cast<std::uint64_t>(end), zeros.data(), zeros.size());
          rc != 0) {
        m->File.Truncate(static_cast<std::uint64_t>(end));
        DescriptorError(*m, d, rc, "CreateBlobDescriptor");
        return 0;
      }
    }
    std::uint8_t head[8] = {0xFF, 0xFF, 0x08, 0x00, 8, 0, 0, 0};
    if (const int rc = m->File.WriteAt(static_cast<std::uint64_t>(offset), head, 8); rc != 0) {
      m->File.Truncate(static_cast<std::uint64_t>(end));
      DescriptorError(*m, d, rc, "CreateBlobDescriptor");
      return 0;
    }
    d.BlockNumber = next;
    d.Start = static_cast<std::uint64_t>(offset + 8);
    d.Length = 0;
    ++m->Writers;
  }
  d.InUse = 1;
  return m->Layout == 0x8B ? d.BlockNumber : -d.BlockNumber;
}

std::int64_t ReadDescriptor(DbtFile* m, BlobDescriptor& d, void* buffer, std::int64_t count) {
  if (!d.InUse || !Owns(*m, d) || d.Mode != 1 || count <= 0) return 0;
  if (d.BlockNumber == 0) return 0;
  const std::int64_t size = FileSize(*m);
  const std::int64_t here = static_cast<std::int64_t>(d.Start) + d.Position;
  std::int64_t n = std::min(count, std::max<std::int64_t>(0, size - here));
  // A known length (0 included) limits the read.
  if (d.Length >= 0) n = std::min(n, std::max<std::int64_t>(0, d.Length - d.Position));
  auto* out = static_cast<std::uint8_t*>(buffer);
  WorkArea* a = CurrentTable();
  std::int64_t done = 0;
  while (done < n) {
    const std::int64_t want = std::min(kPiece, n - done);
    std::size_t got = 0;
    const int rc = m->File.ReadAt(static_cast<std::uint64_t>(here + done), out + done,
                                  static_cast<std::size_t>(want), got);
    if (rc != 0) {
      DescriptorError(*m, d, rc, "ReadBlobStream");
      return 0;
    }
    if (got == 0) break;
    std::uint8_t* piece = out + done;
    if (a && a->Decode) a->Decode(piece, got);
    // In the terminator layout the text ends at the first terminator; what
    // follows it (a second terminator, the block's zero padding) is not
    // delivered and must not decide anything.
    std::size_t text = got;
    const void* t = d.Length == -1 ? std::memchr(piece, kMemoTerminator, got) : nullptr;
    if (t) text = static_cast<std::size_t>(static_cast<const std::uint8_t*>(t) - piece);
    // Conversion is decided from the delivered bytes: a piece without a NUL
    // byte switches it on for the rest of the text.
    if (d.Conversion == -1 && std::memchr(piece, 0, text) == nullptr) d.Conversion = 1;
    if (d.Conversion == 1) platform::OemToAnsi(piece, text);
    if (t) {
      const std::int64_t delivered = done + static_cast<std::int64_t>(text);
      d.Length = d.Position + delivered;
      d.Position = d.Length;
      return delivered;
    }
    done += static_cast<std::int64_t>(got);
  }
  d.Position += done;
  // A terminator-layout text that runs to the end of the file ends there.
  if (d.Length == -1 && static_cast<std::int64_t>(d.Start) + d.Position >= size)
    d.Length = d.Position;
  return done;
}

std::int64_t SeekDescriptor(DbtFile* m, BlobDescriptor& d, std::int64_t offset, int origin) {
  if (!d.InUse || !Owns(*m, d) || d.BlockNumber == 0 || d.Mode == 0) return 0;
  switch (origin) {
    case 0: break;
    case 1: offset += d.Position; break;
    case 2:
      if (d.Length > 0) {
        offset += d.Length;
      } else if (d.Mode == 1) {
        // The length is found by reading to the text's end, unconverted
        // (the descriptor, conversion state included, is put back
        // afterwards).
        const BlobDescriptor saved = d;
        std::uint8_t scratch[4096];
        d.Position = 0;
        d.Conversion = 0;
        while (d.InUse && ReadDescriptor(m, d, scratch, sizeof scratch) > 0) {
        }
        if (!d.InUse) return 0;  // a read error reset the descriptor
        const std::int64_t length = d.Length < 0 ? d.Position : d.Length;
        d = saved;
        d.Length = length;
        offset += length;
      } else {
        offset = d.Position;
      }
      break;
    default: offset = d.Position; break;
  }
  if (offset < 0) offset = 0;
  d.Position = offset;
  return offset;
}

std::int64_t WriteDescriptor(DbtFile* m, BlobDescriptor& d, const void* buffer,
                             std::int64_t count) {
  if (!d.InUse || !Owns(*m, d) || d.Mode != 2 || count <= 0) return 0;
  std::vector<std::uint8_t> bytes(static_cast<const std::uint8_t*>(buffer),
                                  static_cast<const std::uint8_t*>(buffer) + count);
  if (d.Conversion == -1 && std::memchr(bytes.data(), 0, bytes.size()) == nullptr) d.Conversion = 1;
  if (d.Conversion == 1) platform::AnsiToOem(bytes.data(), bytes.size());
  WorkArea* a = CurrentTable();
  if (a && a->Encode) a->Encode(bytes.data(), bytes.size());
  // A write refused (a full disk) takes the whole text back: the file ends
  // where the text's block began, and the header's next free block is what
  // it was. The text is at the file's end (one writer at a time).
  std::uint8_t nextBefore[4] = {};
  std::size_t nextGot = 0;
  m->File.ReadAt(0, nextBefore, 4, nextGot);
  const auto takeBack = [&] {
    const std::uint64_t start = d.Start - 8;
    if (nextGot == 4) {
      // An earlier piece of the text may have moved it past the text's
      // block already.
      std::uint8_t next[4];
      StoreLe32(next, std::min<std::uint32_t>(LoadLe32(nextBefore),
                                              static_cast<std::uint32_t>(start / m->BlockSize)));
      m->File.WriteAt(0, next, 4);
    }
    m->File.Truncate(start);
  };
  const std::uint64_t at = d.Start + static_cast<std::uint64_t>(d.Position);
  if (const int rc = m->File.WriteAt(at, bytes.data(), bytes.size()); rc != 0) {
    takeBack();
    DescriptorError(*m, d, rc == platform::kDiskWriteError ? 1005 : rc, "WriteBlobStream");
    return 0;
  }
  d.Position += count;
  d.Length = std::max(d.Length, d.Position);
  // Every memo the engine writes carries a block header; a terminator
  // follows the text so that readers of the terminator layout stop there.
  std::uint8_t head[8] = {0xFF, 0xFF, 0x08, 0x00, 0, 0, 0, 0};
  const std::int64_t total = d.Length + 8;
  StoreLe32(head + 4, static_cast<std::uint32_t>(std::min<std::int64_t>(total, 0xFFFFFFFFLL)));
  const std::uint8_t ends[2] = {kMemoTerminator, kMemoTerminator};
  const std::uint64_t end = d.Start + static_cast<std::uint64_t>(d.Length);
  int rc = m->File.WriteAt(d.Start - 8, head, 8);
  if (rc == 0) rc = m->File.WriteAt(end, ends, 2);
  if (rc == 0) {
    // The header's count of blocks in use.
    const std::uint64_t bs = m->BlockSize;
    std::uint8_t next[4];
    StoreLe32(next, static_cast<std::uint32_t>((end + 2 + bs - 1) / bs));
    rc = m->File.WriteAt(0, next, 4);
  }
  if (rc != 0) {
    takeBack();
    DescriptorError(*m, d, 1005, "WriteBlobStream");
    return 0;
  }
  return count;
}

void DestroyDescriptor(DbtFile* m, BlobDescriptor& d) {
  if (d.InUse && Owns(*m, d) && d.Mode == 2) FlushFile(m->File);
  Release(*m, d);
}

}  // namespace

std::int64_t CreateBlobDescriptor(bool convert, std::int64_t block, int mode) {
  ClearError();
  DbtFile* m = CheckMemo("CreateBlobDescriptor");
  return m ? CreateDescriptor(m, m->Blob, convert, block, mode) : 0;
}

std::int64_t CreateBlobDescriptor(BlobDescriptor& d, bool convert, std::int64_t block, int mode) {
  ClearError();
  DbtFile* m = CheckMemo("CreateBlobDescriptor");
  if (!m) {
    d.Reset();
    return 0;
  }
  return CreateDescriptor(m, d, convert, block, mode);
}

std::int64_t ReadBlobStream(void* buffer, std::int64_t count) {
  DbtFile* m = CurrentMemo();
  return m ? ReadDescriptor(m, m->Blob, buffer, count) : 0;
}

std::int64_t ReadBlobStream(BlobDescriptor& d, void* buffer, std::int64_t count) {
  DbtFile* m = CurrentMemo();
  return m ? ReadDescriptor(m, d, buffer, count) : 0;
}

std::int64_t SeekBlobStream(std::int64_t offset, int origin) {
  DbtFile* m = CurrentMemo();
  return m ? SeekDescriptor(m, m->Blob, offset, origin) : 0;
}

std::int64_t SeekBlobStream(BlobDescriptor& d, std::int64_t offset, int origin) {
  DbtFile* m = CurrentMemo();
  return m ? SeekDescriptor(m, d, offset, origin) : 0;
}

std::int64_t WriteBlobStream(const void* buffer, std::int64_t count) {
  DbtFile* m = CurrentMemo();
  return m ? WriteDescriptor(m, m->Blob, buffer, count) : 0;
}

std::int64_t WriteBlobStream(BlobDescriptor& d, const void* buffer, std::int64_t count) {
  DbtFile* m = CurrentMemo();
  return m ? WriteDescriptor(m, d, buffer, count) : 0;
}

void DestroyBlobDescriptor() {
  DbtFile* m = CheckMemo("DestroyBlobDescriptor");
  if (m) DestroyDescriptor(m, m->Blob);
}

void DestroyBlobDescriptor(BlobDescriptor& d) {
  DbtFile* m = CheckMemo("DestroyBlobDescriptor");
  if (m) {
    DestroyDescriptor(m, d);
  } else {
    d.Reset();
  }
}

std::string ReadMemoText(std::int64_t block, bool convert) {
  std::string text;
  ReadMemoText(block, convert, text);
  return text;
}

void ReadMemoText(std::int64_t block, bool convert, std::string& text) {
  text.clear();
  if (!CurrentMemo()) {
    CheckMemo("CreateBlobDescriptor");
    return;
  }
  WorkArea* a = CurrentTable();
  DbtFile* m = CurrentMemo();
  if (!a->Decode && block != kMemoOutOfRange) {
    // What CreateBlobDescriptor does first: the area's descriptor ends its
    // work (and the error code is cleared).
    ClearError();
    Release(*m, m->Blob);
    if (block == 0) return;
    platform::MappingGuard guard;
    const std::uint8_t* bytes = nullptr;
    std::size_t len = 0;
    if (MappedText(*m, block < 0 ? -block : block, bytes, len) == 0) {
      DeliverText(bytes, len, convert, text);
      if (!guard.Faulted()) return;
      m->Map.Unmap();
    }
    // Anything else (no text at that address included) the descriptor
    // reads and reports.
    text.clear();
  }
  CreateBlobDescriptor(convert, block, 1);
  if (Engine().Errors.ErrorCode != 0) return;
  const std::int64_t size = SeekBlobStream(0, 2);
  SeekBlobStream(0, 0);
  text.resize(static_cast<std::size_t>(size));
  const std::int64_t got = size > 0 ? ReadBlobStream(text.data(), size) : 0;
  text.resize(static_cast<std::size_t>(std::max<std::int64_t>(0, got)));
  if (CurrentMemo()) DestroyBlobDescriptor();
}

std::int64_t WriteMemoText(const std::string& text, bool convert) {
  const std::int64_t block = CreateBlobDescriptor(convert, 0, 2);
  if (block == 0) return 0;
  if (!text.empty() && WriteBlobStream(text.data(), static_cast<std::int64_t>(text.size())) !=
                           static_cast<std::int64_t>(text.size()))
    return 0;
  DestroyBlobDescriptor();
  return block < 0 ? -block : block;
}

bool MemoLines::Assign(std::int64_t block) {
  pos_ = 0;
  text_ = ReadMemoText(block, false);
  return Engine().Errors.ErrorCode == 0;
}

bool MemoLines::GetMemo(std::string& line) {
  line.clear();
  if (pos_ >= text_.size()) return false;
  // The line ends at the first carriage return, plain (0x0D) or soft (0x8D).
  const char* from = text_.data() + pos_;
  std::size_t len = text_.size() - pos_;
  if (const void* cr = std::memchr(from, 0x0D, len))
    len = static_cast<std::size_t>(static_cast<const char*>(cr) - from);
  if (const void* soft = std::memchr(from, 0x8D, len))
    len = static_cast<std::size_t>(static_cast<const char*>(soft) - from);
  line.assign(from, len);
  pos_ += len;
  if (pos_ < text_.size()) {
    ++pos_;  // the carriage return
    if (pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
  }
  return true;
}

std::vector<std::string> SplitMemoLines(const std::string& text) {
  MemoLines reader;
  reader.SetText(text);
  std::vector<std::string> lines;
  std::string line;
  while (reader.GetMemo(line)) lines.push_back(line);
  return lines;
}

}  // namespace vz
