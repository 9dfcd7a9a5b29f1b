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

bool HasPersistentFields(data::TDataSet& ds) {
  const auto& fields = ds.Fields();
  return std::any_of(fields.begin(), fields.end(), [](const auto& f) { return !f->IsDefault(); });
}

// Moves `field` to the position `target` holds in the data set's field list
// (the field list's own move: taken out, put in at that index).
void MoveFieldTo(data::TDataSet& ds, data::TField* field, data::TField* target) {
  auto& fields = ds.Fields();
  auto find = [&](data::TField* f) {
    return std::find_if(fields.begin(), fields.end(), [f](const auto& p) { return p.get() == f; });
  };
  auto from = find(field);
  auto to = find(target);
  if (from == fields.end() || to == fields.end() || from == to) return;
  const auto toIndex = to - fields.begin();
  std::unique_ptr<data::TField> moving = std::move(*from);
  fields.erase(from);
  fields.insert(fields.begin() + toIndex, std::move(moving));
}

}  // namespace

Qt::Alignment ToQtAlignment(TAlignment a) {
  switch (a) {
    case TAlignment::taRightJustify: return Qt::AlignRight;
    case TAlignment::taCenter: return Qt::AlignHCenter;
    case TAlignment::taLeftJustify: break;
  }
  return Qt::AlignLeft;
}

QColor WindowColor() { return QGuiApplication::palette().color(QPalette::Base); }
QColor ButtonFaceColor() { return QGuiApplication::palette().color(QPalette::Button); }
QColor WindowTextColor() { return QGuiApplication::palette().color(QPalette::Text); }

// ===========================================================================
// TTzColumnTitle

TTzColumnTitle::TTzColumnTitle(TTzColumn& column) : column_(column) {
  font_ = DefaultFont();
  fontColor_ = DefaultFontColor();
}

bool TTzColumnTitle::Assigned(TColumnValue v) const { return column_.Assigned(v); }

QString TTzColumnTitle::DefaultCaption() const {
  if (data::TField* f = column_.Field()) return NameToQString(f->FieldName());
  return NameToQString(column_.FieldName());
}

QColor TTzColumnTitle::DefaultColor() const {
  if (TTzColumnsGrid* g = column_.Grid()) return g->GridFixedColor();
  return ButtonFaceColor();
}

QFont TTzColumnTitle::DefaultFont() const {
  if (TTzColumnsGrid* g = column_.Grid()) return g->GridTitleFont();
  return column_.Font();
}

QColor TTzColumnTitle::DefaultFontColor() const {
  if (column_.Grid()) return WindowTextColor();
  return column_.FontColor();
}

QString TTzColumnTitle::Caption() const {
  return Assigned(TColumnValue::cvTitleCaption) ? caption_ : DefaultCaption();
}

void TTzColumnTitle::SetCaption(const QString& caption) { StoreCaption(caption); }

void TTzColumnTitle::StoreCaption(const QString& caption) {
  if (Assigned(TColumnValue::cvTitleCaption) && caption_ == caption) return;
  caption_ = caption;
  column_.assigned_.Include(TColumnValue::cvTitleCaption);
  column_.Changed();
}

TAlignment TTzColumnTitle::Alignment() const {
  return Assigned(TColumnValue::cvTitleAlignment) ? alignment_ : DefaultAlignment();
}

void TTzColumnTitle::SetAlignment(TAlignment a) {
  if (Assigned(TColumnValue::cvTitleAlignment) && alignment_ == a) return;
  alignment_ = a;
  column_.assigned_.Include(TColumnValue::cvTitleAlignment);
  column_.Changed();
}

QColor TTzColumnTitle::Color() const {
  return Assigned(TColumnValue::cvTitleColor) ? color_ : DefaultColor();
}

void TTzColumnTitle::SetColor(const QColor& c) {
  if (Assigned(TColumnValue::cvTitleColor) && color_ == c) return;
  color_ = c;
  column_.assigned_.Include(TColumnValue::cvTitleColor);
  column_.Changed();
}

void TTzColumnTitle::RefreshDefaultFont() const {
  if (Assigned(TColumnValue::cvTitleFont)) return;
  const QFont f = DefaultFont();
  if (!(font_ == f)) font_ = f;
  fontColor_ = DefaultFontColor();
}

QFont TTzColumnTitle::Font() const {
  RefreshDefaultFont();
  return font_;
}

QColor TTzColumnTitle::FontColor() const {
  RefreshDefaultFont();
  return fontColor_;
}

