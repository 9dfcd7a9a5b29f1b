// The web-links window: the program's name and version, the author's credit
// line, and two web links.
#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

namespace vz::app {

class UrlLabel;
class VersionInfo;

class WebLinksDialog : public QDialog {
  Q_OBJECT

 public:
  // Lays the window out and fills in the version (FormCreate).
  explicit WebLinksDialog(QWidget* parent = nullptr);

  QFrame* Panel1 = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label5 = nullptr;
  QLabel* Label2 = nullptr;
  UrlLabel* URLLabel1 = nullptr;
  UrlLabel* URLLabel2 = nullptr;
  QPushButton* Button1 = nullptr;
  VersionInfo* VersionInfo1 = nullptr;

 private slots:
  void URLLabel1MouseMove(Qt::KeyboardModifiers modifiers, int x, int y);
  void URLLabel2MouseMove(Qt::KeyboardModifiers modifiers, int x, int y);

 private:
  void FormCreate();
};

// The "Web links" command: shows the window modally.
void About1Click(WebLinksDialog* form);

}  // namespace vz::app
