#include "index/ndx_keys.h"

#include <algorithm>
#include <cstring>

#include "engine/dates.h"
#include "engine/dbf.h"
#include "engine/dbf_file.h"
#include "engine/errors.h"
#include "engine/trim.h"
#include "index/index_state.h"
#include "platform/codepage.h"
#include "platform/files.h"

namespace vz {

int KeyCompare(const NdxFile& x, const std::uint8_t* a, const std::uint8_t* b) {
  if (x.CharKey) {
    const int c = std::memcmp(a, b, static_cast<std::size_t>(x.Anchor.KeyLen()));
    return c < 0 ? -1 : c > 0 ? 1 : 0;
  }
  double da, db;
  std::memcpy(&da, a, 8);
  std::memcpy(&db, b, 8);
  return da < db ? -1 : da > db ? 1 : 0;
}

std::string ComputeKey(NdxFile& x, bool oemTable) {
  if (x.ExprIndex) {
    if (!x.Expr) return std::string();
    KeyValue k = EvaluateKey(*x.Expr, oemTable);
    if (x.CharKey) return std::move(k.text);
    std::string bytes(8, '\0');
    std::memcpy(bytes.data(), &k.number, 8);
    return bytes;
  }
  std::string text = x.Maker ? x.Maker() : std::string();
  if (text.size() > 100) text.resize(100);
  if (x.Soundex) text = Soundex(text);
  if (x.Descending)
    for (char& c : text) c = static_cast<char>(255 - static_cast<unsigned char>(c));
  return text;
}

std::string FitKey(const std::string& key, int keyLen) {
  std::string k = key.substr(0, static_cast<std::size_t>(keyLen));
  if (static_cast<int>(k.size()) < keyLen)
    k.append(static_cast<std::size_t>(keyLen) - k.size(), ' ');
  return k;
}

bool FitComputedKey(const NdxFile& x, std::string& key) {
  if (!x.CharKey) return true;
  const std::size_t len = static_cast<std::size_t>(x.Anchor.KeyLen());
  if (key.size() > len && x.Expr && x.Expr->Width() > 0) return false;
  key = FitKey(key, x.Anchor.KeyLen());
  return true;
}

std::string LengthMessage(const NdxFile& x, const std::string& key, const char* where) {
  char width[8];
  std::snprintf(width, sizeof width, "%3d", x.Anchor.KeyLen());
  return std::string("Incorrect key length: Must be 1 to 100.") + "\n\r" +
         "Expected Length= " + width + "\n\r" + "Key= [" + key + "] " + x.Name + " [" + where + "]";
}

std::string SearchKey(const NdxFile& x, const std::string& k, bool exact, bool oem) {
  const int keyLen = x.Anchor.KeyLen();
  std::string key = k;
  if (x.ExprIndex) {
    if (!x.CharKey) {
      double v = 0;
      if (x.Anchor.TypeLetter() == 'D') {
        std::string stored;
        if (SearchDateToStored(k, stored)) v = static_cast<double>(JulianOfStored(stored));
      } else {
        v = std::strtod(Trim(k).c_str(), nullptr);
      }
      std::string bytes(8, '\0');
      std::memcpy(bytes.data(), &v, 8);
      return bytes;
    }
    if (exact && static_cast<int>(key.size()) < keyLen)
      key.append(static_cast<std::size_t>(keyLen) - key.size(), ' ');
    if (oem) key = platform::AnsiToOem(key);
  } else {
    if (exact && static_cast<int>(key.size()) < keyLen)
      key.append(static_cast<std::size_t>(keyLen) - key.size(), ' ');
    if (x.Soundex) key = Soundex(key);
    if (x.Descending)
      for (char& c : key) c = static_cast<char>(255 - static_cast<unsigned char>(c));
  }
  if (static_cast<int>(key.size()) > keyLen) key.resize(static_cast<std::size_t>(keyLen));
  return key;
}

void StoreKeyOf(NdxFile& x, const WorkArea& t) {
  std::string key = ComputeKey(x, t.Oem);
  if (!FitComputedKey(x, key)) {
    RaiseIndexError(266, LengthMessage(x, key, "StoreCurrentKeys") +
                             "\n\rRecCount: " + Str(t.RecCount) + " RecNo: " + Str(t.RecNo));
  }
  x.CurKey = std::move(key);
  MarkKeyWorkedOut(x);
}

void StoreCurrentKeysRaising(bool whenNeeded) {
  WorkArea* t = CurrentTable();
  if (!t) return;
  AreaIndexes& a = CurrentAreaIndexes();
  const bool onRecord = t->RecCount > 0 && t->RecNo >= 1 && t->RecNo <= t->RecCount;
  if (onRecord && whenNeeded && !t->File.Writable()) {
    ++a.KeysMoved;  // every index's key is due
    return;
  }
  const NdxFile* opening = IndexEngine().Opening;
  for (int i = 1; i <= kMaxOrders; ++i) {
    NdxFile* x = a.Opened[static_cast<std::size_t>(i)].get();
    if (!x || x == opening) continue;
    if (!onRecord) {
      std::fill(x->CurKey.begin(), x->CurKey.end(), '\0');
      MarkKeyWorkedOut(*x);
    } else {
      StoreKeyOf(*x, *t);
    }
  }
}

void StoreCurrentKeys() {
  try {
    StoreCurrentKeysRaising();
  } catch (const IndexError&) {
    DispatchPending();
  }
}

}  // namespace vz
