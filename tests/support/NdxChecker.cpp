#include "tests/support/NdxChecker.h"

#include <cmath>
#include <cstring>
#include <functional>
#include <set>
#include <sstream>

namespace vz::test {
namespace {

constexpr std::size_t kBlock = 512;
constexpr int kDepthLimit = 64;

std::uint32_t Get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t Get16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

double AsDouble(const std::string& key) {
  double d = 0;
  if (key.size() >= 8) std::memcpy(&d, key.data(), 8);
  return d;
}

class Checker {
 public:
  Checker(const Bytes& file, const NdxCheckOptions& options, NdxReport& report)
      : file_(file), o_(options), r_(report) {}

  void Run() {
    r_.FileSize = file_.size();
    if (file_.size() < 2 * kBlock) {
      Problem("the file holds " + std::to_string(file_.size()) +
              " bytes, less than an anchor and a node");
      return;
    }
    if (!ReadAnchor()) return;
    WalkFromRoot();
    CheckRecords();
  }

 private:
  void Problem(const std::string& text) { r_.Problems.push_back(text); }

  bool ReadAnchor() {
    const std::uint8_t* a = file_.data();
    r_.Root = static_cast<std::int32_t>(Get32(a));
    r_.NextFree = static_cast<std::int32_t>(Get32(a + 4));
    r_.Letter = static_cast<char>(a[9]);
    r_.KeyLen = static_cast<std::int16_t>(Get16(a + 12));
    r_.KeysPerNode = Get16(a + 14);
    r_.TypeCode = Get16(a + 16);
    r_.EntrySize = Get16(a + 18);
    r_.UniqueByte = a[23];
    r_.StoredComplement = Get32(a + 488);
    r_.StoredCount = Get32(a + 492);

    // The expression: NUL-terminated within 100 bytes.
    const std::uint8_t* e = a + 24;
    std::size_t len = 0;
    while (len < 101 && e[len] != 0) ++len;
    if (len > 100) Problem("the key expression is not NUL-terminated within 100 bytes");
    r_.Expression.assign(reinterpret_cast<const char*>(e), std::min<std::size_t>(len, 100));
    if (NormalExpression(r_.Expression) != r_.Expression)
      Problem("the key expression is not in normal form: " + r_.Expression);
    if (!o_.Expression.empty() && r_.Expression != o_.Expression)
      Problem("the key expression is " + r_.Expression + ", expected " + o_.Expression);

    // The table name: NUL-terminated within 12 bytes, upper case.
    const std::uint8_t* t = a + 496;
    std::size_t tl = 0;
    while (tl < 13 && t[tl] != 0) ++tl;
    if (tl > 12) Problem("the table name is not NUL-terminated within 12 bytes");
    r_.Table.assign(reinterpret_cast<const char*>(t), std::min<std::size_t>(tl, 12));
    for (char c : r_.Table)
      if (c >= 'a' && c <= 'z') Problem("the table name is not upper-cased: " + r_.Table);
    if (!o_.Table.empty() && r_.Table != o_.Table)
      Problem("the table name is " + r_.Table + ", expected " + o_.Table);

    if (o_.AnchorCount >= 0) {
      if (r_.StoredCount != static_cast<std::uint32_t>(o_.AnchorCount))
        Problem("the anchor's record count is " + std::to_string(r_.StoredCount) + ", expected " +
                std::to_string(o_.AnchorCount));
      if (r_.StoredComplement != static_cast<std::uint32_t>(~r_.StoredCount))
        Problem("the bytes at 488 are not the complement of the record count");
    }

    bool usable = true;
    const char L = r_.Letter;
    if (L != 'C' && L != 'N' && L != 'F' && L != 'D')
      Problem(std::string("unknown key type letter ") +
              std::to_string(static_cast<int>(static_cast<unsigned char>(L))));
    if (r_.KeyLen < 1 || r_.KeyLen > 100) {
      Problem("key length " + std::to_string(r_.KeyLen) + " outside 1 to 100");
      usable = false;
    }
    if ((L == 'N' || L == 'F' || L == 'D') && r_.KeyLen != 8) {
      Problem("a numeric or date key must be 8 bytes long, not " + std::to_string(r_.KeyLen));
      usable = false;
    }
    const int wantCode = L == 'C' ? 0 : 1;
    if (r_.TypeCode != wantCode)
      Problem("key type code " + std::to_string(r_.TypeCode) + " does not match the letter");
    if (usable) {
      const int wantEntry = (r_.KeyLen + 3) / 4 * 4 + 8;
      if (r_.EntrySize != wantEntry)
        Problem("entry size " + std::to_string(r_.EntrySize) + ", expected " +
                std::to_string(wantEntry));
      if (r_.EntrySize >= 12 && r_.KeysPerNode != 504 / r_.EntrySize)
        Problem("keys per node " + std::to_string(r_.KeysPerNode) + ", expected " +
                std::to_string(504 / std::max(1, r_.EntrySize)));
    }
    if (r_.EntrySize < r_.KeyLen + 8 || r_.KeysPerNode < 1 ||
        4 + r_.KeysPerNode * r_.EntrySize + 4 > static_cast<int>(kBlock)) {
      Problem("entry size and keys per node do not fit a node");
      usable = false;
    }
    if (r_.UniqueByte != 0 && r_.UniqueByte != 1)
      Problem("unique flag " + std::to_string(r_.UniqueByte) + " is neither 0 nor 1");

    const std::uint64_t blocks = file_.size() / kBlock;
    if (file_.size() % kBlock != 0) Problem("the file size is not a multiple of 512");
    if (r_.NextFree < 2 || static_cast<std::uint64_t>(r_.NextFree) > blocks) {
      Problem("next free " + std::to_string(r_.NextFree) + " is outside the file's " +
              std::to_string(blocks) + " blocks");
      usable = false;
    } else if (o_.ExactSize && static_cast<std::uint64_t>(r_.NextFree) != blocks) {
      Problem("next free " + std::to_string(r_.NextFree) + " but the file holds " +
              std::to_string(blocks) + " blocks");
    }
    if (r_.Root < 1 || r_.Root >= r_.NextFree) {
      Problem("root " + std::to_string(r_.Root) + " is not a node below next free");
      usable = false;
    }
    return usable;
  }

