// The data-bound grid's columns: the collection a grid owns (GridColumns),
// its columns (GridColumn) with their titles (ColumnTitle), and the kind
// the grid generates for default columns (PassthroughColumn with its
// PassthroughColumnTitle).
//
// Every display value of a column is either assigned (set explicitly, with
// a flag in the column's set of assigned values) or a default taken from
// the grid (or from fixed values when the column belongs to no grid). A
// getter returns the assigned value when its flag is set, else the default.
// A setter given the value already assigned does nothing; otherwise it
// stores the value, sets the flag and reports the column as changed, which
// lays the grid out again (Width has a rule of its own, see SetWidth).
//
// Columns are persistent (defined by the program and stored with its form)
// or default columns that the grid regenerates from the data set's visible
// fields. Only what differs from the defaults is stored: each property has a
// query (Is...Stored) that tells whether it is, and the collection writes
// and reads back exactly those properties in a small text form
// (GridColumnsText.cpp: with the model, a library of its own).
#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "dataset/DataSet.h"
#include "views/ColumnsOwner.h"

namespace vz::views {

class GridColumns;
class GridColumn;

// Horizontal alignment of a cell's or a title's text.
enum class TextAlignment { taLeftJustify, taRightJustify, taCenter };
Qt::Alignment ToQtAlignment(TextAlignment a);

// The button a cell editor of the column shows: decided by the column
// (pick list: drop-down), an ellipsis button, or none.
enum class ColumnButtonStyle { cbsAuto, cbsEllipsis, cbsNone };

// One flag per value that can be assigned.
enum class ColumnValue {
  cvColor,
  cvWidth,
  cvFont,
  cvAlignment,
  cvReadOnly,
  cvTitleColor,
  cvTitleCaption,
  cvTitleAlignment,
  cvTitleFont,
  cvFieldName,  // FieldName was set (not only taken from a bound field)
};

class ColumnValues {
 public:
  bool Has(ColumnValue v) const { return (bits_ & Bit(v)) != 0; }
  void Include(ColumnValue v) { bits_ |= Bit(v); }
  void Exclude(ColumnValue v) { bits_ &= ~Bit(v); }
  bool Empty() const { return bits_ == 0; }
  void Clear() { bits_ = 0; }
  bool operator==(const ColumnValues&) const = default;

 private:
  static std::uint32_t Bit(ColumnValue v) { return 1u << static_cast<unsigned>(v); }
  std::uint32_t bits_ = 0;
};

// The defaults a column falls back on outside any grid.
QColor WindowColor();      // the palette's base colour (cells)
QColor ButtonFaceColor();  // the palette's button colour (fixed cells, titles)
QColor WindowTextColor();  // the palette's text colour (fonts)
inline constexpr int kColumnWidthWithoutGrid = 64;
inline constexpr int kDefaultDropDownRows = 7;
// The highest column number the older column list may name: as many
// columns as a table can have fields. An entry naming a higher one is
// skipped.
inline constexpr int kMaxSavedColumns = 255;

// Thrown by GridColumns::ReadText for text that is not a columns text.
class ColumnsTextError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// ---------------------------------------------------------------------------
// A column's title. Its values are assigned or default like the column's;
// their flags live in the column's set of assigned values.
//
// Fonts: QFont carries no colour, but a title's and a column's font is drawn
// in a colour of its own, so each font comes with a font colour that is part
// of the same property (one flag, stored together). The grid does not tell
// its fonts' colour, so the default font colour is the palette's text
// colour; without a grid the title's font and its colour follow the
// column's.
class ColumnTitle {
 public:
  explicit ColumnTitle(GridColumn& column);
  virtual ~ColumnTitle() = default;
  ColumnTitle(const ColumnTitle&) = delete;
  ColumnTitle& operator=(const ColumnTitle&) = delete;

  GridColumn& Column() const { return column_; }

  QString Caption() const;
  virtual void SetCaption(const QString& caption);
  TextAlignment Alignment() const;
  void SetAlignment(TextAlignment a);
  QColor Color() const;
  void SetColor(const QColor& c);
  QFont Font() const;
  void SetFont(const QFont& f);
  QColor FontColor() const;
  void SetFontColor(const QColor& c);

