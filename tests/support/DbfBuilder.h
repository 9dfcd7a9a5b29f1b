// Builds dBase files byte by byte from the format, for tests: independent of
// the engine's own writer, so a test can make exactly the file it wants,
// damaged ones included.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vz::test {

using Bytes = std::vector<std::uint8_t>;

struct FieldDef {
  std::string name;
  char type = 'C';
  int len = 10;
  int dec = 0;
};

class DbfBuilder {
 public:
  DbfBuilder& Version(std::uint8_t v) {
    version_ = v;
    return *this;
  }
  DbfBuilder& Date(int yearsSince1900, int month, int day) {
    date_[0] = yearsSince1900, date_[1] = month, date_[2] = day;
    return *this;
  }
  DbfBuilder& Field(const std::string& name, char type, int len, int dec = 0);
  // A record from one value per field: C, D, L and M values left-aligned,
  // N and F right-aligned, each padded with blanks (or cut) to the field.
  DbfBuilder& Record(const std::vector<std::string>& values, bool deleted = false);
  // A record given as its exact bytes (deletion flag first).
  DbfBuilder& RawRecord(const std::string& bytes);
  // Values written into the prolog instead of the computed ones.
  DbfBuilder& HeaderRecordCount(std::uint32_t n) {
    countOverride_ = n;
    hasCount_ = true;
    return *this;
  }
  DbfBuilder& HeaderLength(std::uint16_t n) {
    headerLenOverride_ = n;
    hasHeaderLen_ = true;
    return *this;
  }
  DbfBuilder& RecordLength(std::uint16_t n) {
    recordLenOverride_ = n;
    hasRecordLen_ = true;
    return *this;
  }
  // Extra bytes after the terminator, inside the header length.
  DbfBuilder& HeaderPadding(int n) {
    headerPadding_ = n;
    return *this;
  }
  DbfBuilder& EndMarker(bool on) {
    eof_ = on;
    return *this;
  }

  std::uint16_t ComputedRecordLength() const;
  std::uint16_t ComputedHeaderLength() const;
  Bytes Build() const;
  void Write(const std::string& path) const;

 private:
  std::uint8_t version_ = 0x03;
  int date_[3] = {126, 12, 7};
  std::vector<FieldDef> fields_;
  std::vector<std::string> records_;
  std::uint32_t countOverride_ = 0;
  bool hasCount_ = false;
  std::uint16_t headerLenOverride_ = 0;
  bool hasHeaderLen_ = false;
  std::uint16_t recordLenOverride_ = 0;
  bool hasRecordLen_ = false;
  int headerPadding_ = 0;
  bool eof_ = true;
};

void WriteFile(const std::string& path, const Bytes& bytes);
void WriteFile(const std::string& path, const std::string& bytes);
Bytes ReadFile(const std::string& path);
std::string ReadText(const std::string& path);

}  // namespace vz::test