void TTzColumnTitle::SetFont(const QFont& f) {
  if (Assigned(TColumnValue::cvTitleFont) && font_ == f) return;
  RefreshDefaultFont();  // the colour keeps the value it shows
  font_ = f;
  column_.assigned_.Include(TColumnValue::cvTitleFont);
  column_.Changed();
}

void TTzColumnTitle::SetFontColor(const QColor& c) {
  if (Assigned(TColumnValue::cvTitleFont) && fontColor_ == c) return;
  RefreshDefaultFont();  // the font keeps the value it shows
  fontColor_ = c;
  column_.assigned_.Include(TColumnValue::cvTitleFont);
  column_.Changed();
}

bool TTzColumnTitle::IsCaptionStored() const {
  return Assigned(TColumnValue::cvTitleCaption) && caption_ != DefaultCaption();
}
bool TTzColumnTitle::IsAlignmentStored() const {
  return Assigned(TColumnValue::cvTitleAlignment) && alignment_ != DefaultAlignment();
}
bool TTzColumnTitle::IsColorStored() const {
  return Assigned(TColumnValue::cvTitleColor) && color_ != DefaultColor();
}
bool TTzColumnTitle::IsFontStored() const { return Assigned(TColumnValue::cvTitleFont); }

void TTzColumnTitle::RestoreDefaults() {
  for (TColumnValue v : {TColumnValue::cvTitleColor, TColumnValue::cvTitleCaption,
                         TColumnValue::cvTitleAlignment, TColumnValue::cvTitleFont})
    column_.assigned_.Exclude(v);
  caption_.clear();
  RefreshDefaultFont();
  column_.Changed();
}

void TTzColumnTitle::Assign(const TTzColumnTitle& source) {
  if (&source == this) return;
  UpdateScope update(column_.Collection());
  RestoreDefaults();
  const TTzColumn& from = source.Column();
  if (from.Assigned(TColumnValue::cvTitleAlignment)) SetAlignment(source.alignment_);
  if (from.Assigned(TColumnValue::cvTitleCaption)) SetCaption(source.caption_);
  if (from.Assigned(TColumnValue::cvTitleColor)) SetColor(source.color_);
  if (from.Assigned(TColumnValue::cvTitleFont)) {
    SetFont(source.font_);
    SetFontColor(source.fontColor_);
  }
}

// ===========================================================================
// TTzColumn

TTzColumn::TTzColumn() {
  font_ = DefaultFont();
  fontColor_ = DefaultFontColor();
}

TTzColumn::~TTzColumn() = default;

TTzColumnsGrid* TTzColumn::Grid() const { return collection_ ? collection_->Grid() : nullptr; }

int TTzColumn::Index() const { return collection_ ? collection_->IndexOf(this) : -1; }

void TTzColumn::SetIndex(int index) {
  if (collection_) collection_->MoveItem(Index(), index);
}

void TTzColumn::Changed() {
  if (collection_) collection_->Changed();
}

std::unique_ptr<TTzColumnTitle> TTzColumn::CreateTitle() { return std::make_unique<TTzColumnTitle>(*this); }

TTzColumnTitle& TTzColumn::Title() {
  if (!title_) title_ = CreateTitle();
  return *title_;
}

const TTzColumnTitle& TTzColumn::Title() const { return const_cast<TTzColumn*>(this)->Title(); }

// --- The field ---

data::TField* TTzColumn::Field() const {
  if (!field_ && !fieldName_.empty()) {
    TTzColumnsGrid* g = Grid();
    data::TDataSet* ds = g ? g->GridDataSet() : nullptr;
    // Looking the field up binds it: a cache filled on first use, whatever
    // the constness of the caller.
    if (ds && (ds->Active() || HasPersistentFields(*ds)))
      const_cast<TTzColumn*>(this)->SetField(ds->FindField(fieldName_));
  }
  return field_;
}

void TTzColumn::SetField(data::TField* field) {
  if (field == field_) return;
  field_ = field;
  if (field) fieldName_ = field->FieldName();
}

void TTzColumn::SetFieldName(const std::string& name) {
  data::TField* found = nullptr;
  TTzColumnsGrid* g = Grid();
  if (g && g->GridDataSet() && !g->GridLoading() && !name.empty()) found = g->GridDataSet()->FindField(name);
  fieldName_ = name;
  SetField(found);
  assigned_.Include(TColumnValue::cvFieldName);
  Changed();
}

