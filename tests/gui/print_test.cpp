// The printer text device and the memo's displayed lines, printed through
// Qt's PDF output and read back with pdftotext.
#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QTextOption>

#include "app/TextPrinter.h"
#include "tests/support/TempDir.h"
#include "views/DataMemo.h"

namespace vz::app {
namespace {

class PrintTest : public ::testing::Test {
 protected:
  std::unique_ptr<QPrinter> PdfPrinter() {
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(QString::fromStdString(pdf_));
    return printer;
  }

  // The printed text as pdftotext gives it: pages separated by form feeds.
  std::string PrintedText() {
    std::string out;
    EXPECT_EQ(test::RunCommand("pdftotext -layout '" + pdf_ + "' -", &out), 0);
    return out;
  }

  static std::vector<std::string> NonEmptyLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    for (char c : text + "\n") {
      if (c == '\n' || c == '\f') {
        std::size_t first = line.find_first_not_of(' ');
        if (first != std::string::npos)
          lines.push_back(line.substr(first, line.find_last_not_of(' ') - first + 1));
        line.clear();
      } else {
        line += c;
      }
    }
    return lines;
  }

  static int Pages(const std::string& text) {
    // pdftotext ends every page with a form feed.
    return static_cast<int>(std::count(text.begin(), text.end(), '\f'));
  }

