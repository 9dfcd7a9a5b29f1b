// The release-information window: shows the text file "vorzaw95.doc" of the
// current directory (or, when it is not there, of the catalogue's folder),
// read once when the window is created.
#pragma once

#include <QDialog>
#include <stdexcept>
#include <string>

class QFrame;
class QIODevice;
class QPlainTextEdit;
class QPushButton;

namespace vz::app {

// A failure to read a file: the operating system's error as a DOS-style
// code.
class InOutError : public std::runtime_error {
 public:
  InOutError(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
  int Code() const { return code_; }

 private:
  int code_;
};

class ReleaseInfoDialog : public QDialog {
  Q_OBJECT

 public:
  // The release information, looked for in the current directory.
  static constexpr const char* kFileName = "vorzaw95.doc";
  static constexpr const char* kNotFoundText =
      "'Vorzaw95.doc' not found\rInformation not available";

  // Lays the window out and loads the release information (SetUp); a
  // read error is shown in the application's error box and the lines read
  // before it stay.
  explicit ReleaseInfoDialog(QWidget* parent = nullptr);
  // The same, looking in `catalogueDir` (ending in its separator) when the
  // current directory has no release information.
  explicit ReleaseInfoDialog(const std::string& catalogueDir, QWidget* parent = nullptr);

  // Where the release information is read from: the file of the current
  // directory, else the catalogue folder's; empty when neither exists.
  std::string ReleaseInfoPath() const;

 private:
  QFrame* panel_ = nullptr;
  QPlainTextEdit* infoText_ = nullptr;
  QPushButton* okButton_ = nullptr;

 public:
  // The components, for the window's users and tests.
  QFrame* Panel() const { return panel_; }
  QPlainTextEdit* InfoText() const { return infoText_; }
  QPushButton* OkButton() const { return okButton_; }

  // Appends the lines of OEM text that `device` holds to infoText_, each decoded
  // with the OEM code page. Lines end with CR LF or LF; a last line without
  // an end counts too. Throws InOutError when reading fails; the complete
  // lines read before stay appended.
  void AppendLines(QIODevice& device);

 private:
  void SetUp();

  std::string catalogueDir_;
};

// The "Information about this release" command: shows the window modally
// when the release information exists in the current directory or the
// window's catalogue folder, else says that it does not (a plain message
// owned by `owner`).
void ShowReleaseInfo(QWidget* owner, ReleaseInfoDialog* form);

}  // namespace vz::app
