// The link between a data-bound control and one field of a data source.
// It finds the field by name whenever the data set's fields may have
// changed, keeps the control's editing and modified state, and passes the
// data set's notifications on to the control through four handlers.
#pragma once

#include <functional>
#include <string>

#include "dataset/DataSource.h"

class QWidget;

namespace vz::views {

class FieldDataLink : public data::DataLink {
 public:
  using Handler = std::function<void()>;

  FieldDataLink() = default;

  // The field's name (at most 255 characters; longer names are cut).
  // Setting a different name looks the field up again: on an active link a
  // name the data set lacks fails with the data layer's field-not-found
  // error (data::DatabaseError).
  const std::string& FieldName() const { return fieldName_; }
  void SetFieldName(const std::string& name);

  // The control the link serves; a focus request for the link's field
  // moves the focus to it.
  QWidget* Control() const { return control_; }
  void SetControl(QWidget* control) { control_ = control; }

  // The link's own editing flag: the data set is in an editing state and
  // the link can modify the field. (The base class's Editing() tells the
  // data set's state alone.)
  bool Editing() const { return editing_; }
  bool IsModified() const { return modified_; }

  // The field the link is bound to (none: null).
  data::Field* Field() const { return field_; }
  void SetField(data::Field* f) { field_ = f; }

  // A read-only link never starts editing.
  bool ReadOnly() const { return data::DataLink::ReadOnly; }
  void SetReadOnly(bool on);

  // Not read-only, a field is bound, the field itself is writable and its
  // data set accepts changes.
  bool CanModify() const;

  // Asks for edit state: puts the data set into edit state when the link
  // can modify. Returns the editing flag afterwards.
  bool Edit();
  // The control's text differs from the field's now.
  void Modified() { modified_ = true; }
  // Drops the pending change: the control shows the field's text again.
  void Reset();
  // UpdateRecord() of the base class writes a pending change (UpdateData).

  Handler OnDataChange;     // the record (or the link's field in it) changed
  Handler OnEditingChange;  // the editing flag changed
  Handler OnUpdateData;     // write the control's text to the field
  Handler OnActiveChange;   // the link became active or inactive

 protected:
  void ActiveChanged() override;
  void EditingChanged() override;
  void FocusControl(data::Field* field) override;
  void LayoutChanged() override;
  void RecordChanged(data::Field* field) override;
  void UpdateData() override;

 private:
  void UpdateField();
  void BindField(data::Field* field);
  void UpdateEditing();

  std::string fieldName_;
  data::Field* field_ = nullptr;
  QWidget* control_ = nullptr;
  bool editing_ = false;
  bool modified_ = false;
};

}  // namespace vz::views
