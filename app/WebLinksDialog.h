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
  // Lays the window out and fills in the version (SetUp).
  explicit WebLinksDialog(QWidget* parent = nullptr);

 private:
  QFrame* panel_ = nullptr;
  QLabel* titleLabel_ = nullptr;
  QLabel* versionLabel_ = nullptr;
  QLabel* creditLabel_ = nullptr;
  UrlLabel* vantuLink_ = nullptr;
  UrlLabel* skarrowLink_ = nullptr;
  QPushButton* okButton_ = nullptr;
  VersionInfo* versionInfo_ = nullptr;

 public:
  // The components, for the window's users and tests.
  QFrame* Panel() const { return panel_; }
  QLabel* TitleLabel() const { return titleLabel_; }
  QLabel* VersionLabel() const { return versionLabel_; }
  QLabel* CreditLabel() const { return creditLabel_; }
  UrlLabel* VantuLink() const { return vantuLink_; }
  UrlLabel* SkarrowLink() const { return skarrowLink_; }
  QPushButton* OkButton() const { return okButton_; }
  VersionInfo* Version() const { return versionInfo_; }

 private slots:
  void OnVantuLinkMouseMove(Qt::KeyboardModifiers modifiers, int x, int y);
  void OnSkarrowLinkMouseMove(Qt::KeyboardModifiers modifiers, int x, int y);

 private:
  void SetUp();
};

// The "Web links" command: shows the window modally.
void ShowWebLinks(WebLinksDialog* form);

}  // namespace vz::app
