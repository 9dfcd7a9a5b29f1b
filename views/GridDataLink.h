// The data-bound grid's link to its data source: it passes the data set's
// notifications on to the grid and holds the grid's field map.
#pragma once

#include <vector>

#include "dataset/DataSource.h"

namespace vz::views {

class DataGrid;

class GridDataLink : public data::DataLink {
 public:
  explicit GridDataLink(DataGrid* grid) : grid_(grid) {}
  // The field map: one field index (into the data set's field list) per
  // data column; -1 for a column without a field.
  const std::vector<int>& FieldMap() const { return map_; }
  void ClearMapping() { map_.clear(); }
  void AddMapping(int fieldIndex);
  bool DefaultFields() const { return defaultFields_; }
  void SetDefaultFields(bool d) { defaultFields_ = d; }
  data::Field* MappedField(int column) const;

 protected:
  void ActiveChanged() override;
  void DataSetChanged() override;
  void DataSetScrolled(int distance) override;
  void RecordChanged(data::Field* field) override;
  void LayoutChanged() override;
  void EditingChanged() override;
  void UpdateData() override;

 private:
  DataGrid* grid_;
  std::vector<int> map_;
  bool defaultFields_ = true;
};

}  // namespace vz::views
