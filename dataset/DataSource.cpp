#include "dataset/DataSource.h"

#include <algorithm>

namespace vz::data {

DataSource::~DataSource() {
  for (DataLink* l : std::vector<DataLink*>(links_)) l->SetDataSource(nullptr);
  SetDataSet(nullptr);
}

void DataSource::SetDataSet(data::DataSet* d) {
  if (d == dataSet_) return;
  if (dataSet_) dataSet_->RemoveDataSource(this);
  dataSet_ = d;
  if (dataSet_) {
    dataSet_->AddDataSource(this);
    dataSet_->UpdateBufferCount();
  }
  Notify(DataEvent::ActiveChange, 0);
}

void DataSource::SetEnabled(bool e) {
  if (e == enabled_) return;
  enabled_ = e;
  Notify(DataEvent::ActiveChange, 0);
}

DataSetState DataSource::State() const {
  return dataSet_ && enabled_ ? dataSet_->State() : DataSetState::Inactive;
}

void DataSource::AddLink(DataLink* l) {
  if (std::find(links_.begin(), links_.end(), l) == links_.end()) links_.push_back(l);
  if (dataSet_) dataSet_->UpdateBufferCount();
}

void DataSource::RemoveLink(DataLink* l) {
  links_.erase(std::remove(links_.begin(), links_.end(), l), links_.end());
  if (dataSet_) dataSet_->UpdateBufferCount();
}

void DataSource::Notify(DataEvent e, std::intptr_t info) {
  for (DataLink* l : std::vector<DataLink*>(links_)) {
    // A link may have left during an earlier notification.
    if (std::find(links_.begin(), links_.end(), l) != links_.end()) l->DataEvent(e, info);
  }
}

DataLink::~DataLink() {
  SetDataSource(nullptr);
}

void DataLink::SetDataSource(data::DataSource* s) {
  if (s == source_) return;
  if (source_) source_->RemoveLink(this);
  source_ = s;
  if (source_) source_->AddLink(this);
  firstRecord_ = 0;
  UpdateRange();
  SetActive(source_ && source_->State() != DataSetState::Inactive);
}

void DataLink::SetBufferCount(int n) {
  if (n < 1) n = 1;
  if (n == bufferCount_) return;
  bufferCount_ = n;
  if (data::DataSet* d = DataSet()) d->UpdateBufferCount();
  UpdateRange();
}

int DataLink::ActiveRecord() const {
  const data::DataSet* d = DataSet();
  if (!d || !active_) return 0;
  return std::max(0, d->ActiveRecord() - firstRecord_);
}

void DataLink::SetActiveRecord(int row) {
  if (data::DataSet* d = DataSet()) d->SetActiveRecordFor(firstRecord_ + row);
}

int DataLink::RecordCount() const {
  const data::DataSet* d = DataSet();
  if (!d || !active_) return 0;
  return std::max(0, std::min(bufferCount_, d->WindowRecordCount() - firstRecord_));
}

bool DataLink::Edit() {
  data::DataSet* d = DataSet();
  if (!d || ReadOnly) return false;
  if (source_->AutoEdit && d->State() == DataSetState::Browse) d->Edit();
  return d->State() == DataSetState::Edit || d->State() == DataSetState::Insert;
}

void DataLink::UpdateRecord() {
  updating_ = true;
  try {
    UpdateData();
  } catch (...) {
    updating_ = false;
    throw;
  }
  updating_ = false;
}

void DataLink::UpdateRange() {
  const data::DataSet* d = DataSet();
  if (!d || !d->Active()) {
    firstRecord_ = 0;
    return;
  }
  const int active = d->ActiveRecord();
  int lo = active - bufferCount_ + 1;
  if (lo < 0) lo = 0;
  int hi = d->BufferCount() - bufferCount_;
  if (hi < 0) hi = 0;
  if (hi > active) hi = active;
  if (firstRecord_ < lo) firstRecord_ = lo;
  if (firstRecord_ > hi) firstRecord_ = hi;
}

void DataLink::SetActive(bool on) {
  if (on == active_) return;
  active_ = on;
  if (on)
    UpdateRange();
  else
    firstRecord_ = 0;
  ActiveChanged();
}

void DataLink::SetEditing(bool on) {
  if (on == editing_) return;
  editing_ = on;
  EditingChanged();
}

void DataLink::DataEvent(vz::data::DataEvent e, std::intptr_t info) {
  const DataSetState state = source_ ? source_->State() : DataSetState::Inactive;
  if (e == DataEvent::UpdateState || e == DataEvent::ActiveChange) {
    SetActive(state != DataSetState::Inactive);
    SetEditing(state == DataSetState::Edit || state == DataSetState::Insert);
    return;
  }
  if (!active_) return;
  switch (e) {
    case DataEvent::FieldChange:
    case DataEvent::RecordChange:
      if (!updating_) RecordChanged(reinterpret_cast<Field*>(info));
      break;
    case DataEvent::DataSetChange:
      UpdateRange();
      DataSetChanged();
      break;
    case DataEvent::DataSetScroll: {
      const int shift = static_cast<int>(info);
      const int before = firstRecord_;
      firstRecord_ -= shift;
      UpdateRange();
      DataSetScrolled(firstRecord_ + shift - before);
      break;
    }
    case DataEvent::LayoutChange:
      UpdateRange();
      LayoutChanged();
      break;
    case DataEvent::UpdateRecord: UpdateRecord(); break;
    case DataEvent::CheckBrowseMode: CheckBrowseMode(); break;
    case DataEvent::FocusControl: FocusControl(reinterpret_cast<Field*>(info)); break;
    default: break;
  }
}

}  // namespace vz::data
