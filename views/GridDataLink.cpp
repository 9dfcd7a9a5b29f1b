#include "views/GridDataLink.h"

#include "views/DataGrid.h"

namespace vz::views {

void GridDataLink::AddMapping(int fieldIndex) {
  if (map_.size() > 16379) throw data::DatabaseError("Too many columns in grid");
  if (map_.capacity() == 0) map_.reserve(8);
  map_.push_back(fieldIndex);
}

data::Field* GridDataLink::MappedField(int column) const {
  data::DataSet* d = DataSet();
  if (!d || column < 0 || column >= static_cast<int>(map_.size())) return nullptr;
  const int i = map_[static_cast<std::size_t>(column)];
  if (i < 0 || i >= static_cast<int>(d->Fields().size())) return nullptr;
  return d->Fields()[static_cast<std::size_t>(i)].get();
}

void GridDataLink::ActiveChanged() {
  grid_->LinkActive(Active());
}
void GridDataLink::DataSetChanged() {
  grid_->LinkDataChanged();
}
void GridDataLink::DataSetScrolled(int distance) {
  grid_->LinkScrolled(distance);
}
void GridDataLink::RecordChanged(data::Field* field) {
  grid_->LinkRecordChanged(field);
}
void GridDataLink::LayoutChanged() {
  grid_->LinkLayoutChanged();
}
void GridDataLink::EditingChanged() {
  grid_->LinkEditingChanged();
}
void GridDataLink::UpdateData() {
  grid_->LinkUpdateData();
}

}  // namespace vz::views
