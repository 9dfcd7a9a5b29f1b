#include "views/aTzGridColumns.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPalette>
#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

namespace vz::views {

namespace {

// Qt's font metrics know no overhang (the extra width some old raster
// fonts added to every string); the width formulas keep the term at 0.
constexpr int kOverhang = 0;

// Field names are bytes of the table's character set; they travel through
// QString as Latin-1 so that every byte comes back as it was.
QString NameToQString(const std::string& name) {
  return QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
}
std::string NameFromQString(const QString& name) { return name.toLatin1().toStdString(); }

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

// Folds the changes made inside it into one report (columns outside a
// collection report nothing).
class UpdateScope {
 public:
  explicit UpdateScope(TTzGridColumns* c) : c_(c) {
    if (c_) c_->BeginUpdate();
  }
  ~UpdateScope() {
    if (c_) c_->EndUpdate();
  }
  UpdateScope(const UpdateScope&) = delete;
  UpdateScope& operator=(const UpdateScope&) = delete;

 private:
  TTzGridColumns* c_;
};

// --- Pieces of the columns text ---

QString Quote(const QString& s) {
  QString out = QStringLiteral("\"");
  for (QChar ch : s) {
    switch (ch.unicode()) {
      case '\\': out += QStringLiteral("\\\\"); break;
      case '"': out += QStringLiteral("\\\""); break;
      case '\n': out += QStringLiteral("\\n"); break;
      case '\r': out += QStringLiteral("\\r"); break;
      case '\t': out += QStringLiteral("\\t"); break;
      default: out += ch;
    }
  }
  out += QLatin1Char('"');
  return out;
}

[[noreturn]] void BadValue(const QString& key, const QString& value) {
  throw EColumnsTextError(("bad value for " + key + ": " + value).toStdString());
}

// Reads the value of one property: quoted strings, separated by commas or
// blanks, and bare words.
class ValueReader {
 public:
  ValueReader(const QString& key, const QString& text) : key_(key), text_(text) {}

  bool AtEnd() {
    SkipBlanks();
    return pos_ >= text_.size();
  }
  QString String() {
    SkipBlanks();
    if (pos_ >= text_.size() || text_[pos_] != QLatin1Char('"')) BadValue(key_, text_);
    ++pos_;
    QString out;
    while (pos_ < text_.size()) {
      const QChar ch = text_[pos_++];
      if (ch == QLatin1Char('"')) return out;
      if (ch != QLatin1Char('\\')) {
        out += ch;
        continue;
      }
      if (pos_ >= text_.size()) break;
      switch (text_[pos_++].unicode()) {
        case '\\': out += QLatin1Char('\\'); break;
        case '"': out += QLatin1Char('"'); break;
        case 'n': out += QLatin1Char('\n'); break;
        case 'r': out += QLatin1Char('\r'); break;
        case 't': out += QLatin1Char('\t'); break;
        default: BadValue(key_, text_);
      }
    }
    BadValue(key_, text_);  // no closing quote
  }
  QString Word() {
    SkipBlanks();
    const qsizetype start = pos_;
    while (pos_ < text_.size() && !text_[pos_].isSpace() && text_[pos_] != QLatin1Char(',')) ++pos_;
    if (pos_ == start) BadValue(key_, text_);
    return text_.mid(start, pos_ - start);
  }
  void Finish() {
    if (!AtEnd()) BadValue(key_, text_);
  }

  QString OnlyString() {
    QString s = String();
    Finish();
    return s;
  }
  QString OnlyWord() {
    QString s = Word();
    Finish();
    return s;
  }
  int OnlyInt() {
    bool ok = false;
    const QString w = OnlyWord();
    const int v = w.toInt(&ok);
    if (!ok) BadValue(key_, text_);
    return v;
  }
  QColor Color() {
    const QColor c(Word());
    if (!c.isValid()) BadValue(key_, text_);
    return c;
  }
  [[noreturn]] void Fail() { BadValue(key_, text_); }

