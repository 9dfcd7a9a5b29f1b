// The version-information component: the program's own record, records of
// generated files (other translations, a registry text, missing keys), the
// termination warning for files without a company name or a record, and no
// second reading for the same name.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>

#include "app/Application.h"
#include "app/VersionInfo.h"
#include "platform/version.h"
#include "tests/gui/help_modal.h"
#include "tests/support/TempDir.h"
#include "tests/support/VersionFileBuilder.h"

namespace vz::app {
namespace {

using vz::test::Bytes;
using vz::test::Key;
using vz::test::MakeRecord;
using vz::test::ModalWatcher;
using vz::test::SeenModal;

const QString kTitle = QStringLiteral("Vorza Cheat Reader for W95");

class VersionInfoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetApplicationTitle(kTitle);
    ClearTerminated();
  }
  void TearDown() override { ClearTerminated(); }

  QString WriteElf(const Bytes& record, const std::string& name = "program") {
    const std::string path = dir_.File(name);
    vz::test::WriteBytes(path, vz::test::ElfWithRecord(record));
    return QString::fromStdString(path);
  }

  // Sets the file name with a watcher for the boxes it shows.
  std::vector<SeenModal> Set(VersionInfo& info, const QString& name) {
    ModalWatcher watcher;
    info.SetFileName(name);
    return watcher.Seen();
  }

  vz::test::TempDir dir_;
};