  // The defaults: the bound field's name (else the column's FieldName),
  // left, the grid's FixedColor (button face without a grid), the grid's
  // TitleFont (the column's font without a grid).
  QString DefaultCaption() const;
  TextAlignment DefaultAlignment() const { return TextAlignment::taLeftJustify; }
  QColor DefaultColor() const;
  QFont DefaultFont() const;
  QColor DefaultFontColor() const;

  bool IsCaptionStored() const;
  bool IsAlignmentStored() const;
  bool IsColorStored() const;
  bool IsFontStored() const;

  // Clears the title's flags, empties the caption and reloads the default
  // font; reports one change.
  void RestoreDefaults();
  // Makes the font the default one again unless it was assigned (not a
  // change).
  void RefreshDefaultFont() const;
  // Restores the defaults, then sets each value assigned in the source.
  void Assign(const ColumnTitle& source);

 protected:
  bool Assigned(ColumnValue v) const;
  // Stores the caption with its flag and reports the change (the setter's
  // rule without the checks a title kind may add).
  void StoreCaption(const QString& caption);

 private:
  friend class GridColumn;  // writes the stored values

  GridColumn& column_;
  QString caption_;
  TextAlignment alignment_ = TextAlignment::taLeftJustify;
  QColor color_;
  // The font objects follow their defaults when read, until assigned.
  mutable QFont font_;
  mutable QColor fontColor_;
};

// ---------------------------------------------------------------------------
class GridColumn {
 public:
  // A column outside any collection; GridColumns::Add makes one inside a
  // grid.
  GridColumn();
  virtual ~GridColumn();
  GridColumn(const GridColumn&) = delete;
  GridColumn& operator=(const GridColumn&) = delete;

  GridColumns* Collection() const { return collection_; }
  ColumnsOwner* Grid() const;
  // Position in the collection (-1 outside one); setting it moves the column.
  int Index() const;
  virtual void SetIndex(int index);

  // --- The field ---
  const std::string& FieldName() const { return fieldName_; }
  // Looks the name up in the grid's data set (when there is a grid with a
  // data set, the grid is not being loaded and the name is not empty),
  // stores it, binds the field found (or none), sets the changed-field-name
  // flag and reports the change.
  void SetFieldName(const std::string& name);
  // The bound field. When none is bound, it is looked up by FieldName in
  // the grid's data set, while that data set is open or has persistent field
  // objects; null when there is none.
  data::Field* Field() const;
  // Binds a field other than the current one; a field (not none) gives its
  // name to FieldName. Not reported as a change: the grid binds columns
  // while laying itself out.
  virtual void SetField(data::Field* field);

  // --- Display values ---
  QColor Color() const;
  void SetColor(const QColor& c);
  int Width() const;
  // Always reports a change; stores the width (with its flag) only when it
  // was assigned before or differs from the default width.
  virtual void SetWidth(int width);
  QFont Font() const;
  // Also refreshes the title font's default.
  void SetFont(const QFont& f);
  QColor FontColor() const;
  void SetFontColor(const QColor& c);
  TextAlignment Alignment() const;
  virtual void SetAlignment(TextAlignment a);
  bool ReadOnly() const;
  void SetReadOnly(bool r);
  ColumnButtonStyle ButtonStyle() const { return buttonStyle_; }
  void SetButtonStyle(ColumnButtonStyle s);
  int DropDownRows() const { return dropDownRows_; }
  void SetDropDownRows(int rows);
  // Created (empty) when first asked for.
  QStringList& PickList();
  bool HasPickList() const { return pickList_ != nullptr; }
  void SetPickList(const QStringList& items);

  ColumnTitle& Title();
  const ColumnTitle& Title() const;

  // The grid's layout pass makes persistent columns look their field up
  // again when next needed.
  void ForgetField() { field_ = nullptr; }

  ColumnValues AssignedValues() const { return assigned_; }

