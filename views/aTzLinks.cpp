#include "views/aTzLinks.h"

#include <QWidget>

namespace vz::views {

void TTzFieldDataLink::SetFieldName(const std::string& name) {
  const std::string cut = name.substr(0, 255);
  if (cut == fieldName_) return;
  fieldName_ = cut;
  UpdateField();
}

void TTzFieldDataLink::SetReadOnly(bool on) {
  if (on == data::TDataLink::ReadOnly) return;
  data::TDataLink::ReadOnly = on;
  UpdateEditing();
}

bool TTzFieldDataLink::CanModify() const {
  if (data::TDataLink::ReadOnly) return false;
  data::TField* f = Field();
  if (!f || f->ReadOnly()) return false;
  data::TDataSet* d = DataSet();
  return d && d->CanModify();
}

bool TTzFieldDataLink::Edit() {
  if (CanModify()) data::TDataLink::Edit();
  return editing_;
}

void TTzFieldDataLink::Reset() { RecordChanged(nullptr); }

// --- Field resolution ---------------------------------------------------------------------

void TTzFieldDataLink::UpdateField() {
  // The field is always dropped first: its object may be gone with the
  // data set's old layout.
  BindField(nullptr);
  if (Active() && !fieldName_.empty()) BindField(DataSet()->FieldByName(fieldName_));
}

void TTzFieldDataLink::BindField(data::TField* field) {
  if (field == Field()) return;
  SetField(field);
  UpdateEditing();
  RecordChanged(nullptr);
}

void TTzFieldDataLink::UpdateEditing() {
  const bool editing = data::TDataLink::Editing() && CanModify();
  if (editing == editing_) return;
  editing_ = editing;
  modified_ = false;
  if (OnEditingChange) OnEditingChange();
}

// --- Notifications ------------------------------------------------------------------------

void TTzFieldDataLink::ActiveChanged() {
  UpdateField();
  if (OnActiveChange) OnActiveChange();
}

void TTzFieldDataLink::EditingChanged() { UpdateEditing(); }

void TTzFieldDataLink::LayoutChanged() { UpdateField(); }

void TTzFieldDataLink::RecordChanged(data::TField* field) {
  if (field && field != Field()) return;
  if (OnDataChange) OnDataChange();
  modified_ = false;
}

void TTzFieldDataLink::UpdateData() {
  if (!modified_) return;
  if (Field() && OnUpdateData) OnUpdateData();
  modified_ = false;
}

void TTzFieldDataLink::FocusControl(data::TField* field) {
  if (!field || field != Field() || !control_) return;
  const bool canFocus = control_->isVisible() && control_->isEnabled() &&
                        control_->focusPolicy() != Qt::NoFocus;
  if (canFocus) control_->setFocus(Qt::OtherFocusReason);
}

}  // namespace vz::views
