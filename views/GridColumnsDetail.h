// What the columns model and its text forms share; for their two units
// only.
#pragma once

#include <QString>
#include <string>

#include "views/GridColumns.h"

namespace vz::views::columns_detail {

// Field names are bytes of the table's character set; they travel through
// QString as Latin-1 so that every byte comes back as it was.
inline QString NameToQString(const std::string& name) {
  return QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
}
inline std::string NameFromQString(const QString& name) {
  return name.toLatin1().toStdString();
}

// Folds the changes made inside it into one report (columns outside a
// collection report nothing).
class UpdateScope {
 public:
  explicit UpdateScope(GridColumns* c) : c_(c) {
    if (c_) c_->BeginUpdate();
  }
  ~UpdateScope() {
    if (c_) c_->EndUpdate();
  }
  UpdateScope(const UpdateScope&) = delete;
  UpdateScope& operator=(const UpdateScope&) = delete;

 private:
  GridColumns* c_;
};

}  // namespace vz::views::columns_detail
