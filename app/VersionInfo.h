// VersionInfo: the version texts of a file's version record, read when the
// component is given the file's name. The reader gives it its own program
// file and shows the "FileVersion" text.
#pragma once

#include <QObject>
#include <QString>

namespace vz::app {

class VersionInfo : public QObject {
  Q_OBJECT
  Q_PROPERTY(QString CompanyName READ CompanyName)
  Q_PROPERTY(QString FileDescription READ FileDescription)
  Q_PROPERTY(QString FileVersion READ FileVersion)
  Q_PROPERTY(QString InternalName READ InternalName)
  Q_PROPERTY(QString LegalCopyright READ LegalCopyright)
  Q_PROPERTY(QString LegalTradeMarks READ LegalTradeMarks)
  Q_PROPERTY(QString OriginalFilename READ OriginalFilename)
  Q_PROPERTY(QString ProductName READ ProductName)
  Q_PROPERTY(QString ProductVersion READ ProductVersion)
  Q_PROPERTY(QString Comments READ Comments)
  Q_PROPERTY(QString Author READ Author)
  Q_PROPERTY(QString RootKey READ RootKey)
  Q_PROPERTY(QString FileName READ FileName WRITE SetFileName)

 public:
  // The warning shown, before the application is asked to terminate, when
  // the record gives neither a company name nor a registry key.
  static constexpr const char* kTerminateTitle = "Application will be terminated";
  static constexpr const char* kTerminateText =
      "Standard registry key is empty!, fill in CompanyName in the Options.VersionInfo and/or "
      "create "
      "a new key \"REGISTRY\" Software\\Brenwick Software\\xxx\\yyy";

  explicit VersionInfo(QObject* parent = nullptr);

  QString CompanyName() const { return companyName_; }
  QString FileDescription() const { return fileDescription_; }
  QString FileVersion() const { return fileVersion_; }
  QString InternalName() const { return internalName_; }
  QString LegalCopyright() const { return legalCopyright_; }
  QString LegalTradeMarks() const { return legalTradeMarks_; }
  QString OriginalFilename() const { return originalFilename_; }
  QString ProductName() const { return productName_; }
  QString ProductVersion() const { return productVersion_; }
  QString Comments() const { return comments_; }
  QString Author() const { return author_; }
  // The record's "Registry" text, or "Software\<CompanyName>\<title>" with
  // the application's title.
  QString RootKey() const { return rootKey_; }

  QString FileName() const { return fileName_; }
  // Reads the version record of `name`, unless it is the name given last.
  // Texts the record lacks (all of them, for a file without a record) are
  // empty. Without a company name and a registry text the application is
  // told to terminate, after a message box that says so.
  void SetFileName(const QString& name);

 private:
  void Clear();
  void ReadRecord();

  QString companyName_, fileDescription_, fileVersion_, internalName_, legalCopyright_,
      legalTradeMarks_, originalFilename_, productName_, productVersion_, comments_, author_,
      rootKey_;
  QString registry_;
  QString fileName_;
};

}  // namespace vz::app
