// The columns' text forms: the columns text the grid stores and reads
// back, and the older "key=value" column list it still reads.
#include <QGuiApplication>
#include <QPalette>
#include <QStringList>
#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "views/GridColumns.h"
#include "views/GridColumnsDetail.h"

namespace vz::views {

using columns_detail::NameFromQString;
using columns_detail::NameToQString;
using columns_detail::UpdateScope;

namespace {

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
  throw ColumnsTextError(("bad value for " + key + ": " + value).toStdString());
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
    while (pos_ < text_.size() && (text_[pos_].isSpace() || text_[pos_] == QLatin1Char(',')))
      ++pos_;
  }
  QString key_;
  QString text_;
  qsizetype pos_ = 0;
};

QString ColorText(const QColor& c) {
  return c.name(QColor::HexArgb);
}
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

const std::array<std::pair<TextAlignment, const char*>, 3> kAlignmentWords{{
    {TextAlignment::taLeftJustify, "left"},
    {TextAlignment::taRightJustify, "right"},
    {TextAlignment::taCenter, "center"},
}};
QString AlignmentText(TextAlignment a) {
  for (const auto& [value, word] : kAlignmentWords)
    if (value == a) return QLatin1String(word);
  return QStringLiteral("left");
}
TextAlignment ReadAlignment(ValueReader& r) {
  const QString w = r.OnlyWord();
  for (const auto& [value, word] : kAlignmentWords)
    if (w == QLatin1String(word)) return value;
  r.Fail();
}

const std::array<std::pair<ColumnButtonStyle, const char*>, 3> kButtonWords{{
    {ColumnButtonStyle::cbsAuto, "auto"},
    {ColumnButtonStyle::cbsEllipsis, "ellipsis"},
    {ColumnButtonStyle::cbsNone, "none"},
}};
QString ButtonText(ColumnButtonStyle s) {
  for (const auto& [value, word] : kButtonWords)
    if (value == s) return QLatin1String(word);
  return QStringLiteral("auto");
}
ColumnButtonStyle ReadButtonStyle(ValueReader& r) {
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

QString Line(const char* key, const QString& value) {
  return QLatin1String(key) + QStringLiteral(" = ") + value;
}

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

TextAlignment LegacyAlignment(const QString& value) {
  if (value.compare(QLatin1String("taRightJustify"), Qt::CaseInsensitive) == 0)
    return TextAlignment::taRightJustify;
  if (value.compare(QLatin1String("taCenter"), Qt::CaseInsensitive) == 0)
    return TextAlignment::taCenter;
  return TextAlignment::taLeftJustify;
}

}  // namespace

// --- The columns text ---
//
// One property a line, "Name = value", in the order the properties are
// declared (Width last: its default depends on the others). Values:
// strings quoted with backslash escapes, colours "#aarrggbb", fonts the
// font's description quoted followed by the font colour, alignments
// left/right/center, button styles auto/ellipsis/none, read-only
// true/false, the pick list its items quoted and separated by commas.

void GridColumn::WriteText(QStringList& lines) const {
  const ColumnTitle& title = Title();
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
  if (IsReadOnlyStored())
    lines << Line("ReadOnly", readOnly_ ? QStringLiteral("true") : QStringLiteral("false"));
  if (IsTitleStored()) {
    if (title.IsAlignmentStored())
      lines << Line("Title.Alignment", AlignmentText(title.alignment_));
    if (title.IsCaptionStored()) lines << Line("Title.Caption", Quote(title.caption_));
    if (title.IsColorStored()) lines << Line("Title.Color", ColorText(title.color_));
    if (title.IsFontStored()) lines << Line("Title.Font", FontText(title.font_, title.fontColor_));
  }
  if (IsWidthStored()) lines << Line("Width", QString::number(width_));
}

bool GridColumn::ReadTextProperty(const QString& key, const QString& value) {
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

QString GridColumns::WriteText() const {
  QStringList lines;
  if (Persistent()) {
    for (const auto& c : items_) {
      lines << QStringLiteral("[column]");
      c->WriteText(lines);
    }
  }
  return lines.isEmpty() ? QString() : lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

void GridColumns::ReadText(const QString& text) {
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
    if (eq < 0) throw ColumnsTextError(where + "no \"=\"");
    if (columns.empty()) throw ColumnsTextError(where + "a property before the first [column]");
    columns.back().push_back({n + 1, line.left(eq).trimmed(), line.mid(eq + 1).trimmed()});
  }
  // Every line is tried on a column of its own first, so that a bad text
  // leaves the columns as they were.
  auto apply = [](GridColumn& column, const Entry& e) {
    try {
      if (!column.ReadTextProperty(e.key, e.value))
        throw ColumnsTextError("unknown property " + e.key.toStdString());
    } catch (const ColumnsTextError& error) {
      throw ColumnsTextError("columns text, line " + std::to_string(e.line) + ": " + error.what());
    }
  };
  for (const auto& entries : columns) {
    GridColumn scratch;
    for (const Entry& e : entries) apply(scratch, e);
  }
  UpdateScope update(this);
  Clear();
  for (const auto& entries : columns) {
    GridColumn* column = Add();
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
      {"clBlack", 0x000000}, {"clMaroon", 0x000080},  {"clGreen", 0x008000},
      {"clOlive", 0x008080}, {"clNavy", 0x800000},    {"clPurple", 0x800080},
      {"clTeal", 0x808000},  {"clGray", 0x808080},    {"clSilver", 0xC0C0C0},
      {"clRed", 0x0000FF},   {"clLime", 0x00FF00},    {"clYellow", 0x00FFFF},
      {"clBlue", 0xFF0000},  {"clFuchsia", 0xFF00FF}, {"clAqua", 0xFFFF00},
      {"clWhite", 0xFFFFFF},
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
    color = QColor(static_cast<int>(v & 0xFF), static_cast<int>((v >> 8) & 0xFF),
                   static_cast<int>((v >> 16) & 0xFF));
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
void GridColumns::ReadSavedColumns(const QStringList& entries) {
  enum class Key {
    Column,
    Color,
    Width,
    Font,
    Alignment,
    ReadOnly,
    TitleColor,
    TitleCaption,
    TitleAlignment,
    TitleFont,
    FieldName
  };
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
    GridColumn* only = items_.front().get();
    if (only->FieldName().empty() && !only->Field() && only->Title().Caption().isEmpty()) Delete(0);
  }
  GridColumn* current = nullptr;
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
        current->SetReadOnly(value.trimmed().compare(QLatin1String("TRUE"), Qt::CaseInsensitive) ==
                             0);
        break;
      case Key::TitleColor: {
        QColor c;
        if (ParseLegacyColor(value, c)) current->Title().SetColor(c);
        break;
      }
      case Key::TitleCaption: current->Title().SetCaption(value); break;
      case Key::TitleAlignment:
        current->Title().SetAlignment(LegacyAlignment(value.trimmed()));
        break;
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