  const std::uint8_t* Node(std::int32_t n) const {
    return file_.data() + static_cast<std::size_t>(n) * kBlock;
  }
  const std::uint8_t* Entry(const std::uint8_t* node, int i) const {
    return node + 4 + static_cast<std::size_t>(i) * static_cast<std::size_t>(r_.EntrySize);
  }
  std::string KeyAt(const std::uint8_t* entry) const {
    return std::string(reinterpret_cast<const char*>(entry + 8),
                       static_cast<std::size_t>(r_.KeyLen));
  }

  int Compare(const std::string& a, const std::string& b) const {
    if (r_.CharKeys()) {
      const int c = std::memcmp(a.data(), b.data(), static_cast<std::size_t>(r_.KeyLen));
      return c < 0 ? -1 : c > 0 ? 1 : 0;
    }
    const double x = AsDouble(a), y = AsDouble(b);
    return x < y ? -1 : x > y ? 1 : 0;
  }

  std::string Shown(const std::string& key) const {
    if (!r_.CharKeys()) {
      std::ostringstream s;
      s << AsDouble(key);
      return s.str();
    }
    std::string out;
    for (unsigned char c : key) {
      if (c >= 0x20 && c < 0x7F) {
        out += static_cast<char>(c);
      } else {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\x%02x", c);
        out += buf;
      }
    }
    return out;
  }

  std::string Where(std::int32_t n) const { return "node " + std::to_string(n) + ": "; }

  // The range of keys of a subtree; empty when it holds no entry.
  struct Range {
    bool any = false;
    std::string min, max;
  };