  // --- Defaults ---
  QColor DefaultColor() const;  // the grid's Color (window colour without a grid)
  // The grid's Font; without a grid the application's font, so that
  // restoring the defaults undoes an assigned font there too.
  QFont DefaultFont() const;
  QColor DefaultFontColor() const;  // the palette's text colour
  TextAlignment DefaultAlignment() const { return TextAlignment::taLeftJustify; }
  bool DefaultReadOnly() const { return false; }
  // With a bound field: the width of "0" in the column's font times the
  // field's display width, plus 4; with titles shown, at least the caption's
  // width in the title font plus 4. Without a field the grid's default
  // column width; outside any grid 64.
  int DefaultWidth() const;

  // --- Stored with the form ---
  bool IsAlignmentStored() const;
  bool IsButtonStyleStored() const;
  bool IsColorStored() const;
  bool IsDropDownRowsStored() const;
  bool IsFieldNameStored() const { return true; }
  bool IsFontStored() const;
  bool IsPickListStored() const { return true; }
  bool IsReadOnlyStored() const;
  bool IsTitleStored() const { return true; }
  bool IsWidthStored() const;

  // Clears the assigned values of the column and its title, drops the pick
  // list, resets ButtonStyle and reloads the default fonts; one change.
  void RestoreDefaults();
  // Makes the fonts (column and title) the defaults again where they were
  // not assigned. The grid calls it after its font changed; reading a font
  // does the same, so this is only needed to have the objects up to date.
  void RefreshDefaultFont() const;
  // Restores the defaults, then copies the field name, each value assigned
  // in the source, the title's assigned values, DropDownRows, ButtonStyle
  // and the pick list, in one update of the collection.
  void Assign(const GridColumn& source);

  // The stored properties as lines of the columns text, and one such line
  // read back (false: not a column property).
  void WriteText(QStringList& lines) const;
  bool ReadTextProperty(const QString& key, const QString& value);

 protected:
  // Makes the column's title; a column kind with a title of its own
  // overrides it. Called on the first use of the title, once the column is
  // fully constructed.
  virtual std::unique_ptr<ColumnTitle> CreateTitle();
  bool Assigned(ColumnValue v) const { return assigned_.Has(v); }
  // The field bound now, without looking one up.
  data::Field* BoundField() const { return field_; }
  void ResetAssignedValues() { assigned_.Clear(); }
  void ClearFieldName() { fieldName_.clear(); }
  // Tells the collection (and so the grid) that the column changed.
  void Changed();

 private:
  friend class GridColumns;
  friend class ColumnTitle;

  GridColumns* collection_ = nullptr;
  std::string fieldName_;
  mutable data::Field* field_ = nullptr;
  ColumnValues assigned_;
  QColor color_;
  int width_ = 0;
  mutable QFont font_;
  mutable QColor fontColor_;
  TextAlignment alignment_ = TextAlignment::taLeftJustify;
  bool readOnly_ = false;
  ColumnButtonStyle buttonStyle_ = ColumnButtonStyle::cbsAuto;
  int dropDownRows_ = kDefaultDropDownRows;
  std::unique_ptr<QStringList> pickList_;
  mutable std::unique_ptr<ColumnTitle> title_;
};

// ---------------------------------------------------------------------------
// The title of a default column: its caption can be set only while the
// column is bound to a field of an active link (elsewhere it always shows
// the field's name).
class PassthroughColumnTitle : public ColumnTitle {
 public:
  using ColumnTitle::ColumnTitle;
  void SetCaption(const QString& caption) override;
};

// A default column, generated by the grid for a field of the data set. It
// passes some changes through to its field.
class PassthroughColumn : public GridColumn {
 public:
  // With a grid that has a window, also sets the field's display width in
  // characters of the column's font. During a layout pass a width that was
  // never assigned is not stored (and nothing is reported).
  void SetWidth(int width) override;
  // While the link is active, moves the field to the position of the field
  // that the grid's map holds at the new index.
  void SetIndex(int index) override;
  // Ignored while the column is bound to a field of an active link.
  void SetAlignment(TextAlignment a) override;
  // Binding a field or unbinding resets the assigned values; unbinding also
  // clears the field name.
  void SetField(data::Field* field) override;

