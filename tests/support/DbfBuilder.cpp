#include "tests/support/DbfBuilder.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

#include "platform/little_endian.h"

namespace vz::test {

DbfBuilder& DbfBuilder::Field(const std::string& name, char type, int len, int dec) {
  fields_.push_back(FieldDef{name, type, len, dec});
  return *this;
}

DbfBuilder& DbfBuilder::Record(const std::vector<std::string>& values, bool deleted) {
  std::string rec(1, deleted ? '*' : ' ');
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    const FieldDef& f = fields_[i];
    std::string v = i < values.size() ? values[i] : std::string();
    if (static_cast<int>(v.size()) > f.len) v.resize(f.len);
    const std::string pad(f.len - v.size(), ' ');
    rec += (f.type == 'N' || f.type == 'F') ? pad + v : v + pad;
  }
  records_.push_back(rec);
  return *this;
}

DbfBuilder& DbfBuilder::RawRecord(const std::string& bytes) {
  records_.push_back(bytes);
  return *this;
}

std::uint16_t DbfBuilder::ComputedRecordLength() const {
  int n = 1;
  for (const FieldDef& f : fields_) n += f.len;
  return static_cast<std::uint16_t>(n);
}

std::uint16_t DbfBuilder::ComputedHeaderLength() const {
  return static_cast<std::uint16_t>(32 + 32 * fields_.size() + 1 + headerPadding_);
}

Bytes DbfBuilder::Build() const {
  Bytes out(32, 0);
  out[0] = version_;
  out[1] = static_cast<std::uint8_t>(date_[0]);
  out[2] = static_cast<std::uint8_t>(date_[1]);
  out[3] = static_cast<std::uint8_t>(date_[2]);
  const std::uint32_t count =
      hasCount_ ? countOverride_ : static_cast<std::uint32_t>(records_.size());
  platform::StoreLe32(&out[4], count);
  const std::uint16_t hl = hasHeaderLen_ ? headerLenOverride_ : ComputedHeaderLength();
  const std::uint16_t rl = hasRecordLen_ ? recordLenOverride_ : ComputedRecordLength();
  platform::StoreLe16(&out[8], hl);
  platform::StoreLe16(&out[10], rl);
  for (const FieldDef& f : fields_) {
    std::uint8_t d[32] = {};
    for (std::size_t i = 0; i < f.name.size() && i < 11; ++i)
      d[i] = static_cast<std::uint8_t>(f.name[i]);
    d[11] = static_cast<std::uint8_t>(f.type);
    d[16] = static_cast<std::uint8_t>(f.len);
    d[17] = static_cast<std::uint8_t>(f.dec);
    out.insert(out.end(), d, d + 32);
  }
  out.push_back(0x0D);
  for (int i = 0; i < headerPadding_; ++i) out.push_back(0);
  for (const std::string& r : records_) out.insert(out.end(), r.begin(), r.end());
  if (eof_) out.push_back(0x1A);
  return out;
}

void DbfBuilder::Write(const std::string& path) const {
  WriteFile(path, Build());
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  if (!f) throw std::runtime_error("cannot write " + path);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void WriteFile(const std::string& path, const std::string& bytes) {
  WriteFile(path, Bytes(bytes.begin(), bytes.end()));
}

Bytes ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error("cannot read " + path);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::string ReadText(const std::string& path) {
  const Bytes b = ReadFile(path);
  return std::string(b.begin(), b.end());
}

}  // namespace vz::test