  void WalkFromRoot() {
    Walk(r_.Root, 0);
    if (o_.AllReachable) {
      for (std::int32_t n = 1; n < r_.NextFree; ++n)
        if (!seen_.count(n)) Problem(Where(n) + "not reached from the root");
    }
  }

  Range Walk(std::int32_t n, int depth) {
    Range range;
    if (depth > kDepthLimit) {
      Problem(Where(n) + "deeper than " + std::to_string(kDepthLimit) + " levels");
      return range;
    }
    if (!seen_.insert(n).second) {
      Problem(Where(n) + "reached a second time (a cycle or a node shared by two parents)");
      return range;
    }
    r_.NodeOrder.push_back(n);
    const std::uint8_t* node = Node(n);
    const int count = Get16(node);
    if (node[2] != 0 || node[3] != 0) Problem(Where(n) + "bytes 2 and 3 are not zero");
    if (count > r_.KeysPerNode) {
      Problem(Where(n) + std::to_string(count) + " entries, more than the " +
              std::to_string(r_.KeysPerNode) + " a node holds");
      return range;
    }
    const bool leaf = count == 0 ? Get32(node + 4) == 0 : Get32(Entry(node, 0)) == 0;
    if (leaf) {
      ++r_.Leaves;
      if (r_.Leaves == 1) r_.MinLeafDepth = r_.MaxLeafDepth = depth;
      r_.MinLeafDepth = std::min(r_.MinLeafDepth, depth);
      r_.MaxLeafDepth = std::max(r_.MaxLeafDepth, depth);
      if (count == 0 && n != r_.Root && !o_.AllowEmptyLeaves) Problem(Where(n) + "an empty leaf");
      for (int i = 0; i < count; ++i) {
        const std::uint8_t* e = Entry(node, i);
        if (Get32(e) != 0) Problem(Where(n) + "leaf entry " + std::to_string(i) + " has a child");
        const std::int32_t rec = static_cast<std::int32_t>(Get32(e + 4));
        if (rec < 1)
          Problem(Where(n) + "record number " + std::to_string(rec) + " in entry " +
                  std::to_string(i));
        CheckPadding(n, e, i);
        NdxCheckedEntry entry;
        entry.Record = rec;
        entry.Key = KeyAt(e);
        if (!r_.CharKeys() && std::isnan(entry.Number()))
          Problem(Where(n) + "a key that is not a number");
        Append(n, entry);
        if (!range.any) range.min = entry.Key;
        range.max = entry.Key;
        range.any = true;
      }
      return range;
    }
    ++r_.Interiors;
    if (count == 0) {
      Problem(Where(n) + "an interior node without entries");
      return range;
    }
    std::string bound;  // the key of the previous interior entry
    bool haveBound = false;
    for (int i = 0; i <= count; ++i) {
      const std::uint8_t* e = Entry(node, i);
      const std::int32_t child = static_cast<std::int32_t>(Get32(e));
      if (child < 1 || child >= r_.NextFree) {
        Problem(Where(n) + "child " + std::to_string(child) + " of entry " + std::to_string(i) +
                " is not a node below next free");
        continue;
      }
      const Range sub = Walk(child, depth + 1);
      if (i < count) {
        const std::string key = KeyAt(e);
        if (o_.ZeroPadding && Get32(e + 4) != 0)
          Problem(Where(n) + "interior entry " + std::to_string(i) + " has record number " +
                  std::to_string(Get32(e + 4)));
        CheckPadding(n, e, i);
        if (sub.any && Compare(key, sub.max) < 0)
          Problem(Where(n) + "entry " + std::to_string(i) + " key " + Shown(key) +
                  " is below its subtree's " + Shown(sub.max));
        if (haveBound && Compare(key, bound) < 0)
          Problem(Where(n) + "interior keys descend at entry " + std::to_string(i));
        if (haveBound && sub.any && Compare(sub.min, bound) < 0)
          Problem(Where(n) + "child of entry " + std::to_string(i) + " holds " + Shown(sub.min) +
                  ", below the previous entry's key " + Shown(bound));
        bound = key;
        haveBound = true;
      } else if (haveBound && sub.any && Compare(sub.min, bound) < 0) {
        Problem(Where(n) + "the right-most child holds " + Shown(sub.min) +
                ", below the last key " + Shown(bound));
      }
      if (sub.any) {
        if (!range.any) range.min = sub.min;
        range.max = sub.max;
        range.any = true;
      }
    }
    return range;
  }

