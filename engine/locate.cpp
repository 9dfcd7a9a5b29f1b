// Locate and Continue: a scan in record-number order for a field value.
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
          if (!Engine().MemoUnit.WithText(a, number, [&](const std::uint8_t* bytes, std::size_t n) {
                held = finder.In(bytes, n);
              }))
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
        std::snprintf(buf, sizeof buf, "%*.*f", static_cast<int>(f.Len), static_cast<int>(f.Dec),
                      d);
        v = buf;
      }
      break;
    }
    case 'L': {
      const std::string b = platform::AsciiUpper(Trim(v));
      v = (!b.empty() && (b[0] == 'T' || b[0] == 'Y' || b == ".T." || b == ".Y.")) ? "T" : "F";
      break;
    }
    default: break;
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
