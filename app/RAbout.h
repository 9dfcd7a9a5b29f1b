// The web-links window: the program's name and version, the author's credit
// line, and two web links.
#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

namespace vz::app {

class TURLLabel;
class TVersionInfo;

class TForm2 : public QDialog {
  Q_OBJECT

 public:
  // Lays the window out and fills in the version (FormCreate).
  explicit TForm2(QWidget* parent = nullptr);

  QFrame* Panel1 = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label5 = nullptr;
  QLabel* Label2 = nullptr;
  TURLLabel* URLLabel1 = nullptr;
  TURLLabel* URLLabel2 = nullptr;
  QPushButton* Button1 = nullptr;
  TVersionInfo* VersionInfo1 = nullptr;

 private slots:
  void URLLabel1MouseMove(Qt::KeyboardModifiers modifiers, int x, int y);
  void URLLabel2MouseMove(Qt::KeyboardModifiers modifiers, int x, int y);

 private:
  void FormCreate();
};

// The "Web links" command: shows the window modally.
void About1Click(TForm2* form);

}  // namespace vz::app
