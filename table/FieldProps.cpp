#include "table/FieldProps.h"

#include "engine/dbf.h"
#include "engine/dbf_file.h"
#include "engine/trim.h"
#include "platform/codepage.h"

namespace vz {

FieldProps::FieldProps(int workArea) : area_(workArea) {
  const vz::WorkArea* a = workArea >= 1 && workArea <= kMaxAreas
                              ? Engine().Areas.Slot[static_cast<std::size_t>(workArea)].get()
                              : nullptr;
  if (!a) return;
  for (const FieldDesc& f : a->Fields)
    fields_.push_back(TableField{f.Name, f.Type, f.Len, f.Dec, static_cast<int>(f.NativeOffset)});
}

std::uint8_t* FieldProps::Address(int i) const {
  vz::WorkArea* a = area_ >= 1 && area_ <= kMaxAreas
                        ? Engine().Areas.Slot[static_cast<std::size_t>(area_)].get()
                        : nullptr;
  if (!a || !a->NativeBuffer || i < 0 || i > Count()) return nullptr;
  return HandOutNative(*a) + (i == 0 ? 0 : At(i).Offset);
}

int FieldProps::Number(const std::string& name) const {
  const std::string wanted = platform::AnsiUpper(name);
  for (int i = 1; i <= Count(); ++i)
    if (platform::AnsiUpper(At(i).Name) == wanted) return i;
  return 0;
}

}  // namespace vz
