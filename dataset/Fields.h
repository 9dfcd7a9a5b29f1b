// Field objects of the data-access framework: one per column of a dataset,
// reading and writing the value in the dataset's active record buffer, with
// display and edit text.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace vz::data {

class DataSet;

// A failure of the framework itself (a programming or state error).
class DatabaseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class FieldType { Unknown, String, Integer, Float, Boolean, Date, Memo };
enum class FieldKind { Data, Calculated };

// A field definition: what the dataset's table holds.
struct FieldDef {
  std::string Name;
  FieldType DataType = FieldType::Unknown;
  int Size = 0;     // characters of a string field, else 0
  int FieldNo = 0;  // 1-based
  bool Required = false;
};

// The framework's date: a day number counted from 30 December 1899.
using DayNumber = std::int32_t;
inline constexpr std::int64_t kJulianOfDayZero = 2415019;  // 30 December 1899

class Field {
 public:
  Field(FieldType type, const std::string& name, int size);
  virtual ~Field() = default;
  Field(const Field&) = delete;
  Field& operator=(const Field&) = delete;

  const std::string& FieldName() const { return name_; }
  FieldType DataType() const { return type_; }
  FieldKind Kind() const { return kind_; }
  void SetKind(FieldKind k) { kind_ = k; }
  bool Calculated() const { return kind_ == FieldKind::Calculated; }
  int Size() const { return size_; }
  int FieldNo() const { return fieldNo_; }
  void SetFieldNo(int n) { fieldNo_ = n; }
  data::DataSet* DataSet() const { return dataSet_; }
  void SetDataSet(data::DataSet* d) { dataSet_ = d; }
  // Bytes of the value in a record buffer (calculated fields) and as
  // exchanged with GetData / SetData.
  virtual std::size_t DataSize() const = 0;
  // Offset of a calculated field's null byte in the calculated area.
  std::size_t Offset() const { return offset_; }
  void SetOffset(std::size_t o) { offset_ = o; }

  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool r) { readOnly_ = r; }
  bool Visible() const { return visible_; }
  void SetVisible(bool v) { visible_ = v; }
  int DisplayWidth() const { return displayWidth_ > 0 ? displayWidth_ : DefaultWidth(); }
  void SetDisplayWidth(int w) { displayWidth_ = w; }
  const std::string& DisplayLabel() const { return displayLabel_.empty() ? name_ : displayLabel_; }
  void SetDisplayLabel(const std::string& l) { displayLabel_ = l; }
  const std::string& EditMask() const { return editMask_; }
  void SetEditMask(const std::string& m) { editMask_ = m; }
  bool IsDefault() const { return default_; }
  void SetDefault(bool d) { default_ = d; }

  // The value in the active record: false means null.
  bool GetData(void* buffer) const;
  void SetData(const void* buffer);
  bool IsNull() const;
  void Clear() { SetData(nullptr); }

  // Text forms of the value (ANSI).
  virtual std::string AsString() const = 0;
  virtual void SetAsString(const std::string& text) = 0;
  virtual std::string DisplayText() const { return AsString(); }
  virtual std::string EditText() const { return AsString(); }
  virtual void SetEditText(const std::string& text) { SetAsString(text); }
  virtual bool IsBlob() const { return false; }

 protected:
  virtual int DefaultWidth() const { return size_ > 0 ? size_ : 10; }
  void CheckWritable() const;

 private:
  FieldType type_;
  std::string name_;
  int size_;
  int fieldNo_ = 0;
  FieldKind kind_ = FieldKind::Data;
  data::DataSet* dataSet_ = nullptr;
  std::size_t offset_ = 0;
  bool readOnly_ = false;
  bool visible_ = true;
  bool default_ = false;
  int displayWidth_ = 0;
  std::string displayLabel_;
  std::string editMask_;
};

class StringField : public Field {
 public:
  StringField(const std::string& name, int size) : Field(FieldType::String, name, size) {}
  std::size_t DataSize() const override { return static_cast<std::size_t>(Size()) + 1; }
  std::string AsString() const override;
  void SetAsString(const std::string& text) override;
};

class IntegerField : public Field {
 public:
  explicit IntegerField(const std::string& name) : Field(FieldType::Integer, name, 0) {}
  std::size_t DataSize() const override { return 4; }
  std::int32_t AsInteger() const;
  void SetAsInteger(std::int32_t v);
  std::string AsString() const override;
  void SetAsString(const std::string& text) override;

 protected:
  int DefaultWidth() const override { return 11; }
};

class FloatField : public Field {
 public:
  explicit FloatField(const std::string& name) : Field(FieldType::Float, name, 0) {}
  std::size_t DataSize() const override { return 8; }
  double AsFloat() const;
  void SetAsFloat(double v);
  int Precision() const { return precision_; }
  void SetPrecision(int p) { precision_ = p; }
  std::string AsString() const override;
  void SetAsString(const std::string& text) override;

 protected:
  int DefaultWidth() const override { return precision_ + 1; }

 private:
  int precision_ = 15;
};

class BooleanField : public Field {
 public:
  explicit BooleanField(const std::string& name) : Field(FieldType::Boolean, name, 0) {}
  std::size_t DataSize() const override { return 2; }
  bool AsBoolean() const;
  void SetAsBoolean(bool v);
  std::string AsString() const override;
  void SetAsString(const std::string& text) override;

 protected:
  int DefaultWidth() const override { return 5; }
};

class DateField : public Field {
 public:
  explicit DateField(const std::string& name) : Field(FieldType::Date, name, 0) {}
  std::size_t DataSize() const override { return 4; }
  DayNumber AsDate() const;
  void SetAsDate(DayNumber d);
  // The date in the runtime's short date format ("" for null).
  std::string AsString() const override;
  void SetAsString(const std::string& text) override;

 protected:
  int DefaultWidth() const override { return 10; }
};

class MemoField : public Field {
 public:
  explicit MemoField(const std::string& name) : Field(FieldType::Memo, name, 0) {}
  std::size_t DataSize() const override { return 4; }
  bool IsBlob() const override { return true; }
  // The whole text, read through a blob stream.
  std::string AsString() const override;
  void SetAsString(const std::string& text) override;
  std::string DisplayText() const override { return "(Memo)"; }

 protected:
  int DefaultWidth() const override { return 10; }
};

// Makes the framework's default field object for a definition.
std::unique_ptr<Field> MakeField(const FieldDef& def);

// Day numbers and calendar dates.
DayNumber DayNumberOf(int year, int month, int day);
void CalendarOf(DayNumber d, int& year, int& month, int& day);
// A date as text in a short date pattern ("MM/dd/yy", "dd.MM.yyyy", ...).
std::string FormatDate(DayNumber d, const std::string& pattern);
// Reads a date in a short date pattern; false when the text is no date.
bool ParseDate(const std::string& text, const std::string& pattern, DayNumber& d);
// The runtime's short date pattern that date fields show (the table
// component sets it from the engine's date format).
void SetShortDatePattern(const std::string& pattern);
// Where ParseDate puts a year written with one or two digits: in the hundred
// years from `firstYear` on (1950 at first: 00 to 49 are 2000 to 2049). The
// table component sets the engine's window, so both read a year alike.
void SetTwoDigitYearBase(int firstYear);
const std::string& GetShortDatePattern();

}  // namespace vz::data
