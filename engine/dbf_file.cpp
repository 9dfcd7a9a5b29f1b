#include "engine/dbf_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <new>

#include "engine/errors.h"
#include "engine/table_swap.h"
#include "engine/trim.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/little_endian.h"

namespace vz {
namespace {

using platform::LoadLe16;
using platform::LoadLe32;
using platform::StoreLe16;
using platform::StoreLe32;

bool ValidType(char t) {
  return t == 'C' || t == 'D' || t == 'F' || t == 'L' || t == 'M' || t == 'N';
}

// Releases everything OpenDbf may have taken.
void ReleaseHeader(WorkArea& area) {
  area.File.Close();
  area.RawRec.clear();
  area.RawRec.shrink_to_fit();
  area.Fields.clear();
  area.FieldCount = 0;
  area.State = 0;
}

std::string NotDbase(const WorkArea& area, const std::string& why, const char* suffix) {
  return area.FileName + " is not a dBASE database. (" + why + ") " + suffix;
}

// Field name: the bytes up to the first NUL, at most 10.
std::string DescriptorName(const std::uint8_t* d) {
  std::size_t n = 0;
  while (n < 10 && d[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(d), n);
}

// Fills the native layout of the fields and checks the record length
// against them (a record length of 0, or shorter than the deletion flag and
// the fields, cannot be read safely).
bool FinishFields(WorkArea& area, std::uint64_t sumLengths) {
  std::uint32_t native = 1;
  for (auto& f : area.Fields) {
    f.NativeOffset = native;
    f.NativeSize = NativeSlotSize(f);
    native += f.NativeSize;
  }
  if (area.RecordLen == 0) {
    SetError(210, NotDbase(area, "Record length is zero", "[USE/OpenDBF]"));
    return false;
  }
  if (area.RecordLen < 1 + sumLengths) {
    SetError(210, NotDbase(area, "Record length is shorter than its fields", "[USE/OpenDBF]"));
    return false;
  }
  return true;
}

// One field from its descriptor (the name at its start, the type at byte
// 11) and the width and decimals the layout keeps elsewhere, placed at
// `offset`, which moves past it. False, with the error set, for a type the
// engine does not know.
bool DescribeField(WorkArea& area, const std::uint8_t* d, std::uint8_t len, std::uint8_t dec,
                   std::uint32_t& offset, FieldDesc& f) {
  f.Name = DescriptorName(d);
  f.Type = static_cast<char>(d[11]);
  f.Len = len;
  f.Dec = dec;
  f.Offset = offset;
  offset += f.Len;
  if (ValidType(f.Type)) return true;
  SetError(211, "Field: " + f.Name + " [" + std::string(1, f.Type) + "] in " + area.FileName +
                    " is not a valid field type");
  // Reached only with dispatching off (or a handler): the open then
  // reports the general reading failure.
  Engine().Errors.ErrorDetail = "Error reading " + area.FileName + " [Use/OpenDbf]";
  return false;
}

bool ReadCurrentLayout(WorkArea& area) {
  const std::uint8_t* h = area.Header;
  const std::uint16_t fieldCount = static_cast<std::uint16_t>(LoadLe16(h + 8) - 32) / 32;
  if (fieldCount < 1 || fieldCount > 255) {
    SetError(210, platform::NameOf(area.FileName) +
                      " is not a dBASE database. (Number of fields is out of range) "
                      "[Use/OpenDbf]");
    return false;
  }
  area.RecCount = LoadLe32(h + 4);
  area.HeaderLen = LoadLe16(h + 8);
  area.RecordLen = LoadLe16(h + 10);
  try {
    area.RawRec.assign(area.RecordLen, ' ');
  } catch (const std::bad_alloc&) {
    SetError(217, "Not enough memory to open " + area.FileName + " [Use/OpenDbf]");
    return false;
  }
  area.State = 1;
  std::vector<std::uint8_t> desc(area.HeaderLen - 32);
  std::size_t got = 0;
  const int rc = area.File.ReadAt(32, desc.data(), desc.size(), got);
  if (rc != 0 || got < desc.size()) {
    SetError(rc != 0 ? rc : 100, "Error reading " + area.FileName + " [Use/OpenDbf]");
    return false;
  }
  area.Fields.resize(fieldCount);
  std::uint32_t offset = 1;
  std::uint64_t sum = 0;
  for (int i = 0; i < fieldCount; ++i) {
    const std::uint8_t* d = desc.data() + 32 * i;
    FieldDesc& f = area.Fields[i];
    if (!DescribeField(area, d, d[16], d[17], offset, f)) return false;
    sum += f.Len;
  }
  area.FieldCount = fieldCount;
  return FinishFields(area, sum);
}

bool ReadOldLayout(WorkArea& area, std::uint64_t fileSize) {
  if (fileSize < 521) {
    SetError(210, area.FileName +
                      " is not a dBASE database.(Header is less than 521 bytes) [Use/OpenDBF]");
    return false;
  }
  std::uint8_t block[512];
  std::size_t got = 0;
  const int rc = area.File.ReadAt(8, block, sizeof block, got);
  if (rc != 0 || got < sizeof block) {
    SetError(rc != 0 ? rc : 100, "Error reading " + area.FileName + " [Use/OpenDbf]");
    return false;
  }
  const std::uint8_t* h = area.Header;
  area.RecCount = LoadLe16(h + 1);
  area.HeaderLen = 521;
  area.RecordLen = LoadLe16(h + 6);
  std::uint32_t offset = 1;
  std::uint64_t sum = 0;
  for (int i = 0; i < 32; ++i) {
    const std::uint8_t* d = block + 16 * i;
    if (d[0] == 0x0D) break;
    FieldDesc f;
    if (!DescribeField(area, d, d[12], d[15], offset, f)) return false;
    sum += f.Len;
    area.Fields.push_back(f);
  }
  if (area.Fields.empty()) {
    SetError(210, platform::NameOf(area.FileName) +
                      " is not a dBASE database. (Number of fields is out of range) "
                      "[Use/OpenDbf]");
    return false;
  }
  area.FieldCount = static_cast<int>(area.Fields.size());
  area.RawRec.assign(area.RecordLen, ' ');
  area.State = 1;
  return FinishFields(area, sum);
}

}  // namespace

std::string AddDefaultExtension(const std::string& name, const std::string& ext) {
  const std::size_t start = platform::NameStart(name);
  if (name.find('.', start) != std::string::npos) return name;
  bool capitals = false;
  for (std::size_t i = start; i < name.size(); ++i)
    if (name[i] >= 'A' && name[i] <= 'Z') capitals = true;
  std::string e = ext;
  if (!capitals)
    for (char& c : e) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name + "." + e;
}

std::int64_t RecordsInFile(const WorkArea& area, std::uint64_t size) {
  if (area.RecordLen == 0 || size <= area.HeaderLen) return 0;
  return static_cast<std::int64_t>((size - area.HeaderLen) / area.RecordLen);
}

bool OpenDbf(WorkArea& area) {
  area.FileName = AddDefaultExtension(area.FileName, "DBF");
  area.OpenName = AddDefaultExtension(area.OpenName, "DBF");
  // An import that was cut short while it put a new table in place is
  // finished (or taken back) first, so no open sees the old table beside the
  // new memo file. Every open does it, one that only reads too: finishing a
  // committed import completes a write its user asked for, and where the
  // folder cannot be written the open fails rather than show a mismatched
  // pair. An ordinary table costs one look-up of a name that is not there.
  std::string cut;
  if (const int rc = FinishCutSwap(area.OpenName, cut); rc != 0) {
    SetError(rc, cut + " [USE/OpenDbf]");
    return false;
  }
  const std::string path = platform::ResolveFileName(area.OpenName);
  if (path != area.OpenName) {
    if (const int rc = FinishCutSwap(path, cut); rc != 0) {
      SetError(rc, cut + " [USE/OpenDbf]");
      return false;
    }
  }
  if (const int rc = area.File.Open(path, area.FileMode); rc != 0) {
    SetError(rc, "Failure to open " + area.FileName + " [USE/OpenDbf]");
    return false;
  }
  area.OpenName = path;
  std::uint64_t size = 0;
  bool ok = area.File.Size(size) == 0;
  std::size_t got = 0;
  if (ok) {
    const int rc = area.File.ReadAt(0, area.Header, 32, got);
    if (rc != 0) {
      SetError(rc, "Error reading " + area.FileName + " [Use/OpenDbf]");
      ok = false;
    } else if (got < 32) {
      SetError(210, NotDbase(area, "Prolog is less than 32 bytes", "[USE/OpenDBF]"));
      ok = false;
    }
  } else {
    SetError(100, "Error reading " + area.FileName + " [Use/OpenDbf]");
  }
  if (ok) {
    const int low = area.Header[0] & 7;
    if (low != 2 && low != 3) {
      SetError(210,
               area.FileName + " is not a dBASE database.(Invalid version byte)+ [USE/OpenDBF]");
      ok = false;
    } else {
      area.Memo = (area.Header[0] & 0x80) != 0;
      area.Layout = low == 2 ? DbfLayout::Old : DbfLayout::Current;
      ok = low == 2 ? ReadOldLayout(area, size) : ReadCurrentLayout(area);
    }
  }
  if (!ok) {
    ReleaseHeader(area);
    return false;
  }
  if (Engine().Settings.FixRecCount) area.RecCount = RecordsInFile(area, size);
  if (area.RecCount >= 1) {
    area.RecNo = 1;
    area.Bof = area.Eof = false;
  } else {
    area.RecNo = 0;
    area.Bof = area.Eof = true;
  }
  return true;
}

namespace {

// Looks at the file: when it changed since the last look (or was written
// lately), cached records and scan blocks are forgotten. Returns false when
// the file cannot be asked.
bool LookAtFile(WorkArea& area, std::uint64_t& size) {
  struct stat st;
  if (fstat(area.File.Descriptor(), &st) != 0) {
    area.Cache.Drop();
    ForgetCachedRecords(area);
    return false;
  }
  size = static_cast<std::uint64_t>(st.st_size);
  // Pages of the mapping past the file's end must not be touched again.
  if (size < area.Map.Length()) area.Map.Unmap();
  const std::int64_t mtime =
      static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  struct timespec wall;
  clock_gettime(CLOCK_REALTIME_COARSE, &wall);
  const std::int64_t nowWall = static_cast<std::int64_t>(wall.tv_sec) * 1000000000LL + wall.tv_nsec;
  // File times are coarse: a write in the same tick as an earlier one keeps
  // the time. While the file was written lately, trust nothing cached.
  const bool hot = nowWall - mtime < 2 * kSharedWindowNs;
  if (size != area.KnownSize || mtime != area.KnownMtimeNs || hot) {
    area.Cache.Drop();
    ForgetCachedRecords(area);
    area.KnownSize = size;
    area.KnownMtimeNs = mtime;
  }
  area.CacheCheckedAtNs = CoarseNowNs();
  return true;
}

}  // namespace

void RefreshRecCount(WorkArea& area) {
  if (area.Exclusive || !area.File.IsOpen()) return;
  std::uint64_t size = 0;
  if (!LookAtFile(area, size)) return;
  area.CheckedAtNs = area.CacheCheckedAtNs;
  area.RecCount = RecordsInFile(area, size);
}

bool CopyMapped(WorkArea& area, std::uint64_t offset, void* out, std::size_t count) {
  if (count == 0) return true;  // nothing to copy (and `out` may be null)
  const std::uint64_t end = offset + count;
  if (end > area.Map.Length()) {
    std::uint64_t size = 0;
    if (area.File.Size(size) != 0 || end > size || size == area.MapRefusedSize) return false;
    if (area.Map.Map(area.File, size) != 0) {
      area.MapRefusedSize = size;
      return false;
    }
    area.MapRefusedSize = UINT64_MAX;
  }
  if (area.Map.Copy(offset, out, count)) {
    // Bytes past the end of a file that shrank lately (or is being written
    // anew) read as zeros where they share a page with bytes the file still
    // holds. Bytes with a zero among them are only trusted when the file
    // held them before and after they were copied again.
    if (std::memchr(out, 0, count) == nullptr) return true;
    std::uint64_t before = 0, after = 0;
    if (area.File.Size(before) == 0 && end <= before && area.Map.Copy(offset, out, count) &&
        area.File.Size(after) == 0 && end <= after)
      return true;
    area.Map.Unmap();
  }
  // The file shrank under the mapping (Copy let the mapping go): nothing
  // kept of the file is trusted any more.
  area.Cache.Drop();
  ForgetCachedRecords(area);
  return false;
}

int ReadRecordBytes(WorkArea& area, std::int64_t n, std::uint8_t* out) {
  const std::size_t len = area.RecordLen;
  if (!area.Exclusive && CoarseNowNs() - area.CacheCheckedAtNs >= kSharedWindowNs) {
    // Look at the file before trusting what was read of it.
    std::uint64_t size = 0;
    LookAtFile(area, size);
  }
  if (CopyMapped(area, RecordOffset(area, n), out, len)) return 0;
  RecordBlockCache& c = area.Blocks;
  if (c.Slots.empty()) {
    c.RecordsPerBlock =
        std::max<std::size_t>(1, RecordBlockCache::kBlockBytes / std::max<std::size_t>(1, len));
  }
  const std::size_t per = c.RecordsPerBlock;
  const std::size_t blockBytes = per * len;
  const std::uint64_t block = static_cast<std::uint64_t>(n - 1) / per;
  const std::size_t within =
      static_cast<std::size_t>(static_cast<std::uint64_t>(n - 1) % per) * len;
  auto it = c.Where.find(block);
  if (it != c.Where.end()) {
    const RecordBlockCache::Slot& s = c.Slots[it->second];
    if (s.Generation == area.Generation && within + len <= s.Len) {
      std::memcpy(out, c.Data.data() + static_cast<std::size_t>(it->second) * blockBytes + within,
                  len);
      return 0;
    }
  }
  std::uint32_t slot;
  if (it != c.Where.end()) {
    slot = it->second;
  } else {
    const std::size_t maxSlots = std::max<std::size_t>(1, RecordBlockCache::kMaxBytes / blockBytes);
    if (c.Slots.size() < maxSlots) {
      slot = static_cast<std::uint32_t>(c.Slots.size());
      c.Slots.emplace_back();
      c.Data.resize(c.Slots.size() * blockBytes);
    } else {
      slot = c.NextVictim;
      c.NextVictim = static_cast<std::uint32_t>((c.NextVictim + 1) % c.Slots.size());
      c.Where.erase(c.Slots[slot].Block);
    }
    c.Where[block] = slot;
  }
  RecordBlockCache::Slot& s = c.Slots[slot];
  s.Block = block;
  s.Generation = area.Generation;
  s.Len = 0;
  std::size_t got = 0;
  std::uint8_t* dst = c.Data.data() + static_cast<std::size_t>(slot) * blockBytes;
  const std::uint64_t at = RecordOffset(area, static_cast<std::int64_t>(block * per) + 1);
  if (const int rc = area.File.ReadAt(at, dst, blockBytes, got); rc != 0) return rc;
  s.Len = got;
  if (within + len > got) return 213;
  std::memcpy(out, dst + within, len);
  return 0;
}

void UpdateCaches(WorkArea& area, std::uint64_t offset, const std::uint8_t* bytes, std::size_t n) {
  // Cached records that the write touches are read again.
  RecordBlockCache& blocks = area.Blocks;
  if (!blocks.Slots.empty() && area.RecordLen > 0 && offset + n > area.HeaderLen) {
    const std::uint64_t first =
        offset > area.HeaderLen ? (offset - area.HeaderLen) / area.RecordLen : 0;
    const std::uint64_t last = (offset + n - 1 - area.HeaderLen) / area.RecordLen;
    for (std::uint64_t r = first / blocks.RecordsPerBlock; r <= last / blocks.RecordsPerBlock;
         ++r) {
      auto it = blocks.Where.find(r);
      if (it != blocks.Where.end()) blocks.Slots[it->second].Generation = 0;
    }
  }
  for (ReadCache* c : {&area.Cache}) {
    if (c->Len == 0 || offset + n <= c->Start || offset >= c->Start + c->Len) continue;
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint64_t at = offset + i;
      if (at >= c->Start && at < c->Start + c->Len) c->Data[at - c->Start] = bytes[i];
    }
  }
}

int WriteHeaderCounts(WorkArea& area) {
  const platform::LocalDate today = platform::Today();
  std::uint8_t* h = area.Header;
  const std::int64_t count = area.RecCount < 0 ? 0 : area.RecCount;
  if (area.Layout == DbfLayout::Old) {
    StoreLe16(h + 1, static_cast<std::uint32_t>(count > 0xFFFF ? 0xFFFF : count));
    h[3] = static_cast<std::uint8_t>(today.month);
    h[4] = static_cast<std::uint8_t>(today.day);
    h[5] = static_cast<std::uint8_t>(today.year % 100);
    return area.File.WriteAt(0, h, 8);
  }
  h[1] = static_cast<std::uint8_t>(today.year - 1900);
  h[2] = static_cast<std::uint8_t>(today.month);
  h[3] = static_cast<std::uint8_t>(today.day);
  StoreLe32(h + 4, static_cast<std::uint32_t>(count > 0xFFFFFFFFLL ? 0xFFFFFFFFLL : count));
  return area.File.WriteAt(0, h, 8);
}

void CloseDbf(WorkArea& area) {
  ClearError();
  int rc = 0;
  if (area.State == 2 || area.State == 3) {
    rc = WriteHeaderCounts(area);
    if (rc == 0 && area.State == 3) {
      const std::uint8_t eof = 0x1A;
      rc = area.File.WriteAt(RecordOffset(area, area.RecCount + 1), &eof, 1);
    }
  }
  const int closeRc = area.File.Close();
  if (rc == 0) rc = closeRc;
  area.State = 0;
  area.RawRec.clear();
  area.RawRec.shrink_to_fit();
  area.Fields.clear();
  if (rc != 0) SetError(rc, "File:  " + area.FileName + " [CloseDbf(" + area.FileName + ")]");
}

bool CreateDbf(const std::string& fileName, const std::vector<FieldSpec>& fields) {
  ClearError();
  const std::string name = AddDefaultExtension(fileName, "DBF");
  const std::string shown = platform::AsciiUpper(platform::ExpandFileName(name));
  if (fields.empty() || fields.size() > 255) {
    SetError(220, "Invalid dBASE field definition [CreateDBF]");
    return false;
  }
  bool memo = false;
  std::uint64_t recordLen = 1;
  std::vector<std::uint8_t> header(32 + 32 * fields.size() + 1, 0);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const FieldSpec& f = fields[i];
    const std::string fname = platform::AsciiUpper(Trim(f.Name));
    if (fname.empty()) {
      SetError(220, "Empty field name [CreateDbf(" + shown + ")]");
      return false;
    }
    const char type = static_cast<char>(std::toupper(static_cast<unsigned char>(f.Type)));
    int len = f.Len, dec = f.Dec;
    bool valid =
        ValidType(type) && fname.size() <= 10 && len >= 0 && len <= 255 && dec >= 0 && dec <= 255;
    if (type == 'D') len = 8, dec = 0;
    if (type == 'L') len = 1, dec = 0;
    if (type == 'M') len = 10, dec = 0, memo = true;
    if (type == 'C') dec = 0;
    if ((type == 'N' || type == 'F') && (len < 1 || dec >= len)) valid = false;
    if (type == 'C' && len < 1) valid = false;
    if (!valid) {
      SetError(220, "Invalid dBASE field definition [CreateDBF]");
      return false;
    }
    std::uint8_t* d = header.data() + 32 + 32 * i;
    std::memcpy(d, fname.data(), fname.size());
    d[11] = static_cast<std::uint8_t>(type);
    d[16] = static_cast<std::uint8_t>(len);
    d[17] = static_cast<std::uint8_t>(dec);
    recordLen += static_cast<std::uint64_t>(len);
  }
  const platform::LocalDate today = platform::Today();
  header[0] = memo ? 0x8B : 0x03;
  header[1] = static_cast<std::uint8_t>(today.year - 1900);
  header[2] = static_cast<std::uint8_t>(today.month);
  header[3] = static_cast<std::uint8_t>(today.day);
  StoreLe16(&header[8], static_cast<std::uint32_t>(32 * fields.size() + 33));
  StoreLe16(&header[10], static_cast<std::uint32_t>(recordLen));
  header.back() = 0x0D;
  platform::File file;
  if (const int rc = file.Create(name, platform::kModeExclusive); rc != 0) {
    SetError(rc, "Error writing " + shown + " [CreateDBF]");
    return false;
  }
  const std::uint8_t eof = 0x1A;
  int rc = file.WriteAt(0, header.data(), header.size());
  if (rc == 0) rc = file.WriteAt(header.size(), &eof, 1);
  if (rc == 0) rc = file.Close();
  if (rc != 0) {
    file.Close();
    platform::DeleteFile(name);
    SetError(rc, "Error writing " + shown + " [CreateDBF]");
    return false;
  }
  if (memo && Engine().MemoUnit.Create) {
    if (const int code = Engine().MemoUnit.Create(name, header[0]); code != 0) {
      platform::DeleteFile(name);
      SetError(code, "Cannot create memo file " + shown + " [CreateDBF]");
      return false;
    }
  }
  return true;
}

}  // namespace vz
