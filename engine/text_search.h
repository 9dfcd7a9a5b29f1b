// Finding records by the words of their memo texts: a finder that looks for
// one text in stored bytes through a comparison table, fast enough to run
// over every memo of a large table, and the scans that use it (the grep of
// the command-line tool, the reader's Find in texts).
//
// A finder compares bytes as stored: each byte goes through the finder's
// table first (OEM to ANSI on an OEM table, then the folding), and the
// text looked for is in the table's terms. Line ends (0x0D, and 0x8D the
// soft return) never match, so a text is only found inside one line, as
// the memo's lines show it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/engine_context.h"

namespace vz {

// The byte a user's letter is compared as when letter case and accents do
// not count: the ANSI byte without its accent, upper-cased ("é" and "E" are
// both "E"; "ё" is "Е" on the Cyrillic page).
std::uint8_t FoldedAnsiByte(std::uint8_t b);

class TextFinder {
 public:
  TextFinder() = default;
  // Looks for `ansiText` (ANSI, as a user types it) with letter case and
  // accents not counting, in bytes stored in OEM (`oemBytes`) or in ANSI.
  static TextFinder Folded(std::string_view ansiText, bool oemBytes);
  // Looks for `text` in bytes taken through `table` (a text already in the
  // table's terms).
  TextFinder(const std::array<std::uint8_t, 256>& table, std::string text);

  bool Empty() const { return text_.empty(); }
  const std::string& Text() const { return text_; }
  // Whether the bytes hold the text.
  bool In(const std::uint8_t* bytes, std::size_t count) const;
  bool In(std::string_view bytes) const {
    return In(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }

 private:
  void Prepare();
  bool Verify(const std::uint8_t* at) const;
  bool InScalar(const std::uint8_t* bytes, std::size_t count) const;

  std::array<std::uint8_t, 256> table_{};
  std::array<bool, 256> lineEnd_{};
  std::string text_;
  // The quick filter: the stored bytes below 0x80 that can stand for the
  // text's first and last byte (at most two each), and whether a byte of
  // 0x80 and up can.
  bool quick_ = false;
  std::uint8_t first_[2] = {}, last_[2] = {};
  bool firstHigh_ = false, lastHigh_ = false;
};

// The words of a user's text (split at blanks), each a folded finder.
std::vector<TextFinder> FoldedWords(std::string_view ansiText, bool oemBytes);

// Whether the current record of `area` holds every finder's text: in one
// of its memo texts, or (with `names`) in one of its character fields. A
// memo that cannot be read holds nothing. The record must have been read.
bool RecordHoldsText(WorkArea& area, const std::vector<TextFinder>& finders, bool names);

// Walks the current area's visible records in its order (the controlling
// index's, else record numbers) from the record after the current one
// (`forward`) or before it, for the first one that holds every finder's
// text (RecordHoldsText). `progress` (when given) is called about every
// 1,000 records with the records looked at so far; it returns false to
// stop the scan. Found: the pointer stands on the record, true. Not found,
// or stopped: false, and the pointer stands past the end (or before the
// beginning); the caller puts it back where it wants it.
bool FindTextFrom(const std::vector<TextFinder>& finders, bool names, bool forward,
                  const std::function<bool(std::int64_t)>& progress = nullptr);

}  // namespace vz