// --- Display values ---

QColor TTzColumn::DefaultColor() const {
  if (TTzColumnsGrid* g = Grid()) return g->GridColor();
  return WindowColor();
}

QColor TTzColumn::Color() const { return Assigned(TColumnValue::cvColor) ? color_ : DefaultColor(); }

void TTzColumn::SetColor(const QColor& c) {
  if (Assigned(TColumnValue::cvColor) && color_ == c) return;
  color_ = c;
  assigned_.Include(TColumnValue::cvColor);
  Changed();
}

int TTzColumn::DefaultWidth() const {
  TTzColumnsGrid* g = Grid();
  if (!g) return kColumnWidthWithoutGrid;
  data::TField* f = Field();
  if (!f) return g->GridDefaultColWidth();
  const QFontMetrics metrics(Font());
  int width = (metrics.horizontalAdvance(QLatin1Char('0')) - kOverhang) * f->DisplayWidth() + kOverhang + 4;
  if (g->GridHasTitles()) {
    const QFontMetrics titleMetrics(Title().Font());
    width = std::max(width, titleMetrics.horizontalAdvance(Title().Caption()) + 4);
  }
  return width;
}

int TTzColumn::Width() const { return Assigned(TColumnValue::cvWidth) ? width_ : DefaultWidth(); }

void TTzColumn::SetWidth(int width) {
  if (Assigned(TColumnValue::cvWidth) || width != DefaultWidth()) {
    width_ = width;
    assigned_.Include(TColumnValue::cvWidth);
  }
  Changed();
}

QFont TTzColumn::DefaultFont() const {
  if (TTzColumnsGrid* g = Grid()) return g->GridFont();
  return QGuiApplication::font();
}

QColor TTzColumn::DefaultFontColor() const { return WindowTextColor(); }

QFont TTzColumn::Font() const {
  if (!Assigned(TColumnValue::cvFont)) {
    const QFont f = DefaultFont();
    if (!(font_ == f)) font_ = f;
  }
  return font_;
}

QColor TTzColumn::FontColor() const {
  if (!Assigned(TColumnValue::cvFont)) fontColor_ = DefaultFontColor();
  return fontColor_;
}

void TTzColumn::SetFont(const QFont& f) {
  if (Assigned(TColumnValue::cvFont) && font_ == f) return;
  fontColor_ = FontColor();  // the colour keeps the value it shows
  font_ = f;
  assigned_.Include(TColumnValue::cvFont);
  Title().RefreshDefaultFont();
  Changed();
}

void TTzColumn::SetFontColor(const QColor& c) {
  if (Assigned(TColumnValue::cvFont) && fontColor_ == c) return;
  font_ = Font();  // the font keeps the value it shows
  fontColor_ = c;
  assigned_.Include(TColumnValue::cvFont);
  Title().RefreshDefaultFont();
  Changed();
}

TAlignment TTzColumn::Alignment() const {
  return Assigned(TColumnValue::cvAlignment) ? alignment_ : DefaultAlignment();
}

void TTzColumn::SetAlignment(TAlignment a) {
  if (Assigned(TColumnValue::cvAlignment) && alignment_ == a) return;
  alignment_ = a;
  assigned_.Include(TColumnValue::cvAlignment);
  Changed();
}

bool TTzColumn::ReadOnly() const { return Assigned(TColumnValue::cvReadOnly) ? readOnly_ : DefaultReadOnly(); }

void TTzColumn::SetReadOnly(bool r) {
  if (Assigned(TColumnValue::cvReadOnly) && readOnly_ == r) return;
  readOnly_ = r;
  assigned_.Include(TColumnValue::cvReadOnly);
  Changed();
}

void TTzColumn::SetButtonStyle(TColumnButtonStyle s) {
  if (buttonStyle_ == s) return;
  buttonStyle_ = s;
  Changed();
}

void TTzColumn::SetDropDownRows(int rows) {
  if (dropDownRows_ == rows) return;
  dropDownRows_ = rows;
  Changed();
}

QStringList& TTzColumn::PickList() {
  if (!pickList_) pickList_ = std::make_unique<QStringList>();
  return *pickList_;
}

// The pick list only fills a drop-down list when one is opened: nothing to
// lay out, so no change is reported.
void TTzColumn::SetPickList(const QStringList& items) { PickList() = items; }

// --- Stored with the form ---

