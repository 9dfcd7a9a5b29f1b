#include "views/GridDataLink.h"

#include "views/DataGrid.h"

namespace vz::views {

void TTzGridDataLink::AddMapping(int fieldIndex) {
  if (map_.size() > 16379) throw data::EDatabaseError("Too many columns in grid");
  if (map_.capacity() == 0) map_.reserve(8);
  map_.push_back(fieldIndex);
}

data::TField* TTzGridDataLink::MappedField(int column) const {
  data::TDataSet* d = DataSet();
  if (!d || column < 0 || column >= static_cast<int>(map_.size())) return nullptr;
  const int i = map_[static_cast<std::size_t>(column)];
  if (i < 0 || i >= static_cast<int>(d->Fields().size())) return nullptr;
  return d->Fields()[static_cast<std::size_t>(i)].get();
}

void TTzGridDataLink::ActiveChanged() { grid_->LinkActive(Active()); }
void TTzGridDataLink::DataSetChanged() { grid_->LinkDataChanged(); }
void TTzGridDataLink::DataSetScrolled(int distance) { grid_->LinkScrolled(distance); }
void TTzGridDataLink::RecordChanged(data::TField* field) { grid_->LinkRecordChanged(field); }
void TTzGridDataLink::LayoutChanged() { grid_->LinkLayoutChanged(); }
void TTzGridDataLink::EditingChanged() { grid_->LinkEditingChanged(); }
void TTzGridDataLink::UpdateData() { grid_->LinkUpdateData(); }

}  // namespace vz::views
