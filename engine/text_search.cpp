#include "engine/text_search.h"

#include <cstring>

#include "engine/dbf.h"
#include "engine/dbf_file.h"
#include "engine/errors.h"
#include "platform/codepage.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vz {
namespace {

// The letter without its accent, for the accented Latin letters of the
// ANSI pages (0 when the code point is none of them).
char BaseLetter(char16_t u) {
  static const char kLatin1[] =
      // U+00C0 .. U+00FF
      "AAAAAA\0CEEEEIIII\0NOOOOO\0OUUUUY\0\0"
      "aaaaaa\0ceeeeiiii\0nooooo\0ouuuuy\0y";
  if (u >= 0xC0 && u <= 0xFF) return kLatin1[u - 0xC0];
  switch (u) {
    case 0x160:
    case 0x161: return 'S';  // S and s with caron
    case 0x17D:
    case 0x17E: return 'Z';  // Z and z with caron
    case 0x178: return 'Y';  // Y with diaeresis
    default: return 0;
  }
}

// The ANSI byte of a code point in the current page (0 when it has none).
std::uint8_t AnsiByteOf(char16_t u) {
  for (int b = 0x80; b < 256; ++b)
    if (platform::AnsiToUnicode(static_cast<std::uint8_t>(b)) == u)
      return static_cast<std::uint8_t>(b);
  return 0;
}

}  // namespace

std::uint8_t FoldedAnsiByte(std::uint8_t b) {
  if (b < 0x80) return platform::AnsiUpperByte(b);
  const char16_t u = platform::AnsiToUnicode(b);
  if (const char base = BaseLetter(u)) {
    return platform::AnsiUpperByte(static_cast<std::uint8_t>(base));
  }
  // Cyrillic io is its e.
  if (u == 0x0451 || u == 0x0401) {
    if (const std::uint8_t e = AnsiByteOf(0x0415)) return e;
  }
  return platform::AnsiUpperByte(b);
}

TextFinder TextFinder::Folded(std::string_view ansiText, bool oemBytes) {
  std::array<std::uint8_t, 256> table{};
  for (int b = 0; b < 256; ++b) {
    std::uint8_t c = static_cast<std::uint8_t>(b);
    if (oemBytes) c = platform::OemToAnsiByte(c);
    table[static_cast<std::size_t>(b)] = FoldedAnsiByte(c);
  }
  std::string text(ansiText);
  for (char& c : text) c = static_cast<char>(FoldedAnsiByte(static_cast<std::uint8_t>(c)));
  return TextFinder(table, std::move(text));
}

TextFinder::TextFinder(const std::array<std::uint8_t, 256>& table, std::string text)
    : table_(table), text_(std::move(text)) {
  Prepare();
}

void TextFinder::Prepare() {
  lineEnd_.fill(false);
  lineEnd_[0x0D] = lineEnd_[0x8D] = true;
  quick_ = false;
  if (text_.empty()) return;
  const auto filter = [&](std::uint8_t wanted, std::uint8_t(&low)[2], bool& high) {
    int count = 0;
    high = false;
    for (int b = 0; b < 256; ++b) {
      if (lineEnd_[static_cast<std::size_t>(b)] || table_[static_cast<std::size_t>(b)] != wanted)
        continue;
      if (b >= 0x80) {
        high = true;
      } else {
        if (count == 2) return false;
        low[count++] = static_cast<std::uint8_t>(b);
      }
    }
    // An unused slot repeats the first (or holds a byte that never
    // matches when no byte below 0x80 can).
    if (count == 0) low[0] = low[1] = 0x80;
    if (count == 1) low[1] = low[0];
    return true;
  };
  quick_ = filter(static_cast<std::uint8_t>(text_.front()), first_, firstHigh_) &&
           filter(static_cast<std::uint8_t>(text_.back()), last_, lastHigh_);
}

bool TextFinder::Verify(const std::uint8_t* at) const {
  const auto* want = reinterpret_cast<const std::uint8_t*>(text_.data());
  for (std::size_t k = 0; k < text_.size(); ++k) {
    if (lineEnd_[at[k]] || table_[at[k]] != want[k]) return false;
  }
  return true;
}

bool TextFinder::InScalar(const std::uint8_t* bytes, std::size_t count) const {
  const std::size_t l = text_.size();
  if (count < l) return false;
  for (std::size_t i = 0; i + l <= count; ++i)
    if (Verify(bytes + i)) return true;
  return false;
}

