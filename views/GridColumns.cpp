#include "views/GridColumns.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPalette>
#include <algorithm>
#include <utility>

#include "views/GridColumnsDetail.h"

namespace vz::views {

using columns_detail::NameFromQString;
using columns_detail::NameToQString;
using columns_detail::UpdateScope;

namespace {

// Qt's font metrics know no overhang (the extra width some old raster
// fonts added to every string); the width formulas keep the term at 0.
constexpr int kOverhang = 0;

bool HasPersistentFields(data::DataSet& ds) {
  const auto& fields = ds.Fields();
  return std::any_of(fields.begin(), fields.end(), [](const auto& f) { return !f->IsDefault(); });
}

// Moves `field` to the position `target` holds in the data set's field list
// (the field list's own move: taken out, put in at that index).
void MoveFieldTo(data::DataSet& ds, data::Field* field, data::Field* target) {
  auto& fields = ds.Fields();
  auto find = [&](data::Field* f) {
    return std::find_if(fields.begin(), fields.end(), [f](const auto& p) { return p.get() == f; });
  };
  auto from = find(field);
  auto to = find(target);
  if (from == fields.end() || to == fields.end() || from == to) return;
  const auto toIndex = to - fields.begin();
  std::unique_ptr<data::Field> moving = std::move(*from);
  fields.erase(from);
  fields.insert(fields.begin() + toIndex, std::move(moving));
}

}  // namespace

Qt::Alignment ToQtAlignment(TextAlignment a) {
  switch (a) {
    case TextAlignment::taRightJustify: return Qt::AlignRight;
    case TextAlignment::taCenter: return Qt::AlignHCenter;
    case TextAlignment::taLeftJustify: break;
  }
  return Qt::AlignLeft;
}

QColor WindowColor() {
  return QGuiApplication::palette().color(QPalette::Base);
}
QColor ButtonFaceColor() {
  return QGuiApplication::palette().color(QPalette::Button);
}
QColor WindowTextColor() {
  return QGuiApplication::palette().color(QPalette::Text);
}

// ===========================================================================
// ColumnTitle

ColumnTitle::ColumnTitle(GridColumn& column) : column_(column) {
  font_ = DefaultFont();
  fontColor_ = DefaultFontColor();
}

bool ColumnTitle::Assigned(ColumnValue v) const {
  return column_.Assigned(v);
}

QString ColumnTitle::DefaultCaption() const {
  if (data::Field* f = column_.Field()) return NameToQString(f->FieldName());
  return NameToQString(column_.FieldName());
}

QColor ColumnTitle::DefaultColor() const {
  if (ColumnsOwner* g = column_.Grid()) return g->GridFixedColor();
  return ButtonFaceColor();
}

QFont ColumnTitle::DefaultFont() const {
  if (ColumnsOwner* g = column_.Grid()) return g->GridTitleFont();
  return column_.Font();
}

QColor ColumnTitle::DefaultFontColor() const {
  if (column_.Grid()) return WindowTextColor();
  return column_.FontColor();
}

QString ColumnTitle::Caption() const {
  return Assigned(ColumnValue::cvTitleCaption) ? caption_ : DefaultCaption();
}

void ColumnTitle::SetCaption(const QString& caption) {
  StoreCaption(caption);
}

void ColumnTitle::StoreCaption(const QString& caption) {
  if (Assigned(ColumnValue::cvTitleCaption) && caption_ == caption) return;
  caption_ = caption;
  column_.assigned_.Include(ColumnValue::cvTitleCaption);
  column_.Changed();
}

TextAlignment ColumnTitle::Alignment() const {
  return Assigned(ColumnValue::cvTitleAlignment) ? alignment_ : DefaultAlignment();
}

void ColumnTitle::SetAlignment(TextAlignment a) {
  if (Assigned(ColumnValue::cvTitleAlignment) && alignment_ == a) return;
  alignment_ = a;
  column_.assigned_.Include(ColumnValue::cvTitleAlignment);
  column_.Changed();
}

QColor ColumnTitle::Color() const {
  return Assigned(ColumnValue::cvTitleColor) ? color_ : DefaultColor();
}

void ColumnTitle::SetColor(const QColor& c) {
  if (Assigned(ColumnValue::cvTitleColor) && color_ == c) return;
  color_ = c;
  column_.assigned_.Include(ColumnValue::cvTitleColor);
  column_.Changed();
}

void ColumnTitle::RefreshDefaultFont() const {
  if (Assigned(ColumnValue::cvTitleFont)) return;
  const QFont f = DefaultFont();
  if (!(font_ == f)) font_ = f;
  fontColor_ = DefaultFontColor();
}

QFont ColumnTitle::Font() const {
  RefreshDefaultFont();
  return font_;
}

QColor ColumnTitle::FontColor() const {
  RefreshDefaultFont();
  return fontColor_;
}

void ColumnTitle::SetFont(const QFont& f) {
  if (Assigned(ColumnValue::cvTitleFont) && font_ == f) return;
  RefreshDefaultFont();  // the colour keeps the value it shows
  font_ = f;
  column_.assigned_.Include(ColumnValue::cvTitleFont);
  column_.Changed();
}

void ColumnTitle::SetFontColor(const QColor& c) {
  if (Assigned(ColumnValue::cvTitleFont) && fontColor_ == c) return;
  RefreshDefaultFont();  // the font keeps the value it shows
  fontColor_ = c;
  column_.assigned_.Include(ColumnValue::cvTitleFont);
  column_.Changed();
}

bool ColumnTitle::IsCaptionStored() const {
  return Assigned(ColumnValue::cvTitleCaption) && caption_ != DefaultCaption();
}
bool ColumnTitle::IsAlignmentStored() const {
  return Assigned(ColumnValue::cvTitleAlignment) && alignment_ != DefaultAlignment();
}
bool ColumnTitle::IsColorStored() const {
  return Assigned(ColumnValue::cvTitleColor) && color_ != DefaultColor();
}
bool ColumnTitle::IsFontStored() const {
  return Assigned(ColumnValue::cvTitleFont);
}

void ColumnTitle::RestoreDefaults() {
  for (ColumnValue v : {ColumnValue::cvTitleColor, ColumnValue::cvTitleCaption,
                        ColumnValue::cvTitleAlignment, ColumnValue::cvTitleFont})
    column_.assigned_.Exclude(v);
  caption_.clear();
  RefreshDefaultFont();
  column_.Changed();
}

void ColumnTitle::Assign(const ColumnTitle& source) {
  if (&source == this) return;
  UpdateScope update(column_.Collection());
  RestoreDefaults();
  const GridColumn& from = source.Column();
  if (from.Assigned(ColumnValue::cvTitleAlignment)) SetAlignment(source.alignment_);
  if (from.Assigned(ColumnValue::cvTitleCaption)) SetCaption(source.caption_);
  if (from.Assigned(ColumnValue::cvTitleColor)) SetColor(source.color_);
  if (from.Assigned(ColumnValue::cvTitleFont)) {
    SetFont(source.font_);
    SetFontColor(source.fontColor_);
  }
}

// ===========================================================================
// GridColumn

GridColumn::GridColumn() {
  font_ = DefaultFont();
  fontColor_ = DefaultFontColor();
}

GridColumn::~GridColumn() = default;

ColumnsOwner* GridColumn::Grid() const {
  return collection_ ? collection_->Grid() : nullptr;
}

int GridColumn::Index() const {
  return collection_ ? collection_->IndexOf(this) : -1;
}

void GridColumn::SetIndex(int index) {
  if (collection_) collection_->MoveItem(Index(), index);
}

void GridColumn::Changed() {
  if (collection_) collection_->Changed();
}

std::unique_ptr<ColumnTitle> GridColumn::CreateTitle() {
  return std::make_unique<ColumnTitle>(*this);
}

ColumnTitle& GridColumn::Title() {
  if (!title_) title_ = CreateTitle();
  return *title_;
}

const ColumnTitle& GridColumn::Title() const {
  return const_cast<GridColumn*>(this)->Title();
}

// --- The field ---

data::Field* GridColumn::Field() const {
  if (!field_ && !fieldName_.empty()) {
    ColumnsOwner* g = Grid();
    data::DataSet* ds = g ? g->GridDataSet() : nullptr;
    // Looking the field up binds it: a cache filled on first use, whatever
    // the constness of the caller.
    if (ds && (ds->Active() || HasPersistentFields(*ds)))
      const_cast<GridColumn*>(this)->SetField(ds->FindField(fieldName_));
  }
  return field_;
}

void GridColumn::SetField(data::Field* field) {
  if (field == field_) return;
  field_ = field;
  if (field) fieldName_ = field->FieldName();
}

void GridColumn::SetFieldName(const std::string& name) {
  data::Field* found = nullptr;
  ColumnsOwner* g = Grid();
  if (g && g->GridDataSet() && !g->GridLoading() && !name.empty())
    found = g->GridDataSet()->FindField(name);
  fieldName_ = name;
  SetField(found);
  assigned_.Include(ColumnValue::cvFieldName);
  Changed();
}

// --- Display values ---

QColor GridColumn::DefaultColor() const {
  if (ColumnsOwner* g = Grid()) return g->GridColor();
  return WindowColor();
}

QColor GridColumn::Color() const {
  return Assigned(ColumnValue::cvColor) ? color_ : DefaultColor();
}

void GridColumn::SetColor(const QColor& c) {
  if (Assigned(ColumnValue::cvColor) && color_ == c) return;
  color_ = c;
  assigned_.Include(ColumnValue::cvColor);
  Changed();
}

int GridColumn::DefaultWidth() const {
  ColumnsOwner* g = Grid();
  if (!g) return kColumnWidthWithoutGrid;
  data::Field* f = Field();
  if (!f) return g->GridDefaultColWidth();
  const QFontMetrics metrics(Font());
  int width =
      (metrics.horizontalAdvance(QLatin1Char('0')) - kOverhang) * f->DisplayWidth() + kOverhang + 4;
  if (g->GridHasTitles()) {
    const QFontMetrics titleMetrics(Title().Font());
    width = std::max(width, titleMetrics.horizontalAdvance(Title().Caption()) + 4);
  }
  return width;
}

int GridColumn::Width() const {
  return Assigned(ColumnValue::cvWidth) ? width_ : DefaultWidth();
}

void GridColumn::SetWidth(int width) {
  if (Assigned(ColumnValue::cvWidth) || width != DefaultWidth()) {
    width_ = width;
    assigned_.Include(ColumnValue::cvWidth);
  }
  Changed();
}

QFont GridColumn::DefaultFont() const {
  if (ColumnsOwner* g = Grid()) return g->GridFont();
  return QGuiApplication::font();
}

QColor GridColumn::DefaultFontColor() const {
  return WindowTextColor();
}

QFont GridColumn::Font() const {
  if (!Assigned(ColumnValue::cvFont)) {
    const QFont f = DefaultFont();
    if (!(font_ == f)) font_ = f;
  }
  return font_;
}

QColor GridColumn::FontColor() const {
  if (!Assigned(ColumnValue::cvFont)) fontColor_ = DefaultFontColor();
  return fontColor_;
}

void GridColumn::SetFont(const QFont& f) {
  if (Assigned(ColumnValue::cvFont) && font_ == f) return;
  fontColor_ = FontColor();  // the colour keeps the value it shows
  font_ = f;
  assigned_.Include(ColumnValue::cvFont);
  Title().RefreshDefaultFont();
  Changed();
}

void GridColumn::SetFontColor(const QColor& c) {
  if (Assigned(ColumnValue::cvFont) && fontColor_ == c) return;
  font_ = Font();  // the font keeps the value it shows
  fontColor_ = c;
  assigned_.Include(ColumnValue::cvFont);
  Title().RefreshDefaultFont();
  Changed();
}

TextAlignment GridColumn::Alignment() const {
  return Assigned(ColumnValue::cvAlignment) ? alignment_ : DefaultAlignment();
}

void GridColumn::SetAlignment(TextAlignment a) {
  if (Assigned(ColumnValue::cvAlignment) && alignment_ == a) return;
  alignment_ = a;
  assigned_.Include(ColumnValue::cvAlignment);
  Changed();
}

bool GridColumn::ReadOnly() const {
  return Assigned(ColumnValue::cvReadOnly) ? readOnly_ : DefaultReadOnly();
}

void GridColumn::SetReadOnly(bool r) {
  if (Assigned(ColumnValue::cvReadOnly) && readOnly_ == r) return;
  readOnly_ = r;
  assigned_.Include(ColumnValue::cvReadOnly);
  Changed();
}

void GridColumn::SetButtonStyle(ColumnButtonStyle s) {
  if (buttonStyle_ == s) return;
  buttonStyle_ = s;
  Changed();
}

void GridColumn::SetDropDownRows(int rows) {
  if (dropDownRows_ == rows) return;
  dropDownRows_ = rows;
  Changed();
}

QStringList& GridColumn::PickList() {
  if (!pickList_) pickList_ = std::make_unique<QStringList>();
  return *pickList_;
}

// The pick list only fills a drop-down list when one is opened: nothing to
// lay out, so no change is reported.
void GridColumn::SetPickList(const QStringList& items) {
  PickList() = items;
}

// --- Stored with the form ---

bool GridColumn::IsAlignmentStored() const {
  return Assigned(ColumnValue::cvAlignment) && alignment_ != DefaultAlignment();
}
bool GridColumn::IsButtonStyleStored() const {
  return buttonStyle_ != ColumnButtonStyle::cbsAuto;
}
bool GridColumn::IsColorStored() const {
  return Assigned(ColumnValue::cvColor) && color_ != DefaultColor();
}
bool GridColumn::IsDropDownRowsStored() const {
  return dropDownRows_ != kDefaultDropDownRows;
}
bool GridColumn::IsFontStored() const {
  return Assigned(ColumnValue::cvFont);
}
bool GridColumn::IsReadOnlyStored() const {
  return Assigned(ColumnValue::cvReadOnly) && readOnly_ != DefaultReadOnly();
}
bool GridColumn::IsWidthStored() const {
  return Assigned(ColumnValue::cvWidth) && width_ != DefaultWidth();
}

// --- Defaults and copies ---

void GridColumn::RefreshDefaultFont() const {
  Font();
  FontColor();
  Title().RefreshDefaultFont();
}

void GridColumn::RestoreDefaults() {
  UpdateScope update(collection_);
  Title().RestoreDefaults();
  assigned_.Clear();
  pickList_.reset();
  buttonStyle_ = ColumnButtonStyle::cbsAuto;
  RefreshDefaultFont();
  Changed();
}

void GridColumn::Assign(const GridColumn& source) {
  if (&source == this) return;
  UpdateScope update(collection_);
  RestoreDefaults();
  SetFieldName(source.FieldName());
  if (source.Assigned(ColumnValue::cvColor)) SetColor(source.color_);
  if (source.Assigned(ColumnValue::cvFont)) {
    SetFont(source.font_);
    SetFontColor(source.fontColor_);
  }
  if (source.Assigned(ColumnValue::cvAlignment)) SetAlignment(source.alignment_);
  if (source.Assigned(ColumnValue::cvReadOnly)) SetReadOnly(source.readOnly_);
  Title().Assign(source.Title());
  // The width last: whether it is kept depends on the default width, which
  // depends on the field, the fonts and the caption copied above.
  if (source.Assigned(ColumnValue::cvWidth)) SetWidth(source.width_);
  SetDropDownRows(source.dropDownRows_);
  SetButtonStyle(source.buttonStyle_);
  if (source.pickList_) SetPickList(*source.pickList_);
}

// ===========================================================================
// PassthroughColumn

std::unique_ptr<ColumnTitle> PassthroughColumn::CreateTitle() {
  return std::make_unique<PassthroughColumnTitle>(*this);
}

void PassthroughColumn::SetWidth(int width) {
  ColumnsOwner* g = Grid();
  if (g && g->GridHasWindow()) {
    if (data::Field* f = Field()) {
      const int average = QFontMetrics(Font()).averageCharWidth();
      if (average > 0) f->SetDisplayWidth((width + average / 2 - kOverhang - 3) / average);
    }
  }
  if (Collection() && Collection()->InLayoutPass() && !Assigned(ColumnValue::cvWidth)) return;
  GridColumn::SetWidth(width);
}

void PassthroughColumn::SetIndex(int index) {
  ColumnsOwner* g = Grid();
  if (g && g->GridLinkActive()) {
    data::Field* target = g->GridMappedField(index);
    data::Field* mine = Field();
    data::DataSet* ds = g->GridDataSet();
    if (target && mine && ds) MoveFieldTo(*ds, mine, target);
  }
  GridColumn::SetIndex(index);
}

void PassthroughColumn::SetAlignment(TextAlignment a) {
  ColumnsOwner* g = Grid();
  if (g && g->GridLinkActive() && Field()) return;
  GridColumn::SetAlignment(a);
}

void PassthroughColumn::SetField(data::Field* field) {
  if (field == BoundField()) return;
  GridColumn::SetField(field);
  ResetAssignedValues();
  if (!field) ClearFieldName();
}

void PassthroughColumnTitle::SetCaption(const QString& caption) {
  GridColumn& column = Column();
  ColumnsOwner* g = column.Grid();
  if (g && g->GridLinkActive() && column.Field()) StoreCaption(caption);
}

// ===========================================================================
// GridColumns

GridColumns::GridColumns(ColumnsOwner* grid) : grid_(grid) {}

GridColumns::~GridColumns() = default;

int GridColumns::IndexOf(const GridColumn* column) const {
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (items_[i].get() == column) return static_cast<int>(i);
  return -1;
}

template <class T>
T* GridColumns::AddItem() {
  // The column is made under the grid's layout lock: the layout its
  // addition asks for runs once the column is complete.
  struct LayoutLock {
    ColumnsOwner* g;
    explicit LayoutLock(ColumnsOwner* grid) : g(grid) {
      if (g) g->GridBeginLayout();
    }
    ~LayoutLock() {
      if (g) g->GridEndLayout();
    }
  } lock(grid_);
  auto item = std::make_unique<T>();
  item->collection_ = this;
  item->font_ = item->DefaultFont();
  item->fontColor_ = item->DefaultFontColor();
  T* column = item.get();
  items_.push_back(std::move(item));
  column->Title();  // the title, made now that the column is complete
  Changed();
  return column;
}

GridColumn* GridColumns::Add() {
  return AddItem<GridColumn>();
}
PassthroughColumn* GridColumns::AddPassthrough() {
  return AddItem<PassthroughColumn>();
}

void GridColumns::Delete(int i) {
  if (i < 0 || i >= Count()) throw std::out_of_range("column index out of range");
  items_.erase(items_.begin() + i);
  Changed();
}

void GridColumns::Clear() {
  if (items_.empty()) return;
  items_.clear();
  Changed();
}

void GridColumns::Move(int from, int to) {
  if (from < 0 || from >= Count()) throw std::out_of_range("column index out of range");
  items_[static_cast<std::size_t>(from)]->SetIndex(to);
}

void GridColumns::MoveItem(int from, int to) {
  if (from < 0 || from >= Count() || to < 0 || to >= Count())
    throw std::out_of_range("column index out of range");
  if (from == to) return;
  auto first = items_.begin();
  if (from < to)
    std::rotate(first + from, first + from + 1, first + to + 1);
  else
    std::rotate(first + to, first + from, first + from + 1);
  Changed();
}

bool GridColumns::Persistent() const {
  return !items_.empty() && dynamic_cast<const PassthroughColumn*>(items_.front().get()) == nullptr;
}

void GridColumns::RemovePassthroughBeforePersistent() {
  auto isPassthrough = [](const std::unique_ptr<GridColumn>& c) {
    return dynamic_cast<const PassthroughColumn*>(c.get()) != nullptr;
  };
  const auto firstPassthrough = std::find_if(items_.begin(), items_.end(), isPassthrough);
  const bool persistentAfter = firstPassthrough != items_.end() &&
                               std::any_of(firstPassthrough + 1, items_.end(),
                                           [&](const auto& c) { return !isPassthrough(c); });
  if (!persistentAfter) return;
  items_.erase(std::remove_if(items_.begin(), items_.end(), isPassthrough), items_.end());
  Changed();
}

void GridColumns::SyncDefaultColumns(bool keepBoundColumns, int mapCount) {
  UpdateScope update(this);
  auto inMap = [&](data::Field* f) {
    for (int i = 0; i < mapCount; ++i)
      if (grid_ && grid_->GridMappedField(i) == f) return true;
    return false;
  };
  if (keepBoundColumns) {
    for (int i = Count() - 1; i >= 0; --i) {
      data::Field* f = Items(i)->Field();
      if (!f || !inMap(f)) Delete(i);
    }
  } else {
    Clear();
  }
  const int entries = (mapCount == 0 && items_.empty()) ? 1 : mapCount;
  for (int i = 0; i < entries; ++i) {
    data::Field* f = (i < mapCount && grid_) ? grid_->GridMappedField(i) : nullptr;
    GridColumn* column = nullptr;
    if (f)
      for (int j = i; j < Count() && !column; ++j)
        if (Items(j)->Field() == f) column = Items(j);
    if (!column) {
      column = AddPassthrough();
      column->SetField(f);
    }
    column->SetIndex(i);
  }
}

void GridColumns::BeginUpdate() {
  ++updateCount_;
}

void GridColumns::EndUpdate() {
  if (updateCount_ == 0) return;
  if (--updateCount_ > 0 || !changedInUpdate_) return;
  changedInUpdate_ = false;
  Changed();
}

// While the grid is being loaded nothing is reported: it lays itself out
// once loading ends.
void GridColumns::Changed() {
  if (updateCount_ > 0) {
    changedInUpdate_ = true;
    return;
  }
  if (grid_ && !grid_->GridLoading()) grid_->GridColumnsChanged();
}

void GridColumns::RestoreDefaults() {
  UpdateScope update(this);
  for (auto& c : items_) c->RestoreDefaults();
}

void GridColumns::RefreshDefaultFonts() {
  for (auto& c : items_) c->RefreshDefaultFont();
}

void GridColumns::Assign(const GridColumns& source) {
  if (&source == this) return;
  UpdateScope update(this);
  Clear();
  for (const auto& from : source.items_) {
    GridColumn* to = dynamic_cast<const PassthroughColumn*>(from.get()) ? AddPassthrough() : Add();
    to->Assign(*from);
  }
}

}  // namespace vz::views