void ExpectTerminationWarning(const std::vector<SeenModal>& seen) {
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].className, "QMessageBox");
  EXPECT_EQ(seen[0].title, "Application will be terminated");
  EXPECT_EQ(seen[0].text,
            "Standard registry key is empty!, fill in CompanyName in the Options.VersionInfo "
            "and/or create a new "
            "key \"REGISTRY\" Software\\Brenwick Software\\xxx\\yyy");
  EXPECT_EQ(seen[0].icon, QMessageBox::NoIcon);
  EXPECT_EQ(seen[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  EXPECT_TRUE(Terminated());
}

TEST_F(VersionInfoTest, ProgramsOwnRecord) {
  // The build put the record into this very executable.
  const std::string self = QFile::encodeName(ProgramFileName()).toStdString();
  EXPECT_GT(platform::VersionRecordSize(self), 0u);
  EXPECT_GT(platform::VersionRecordSize("/proc/self/exe"), 0u);

  VersionInfo info;
  const std::vector<SeenModal> seen = Set(info, ProgramFileName());
  EXPECT_TRUE(seen.empty());
  EXPECT_FALSE(Terminated());
  EXPECT_EQ(info.FileName(), ProgramFileName());
  EXPECT_EQ(info.FileVersion(), VORZA_PROJECT_VERSION);
  EXPECT_EQ(info.FileVersion(), "1.3.0.3");
  EXPECT_EQ(info.ProductVersion(), VORZA_PROJECT_VERSION);
  EXPECT_EQ(info.CompanyName(), "Vantu");
  EXPECT_EQ(info.Author(), "Vantu");
  EXPECT_EQ(info.ProductName(), "Vorza Cheat Reader");
  EXPECT_EQ(info.FileDescription(), "Vorza Cheat Reader");
  EXPECT_EQ(info.InternalName(), "VorzaW95");
  EXPECT_EQ(info.OriginalFilename(), "vorza");
  EXPECT_EQ(info.LegalCopyright(), "Copyright (C) 1999 Vantu");
  EXPECT_FALSE(info.Comments().isEmpty());
  EXPECT_EQ(info.LegalTradeMarks(), "");
  EXPECT_EQ(info.RootKey(), "Software\\Vantu\\" + kTitle);
  // Through the property system as well.
  EXPECT_EQ(info.property("FileVersion").toString(), VORZA_PROJECT_VERSION);
}

TEST_F(VersionInfoTest, EveryKeyGoesToItsOwnProperty) {
  const char* keys[] = {"CompanyName",    "FileDescription", "FileVersion",      "InternalName",
                        "LegalCopyright", "LegalTradeMarks", "OriginalFilename", "ProductName",
                        "ProductVersion", "Author",          "Comments"};
  std::vector<vz::test::StringEntry> strings;
  for (const char* key : keys)
    strings.push_back({Key("040904e4", key), std::string("value of ") + key});
  VersionInfo info;
  EXPECT_TRUE(Set(info, WriteElf(MakeRecord({{0x0409, 0x04E4}}, strings))).empty());
  for (const char* key : keys)
    EXPECT_EQ(info.property(key).toString(), QString("value of ") + key) << key;
  EXPECT_EQ(info.RootKey(), "Software\\value of CompanyName\\" + kTitle);
}

TEST_F(VersionInfoTest, TranslationChoosesTheStrings) {
  // The first translation picks the path; lower-case hexadecimal.
  const Bytes dutch = MakeRecord({{0x0413, 0x04E4}, {0x0409, 0x04E4}},
                                 {{Key("040904e4", "FileVersion"), "english"},
                                  {Key("040904e4", "CompanyName"), "Vantu Inc."},
                                  {Key("041304e4", "FileVersion"), "2.0.0.1"},
                                  {Key("041304e4", "CompanyName"), "Vantu BV"}});
  VersionInfo info;
  EXPECT_TRUE(Set(info, WriteElf(dutch, "dutch")).empty());
  EXPECT_EQ(info.FileVersion(), "2.0.0.1");
  EXPECT_EQ(info.CompanyName(), "Vantu BV");

  // Without a translation table: language 1033, code page 1252.
  const Bytes bare = MakeRecord({}, {{Key("040904e4", "FileVersion"), "3.1"},
                                     {Key("040904e4", "CompanyName"), "Vantu"},
                                     {Key("040904b0", "FileVersion"), "unicode"}});
  EXPECT_TRUE(Set(info, WriteElf(bare, "bare")).empty());
  EXPECT_EQ(info.FileVersion(), "3.1");

  // Hexadecimal letters of the language and code page.
  const Bytes hex = MakeRecord({{0x0C0A, 0x04AB}}, {{Key("0c0a04ab", "FileVersion"), "hex"},
                                                    {Key("0c0a04ab", "CompanyName"), "Vantu"}});
  EXPECT_TRUE(Set(info, WriteElf(hex, "hex")).empty());
  EXPECT_EQ(info.FileVersion(), "hex");
}

TEST_F(VersionInfoTest, RegistryTextBecomesTheRootKey) {
  // With a registry text the company name may be missing.
  const Bytes record =
      MakeRecord({{0x0409, 0x04E4}}, {{Key("040904e4", "FileVersion"), "1.0"},
                                      {Key("040904e4", "Registry"), "Software\\Skarrow\\Vorza"}});
  VersionInfo info;
  EXPECT_TRUE(Set(info, WriteElf(record)).empty());
  EXPECT_FALSE(Terminated());
  EXPECT_EQ(info.RootKey(), "Software\\Skarrow\\Vorza");
  EXPECT_EQ(info.CompanyName(), "");
  EXPECT_EQ(info.FileVersion(), "1.0");
}

TEST_F(VersionInfoTest, NoCompanyNameNorRegistryTerminates) {
  const Bytes record = MakeRecord({{0x0409, 0x04E4}}, {{Key("040904e4", "FileVersion"), "1.0"}});
  VersionInfo info;
  const std::vector<SeenModal> seen = Set(info, WriteElf(record));
  ExpectTerminationWarning(seen);
  // The texts that were there are kept.
  EXPECT_EQ(info.FileVersion(), "1.0");
  EXPECT_EQ(info.RootKey(), "Software\\\\" + kTitle);
}

TEST_F(VersionInfoTest, FileWithoutARecordTerminates) {
  VersionInfo info;
  const std::string plain = dir_.File("plain");
  vz::test::WriteBytes(plain, vz::test::MakeElf({}, {{".text", Bytes(16, 0x90)}}));
  ExpectTerminationWarning(Set(info, QString::fromStdString(plain)));
  EXPECT_EQ(info.FileVersion(), "");
  EXPECT_EQ(info.CompanyName(), "");
  EXPECT_EQ(info.RootKey(), "");

  // A missing file and a file that is not a program end the same way.
  ClearTerminated();
  ExpectTerminationWarning(Set(info, QString::fromStdString(dir_.File("missing"))));
  ClearTerminated();
  const std::string text = dir_.File("readme.txt");
  vz::test::WriteBytes(text, Bytes{'h', 'i', '\n'});
  ExpectTerminationWarning(Set(info, QString::fromStdString(text)));
}

TEST_F(VersionInfoTest, TheSameNameIsNotReadAgain) {
  const QString path =
      WriteElf(MakeRecord({{0x0409, 0x04E4}}, {{Key("040904e4", "FileVersion"), "1.0"},
                                               {Key("040904e4", "CompanyName"), "Vantu"}}));
  VersionInfo info;
  // The initial name is empty: setting it again reads nothing and warns
  // about nothing.
  EXPECT_TRUE(Set(info, "").empty());
  EXPECT_FALSE(Terminated());

  EXPECT_TRUE(Set(info, path).empty());
  EXPECT_EQ(info.FileVersion(), "1.0");
  // The file changes; the same name keeps what was read.
  vz::test::WriteBytes(path.toStdString(),
                       vz::test::ElfWithRecord(MakeRecord(
                           {{0x0409, 0x04E4}}, {{Key("040904e4", "FileVersion"), "2.0"},
                                                {Key("040904e4", "CompanyName"), "Vantu"}})));
  EXPECT_TRUE(Set(info, path).empty());
  EXPECT_EQ(info.FileVersion(), "1.0");
  // Another name, and back: read anew, every text cleared first.
  ExpectTerminationWarning(Set(info, QString::fromStdString(dir_.File("missing"))));
  EXPECT_EQ(info.FileVersion(), "");
  ClearTerminated();
  EXPECT_TRUE(Set(info, path).empty());
  EXPECT_EQ(info.FileVersion(), "2.0");
}

TEST_F(VersionInfoTest, RootKeyUsesTheApplicationTitle) {
  SetApplicationTitle("Another title");
  VersionInfo info;
  EXPECT_TRUE(Set(info, ProgramFileName()).empty());
  EXPECT_EQ(info.RootKey(), "Software\\Vantu\\Another title");
}

}  // namespace
}  // namespace vz::app
