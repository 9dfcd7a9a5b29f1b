// Data sources and data links: how controls follow a dataset. A data
// source connects one dataset to any number of links; each link says how
// many records it wants in its window (BufferCount) and is told what
// happens to the dataset.
#pragma once

#include <cstdint>
#include <vector>

#include "dataset/DataSet.h"

namespace vz::data {

class DataSource {
 public:
  DataSource() = default;
  ~DataSource();
  DataSource(const data::DataSource&) = delete;
  data::DataSource& operator=(const data::DataSource&) = delete;

  data::DataSet* DataSet() const { return dataSet_; }
  void SetDataSet(data::DataSet* d);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool e);
  bool AutoEdit = true;
  DataSetState State() const;

  void AddLink(DataLink* l);
  void RemoveLink(DataLink* l);
  const std::vector<DataLink*>& Links() const { return links_; }
  void Notify(DataEvent e, std::intptr_t info);

 private:
  data::DataSet* dataSet_ = nullptr;
  bool enabled_ = true;
  std::vector<DataLink*> links_;
};

class DataLink {
 public:
  DataLink() = default;
  virtual ~DataLink();
  DataLink(const DataLink&) = delete;
  DataLink& operator=(const DataLink&) = delete;

  data::DataSource* DataSource() const { return source_; }
  void SetDataSource(data::DataSource* s);
  data::DataSet* DataSet() const { return source_ ? source_->DataSet() : nullptr; }
  bool Active() const { return active_; }
  bool Editing() const { return editing_; }
  int BufferCount() const { return bufferCount_; }
  void SetBufferCount(int n);
  // The link's window in the dataset's buffers.
  int FirstRecord() const { return firstRecord_; }
  // The active record's row in the link's window.
  int ActiveRecord() const;
  void SetActiveRecord(int row);
  // Rows of the link's window that hold records.
  int RecordCount() const;
  // Puts the dataset into edit state when the source allows it.
  bool Edit();
  void UpdateRecord();
  bool ReadOnly = false;

  // Called by the data source.
  void DataEvent(DataEvent e, std::intptr_t info);

 protected:
  virtual void ActiveChanged() {}
  virtual void DataSetChanged() { RecordChanged(nullptr); }
  virtual void DataSetScrolled(int distance) {
    (void)distance;
    DataSetChanged();
  }
  virtual void RecordChanged(Field* field) { (void)field; }
  virtual void LayoutChanged() { DataSetChanged(); }
  virtual void EditingChanged() {}
  virtual void UpdateData() {}
  virtual void FocusControl(Field* field) { (void)field; }
  virtual void CheckBrowseMode() {}

 private:
  void UpdateRange();
  void SetActive(bool on);
  void SetEditing(bool on);

  data::DataSource* source_ = nullptr;
  bool active_ = false;
  bool editing_ = false;
  bool updating_ = false;
  int bufferCount_ = 1;
  int firstRecord_ = 0;
};

}  // namespace vz::data