 private:
  void SkipBlanks() {
    while (pos_ < text_.size() && (text_[pos_].isSpace() || text_[pos_] == QLatin1Char(','))) ++pos_;
  }
  QString key_;
  QString text_;
  qsizetype pos_ = 0;
};

QString ColorText(const QColor& c) { return c.name(QColor::HexArgb); }
// A font is its description (QFont::toString) and its colour. The
// description separates its parts with commas and cannot carry an empty or
// blank family (nor blanks around one), so a family the description would
// not give back as it is (the older column list allows any) is written once
// more after the colour; the description then carries a stand-in: the name
// with its commas made blanks, or "-".
QString FontText(const QFont& f, const QColor& color) {
  const QString family = f.family();
  QString shown = QString(family).replace(QLatin1Char(','), QLatin1Char(' '));
  if (shown == family && !family.isEmpty() && family.trimmed() == family)
    return Quote(f.toString()) + ' ' + ColorText(color);
  shown = shown.trimmed();
  if (shown.isEmpty()) shown = QStringLiteral("-");
  QFont described(f);
  described.setFamily(shown);
  return Quote(described.toString()) + ' ' + ColorText(color) + ' ' + Quote(family);
}
void ReadFont(ValueReader& r, QFont& font, QColor& color) {
  if (!font.fromString(r.String())) r.Fail();
  color = r.Color();
  if (!r.AtEnd()) font.setFamily(r.String());
  r.Finish();
}

const std::array<std::pair<TAlignment, const char*>, 3> kAlignmentWords{{
    {TAlignment::taLeftJustify, "left"},
    {TAlignment::taRightJustify, "right"},
    {TAlignment::taCenter, "center"},
}};
QString AlignmentText(TAlignment a) {
  for (const auto& [value, word] : kAlignmentWords)
    if (value == a) return QLatin1String(word);
  return QStringLiteral("left");
}
TAlignment ReadAlignment(ValueReader& r) {
  const QString w = r.OnlyWord();
  for (const auto& [value, word] : kAlignmentWords)
    if (w == QLatin1String(word)) return value;
  r.Fail();
}

const std::array<std::pair<TColumnButtonStyle, const char*>, 3> kButtonWords{{
    {TColumnButtonStyle::cbsAuto, "auto"},
    {TColumnButtonStyle::cbsEllipsis, "ellipsis"},
    {TColumnButtonStyle::cbsNone, "none"},
}};
QString ButtonText(TColumnButtonStyle s) {
  for (const auto& [value, word] : kButtonWords)
    if (value == s) return QLatin1String(word);
  return QStringLiteral("auto");
}
TColumnButtonStyle ReadButtonStyle(ValueReader& r) {
  const QString w = r.OnlyWord();
  for (const auto& [value, word] : kButtonWords)
    if (w == QLatin1String(word)) return value;
  r.Fail();
}

bool ReadBool(ValueReader& r) {
  const QString w = r.OnlyWord();
  if (w == QLatin1String("true")) return true;
  if (w == QLatin1String("false")) return false;
  r.Fail();
}

QString Line(const char* key, const QString& value) { return QLatin1String(key) + QStringLiteral(" = ") + value; }

// --- The older column list ---

// A legacy font value: name,colour,flags. The name may itself hold commas,
// so the last two commas split it.
bool ParseLegacyFont(const QString& value, QFont& font, QColor& color) {
  const qsizetype second = value.lastIndexOf(QLatin1Char(','));
  if (second <= 0) return false;
  const qsizetype first = value.lastIndexOf(QLatin1Char(','), second - 1);
  if (first < 0) return false;
  const QString name = value.left(first).trimmed();
  if (!ParseLegacyColor(value.mid(first + 1, second - first - 1).trimmed(), color)) return false;
  bool ok = false;
  const int flags = value.mid(second + 1).trimmed().toInt(&ok);
  if (!ok) return false;
  font = QFont();
  font.setFamily(name);
  if ((flags & 0xFF) > 0) font.setPointSize(flags & 0xFF);
  font.setBold((flags & 0x100) != 0);
  font.setItalic((flags & 0x200) != 0);
  font.setUnderline((flags & 0x400) != 0);
  font.setStrikeOut((flags & 0x800) != 0);
  return true;
}

TAlignment LegacyAlignment(const QString& value) {
  if (value.compare(QLatin1String("taRightJustify"), Qt::CaseInsensitive) == 0) return TAlignment::taRightJustify;
  if (value.compare(QLatin1String("taCenter"), Qt::CaseInsensitive) == 0) return TAlignment::taCenter;
  return TAlignment::taLeftJustify;
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

// --- The columns text ---
//
// One property a line, "Name = value", in the order the properties are
// declared (Width last: its default depends on the others). Values:
// strings quoted with backslash escapes, colours "#aarrggbb", fonts the
// font's description quoted followed by the font colour, alignments
// left/right/center, button styles auto/ellipsis/none, read-only
// true/false, the pick list its items quoted and separated by commas.

void TTzColumn::WriteText(QStringList& lines) const {
  const TTzColumnTitle& title = Title();
  if (IsAlignmentStored()) lines << Line("Alignment", AlignmentText(alignment_));
  if (IsButtonStyleStored()) lines << Line("ButtonStyle", ButtonText(buttonStyle_));
  if (IsColorStored()) lines << Line("Color", ColorText(color_));
  if (IsDropDownRowsStored()) lines << Line("DropDownRows", QString::number(dropDownRows_));
  if (IsFieldNameStored()) lines << Line("FieldName", Quote(NameToQString(fieldName_)));
  if (IsFontStored()) lines << Line("Font", FontText(font_, fontColor_));
  if (IsPickListStored()) {
    QStringList items;
    if (pickList_)
      for (const QString& item : *pickList_) items << Quote(item);
    lines << Line("PickList", items.join(QStringLiteral(", ")));
  }
  if (IsReadOnlyStored()) lines << Line("ReadOnly", readOnly_ ? QStringLiteral("true") : QStringLiteral("false"));
  if (IsTitleStored()) {
    if (title.IsAlignmentStored()) lines << Line("Title.Alignment", AlignmentText(title.alignment_));
    if (title.IsCaptionStored()) lines << Line("Title.Caption", Quote(title.caption_));
    if (title.IsColorStored()) lines << Line("Title.Color", ColorText(title.color_));
    if (title.IsFontStored()) lines << Line("Title.Font", FontText(title.font_, title.fontColor_));
  }
  if (IsWidthStored()) lines << Line("Width", QString::number(width_));
}

bool TTzColumn::ReadTextProperty(const QString& key, const QString& value) {
  ValueReader r(key, value);
  if (key == QLatin1String("Alignment")) {
    SetAlignment(ReadAlignment(r));
  } else if (key == QLatin1String("ButtonStyle")) {
    SetButtonStyle(ReadButtonStyle(r));
  } else if (key == QLatin1String("Color")) {
    const QColor c = r.Color();
    r.Finish();
    SetColor(c);
  } else if (key == QLatin1String("DropDownRows")) {
    SetDropDownRows(r.OnlyInt());
  } else if (key == QLatin1String("FieldName")) {
    SetFieldName(NameFromQString(r.OnlyString()));
  } else if (key == QLatin1String("Font")) {
    QFont f;
    QColor c;
    ReadFont(r, f, c);
    SetFont(f);
    SetFontColor(c);
  } else if (key == QLatin1String("PickList")) {
    QStringList items;
    while (!r.AtEnd()) items << r.String();
    SetPickList(items);
  } else if (key == QLatin1String("ReadOnly")) {
    SetReadOnly(ReadBool(r));
  } else if (key == QLatin1String("Title.Alignment")) {
    Title().SetAlignment(ReadAlignment(r));
  } else if (key == QLatin1String("Title.Caption")) {
    Title().SetCaption(r.OnlyString());
  } else if (key == QLatin1String("Title.Color")) {
    const QColor c = r.Color();
    r.Finish();
    Title().SetColor(c);
  } else if (key == QLatin1String("Title.Font")) {
    QFont f;
    QColor c;
    ReadFont(r, f, c);
    Title().SetFont(f);
    Title().SetFontColor(c);
  } else if (key == QLatin1String("Width")) {
    SetWidth(r.OnlyInt());
  } else {
    return false;
  }
  return true;
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

QString TTzGridColumns::WriteText() const {
  QStringList lines;
  if (Persistent()) {
    for (const auto& c : items_) {
      lines << QStringLiteral("[column]");
      c->WriteText(lines);
    }
  }
  return lines.isEmpty() ? QString() : lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

void TTzGridColumns::ReadText(const QString& text) {
  // Each column as its list of (line number, key, value).
  struct Entry {
    int line;
    QString key, value;
  };
  std::vector<std::vector<Entry>> columns;
  const QStringList lines = text.split(QLatin1Char('\n'));
  for (int n = 0; n < lines.size(); ++n) {
    const QString line = lines[n].trimmed();
    const std::string where = "columns text, line " + std::to_string(n + 1) + ": ";
    if (line.isEmpty()) continue;
    if (line == QLatin1String("[column]")) {
      columns.emplace_back();
      continue;
    }
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq < 0) throw EColumnsTextError(where + "no \"=\"");
    if (columns.empty()) throw EColumnsTextError(where + "a property before the first [column]");
    columns.back().push_back({n + 1, line.left(eq).trimmed(), line.mid(eq + 1).trimmed()});
  }
  // Every line is tried on a column of its own first, so that a bad text
  // leaves the columns as they were.
  auto apply = [](TTzColumn& column, const Entry& e) {
    try {
      if (!column.ReadTextProperty(e.key, e.value))
        throw EColumnsTextError("unknown property " + e.key.toStdString());
    } catch (const EColumnsTextError& error) {
      throw EColumnsTextError("columns text, line " + std::to_string(e.line) + ": " + error.what());
    }
  };
  for (const auto& entries : columns) {
    TTzColumn scratch;
    for (const Entry& e : entries) apply(scratch, e);
  }
  UpdateScope update(this);
  Clear();
  for (const auto& entries : columns) {
    TTzColumn* column = Add();
    for (const Entry& e : entries) apply(*column, e);
  }
}

// --- The older column list ---

bool ParseLegacyColor(const QString& text, QColor& color) {
  struct Named {
    const char* name;
    std::uint32_t bgr;  // 0x00BBGGRR
  };
  static const Named kFixed[] = {
      {"clBlack", 0x000000},  {"clMaroon", 0x000080}, {"clGreen", 0x008000}, {"clOlive", 0x008080},
      {"clNavy", 0x800000},   {"clPurple", 0x800080}, {"clTeal", 0x808000},  {"clGray", 0x808080},
      {"clSilver", 0xC0C0C0}, {"clRed", 0x0000FF},    {"clLime", 0x00FF00},  {"clYellow", 0x00FFFF},
      {"clBlue", 0xFF0000},   {"clFuchsia", 0xFF00FF}, {"clAqua", 0xFFFF00}, {"clWhite", 0xFFFFFF},
  };
  struct System {
    const char* name;
    QPalette::ColorRole role;
  };
  static const System kSystem[] = {
      {"clWindow", QPalette::Base},
      {"clBtnFace", QPalette::Button},
      {"clWindowText", QPalette::Text},
      {"clHighlight", QPalette::Highlight},
      {"clHighlightText", QPalette::HighlightedText},
      {"clBtnText", QPalette::ButtonText},
      {"clBtnShadow", QPalette::Dark},
      {"clBtnHighlight", QPalette::Light},
      {"clInfoBk", QPalette::ToolTipBase},
      {"clInfoText", QPalette::ToolTipText},
  };
  const QString t = text.trimmed();
  auto fromBgr = [&color](std::uint32_t v) {
    color = QColor(static_cast<int>(v & 0xFF), static_cast<int>((v >> 8) & 0xFF), static_cast<int>((v >> 16) & 0xFF));
  };
  for (const Named& n : kFixed)
    if (t.compare(QLatin1String(n.name), Qt::CaseInsensitive) == 0) {
      fromBgr(n.bgr);
      return true;
    }
  for (const System& s : kSystem)
    if (t.compare(QLatin1String(s.name), Qt::CaseInsensitive) == 0) {
      color = QGuiApplication::palette().color(s.role);
      return true;
    }
  if (t.compare(QLatin1String("clGrayText"), Qt::CaseInsensitive) == 0) {
    color = QGuiApplication::palette().color(QPalette::Disabled, QPalette::Text);
    return true;
  }
  bool ok = false;
  qlonglong v = 0;
  if (t.startsWith(QLatin1Char('$')))
    v = t.mid(1).toLongLong(&ok, 16);
  else if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
    v = t.mid(2).toLongLong(&ok, 16);
  else
    v = t.toLongLong(&ok, 10);
  if (!ok) return false;
  fromBgr(static_cast<std::uint32_t>(static_cast<unsigned long long>(v) & 0xFFFFFFu));
  return true;
}

// Each entry is "key=value" with one of the keys below at the start of the
// trimmed entry (compared as written) followed directly by "="; anything
// else is skipped, and so is an entry whose value cannot be read. Column
// numbers count from 1: "cvColumn=n" adds columns until there are n (n at
// most kMaxSavedColumns).
void TTzGridColumns::ReadSavedColumns(const QStringList& entries) {
  enum class Key { Column, Color, Width, Font, Alignment, ReadOnly, TitleColor, TitleCaption,
                   TitleAlignment, TitleFont, FieldName };
  static const std::pair<const char*, Key> kKeys[] = {
      {"cvColumn", Key::Column},
      {"cvColorStr", Key::Color},
      {"cvWidthStr", Key::Width},
      {"cvFontStr", Key::Font},
      {"cvAlignmentStr", Key::Alignment},
      {"cvReadOnlyStr", Key::ReadOnly},
      {"cvTitleColorStr", Key::TitleColor},
      {"cvTitleCaptionStr", Key::TitleCaption},
      {"cvTitleAlignmentStr", Key::TitleAlignment},
      {"cvTitleFontStr", Key::TitleFont},
      {"cvFieldNameStr", Key::FieldName},
  };
  UpdateScope update(this);
  // A grid without persistent columns has an empty one of its own making
  // before the list is read; it is not part of the list's columns.
  if (Count() == 1) {
    TTzColumn* only = items_.front().get();
    if (only->FieldName().empty() && !only->Field() && only->Title().Caption().isEmpty()) Delete(0);
  }
  TTzColumn* current = nullptr;
  for (const QString& raw : entries) {
    const QString entry = raw.trimmed();
    const auto* match = std::find_if(std::begin(kKeys), std::end(kKeys), [&entry](const auto& k) {
      return entry.startsWith(QLatin1String(k.first));
    });
    if (match == std::end(kKeys)) continue;
    const qsizetype keyLength = static_cast<qsizetype>(std::strlen(match->first));
    if (entry.size() <= keyLength || entry[keyLength] != QLatin1Char('=')) continue;
    const QString value = entry.mid(keyLength + 1);
    bool ok = false;
    if (match->second == Key::Column) {
      const int n = value.trimmed().toInt(&ok);
      // More columns than a table can have fields is damage, not a list.
      if (!ok || n > kMaxSavedColumns) continue;
      while (Count() < n) current = Add();
      continue;
    }
    if (!current) continue;
    switch (match->second) {
      case Key::Color: {
        QColor c;
        if (ParseLegacyColor(value, c)) current->SetColor(c);
        break;
      }
      case Key::Width: {
        const int w = value.trimmed().toInt(&ok);
        if (ok) current->SetWidth(w);
        break;
      }
      case Key::Font: {
        QFont f;
        QColor c;
        if (ParseLegacyFont(value, f, c)) {
          current->SetFont(f);
          current->SetFontColor(c);
        }
        break;
      }
      case Key::Alignment: current->SetAlignment(LegacyAlignment(value.trimmed())); break;
      case Key::ReadOnly:
        current->SetReadOnly(value.trimmed().compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0);
        break;
      case Key::TitleColor: {
        QColor c;
        if (ParseLegacyColor(value, c)) current->Title().SetColor(c);
        break;
      }
      case Key::TitleCaption: current->Title().SetCaption(value); break;
      case Key::TitleAlignment: current->Title().SetAlignment(LegacyAlignment(value.trimmed())); break;
      case Key::TitleFont: {
        QFont f;
        QColor c;
        if (ParseLegacyFont(value, f, c)) {
          current->Title().SetFont(f);
          current->Title().SetFontColor(c);
        }
        break;
      }
      case Key::FieldName: current->SetFieldName(NameFromQString(value)); break;
      case Key::Column: break;
    }
  }
}

}  // namespace vz::views
