#include "app/Shell.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

#include "app/Application.h"

namespace vz::app {
namespace {

// "scheme:" at the start; two letters at least, so that a drive-letter path
// ("c:\games\doc.txt") counts as a document.
bool HasScheme(const QString& request) {
  static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]+:"));
  return scheme.match(request).hasMatch();
}

}  // namespace

int ShellOpen(QWidget* owner, const QString& request, bool activate) {
  (void)owner;
  (void)activate;
  if (request.isEmpty()) return kShellFileNotFound;
  QUrl url;
  if (HasScheme(request)) {
    url = QUrl(request, QUrl::TolerantMode);
    if (!url.isValid()) return kShellFileNotFound;
  } else {
    const QFileInfo document(QDir::current(), request);
    if (!document.exists()) return kShellFileNotFound;
    url = QUrl::fromLocalFile(document.absoluteFilePath());
  }
  return QDesktopServices::openUrl(url) ? kShellOpened : kShellNoAssociation;
}

int SendCommentsByMail(QWidget* mainWindow) {
  // No blank after the colon: the desktop's mail handlers take what follows
  // it as the address.
  const QString request = QStringLiteral("mailto:") + QLatin1String(kAuthorMailAddress);
  const int result = ShellOpen(mainWindow, request, /*activate=*/false);
  if (result == kShellNoAssociation) {
    MessageBox(mainWindow, QString::fromLatin1(kNoMailProgramText),
               QString::fromLatin1(kNoMailProgramTitle), QMessageBox::Warning, QMessageBox::Ok);
  }
  return result;
}

}  // namespace vz::app