  test::TempDir dir_;
  std::string pdf_ = dir_.File("job.pdf");
};

TEST_F(PrintTest, LinesInOrderOnePrintedLinePerLine) {
  auto printer = PdfPrinter();
  TextPrinter device(*printer);
  QString error;
  ASSERT_TRUE(device.Begin(&error)) << error.toStdString();
  device.SetFont(views::TerminalFont());
  const QStringList lines{"Level select: hold L1 + R1", "", "Press START twice", "Infinite lives"};
  for (const QString& l : lines) device.WriteLine(l);
  // The screen font's 12 pixels become 9 points on paper: at the
  // printer's resolution a line is far taller than 12 device units.
  QFont onPaper = views::TerminalFont();
  onPaper.setPointSizeF(9);
  const int expectedHeight = QFontMetrics(onPaper, printer.get()).height() + 2;
  EXPECT_EQ(device.LineHeight(), expectedHeight);
  EXPECT_GT(device.LineHeight(), printer->resolution() / 10);
  EXPECT_EQ(device.PrintedLines(), 4);
  ASSERT_TRUE(device.End());
  EXPECT_EQ(NonEmptyLines(PrintedText()),
            (std::vector<std::string>{"Level select: hold L1 + R1", "Press START twice",
                                      "Infinite lives"}));
}

TEST_F(PrintTest, LongLineContinuesOnTheNextAndNothingIsLost) {
  auto printer = PdfPrinter();
  std::string digits;
  for (int i = 0; i < 400; ++i) digits += static_cast<char>('0' + i % 10);
  QString error;
  ASSERT_TRUE(PrintLines(*printer, views::TerminalFont(), {QString::fromStdString(digits), "after"},
                         &error));
  const auto printed = NonEmptyLines(PrintedText());
  ASSERT_GE(printed.size(), 3u);  // the digits took at least two lines
  std::string joined;
  for (std::size_t i = 0; i + 1 < printed.size(); ++i) joined += printed[i];
  EXPECT_EQ(joined, digits);
  EXPECT_EQ(printed.back(), "after");
  // Every piece but the last filled the page: no piece is shorter than the
  // next one.
  for (std::size_t i = 0; i + 2 < printed.size(); ++i)
    EXPECT_GE(printed[i].size(), printed[i + 1].size());
}

TEST_F(PrintTest, ANewPageWhenTheNextLineWouldNotFit) {
  auto printer = PdfPrinter();
  TextPrinter device(*printer);
  ASSERT_TRUE(device.Begin(nullptr));
  device.SetFont(views::TerminalFont());
  device.WriteLine("first");
  const int perPage =
      printer->pageLayout().paintRectPixels(printer->resolution()).height() / device.LineHeight();
  ASSERT_GT(perPage, 10);
  for (int i = 2; i <= perPage + 5; ++i) device.WriteLine(QString("line %1").arg(i));
  EXPECT_EQ(device.Pages(), 2);
  ASSERT_TRUE(device.End());
  const std::string text = PrintedText();
  EXPECT_EQ(Pages(text), 2);
  const auto printed = NonEmptyLines(text);
  ASSERT_EQ(static_cast<int>(printed.size()), perPage + 5);
  EXPECT_EQ(printed[0], "first");
  for (int i = 2; i <= perPage + 5; ++i)
    EXPECT_EQ(printed[static_cast<std::size_t>(i - 1)], "line " + std::to_string(i));
  // The first page holds exactly the lines that fit.
  const std::string firstPage = text.substr(0, text.find('\f'));
  EXPECT_EQ(static_cast<int>(NonEmptyLines(firstPage).size()), perPage);
}

TEST_F(PrintTest, AnEmptyTextGivesAJobWithoutLines) {
  auto printer = PdfPrinter();
  QString error;
  ASSERT_TRUE(PrintLines(*printer, views::TerminalFont(), {}, &error));
  const std::string text = PrintedText();
  EXPECT_EQ(Pages(text), 1);
  EXPECT_TRUE(NonEmptyLines(text).empty()) << text;
}

TEST_F(PrintTest, OnlyTheFirst4096CharactersOfALine) {
  auto printer = PdfPrinter();
  QString error;
  const QString line = QString(4096, QChar('a')) + QString(50, QChar('b'));
  ASSERT_TRUE(PrintLines(*printer, views::TerminalFont(), {line}, &error));
  std::string joined;
  for (const auto& l : NonEmptyLines(PrintedText())) joined += l;
  EXPECT_EQ(joined, std::string(4096, 'a'));
}

TEST_F(PrintTest, AJobThatCannotStartIsAnError) {
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(QString::fromStdString(dir_.File("no/such/folder/job.pdf")));
  QString error;
  EXPECT_FALSE(PrintLines(printer, views::TerminalFont(), {"x"}, &error));
  EXPECT_FALSE(error.isEmpty());
}

// ---------------------------------------------------------------------------
// The memo's displayed lines

TEST(DisplayedLinesTest, WrappedParagraphsGiveOneLinePerDisplayedLine) {
  QPlainTextEdit edit;
  edit.setFont(views::TerminalFont());
  edit.setLineWrapMode(QPlainTextEdit::WidgetWidth);
  edit.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  edit.resize(372, 309);
  edit.show();  // the control lays its text out at the width it is shown with
  QString paragraph;
  for (int i = 0; i < 40; ++i) paragraph += QString("word%1 ").arg(i);
  paragraph = paragraph.trimmed();
  edit.setPlainText("Title line\n" + paragraph + "\n\nlast");
  const QStringList lines = DisplayedLines(edit);
  ASSERT_GE(lines.size(), 6);
  EXPECT_EQ(lines.first(), "Title line");
  EXPECT_EQ(lines.last(), "last");
  EXPECT_EQ(lines.at(lines.size() - 2), "");
  QString joined;
  for (int i = 1; i < lines.size() - 2; ++i) joined += lines.at(i);
  EXPECT_EQ(joined, paragraph);
  // Each displayed line fits the control's width.
  const QFontMetrics metrics(edit.font());
  for (const QString& l : lines)
    EXPECT_LE(metrics.horizontalAdvance(l.trimmed()), edit.viewport()->width());
}

TEST(DisplayedLinesTest, AFinalEmptyLineIsNotCounted) {
  QPlainTextEdit edit;
  edit.resize(372, 309);
  edit.setPlainText("one\ntwo\n");
  EXPECT_EQ(DisplayedLines(edit), (QStringList{"one", "two"}));
  edit.setPlainText("");
  EXPECT_TRUE(DisplayedLines(edit).isEmpty());
  edit.setPlainText("\n\nx");
  EXPECT_EQ(DisplayedLines(edit), (QStringList{"", "", "x"}));
}

}  // namespace
}  // namespace vz::app
