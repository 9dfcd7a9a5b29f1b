#include "app/VersionInfo.h"

#include <QFile>
#include <cstring>
#include <string_view>
#include <vector>

#include "app/Application.h"
#include "platform/version.h"

namespace vz::app {

VersionInfo::VersionInfo(QObject* parent) : QObject(parent) {}

void VersionInfo::Clear() {
  for (QString* text : {&companyName_, &fileDescription_, &fileVersion_, &internalName_,
                        &legalCopyright_, &legalTradeMarks_, &originalFilename_, &productName_,
                        &productVersion_, &comments_, &author_, &rootKey_, &registry_})
    text->clear();
}

void VersionInfo::SetFileName(const QString& name) {
  if (name == fileName_) return;
  fileName_ = name;
  Clear();
  try {
    ReadRecord();
  } catch (...) {
    // A record that cannot be read (or no memory for it) leaves the texts
    // empty.
  }
  if ((companyName_.isEmpty() && registry_.isEmpty()) || rootKey_.isEmpty()) {
    MessageBox(nullptr, QString::fromLatin1(kTerminateText), QString::fromLatin1(kTerminateTitle),
               QMessageBox::NoIcon, QMessageBox::Ok);
    Terminate();
  }
}

void VersionInfo::ReadRecord() {
  const std::string path = QFile::encodeName(fileName_).toStdString();
  const std::size_t size = platform::VersionRecordSize(path);
  if (size == 0) return;
  std::vector<std::uint8_t> block(size, 0);
  if (!platform::ReadVersionRecord(path, block.data(), block.size())) return;

  platform::VersionTranslation translation{1033, 1252};
  const void* table = nullptr;
  std::size_t tableLength = 0;
  if (platform::QueryVersionValue(block.data(), block.size(), "\\VarFileInfo\\Translation", &table,
                                  &tableLength))
    platform::VersionTranslationAt(table, tableLength, 0, translation);

  const QString prefix = QStringLiteral("StringFileInfo\\%1%2\\")
                             .arg(translation.language, 4, 16, QLatin1Char('0'))
                             .arg(translation.codePage, 4, 16, QLatin1Char('0'));
  auto query = [&](const char* key) {
    const QByteArray queryPath = (prefix + QLatin1String(key)).toLatin1();
    const void* value = nullptr;
    std::size_t length = 0;
    if (!platform::QueryVersionValue(
            block.data(), block.size(),
            std::string_view(queryPath.constData(), static_cast<std::size_t>(queryPath.size())),
            &value, &length))
      return QString();
    // Up to the terminating NUL (the value may hold an earlier one).
    const char* text = static_cast<const char*>(value);
    const void* nul = std::memchr(text, 0, length);
    const std::size_t n =
        nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - text) : length;
    return QString::fromUtf8(text, static_cast<qsizetype>(n));
  };

  companyName_ = query("CompanyName");
  fileDescription_ = query("FileDescription");
  fileVersion_ = query("FileVersion");
  internalName_ = query("InternalName");
  legalCopyright_ = query("LegalCopyright");
  legalTradeMarks_ = query("LegalTradeMarks");
  originalFilename_ = query("OriginalFilename");
  productName_ = query("ProductName");
  productVersion_ = query("ProductVersion");
  author_ = query("Author");
  comments_ = query("Comments");
  registry_ = query("Registry");
  rootKey_ = !registry_.isEmpty() ? registry_
                                  : QStringLiteral("Software\\") + companyName_ +
                                        QLatin1Char('\\') + ApplicationTitle();
}

}  // namespace vz::app