bool TTzColumn::IsAlignmentStored() const {
  return Assigned(TColumnValue::cvAlignment) && alignment_ != DefaultAlignment();
}
bool TTzColumn::IsButtonStyleStored() const { return buttonStyle_ != TColumnButtonStyle::cbsAuto; }
bool TTzColumn::IsColorStored() const { return Assigned(TColumnValue::cvColor) && color_ != DefaultColor(); }
bool TTzColumn::IsDropDownRowsStored() const { return dropDownRows_ != kDefaultDropDownRows; }
bool TTzColumn::IsFontStored() const { return Assigned(TColumnValue::cvFont); }
bool TTzColumn::IsReadOnlyStored() const {
  return Assigned(TColumnValue::cvReadOnly) && readOnly_ != DefaultReadOnly();
}
bool TTzColumn::IsWidthStored() const { return Assigned(TColumnValue::cvWidth) && width_ != DefaultWidth(); }

// --- Defaults and copies ---

void TTzColumn::RefreshDefaultFont() const {
  Font();
  FontColor();
  Title().RefreshDefaultFont();
}

void TTzColumn::RestoreDefaults() {
  UpdateScope update(collection_);
  Title().RestoreDefaults();
  assigned_.Clear();
  pickList_.reset();
  buttonStyle_ = TColumnButtonStyle::cbsAuto;
  RefreshDefaultFont();
  Changed();
}

void TTzColumn::Assign(const TTzColumn& source) {
  if (&source == this) return;
  UpdateScope update(collection_);
  RestoreDefaults();
  SetFieldName(source.FieldName());
  if (source.Assigned(TColumnValue::cvColor)) SetColor(source.color_);
  if (source.Assigned(TColumnValue::cvFont)) {
    SetFont(source.font_);
    SetFontColor(source.fontColor_);
  }
  if (source.Assigned(TColumnValue::cvAlignment)) SetAlignment(source.alignment_);
  if (source.Assigned(TColumnValue::cvReadOnly)) SetReadOnly(source.readOnly_);
  Title().Assign(source.Title());
  // The width last: whether it is kept depends on the default width, which
  // depends on the field, the fonts and the caption copied above.
  if (source.Assigned(TColumnValue::cvWidth)) SetWidth(source.width_);
  SetDropDownRows(source.dropDownRows_);
  SetButtonStyle(source.buttonStyle_);
  if (source.pickList_) SetPickList(*source.pickList_);
}

// ===========================================================================
// TPassthroughColumn

std::unique_ptr<TTzColumnTitle> TPassthroughColumn::CreateTitle() {
  return std::make_unique<TPassthroughColumnTitle>(*this);
}

void TPassthroughColumn::SetWidth(int width) {
  TTzColumnsGrid* g = Grid();
  if (g && g->GridHasWindow()) {
    if (data::TField* f = Field()) {
      const int average = QFontMetrics(Font()).averageCharWidth();
      if (average > 0) f->SetDisplayWidth((width + average / 2 - kOverhang - 3) / average);
    }
  }
  if (Collection() && Collection()->InLayoutPass() && !Assigned(TColumnValue::cvWidth)) return;
  TTzColumn::SetWidth(width);
}

void TPassthroughColumn::SetIndex(int index) {
  TTzColumnsGrid* g = Grid();
  if (g && g->GridLinkActive()) {
    data::TField* target = g->GridMappedField(index);
    data::TField* mine = Field();
    data::TDataSet* ds = g->GridDataSet();
    if (target && mine && ds) MoveFieldTo(*ds, mine, target);
  }
  TTzColumn::SetIndex(index);
}

void TPassthroughColumn::SetAlignment(TAlignment a) {
  TTzColumnsGrid* g = Grid();
  if (g && g->GridLinkActive() && Field()) return;
  TTzColumn::SetAlignment(a);
}

void TPassthroughColumn::SetField(data::TField* field) {
  if (field == BoundField()) return;
  TTzColumn::SetField(field);
  ResetAssignedValues();
  if (!field) ClearFieldName();
}

void TPassthroughColumnTitle::SetCaption(const QString& caption) {
  TTzColumn& column = Column();
  TTzColumnsGrid* g = column.Grid();
  if (g && g->GridLinkActive() && column.Field()) StoreCaption(caption);
}

// ===========================================================================
// TTzGridColumns

TTzGridColumns::TTzGridColumns(TTzColumnsGrid* grid) : grid_(grid) {}

TTzGridColumns::~TTzGridColumns() = default;

int TTzGridColumns::IndexOf(const TTzColumn* column) const {
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (items_[i].get() == column) return static_cast<int>(i);
  return -1;
}

