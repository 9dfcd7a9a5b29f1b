// What the tests of the reader's main window share: a program directory of
// their own, the engine reset around each test, and the halting errors and
// messages that the engine presents collected instead of shown. A test that
// ends with an error or a message it did not expect fails.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QComboBox>
#include <QSettings>
#include <QString>
#include <QTest>
#include <string>
#include <vector>

#include "app/MainWindow.h"
#include "index/indexes.h"
#include "platform/hooks.h"
#include "tests/support/TableFixture.h"
#include "tests/support/TempDir.h"

namespace vz::app {

class ReaderTestBase : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ResetAll();
    ::chmod(dir_.path().c_str(), 0755);
    programDir_ = dir_.path() + "/";
    // The user's settings of this test, nowhere else.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(config_.path()));
    platform::SetHaltPresenter([this](const std::string& caption, const std::string& message) {
      halts_.push_back(caption + ": " + message);
    });
    platform::SetMessagePresenter([this](const std::string& m) { messages_.push_back(m); });
  }

  void TearDown() override {
    CloseForms();
    platform::SetHaltPresenter(nullptr);
    platform::SetMessagePresenter(nullptr);
    IndexEngine().Settings.SemaphoreDir.clear();
    test::ResetAll();
    EXPECT_TRUE(halts_.empty()) << halts_.front();
  }

  // Closes the windows a test made (before the engine is reset).
  virtual void CloseForms() = 0;

  // Picks a machine in the box as the user does: the box has the focus and
  // the arrow keys move through its list.
  static void PickMachine(MainWindow& f, const QString& machine) {
    QComboBox* box = f.MachineBox();
    box->setFocus();
    const int target = box->findText(machine);
    ASSERT_GE(target, 0) << machine.toStdString();
    while (box->currentIndex() != target)
      QTest::keyClick(box, box->currentIndex() < target ? Qt::Key_Down : Qt::Key_Up);
  }

  test::TempDir dir_;
  test::TempDir config_;
  std::string programDir_;
  std::vector<std::string> halts_;
  std::vector<std::string> messages_;
};

}  // namespace vz::app
