#include "views/FieldDataLink.h"

#include <QWidget>

namespace vz::views {

void FieldDataLink::SetFieldName(const std::string& name) {
  const std::string cut = name.substr(0, 255);
  if (cut == fieldName_) return;
  fieldName_ = cut;
  UpdateField();
}

void FieldDataLink::SetReadOnly(bool on) {
  if (on == data::DataLink::ReadOnly) return;
  data::DataLink::ReadOnly = on;
  UpdateEditing();
}

bool FieldDataLink::CanModify() const {
  if (data::DataLink::ReadOnly) return false;
  data::Field* f = Field();
  if (!f || f->ReadOnly()) return false;
  data::DataSet* d = DataSet();
  return d && d->CanModify();
}

bool FieldDataLink::Edit() {
  if (CanModify()) data::DataLink::Edit();
  return editing_;
}

void FieldDataLink::Reset() {
  RecordChanged(nullptr);
}

// --- Field resolution ---------------------------------------------------------------------

void FieldDataLink::UpdateField() {
  // The field is always dropped first: its object may be gone with the
  // data set's old layout.
  BindField(nullptr);
  if (Active() && !fieldName_.empty()) BindField(DataSet()->FieldByName(fieldName_));
}

void FieldDataLink::BindField(data::Field* field) {
  if (field == Field()) return;
  SetField(field);
  UpdateEditing();
  RecordChanged(nullptr);
}

void FieldDataLink::UpdateEditing() {
  const bool editing = data::DataLink::Editing() && CanModify();
  if (editing == editing_) return;
  editing_ = editing;
  modified_ = false;
  if (OnEditingChange) OnEditingChange();
}

// --- Notifications ------------------------------------------------------------------------

void FieldDataLink::ActiveChanged() {
  UpdateField();
  if (OnActiveChange) OnActiveChange();
}

void FieldDataLink::EditingChanged() {
  UpdateEditing();
}

void FieldDataLink::LayoutChanged() {
  UpdateField();
}

void FieldDataLink::RecordChanged(data::Field* field) {
  if (field && field != Field()) return;
  if (OnDataChange) OnDataChange();
  modified_ = false;
}

void FieldDataLink::UpdateData() {
  if (!modified_) return;
  if (Field() && OnUpdateData) OnUpdateData();
  modified_ = false;
}

void FieldDataLink::FocusControl(data::Field* field) {
  if (!field || field != Field() || !control_) return;
  const bool canFocus =
      control_->isVisible() && control_->isEnabled() && control_->focusPolicy() != Qt::NoFocus;
  if (canFocus) control_->setFocus(Qt::OtherFocusReason);
}

}  // namespace vz::views
