// A multi-line text control bound to one field of a data source. It shows
// the field's text for the data set's current record, reloads it whenever
// the current record changes and, through a writable link, writes typed
// changes back to the field. It can carry a caption: a separate label kept
// at one of six places around the memo.
//
// The control is a QPlainTextEdit: field texts are plain text (a memo of a
// cheat table is lines of OEM text), and the plain-text document lays out
// long texts line by line without a rich-text pass. A QTextEdit would also
// interpret text that looks like HTML.
//
// Texts from the table are ANSI bytes of the current ANSI code page; they
// become Unicode where they enter the control and ANSI again where the
// control's text is written to the field. Line breaks are read as CR LF, LF
// or CR and written as CR LF.
#pragma once

#include <QPlainTextEdit>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "views/FieldDataLink.h"

class QLabel;
class QMimeData;

namespace vz::views {

// Where a memo's caption label stands.
enum class CaptionPosition {
  cpLeft,
  cpRight,
  cpTopLeft,
  cpTopRight,
  cpBottomLeft,
  cpBottomRight,
  cpDetached
};

enum class ScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };

// An operation the control cannot carry out: a text larger than the
// control holds.
class InvalidOperationError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class DataMemo : public QPlainTextEdit {
  Q_OBJECT

 public:
  // The most characters the control holds unless changed by SetTextLimit:
  // a field text longer than this is not loaded but reported as
  // "(" + message + ")". Far beyond any cheat text, and low enough that a
  // damaged memo (a runaway block chain) cannot stall the window.
  static constexpr int kDefaultTextLimit = 4 * 1024 * 1024;

  explicit DataMemo(QWidget* parent = nullptr);
  ~DataMemo() override;

  // --- Data binding ---
  data::DataSource* DataSource() const { return link_->DataSource(); }
  void SetDataSource(data::DataSource* source);
  const std::string& DataField() const { return link_->FieldName(); }
  void SetDataField(const std::string& name);
  data::Field* Field() const { return link_->Field(); }
  FieldDataLink& DataLink() { return *link_; }
  // The link's read-only flag (default false). The control's own read-only
  // state (isReadOnly) follows from it: the control is writable only while
  // the link is editing and the text is loaded.
  bool ReadOnly() const { return link_->ReadOnly(); }
  void SetReadOnly(bool on) { link_->SetReadOnly(on); }

  // Load the field's text at every record change (default true). With
  // false the control shows "(Memo)" until Enter or a double click.
  bool AutoDisplay() const { return autoDisplay_; }
  void SetAutoDisplay(bool on);
  // The control holds the field's text (not a placeholder or a message).
  bool Loaded() const { return loaded_; }
  // Loads the field's text unless it is loaded already.
  void LoadMemo();

  int TextLimit() const { return textLimit_; }
  void SetTextLimit(int characters) { textLimit_ = characters; }

  // --- Appearance ---
  ScrollStyle ScrollBars() const { return scrollBars_; }
  void SetScrollBars(ScrollStyle style);
  bool WordWrap() const { return wordWrap_; }
  void SetWordWrap(bool on);
  // Tab inserts a tab instead of moving the focus (default false).
  bool WantTabs() const { return !tabChangesFocus(); }
  void SetWantTabs(bool on) { setTabChangesFocus(!on); }

  // --- Caption label ---
  // The label is the QLabel named after the memo (objectName + "Caption")
  // among the widgets of the memo's window. It lives beside the memo, with
  // the memo's parent as its parent; destroying the memo leaves it there.
  QString Caption();
  // An empty text deletes the label. Another text looks for the label and,
  // without one, creates it (and a detached caption moves to cpLeft); then
  // the label shows the text and is placed. A memo without a parent widget
  // has nowhere to put a label and keeps none.
  void SetCaption(const QString& text);
  CaptionPosition CaptionPos() const { return captionPos_; }
  void SetCaptionPos(CaptionPosition pos);
  // The label, looked for when the memo holds none (null: no label).
  QLabel* CaptionLabel();

  // --- Clipboard requests (they start editing first) ---
  void CutToClipboard();
  void PasteFromClipboard();

  // --- Events ---
  // Run before the memo's own key handling; setting the key to 0 swallows
  // it. OnKeyDown gets the Qt key code, OnKeyPress the character (control
  // characters as their codes: Ctrl+V is 22).
  std::function<void(int& key, Qt::KeyboardModifiers modifiers)> OnKeyDown;
  std::function<void(int& character)> OnKeyPress;
  // After every change of the control's text.
  std::function<void()> OnChange;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void inputMethodEvent(QInputMethodEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  // Handlers of the link.
  void DataChange();
  void EditingChange();
  void UpdateData();
  // Every change of the control's text.
  void TextChanged();
  // Sets the control's text from a program (not typed).
  void SetControlText(const QString& text);
  // The character a key event types (0: none).
  static int CharacterOf(const QKeyEvent* event);
  // The field can store the character (in the table's code pages).
  bool AcceptsCharacter(int character) const;
  // Runs a reaction to user input; a failure is reported as a message.
  template <typename F>
  void Guarded(F f);

  QWidget* LabelOwner() const;
  QLabel* FindLabel(const QString& memoName);
  void AdoptLabel(QLabel* label);
  void PlaceLabel();
  void NameChanged(const QString& name);

  std::unique_ptr<FieldDataLink> link_;
  bool autoDisplay_ = true;
  bool loaded_ = false;
  int textLimit_ = kDefaultTextLimit;
  ScrollStyle scrollBars_ = ScrollStyle::ssNone;
  bool wordWrap_ = true;
  CaptionPosition captionPos_ = CaptionPosition::cpDetached;
  QPointer<QLabel> label_;
  QString name_;  // the name the label was found or made under
};

// A fixed-width font standing in for the "Terminal" font of the cheat
// text: DejaVu Sans Mono where installed, else the system's fixed font.
QFont TerminalFont();

}  // namespace vz::views