  void CheckPadding(std::int32_t n, const std::uint8_t* e, int i) {
    if (!o_.ZeroPadding) return;
    for (int b = 8 + r_.KeyLen; b < r_.EntrySize; ++b)
      if (e[b] != 0) {
        Problem(Where(n) + "entry " + std::to_string(i) + " is not zero-padded after its key");
        return;
      }
  }

  void Append(std::int32_t n, const NdxCheckedEntry& entry) {
    if (!r_.Entries.empty()) {
      const NdxCheckedEntry& prev = r_.Entries.back();
      const int c = Compare(prev.Key, entry.Key);
      if (c > 0) {
        Problem(Where(n) + "key " + Shown(entry.Key) + " (record " + std::to_string(entry.Record) +
                ") follows the greater " + Shown(prev.Key));
      } else if (c == 0) {
        if (r_.UniqueByte != 0)
          Problem(Where(n) + "a unique index holds the key " + Shown(entry.Key) + " twice");
        if (entry.Record <= prev.Record)
          Problem(Where(n) + "equal keys " + Shown(entry.Key) + " with records " +
                  std::to_string(prev.Record) + " then " + std::to_string(entry.Record));
      }
    }
    r_.Entries.push_back(entry);
  }

  void CheckRecords() {
    std::map<std::int32_t, int> seen;
    for (const NdxCheckedEntry& e : r_.Entries) ++seen[e.Record];
    std::map<std::int32_t, int> want = o_.Occurrences;
    if (want.empty() && o_.Records >= 0)
      for (std::int32_t r = 1; r <= o_.Records; ++r) want[r] = 1;
    if (want.empty() && o_.Records < 0) return;
    for (const auto& [rec, times] : want) {
      const auto it = seen.find(rec);
      const int got = it == seen.end() ? 0 : it->second;
      if (got != times)
        Problem("record " + std::to_string(rec) + " appears " + std::to_string(got) +
                " times, expected " + std::to_string(times));
    }
    for (const auto& [rec, times] : seen)
      if (!want.count(rec))
        Problem("record " + std::to_string(rec) + " appears " + std::to_string(times) +
                " times, expected none");
  }

  const Bytes& file_;
  const NdxCheckOptions& o_;
  NdxReport& r_;
  std::set<std::int32_t> seen_;
};

}  // namespace

double NdxCheckedEntry::Number() const {
  return AsDouble(Key);
}

bool NdxReport::CharKeys() const {
  if (Letter == 'C') return true;
  if (Letter == 'N' || Letter == 'F' || Letter == 'D') return false;
  return TypeCode == 0;
}

std::string NdxReport::Text() const {
  std::string out;
  for (const std::string& p : Problems) out += p + "\n";
  return out;
}

std::vector<std::int32_t> NdxReport::Records() const {
  std::vector<std::int32_t> out;
  for (const NdxCheckedEntry& e : Entries) out.push_back(e.Record);
  return out;
}

NdxReport CheckNdx(const Bytes& file, const NdxCheckOptions& options) {
  NdxReport report;
  Checker(file, options, report).Run();
  return report;
}

NdxReport CheckNdxFile(const std::string& path, const NdxCheckOptions& options) {
  return CheckNdx(ReadFile(path), options);
}

std::string NormalExpression(const std::string& text) {
  std::string out;
  char quote = 0;
  for (char c : text) {
    if (quote) {
      out += c == quote ? '"' : c;
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
      out += '"';
    } else if (c == ' ' || c == '\t') {
      continue;
    } else {
      out += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
  }
  return out;
}

}  // namespace vz::test