template <class T>
T* TTzGridColumns::AddItem() {
  // The column is made under the grid's layout lock: the layout its
  // addition asks for runs once the column is complete.
  struct LayoutLock {
    TTzColumnsGrid* g;
    explicit LayoutLock(TTzColumnsGrid* grid) : g(grid) {
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

TTzColumn* TTzGridColumns::Add() { return AddItem<TTzColumn>(); }
TPassthroughColumn* TTzGridColumns::AddPassthrough() { return AddItem<TPassthroughColumn>(); }

void TTzGridColumns::Delete(int i) {
  if (i < 0 || i >= Count()) throw std::out_of_range("column index out of range");
  items_.erase(items_.begin() + i);
  Changed();
}

void TTzGridColumns::Clear() {
  if (items_.empty()) return;
  items_.clear();
  Changed();
}

void TTzGridColumns::Move(int from, int to) {
  if (from < 0 || from >= Count()) throw std::out_of_range("column index out of range");
  items_[static_cast<std::size_t>(from)]->SetIndex(to);
}

void TTzGridColumns::MoveItem(int from, int to) {
  if (from < 0 || from >= Count() || to < 0 || to >= Count()) throw std::out_of_range("column index out of range");
  if (from == to) return;
  auto first = items_.begin();
  if (from < to)
    std::rotate(first + from, first + from + 1, first + to + 1);
  else
    std::rotate(first + to, first + from, first + from + 1);
  Changed();
}

bool TTzGridColumns::Persistent() const {
  return !items_.empty() && dynamic_cast<const TPassthroughColumn*>(items_.front().get()) == nullptr;
}

void TTzGridColumns::RemovePassthroughBeforePersistent() {
  auto isPassthrough = [](const std::unique_ptr<TTzColumn>& c) {
    return dynamic_cast<const TPassthroughColumn*>(c.get()) != nullptr;
  };
  const auto firstPassthrough = std::find_if(items_.begin(), items_.end(), isPassthrough);
  const bool persistentAfter =
      firstPassthrough != items_.end() &&
      std::any_of(firstPassthrough + 1, items_.end(), [&](const auto& c) { return !isPassthrough(c); });
  if (!persistentAfter) return;
  items_.erase(std::remove_if(items_.begin(), items_.end(), isPassthrough), items_.end());
  Changed();
}

void TTzGridColumns::SyncDefaultColumns(bool keepBoundColumns, int mapCount) {
  UpdateScope update(this);
  auto inMap = [&](data::TField* f) {
    for (int i = 0; i < mapCount; ++i)
      if (grid_ && grid_->GridMappedField(i) == f) return true;
    return false;
  };
  if (keepBoundColumns) {
    for (int i = Count() - 1; i >= 0; --i) {
      data::TField* f = Items(i)->Field();
      if (!f || !inMap(f)) Delete(i);
    }
  } else {
    Clear();
  }
  const int entries = (mapCount == 0 && items_.empty()) ? 1 : mapCount;
  for (int i = 0; i < entries; ++i) {
    data::TField* f = (i < mapCount && grid_) ? grid_->GridMappedField(i) : nullptr;
    TTzColumn* column = nullptr;
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

void TTzGridColumns::BeginUpdate() { ++updateCount_; }

void TTzGridColumns::EndUpdate() {
  if (updateCount_ == 0) return;
  if (--updateCount_ > 0 || !changedInUpdate_) return;
  changedInUpdate_ = false;
  Changed();
}

// While the grid is being loaded nothing is reported: it lays itself out
// once loading ends.
void TTzGridColumns::Changed() {
  if (updateCount_ > 0) {
    changedInUpdate_ = true;
    return;
  }
  if (grid_ && !grid_->GridLoading()) grid_->GridColumnsChanged();
}

void TTzGridColumns::RestoreDefaults() {
  UpdateScope update(this);
  for (auto& c : items_) c->RestoreDefaults();
}

void TTzGridColumns::RefreshDefaultFonts() {
  for (auto& c : items_) c->RefreshDefaultFont();
}

void TTzGridColumns::Assign(const TTzGridColumns& source) {
  if (&source == this) return;
  UpdateScope update(this);
  Clear();
  for (const auto& from : source.items_) {
    TTzColumn* to = dynamic_cast<const TPassthroughColumn*>(from.get()) ? AddPassthrough() : Add();
    to->Assign(*from);
  }
}

}  // namespace vz::views
