// Memo files (.dbt): opened and closed with their table, read through one
// blob descriptor per work area, and written at their end.
//
// Two layouts, chosen from the table's version byte when the memo file is
// opened: 0x8B tables keep a block header (FF FF 08 00, then the length of
// header and text as a 32-bit number) at the start of each memo and their
// block size at offset 20 of the file; every other table keeps 512-byte
// blocks whose texts end at the first 0x1A. A memo that starts with a block
// header is read by its length in either layout.
//
// The block size belongs to the work area (two tables with different block
// sizes read side by side). Block numbers, offsets and sizes are 64-bit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/engine_context.h"

namespace vz {

// The state of one memo being read or written.
struct BlobDescriptor {
  std::uint8_t InUse = 0;
  std::uint8_t Mode = 0;      // 0 none, 1 read, 2 write
  std::int64_t Length = -1;   // -1 until the terminator has been met
  std::uint64_t Start = 0;    // file offset of the text's first byte
  std::int64_t Position = 0;  // of the next byte, counted from Start
  std::int64_t BlockNumber = 0;
  int Conversion = 0;      // 0 none, -1 convert once text without NUL comes, 1 convert
  std::uint64_t File = 0;  // the DbtFile::Serial of the memo file it was made for
  bool HoldsLock = false;  // a writer that took the memo file lock
  void Reset() { *this = BlobDescriptor{}; }
};

// The memo file of one work area.
struct DbtFile : AreaExtension {
  platform::File File;
  std::string Name;          // upper-cased, for messages
  std::string OpenName;      // the caller's spelling
  std::uint64_t Serial = 0;  // tells this opening of the file from every other
  int Writers = 0;           // write descriptors in use (at most one)
  bool Locked = false;
  std::uint8_t Layout = 0x83;  // 0x8B block headers, 0x83 terminators
  std::uint32_t BlockSize = 512;
  BlobDescriptor Blob;  // the work area's own descriptor
  // The file mapped for reading texts in bulk; looked at again (its size)
  // at most kSharedWindowNs after the last look, and whenever a text
  // reaches past the mapping.
  platform::FileMapping Map;
  std::uint64_t MapRefusedSize = UINT64_MAX;
  std::int64_t MapCheckedAtNs = 0;
};

inline constexpr std::uint8_t kMemoTerminator = 0x1A;

// Installs the memo unit in the storage engine's memo hooks.
void InstallMemoUnit();

// The memo area of the current work area (null without table or memo file).
DbtFile* CurrentMemo();

bool OpenMemoFile(WorkArea& area);
void CloseMemoFile(WorkArea& area);
// Creates an empty memo file (one header block) for a table; `version` is
// the table's version byte. Returns 0 or a DOS-style code.
int CreateMemoFile(const std::string& tableName, std::uint8_t version);

// The blob descriptor operations on the current work area's memo file.
// CreateBlobDescriptor returns the block number: positive for a block-header
// file, negative for a terminator file (0 on failure).
//
// The forms without a descriptor use the work area's own one; a second
// CreateBlobDescriptor there ends the first one's work. A caller that may
// read and write the same table at once (a memo stream beside a control
// that shows the field) keeps a descriptor of its own: then a reader can
// neither take over nor end a writer's memo. One write descriptor at a time
// per memo file: a second one is refused with 1017 while the first writes,
// since both would place their text at the file's end.
std::int64_t CreateBlobDescriptor(bool convert, std::int64_t block, int mode);
std::int64_t ReadBlobStream(void* buffer, std::int64_t count);
std::int64_t SeekBlobStream(std::int64_t offset, int origin);
std::int64_t WriteBlobStream(const void* buffer, std::int64_t count);
void DestroyBlobDescriptor();

std::int64_t CreateBlobDescriptor(BlobDescriptor& d, bool convert, std::int64_t block, int mode);
std::int64_t ReadBlobStream(BlobDescriptor& d, void* buffer, std::int64_t count);
std::int64_t SeekBlobStream(BlobDescriptor& d, std::int64_t offset, int origin);
std::int64_t WriteBlobStream(BlobDescriptor& d, const void* buffer, std::int64_t count);
void DestroyBlobDescriptor(BlobDescriptor& d);

// Reads a whole memo as the framework does (create, size by seeking to the
// end, read, destroy). Errors go through the dispatcher. A text is taken
// straight out of the memo file's mapping where it can be (one copy, the
// conversion by table), with the same outcome.
std::string ReadMemoText(std::int64_t block, bool convert);
// The same into a caller's string, whose storage is used again.
void ReadMemoText(std::int64_t block, bool convert, std::string& text);
// Writes a text as a new memo and returns its block number (0 on failure).
std::int64_t WriteMemoText(const std::string& text, bool convert);

// The memo text device: a memo as lines of text. A carriage return (0x0D,
// or 0x8D the soft return) ends a line; a line feed right after it is part
// of the line end.
class MemoLines {
 public:
  // Reads the memo of `block` of the current work area, unconverted.
  bool Assign(std::int64_t block);
  // Takes a text already in memory.
  void SetText(std::string text) {
    text_ = std::move(text);
    pos_ = 0;
  }
  // The next line, false at the end.
  bool GetMemo(std::string& line);

 private:
  std::string text_;
  std::size_t pos_ = 0;
};

// Splits a memo text into its lines (the line reader's rules).
std::vector<std::string> SplitMemoLines(const std::string& text);

}  // namespace vz