bool TextFinder::In(const std::uint8_t* bytes, std::size_t count) const {
  const std::size_t l = text_.size();
  if (l == 0) return true;
  if (count < l) return false;
#if defined(__SSE2__)
  if (quick_) {
    // Candidates are the places whose first and last byte can stand for
    // the text's first and last byte; each is then compared in full.
    const __m128i f0 = _mm_set1_epi8(static_cast<char>(first_[0]));
    const __m128i f1 = _mm_set1_epi8(static_cast<char>(first_[1]));
    const __m128i l0 = _mm_set1_epi8(static_cast<char>(last_[0]));
    const __m128i l1 = _mm_set1_epi8(static_cast<char>(last_[1]));
    const std::size_t lastAt = l - 1;
    std::size_t i = 0;
    for (; i + lastAt + 16 <= count; i += 16) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i + lastAt));
      unsigned ma = static_cast<unsigned>(
          _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(a, f0), _mm_cmpeq_epi8(a, f1))));
      if (firstHigh_) ma |= static_cast<unsigned>(_mm_movemask_epi8(a));
      unsigned mb = static_cast<unsigned>(
          _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(b, l0), _mm_cmpeq_epi8(b, l1))));
      if (lastHigh_) mb |= static_cast<unsigned>(_mm_movemask_epi8(b));
      unsigned m = ma & mb;
      while (m != 0) {
        const unsigned k = static_cast<unsigned>(__builtin_ctz(m));
        if (Verify(bytes + i + k)) return true;
        m &= m - 1;
      }
    }
    return InScalar(bytes + i, count - i);
  }
#endif
  return InScalar(bytes, count);
}

std::vector<TextFinder> FoldedWords(std::string_view ansiText, bool oemBytes) {
  std::vector<TextFinder> words;
  std::size_t i = 0;
  while (i < ansiText.size() && words.size() < 64) {
    while (i < ansiText.size() && static_cast<std::uint8_t>(ansiText[i]) <= ' ') ++i;
    std::size_t e = i;
    while (e < ansiText.size() && static_cast<std::uint8_t>(ansiText[e]) > ' ') ++e;
    if (e > i) words.push_back(TextFinder::Folded(ansiText.substr(i, e - i), oemBytes));
    i = e;
  }
  return words;
}

bool RecordHoldsText(WorkArea& a, const std::vector<TextFinder>& finders, bool names) {
  const std::size_t n = finders.size() < 64 ? finders.size() : 64;
  if (n == 0) return true;
  const std::uint64_t all = n == 64 ? ~0ULL : (1ULL << n) - 1;
  std::uint64_t got = 0;
  // Where the words may still be: the memo fields (and character fields)
  // not looked at yet. In the last place a missing word ends the search.
  int placesLeft = 0;
  for (const FieldDesc& f : a.Fields)
    if (f.Type == 'M' || (names && f.Type == 'C')) ++placesLeft;
  const auto look = [&](const std::uint8_t* bytes, std::size_t count) {
    std::uint64_t here = 0;
    for (std::size_t i = 0; i < n; ++i) {
      if (got >> i & 1) continue;
      if (finders[i].In(bytes, count)) {
        here |= 1ULL << i;
      } else if (placesLeft == 0) {
        break;
      }
    }
    return here;
  };
  if (a.Memo && Engine().MemoUnit.WithText && a.NativeBuffer) {
    const std::uint8_t* native = NativeRecord(a);
    for (const FieldDesc& f : a.Fields) {
      if (f.Type != 'M') continue;
      --placesLeft;
      const std::int32_t block = NativeInt(native + f.NativeOffset);
      if (block == 0) continue;
      std::uint64_t here = 0;
      {
        // A memo that cannot be read is one that holds nothing.
        ScopedErrorDispatch quiet(false);
        const bool read = Engine().MemoUnit.WithText(
            a, block,
            [&](const std::uint8_t* bytes, std::size_t count) { here = look(bytes, count); });
        if (!read) here = 0;
        ClearError();
      }
      got |= here;
      if (got == all) return true;
    }
  }
  if (names && a.RecNo >= 1 && a.RecNo <= a.RecCount) {
    std::vector<std::uint8_t> stored(a.RecordLen);
    if (ReadRecordBytes(a, a.RecNo, stored.data()) == 0) {
      if (a.Decode && stored.size() > 1) a.Decode(stored.data() + 1, stored.size() - 1);
      for (const FieldDesc& f : a.Fields) {
        if (f.Type != 'C') continue;
        --placesLeft;
        got |= look(stored.data() + f.Offset, f.Len);
        if (got == all) return true;
      }
    }
  }
  return got == all;
}

bool FindTextFrom(const std::vector<TextFinder>& finders, bool names, bool forward,
                  const std::function<bool(std::int64_t)>& progress) {
  std::int64_t looked = 0;
  for (;;) {
    SKIP(forward ? 1 : -1);
    WorkArea* a = CurrentTable();
    if (!a || Engine().Errors.ErrorCode != 0) return false;
    if (forward ? dEOF() : dBOF()) return false;
    if (RecordHoldsText(*a, finders, names)) return true;
    if (progress && ++looked % 1000 == 0 && !progress(looked)) return false;
  }
}

}  // namespace vz