 protected:
  std::unique_ptr<ColumnTitle> CreateTitle() override;
};

// ---------------------------------------------------------------------------
class GridColumns {
 public:
  // `grid` may be null: columns outside any grid.
  explicit GridColumns(ColumnsOwner* grid);
  ~GridColumns();
  GridColumns(const GridColumns&) = delete;
  GridColumns& operator=(const GridColumns&) = delete;

  ColumnsOwner* Grid() const { return grid_; }
  int Count() const { return static_cast<int>(items_.size()); }
  GridColumn* Items(int i) const { return items_.at(static_cast<std::size_t>(i)).get(); }
  GridColumn* operator[](int i) const { return Items(i); }
  int IndexOf(const GridColumn* column) const;

  // New columns at the end, made under the grid's layout lock. Outside
  // loading, adding lays the grid out again.
  GridColumn* Add();
  PassthroughColumn* AddPassthrough();
  void Delete(int i);
  void Clear();

  // Moves the column at `from` to `to` as its SetIndex does.
  void Move(int from, int to);

  // Persistent columns: not empty and the first is no PassthroughColumn.
  // Otherwise the columns are default columns, which are not stored.
  bool Persistent() const;
  bool IsDefaultColumns() const { return !Persistent(); }

  // --- For the grid's layout pass ---
  // A PassthroughColumn followed later by a persistent column: all
  // PassthroughColumn items are removed.
  void RemovePassthroughBeforePersistent();
  // Default columns after the grid's field map (GridMappedField(0 ..
  // mapCount - 1)) was built. With `keepBoundColumns` (the link is active,
  // or the data set has no default fields) the columns whose field is
  // missing or not in the map are removed, else all of them. Then for each
  // map entry i (one entry without field when both the map and the
  // collection are empty) the column bound to the entry's field, searched
  // from position i on, moves to i, or a new PassthroughColumn is made
  // there, bound to the field (or unbound for an entry without one).
  void SyncDefaultColumns(bool keepBoundColumns, int mapCount);

  // Changes inside an update are reported once, when the last update ends.
  void BeginUpdate();
  void EndUpdate();
  bool Updating() const { return updateCount_ > 0; }

  // The grid marks its layout pass, during which default columns do not
  // keep widths that were never assigned.
  void BeginLayoutPass() { ++layoutPass_; }
  void EndLayoutPass() {
    if (layoutPass_ > 0) --layoutPass_;
  }
  bool InLayoutPass() const { return layoutPass_ > 0; }

  void RestoreDefaults();
  // After the grid's font (or title font) changed.
  void RefreshDefaultFonts();
  // Replaces the columns with copies of the source's (same kinds).
  void Assign(const GridColumns& source);

  // The columns text: for persistent columns, one "[column]" line per
  // column followed by its stored properties as "Name = value" lines; empty
  // for default columns. ReadText replaces the columns with plain columns
  // read from such a text, or throws ColumnsTextError (naming the line)
  // and leaves the columns as they were.
  QString WriteText() const;
  void ReadText(const QString& text);

  // The older "key=value" column list a grid still reads (savedColumns).
  void ReadSavedColumns(const QStringList& entries);
  // The list is never written again: always empty.
  QStringList WriteSavedColumns() const { return {}; }

 private:
  friend class GridColumn;
  template <class T>
  T* AddItem();
  void Changed();
  void MoveItem(int from, int to);

  ColumnsOwner* grid_;
  std::vector<std::unique_ptr<GridColumn>> items_;
  int updateCount_ = 0;
  bool changedInUpdate_ = false;
  int layoutPass_ = 0;
};

// Colour names of the older column list ("clBlue", "clWindow", ...) or a
// number 0x00BBGGRR (decimal, or hexadecimal after "$" or "0x"). False when
// the text is neither.
bool ParseLegacyColor(const QString& text, QColor& color);

}  // namespace vz::views
