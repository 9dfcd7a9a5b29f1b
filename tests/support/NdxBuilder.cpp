#include "tests/support/NdxBuilder.h"

#include <algorithm>
#include <cstring>
#include <deque>

namespace vz::test {

void Put32(Bytes& b, std::size_t offset, std::uint32_t v) {
  if (b.size() < offset + 4) b.resize(offset + 4, 0);
  for (int i = 0; i < 4; ++i) b[offset + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void Put16(Bytes& b, std::size_t offset, std::uint16_t v) {
  if (b.size() < offset + 2) b.resize(offset + 2, 0);
  b[offset] = static_cast<std::uint8_t>(v);
  b[offset + 1] = static_cast<std::uint8_t>(v >> 8);
}

std::uint32_t Get32(const Bytes& b, std::size_t offset) {
  return static_cast<std::uint32_t>(b[offset]) | (static_cast<std::uint32_t>(b[offset + 1]) << 8) |
         (static_cast<std::uint32_t>(b[offset + 2]) << 16) |
         (static_cast<std::uint32_t>(b[offset + 3]) << 24);
}

NdxBuilder::NdxBuilder(char type, int keyLen) : type_(type), keyLen_(keyLen) {}

NdxBuilder& NdxBuilder::Key(const std::string& key, std::int32_t record) {
  std::string k = key.substr(0, static_cast<std::size_t>(keyLen_));
  k.resize(static_cast<std::size_t>(keyLen_), pad_);
  items_.push_back({k, record});
  return *this;
}

NdxBuilder& NdxBuilder::Number(double key, std::int32_t record) {
  std::string k(8, '\0');
  std::memcpy(k.data(), &key, 8);
  items_.push_back({k, record});
  return *this;
}

int NdxBuilder::EntrySizeUsed() const {
  return entrySize_ ? entrySize_ : (keyLen_ + 3) / 4 * 4 + 8;
}

int NdxBuilder::KeysPerNodeUsed() const {
  return keysPerNode_ ? keysPerNode_ : 504 / std::max(1, EntrySizeUsed());
}

Bytes NdxBuilder::Build() const {
  const int es = EntrySizeUsed();
  // Entries of a full node: the right-most child pointer still fits after them.
  const int capacity = std::max(1, 504 / std::max(1, es));
  const int fill = std::max(1, fill_ ? fill_ : std::min(KeysPerNodeUsed(), 504 / std::max(1, es)));
  const bool charKey = type_ == 'C';

  std::vector<Item> items = items_;
  if (sort_) {
    std::stable_sort(items.begin(), items.end(), [&](const Item& a, const Item& b) {
      if (charKey) {
        const int c = std::memcmp(a.key.data(), b.key.data(), a.key.size());
        if (c != 0) return c < 0;
      } else {
        double x, y;
        std::memcpy(&x, a.key.data(), 8);
        std::memcpy(&y, b.key.data(), 8);
        if (x != y) return x < y;
      }
      return a.record < b.record;
    });
  }

  // The tree in memory: each node is its entries (child index or -1, record,
  // key) and, for an interior node, a right-most child index.
  struct Node {
    bool leaf = true;
    std::vector<int> children;  // interior: one per entry plus the right-most
    std::vector<Item> entries;  // leaf: the items; interior: the bounding keys
    std::string max;
    int number = 0;
    int level = 0;
  };
  std::vector<Node> nodes;
  std::vector<int> level;  // node indexes of the current level
  for (std::size_t i = 0; i < items.size() || level.empty(); i += static_cast<std::size_t>(fill)) {
    Node n;
    for (std::size_t j = i; j < std::min(items.size(), i + static_cast<std::size_t>(fill)); ++j)
      n.entries.push_back(items[j]);
    if (!n.entries.empty()) n.max = n.entries.back().key;
    nodes.push_back(n);
    level.push_back(static_cast<int>(nodes.size()) - 1);
    if (items.empty()) break;
  }
  int height = 0;
  while (level.size() > 1) {
    ++height;
    std::vector<int> up;
    const std::size_t per = static_cast<std::size_t>(std::min(fill, capacity)) + 1;
    for (std::size_t i = 0; i < level.size(); i += per) {
      Node n;
      n.leaf = false;
      n.level = height;
      const std::size_t end = std::min(level.size(), i + per);
      for (std::size_t j = i; j < end; ++j) {
        n.children.push_back(level[j]);
        if (j + 1 < end) n.entries.push_back({nodes[static_cast<std::size_t>(level[j])].max, 0});
      }
      n.max = nodes[static_cast<std::size_t>(level[end - 1])].max;
      nodes.push_back(n);
      up.push_back(static_cast<int>(nodes.size()) - 1);
    }
    // A lone child left for the last group would make an interior node
    // without entries: it takes one child from the group before, or joins it.
    if (up.size() > 1 && nodes[static_cast<std::size_t>(up.back())].children.size() == 1) {
      Node& last = nodes[static_cast<std::size_t>(up.back())];
      Node& before = nodes[static_cast<std::size_t>(up[up.size() - 2])];
      if (before.children.size() >= 3) {
        last.children.insert(last.children.begin(), before.children.back());
        last.entries.insert(last.entries.begin(), {before.max, 0});
        before.children.pop_back();
        before.entries.pop_back();
        before.max = nodes[static_cast<std::size_t>(before.children.back())].max;
      } else {
        before.entries.push_back({before.max, 0});
        before.children.push_back(last.children[0]);
        before.max = last.max;
        up.pop_back();
        nodes.pop_back();
      }
    }
    level = up;
  }
  const int root = level[0];

  // Numbering.
  std::vector<int> order;
  {
    std::deque<int> queue{root};
    while (!queue.empty()) {
      const int n = queue.front();
      queue.pop_front();
      order.push_back(n);
      for (int c : nodes[static_cast<std::size_t>(n)].children) queue.push_back(c);
    }
    if (layout_ == Layout::BottomUp) std::reverse(order.begin(), order.end());
  }
  for (std::size_t i = 0; i < order.size(); ++i)
    nodes[static_cast<std::size_t>(order[i])].number = static_cast<int>(i) + 1;

  const std::size_t blocks = order.size() + 1;
  Bytes out((blocks + static_cast<std::size_t>(extraBlocks_)) * 512, 0);
  Put32(out, 0, static_cast<std::uint32_t>(nodes[static_cast<std::size_t>(root)].number));
  Put32(out, 4, static_cast<std::uint32_t>(blocks));
  out[9] = hasLetter_ ? letter_ : static_cast<std::uint8_t>(type_);
  Put16(out, 12, static_cast<std::uint16_t>(keyLen_));
  Put16(out, 14, static_cast<std::uint16_t>(KeysPerNodeUsed()));
  Put16(out, 16, static_cast<std::uint16_t>(hasTypeCode_ ? typeCode_ : (charKey ? 0 : 1)));
  Put16(out, 18, static_cast<std::uint16_t>(es));
  out[23] = unique_;
  std::memcpy(out.data() + 24, expression_.data(), std::min<std::size_t>(expression_.size(), 464));
  if (hasCount_) {
    Put32(out, 488, ~count_);
    Put32(out, 492, count_);
    std::memcpy(out.data() + 496, table_.data(), std::min<std::size_t>(table_.size(), 16));
  }
  for (const Node& n : nodes) {
    if (n.number == 0) continue;
    const std::size_t at = static_cast<std::size_t>(n.number) * 512;
    Put16(out, at, static_cast<std::uint16_t>(n.entries.size()));
    for (std::size_t i = 0; i < n.entries.size(); ++i) {
      const std::size_t e = at + 4 + i * static_cast<std::size_t>(es);
      const std::uint32_t child =
          n.leaf
              ? 0
              : static_cast<std::uint32_t>(nodes[static_cast<std::size_t>(n.children[i])].number);
      Put32(out, e, child);
      Put32(out, e + 4, static_cast<std::uint32_t>(n.entries[i].record));
      std::memcpy(out.data() + e + 8, n.entries[i].key.data(), n.entries[i].key.size());
    }
    if (!n.leaf)
      Put32(out, at + 4 + n.entries.size() * static_cast<std::size_t>(es),
            static_cast<std::uint32_t>(nodes[static_cast<std::size_t>(n.children.back())].number));
  }
  return out;
}

void NdxBuilder::Write(const std::string& path) const {
  WriteFile(path, Build());
}

}  // namespace vz::test
