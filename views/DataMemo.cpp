#include "views/DataMemo.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QTextDocument>
#include <algorithm>

#include "platform/codepage.h"
#include "platform/hooks.h"
#include "table/TableDataSet.h"

namespace vz::views {

namespace {

const char kPlaceholder[] = "(Memo)";

QString FromAnsi(const std::string& ansi) {
  return QString::fromUtf8(platform::AnsiToUtf8(ansi));
}

std::string ToAnsi(const QString& text) {
  const QByteArray utf8 = text.toUtf8();
  return platform::Utf8ToAnsi(
      std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}

// A document's text with each line break as CR LF, the break of the
// table's memo texts. Unlike toPlainText() this keeps non-breaking spaces.
QString TextForField(const QTextDocument& document) {
  QString text = document.toRawText();
  text.replace(QChar::ParagraphSeparator, QChar('\n'));
  text.replace(QChar::LineSeparator, QChar('\n'));
  text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
  return text;
}

// A text as the control's document holds it: every line break one LF.
QString AsDocumentText(QString text) {
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QChar('\r'), QChar('\n'));
  return text;
}

}  // namespace

DataMemo::DataMemo(QWidget* parent)
    : QPlainTextEdit(parent), link_(std::make_unique<FieldDataLink>()) {
  link_->SetControl(this);
  link_->OnDataChange = [this] { DataChange(); };
  link_->OnEditingChange = [this] { EditingChange(); };
  link_->OnUpdateData = [this] { UpdateData(); };
  EditingChange();
  setTabChangesFocus(true);
  SetScrollBars(ScrollStyle::ssNone);
  SetWordWrap(true);
  name_ = objectName();
  connect(this, &QPlainTextEdit::textChanged, this, [this] { TextChanged(); });
  connect(this, &QObject::objectNameChanged, this,
          [this](const QString& name) { NameChanged(name); });
}

DataMemo::~DataMemo() {
  // The document goes with the base class: its last change must not reach
  // members that are gone by then.
  disconnect(this, &QPlainTextEdit::textChanged, this, nullptr);
  disconnect(this, &QObject::objectNameChanged, this, nullptr);
  link_->OnDataChange = nullptr;
  link_->OnEditingChange = nullptr;
  link_->OnUpdateData = nullptr;
  link_->SetDataSource(nullptr);
}

// --- Data binding ---------------------------------------------------------------------------

void DataMemo::SetDataSource(data::DataSource* source) {
  link_->SetDataSource(source);
}

void DataMemo::SetDataField(const std::string& name) {
  link_->SetFieldName(name);
}

void DataMemo::SetAutoDisplay(bool on) {
  if (on == autoDisplay_) return;
  autoDisplay_ = on;
  if (on) LoadMemo();
}

void DataMemo::LoadMemo() {
  if (loaded_ || !Field()) return;
  try {
    const QString text = FromAnsi(Field()->AsString());
    if (text.size() > textLimit_)
      throw InvalidOperationError("Text of " + std::to_string(text.size()) +
                                  " characters exceeds the memo's limit of " +
                                  std::to_string(textLimit_));
    // While editing, the text comes back unchanged when the data set enters
    // edit state: the caret and the view stay where the user has them.
    if (!(link_->Editing() && AsDocumentText(text) == AsDocumentText(TextForField(*document()))))
      SetControlText(text);
    loaded_ = true;
  } catch (const InvalidOperationError& e) {
    SetControlText("(" + QString::fromUtf8(e.what()) + ")");
    // The message is no text of the field: it takes no keys and is never
    // written back.
    loaded_ = false;
  }
  EditingChange();
}

void DataMemo::SetControlText(const QString& text) {
  // A text set by the program is never a change of the user's.
  loaded_ = false;
  setPlainText(text);
}

void DataMemo::DataChange() {
  if (Field()) {
    if (autoDisplay_ || (link_->Editing() && loaded_)) {
      loaded_ = false;
      LoadMemo();
      return;
    }
    SetControlText(QString::fromLatin1(kPlaceholder));
  } else {
    SetControlText(QString());
  }
  loaded_ = false;
  EditingChange();
}

void DataMemo::EditingChange() {
  const bool readOnly = !(link_->Editing() && loaded_);
  setReadOnly(readOnly);
  // Read-only, the text can still be browsed and selected with the keys.
  if (readOnly) setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
}

void DataMemo::UpdateData() {
  Field()->SetAsString(ToAnsi(TextForField(*document())));
}

void DataMemo::TextChanged() {
  if (loaded_) link_->Modified();
  loaded_ = true;
  if (OnChange) OnChange();
}

// --- Keys and mouse -------------------------------------------------------------------------

template <typename F>
void DataMemo::Guarded(F f) {
  try {
    f();
  } catch (const std::exception& e) {
    platform::ShowMessage(e.what());
  }
}

int DataMemo::CharacterOf(const QKeyEvent* event) {
  const Qt::KeyboardModifiers mods = event->modifiers();
  const bool ctrl = mods.testFlag(Qt::ControlModifier);
  const bool alt = mods.testFlag(Qt::AltModifier);
  if (ctrl && !alt) {
    const int key = event->key();
    if (key >= Qt::Key_A && key <= Qt::Key_Z) return key - Qt::Key_A + 1;
    if (key == Qt::Key_Return || key == Qt::Key_Enter) return '\n';
    return 0;
  }
  if (alt && !ctrl) return 0;  // a menu accelerator, no character
  const QString text = event->text();
  if (text.isEmpty()) return 0;
  return static_cast<int>(text.toUcs4().value(0));
}

bool DataMemo::AcceptsCharacter(int character) const {
  if (character < 32) return true;
  const char32_t c = static_cast<char32_t>(character);
  const QByteArray utf8 = QString::fromUcs4(&c, 1).toUtf8();
  const std::string original(utf8.constData(), static_cast<std::size_t>(utf8.size()));
  const std::string ansi = platform::Utf8ToAnsi(original);
  if (ansi.size() != 1 || platform::AnsiToUtf8(ansi) != original) return false;
  // An OEM table keeps the character's OEM counterpart, which has to lead
  // back to the same character.
  const auto* table = Field() ? dynamic_cast<const TableDataSet*>(Field()->DataSet()) : nullptr;
  if (table && table->TableLanguage == TableCharset::tlOem) {
    const auto b = static_cast<std::uint8_t>(ansi[0]);
    if (platform::OemToAnsiByte(platform::AnsiToOemByte(b)) != b) return false;
  }
  return true;
}

void DataMemo::keyPressEvent(QKeyEvent* event) {
  // Key down.
  int key = event->key();
  if (OnKeyDown) {
    OnKeyDown(key, event->modifiers());
    if (key == 0) {
      event->accept();
      return;
    }
  }
  if (loaded_ && (key == Qt::Key_Delete ||
                  (key == Qt::Key_Insert && event->modifiers().testFlag(Qt::ShiftModifier))))
    Guarded([this] { link_->Edit(); });

  // Key press: the character the key types.
  int character = CharacterOf(event);
  if (character != 0 && OnKeyPress) {
    OnKeyPress(character);
    if (character == 0) {
      event->accept();
      return;
    }
  }
  if (!loaded_) {
    if (character == '\r') Guarded([this] { LoadMemo(); });
    event->accept();
    return;
  }
  if (character >= 32 && !AcceptsCharacter(character)) {
    QApplication::beep();
    event->accept();
    return;
  }
  switch (character) {
    case 8:   // Backspace
    case 9:   // Tab
    case 10:  // line feed
    case 13:  // Enter
    case 22:  // Ctrl+V
    case 24:  // Ctrl+X
      Guarded([this] { link_->Edit(); });
      break;
    case 27:  // Escape
      Guarded([this] { link_->Reset(); });
      break;
    default:
      if (character >= 32) Guarded([this] { link_->Edit(); });
      break;
  }
  QPlainTextEdit::keyPressEvent(event);
}

void DataMemo::inputMethodEvent(QInputMethodEvent* event) {
  if (!loaded_) {
    event->accept();
    return;
  }
  const QString commit = event->commitString();
  if (!commit.isEmpty()) {
    for (char32_t c : commit.toUcs4()) {
      if (!AcceptsCharacter(static_cast<int>(c))) {
        QApplication::beep();
        event->accept();
        return;
      }
    }
    Guarded([this] { link_->Edit(); });
  }
  QPlainTextEdit::inputMethodEvent(event);
}

void DataMemo::mouseDoubleClickEvent(QMouseEvent* event) {
  if (!loaded_) {
    Guarded([this] { LoadMemo(); });
    return;
  }
  QPlainTextEdit::mouseDoubleClickEvent(event);
}

void DataMemo::focusOutEvent(QFocusEvent* event) {
  QPlainTextEdit::focusOutEvent(event);
  // A popup (the context menu) or another window taking the activation
  // does not leave the control.
  if (event->reason() == Qt::PopupFocusReason || event->reason() == Qt::ActiveWindowFocusReason)
    return;
  try {
    link_->UpdateRecord();
  } catch (const std::exception& e) {
    setFocus(Qt::OtherFocusReason);
    platform::ShowMessage(e.what());
  }
}

void DataMemo::CutToClipboard() {
  if (loaded_) Guarded([this] { link_->Edit(); });
  if (!isReadOnly()) cut();
}

void DataMemo::PasteFromClipboard() {
  if (loaded_) Guarded([this] { link_->Edit(); });
  if (!isReadOnly()) paste();
}

void DataMemo::contextMenuEvent(QContextMenuEvent* event) {
  std::unique_ptr<QMenu> menu(createStandardContextMenu(event->pos()));
  // The control is read-only until the link edits, so the standard menu
  // offers no Cut, Paste or Delete. A link that can modify gets its own:
  // they start editing first.
  for (QAction* a : menu->actions()) {
    const QString name = a->objectName();
    if (name == "edit-cut" || name == "edit-paste" || name == "edit-delete") {
      menu->removeAction(a);
      delete a;
    }
  }
  if (loaded_ && link_->CanModify()) {
    const QList<QAction*> actions = menu->actions();
    QAction* copy = nullptr;
    QAction* afterCopy = nullptr;
    for (int i = 0; i < actions.size(); ++i)
      if (actions[i]->objectName() == "edit-copy") {
        copy = actions[i];
        afterCopy = i + 1 < actions.size() ? actions[i + 1] : nullptr;
      }
    const bool hasSelection = textCursor().hasSelection();
    const QMimeData* clip = QGuiApplication::clipboard()->mimeData();
    const bool canPaste = clip && clip->hasText();
    auto make = [&](const QString& text, QKeySequence::StandardKey key, const char* name,
                    bool enabled) {
      QString label = text;
      if (key != QKeySequence::UnknownKey)
        label += '\t' + QKeySequence(key).toString(QKeySequence::NativeText);
      auto* action = new QAction(label, menu.get());
      action->setObjectName(QString::fromLatin1(name));
      action->setEnabled(enabled);
      return action;
    };
    QAction* cut = make(tr("Cu&t"), QKeySequence::Cut, "edit-cut", hasSelection);
    QAction* paste = make(tr("&Paste"), QKeySequence::Paste, "edit-paste", canPaste);
    QAction* remove = make(tr("Delete"), QKeySequence::UnknownKey, "edit-delete", hasSelection);
    connect(cut, &QAction::triggered, this, [this] { CutToClipboard(); });
    connect(paste, &QAction::triggered, this, [this] { PasteFromClipboard(); });
    connect(remove, &QAction::triggered, this, [this] {
      Guarded([this] { link_->Edit(); });
      if (!isReadOnly()) textCursor().removeSelectedText();
    });
    menu->insertAction(copy, cut);
    menu->insertActions(afterCopy, {paste, remove});
  }
  menu->exec(event->globalPos());
}

// --- Appearance -----------------------------------------------------------------------------

void DataMemo::SetScrollBars(ScrollStyle style) {
  scrollBars_ = style;
  const bool h = style == ScrollStyle::ssHorizontal || style == ScrollStyle::ssBoth;
  const bool v = style == ScrollStyle::ssVertical || style == ScrollStyle::ssBoth;
  setHorizontalScrollBarPolicy(h ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(v ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
}

void DataMemo::SetWordWrap(bool on) {
  wordWrap_ = on;
  setLineWrapMode(on ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
}

QFont TerminalFont() {
  QFont font(QStringLiteral("DejaVu Sans Mono"));
  font.setStyleHint(QFont::Monospace);
  font.setFixedPitch(true);
  // A 12-pixel cell like the terminal font's, whatever the screen's
  // resolution.
  font.setPixelSize(12);
  if (!QFontInfo(font).fixedPitch()) {
    font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(12);
  }
  return font;
}

// --- Caption label --------------------------------------------------------------------------

QWidget* DataMemo::LabelOwner() const {
  return parentWidget() ? window() : nullptr;
}

QLabel* DataMemo::FindLabel(const QString& memoName) {
  if (label_) return label_;
  QWidget* owner = LabelOwner();
  if (!owner) return nullptr;
  QLabel* label = owner->findChild<QLabel*>(memoName + "Caption");
  if (!label) return nullptr;
  label_ = label;
  name_ = memoName;
  if (captionPos_ != CaptionPosition::cpDetached) AdoptLabel(label);
  return label;
}

QLabel* DataMemo::CaptionLabel() {
  return FindLabel(objectName());
}

void DataMemo::AdoptLabel(QLabel* label) {
  QWidget* parent = parentWidget();
  if (!parent || label->parentWidget() == parent) return;
  // A new parent hides a widget: keep it as it was.
  const bool shown = !label->isHidden();
  label->setParent(parent);
  label->setVisible(shown);
}

QString DataMemo::Caption() {
  QLabel* label = CaptionLabel();
  return label ? label->text() : QString();
}

void DataMemo::SetCaption(const QString& text) {
  if (text.isEmpty()) {
    if (QLabel* label = CaptionLabel()) {
      label_ = nullptr;
      delete label;
    }
    return;
  }
  QLabel* label = CaptionLabel();
  if (!label) {
    if (!parentWidget()) return;
    label = new QLabel(text, parentWidget());
    label->setObjectName(objectName() + "Caption");
    label->adjustSize();
    label->show();
    label_ = label;
    name_ = objectName();
    if (captionPos_ == CaptionPosition::cpDetached) captionPos_ = CaptionPosition::cpLeft;
  }
  label->setText(text);
  PlaceLabel();
}

void DataMemo::SetCaptionPos(CaptionPosition pos) {
  captionPos_ = pos;
  QLabel* label = CaptionLabel();
  if (label && pos != CaptionPosition::cpDetached) AdoptLabel(label);
  PlaceLabel();
}

void DataMemo::PlaceLabel() {
  QLabel* label = label_;
  if (!label || captionPos_ == CaptionPosition::cpDetached) return;
  // The label is a point at (left, top) and grows from it to the right
  // (left alignment) or to the left (right alignment), sized to its text.
  const QRect m = geometry();
  const QSize size = label->sizeHint();
  const int h = size.height();
  int top = 0, left = 0;
  bool right = false;
  switch (captionPos_) {
    case CaptionPosition::cpLeft: top = m.y() + 4, left = m.x() - 4, right = true; break;
    case CaptionPosition::cpRight: top = m.y() + 4, left = m.x() + m.width() + 4; break;
    case CaptionPosition::cpTopLeft: top = m.y() - h - 4, left = m.x(); break;
    case CaptionPosition::cpTopRight:
      top = m.y() - h - 4, left = m.x() + m.width(), right = true;
      break;
    case CaptionPosition::cpBottomLeft: top = m.y() + m.height() + 4, left = m.x(); break;
    case CaptionPosition::cpBottomRight:
      top = m.y() + m.height() + 4, left = m.x() + m.width(), right = true;
      break;
    case CaptionPosition::cpDetached: return;
  }
  label->setAlignment((right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
  label->setGeometry(right ? left - size.width() : left, top, size.width(), h);
}

void DataMemo::NameChanged(const QString& name) {
  if (QLabel* label = FindLabel(name_)) label->setObjectName(name + "Caption");
  name_ = name;
}

void DataMemo::moveEvent(QMoveEvent* event) {
  QPlainTextEdit::moveEvent(event);
  if (CaptionLabel()) PlaceLabel();
}

void DataMemo::resizeEvent(QResizeEvent* event) {
  QPlainTextEdit::resizeEvent(event);
  if (CaptionLabel()) PlaceLabel();
}

}  // namespace vz::views
