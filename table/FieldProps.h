// The fields of an open table as the table component sees them: name,
// type, length, decimals and the place of each in the engine's native
// record.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vz {

// One table field as the field properties know it.
struct TableField {
  std::string Name;
  char Type = 'C';
  int Length = 0;
  int Decimals = 0;
  int Offset = 0;  // of its slot in the native record (the deleted flag is 0)
};

// The fields of the open table, over the engine's native record.
class FieldProps {
 public:
  explicit FieldProps(int workArea);
  int Count() const { return static_cast<int>(fields_.size()); }
  const TableField& At(int i) const { return fields_[static_cast<std::size_t>(i - 1)]; }  // 1-based
  std::string Name(int i) const { return At(i).Name; }
  char Type(int i) const { return At(i).Type; }
  int Length(int i) const { return At(i).Length; }
  int Decimals(int i) const { return At(i).Decimals; }
  // Slot i of the native record (0: the deleted flag).
  std::uint8_t* Address(int i) const;
  // The number of the field with that name (letter case aside), or 0.
  int Number(const std::string& name) const;

 private:
  int area_;
  std::vector<TableField> fields_;
};

}  // namespace vz
