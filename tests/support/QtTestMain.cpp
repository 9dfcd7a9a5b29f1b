// main() of the tests that use Qt: a QApplication on the offscreen
// platform (unless another one was asked for), quiet about the one warning
// that platform prints for every shown window.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <cstring>

namespace {

QtMessageHandler gPrevious = nullptr;

void Filter(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (message.contains("This plugin does not support propagateSizeHints()")) return;
  if (gPrevious) gPrevious(type, context, message);
}

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  gPrevious = qInstallMessageHandler(Filter);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
