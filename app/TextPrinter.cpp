#include "app/TextPrinter.h"

#include <QAbstractTextDocumentLayout>
#include <QFontMetrics>
#include <QPageLayout>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <algorithm>

namespace vz::app {

namespace {

// The most characters of one memo line that go to the printer.
constexpr int kMaxPrintedLine = 4096;

}  // namespace

TextPrinter::TextPrinter(QPrinter& printer) : printer_(printer) {}

TextPrinter::~TextPrinter() {
  if (active_) painter_.end();
}

bool TextPrinter::Begin(QString* error) {
  QPageLayout layout = printer_.pageLayout();
  layout.setUnits(QPageLayout::Millimeter);
  const QMarginsF least = layout.minimumMargins();
  printer_.setPageMargins(
      QMarginsF(std::max(kMarginMm, least.left()), std::max(kMarginMm, least.top()),
                std::max(kMarginMm, least.right()), std::max(kMarginMm, least.bottom())),
      QPageLayout::Millimeter);
  if (!painter_.begin(&printer_)) {
    if (error) *error = QStringLiteral("The printer could not start the print job.");
    return false;
  }
  active_ = true;
  y_ = 0;
  lineHeight_ = 0;
  pages_ = 1;
  printedLines_ = 0;
  return true;
}

void TextPrinter::SetFont(const QFont& font, int shownWidth) {
  if (!active_) return;
  // A font sized in screen pixels keeps its size on paper: its pixels are
  // taken at the screen's usual 96 per inch.
  QFont onPaper = font;
  if (font.pixelSize() > 0) onPaper.setPointSizeF(font.pixelSize() * 72.0 / 96.0);
  if (shownWidth > 0 && onPaper.pointSizeF() > 0) {
    // The page's width in points against the shown width in points.
    const double page = painter_.viewport().width() * 72.0 / printer_.resolution();
    const double shown = shownWidth * 72.0 / 96.0;
    onPaper.setPointSizeF(std::min(kLargestPoints, onPaper.pointSizeF() * page / shown));
  }
  painter_.setFont(onPaper);
}

void TextPrinter::WriteLine(const QString& text) {
  if (!active_) return;
  const QFontMetrics metrics(painter_.font(), painter_.device());
  // The line height only grows: the tallest text seen so far plus 2 units.
  lineHeight_ = std::max(lineHeight_, metrics.height() + 2);
  const int pageWidth = painter_.viewport().width();
  QString rest = text;
  do {
    // Break a line wider than the page at the last character that fits (at
    // least one character, so that a page narrower than one character
    // still makes progress).
    int fits = static_cast<int>(rest.size());
    if (metrics.horizontalAdvance(rest) > pageWidth) {
      int low = 1;
      int high = static_cast<int>(rest.size()) - 1;
      fits = 1;
      while (low <= high) {
        const int mid = (low + high) / 2;
        if (metrics.horizontalAdvance(rest.left(mid)) <= pageWidth) {
          fits = mid;
          low = mid + 1;
        } else {
          high = mid - 1;
        }
      }
      // Do not split a surrogate pair.
      if (fits < rest.size() && rest.at(fits).isLowSurrogate() && fits > 1) --fits;
    }
    Place(rest.left(fits));
    rest = rest.mid(fits);
  } while (!rest.isEmpty());
}

void TextPrinter::Place(const QString& piece) {
  const int pageHeight = painter_.viewport().height();
  if (y_ > 0 && y_ + lineHeight_ > pageHeight) {
    printer_.newPage();
    ++pages_;
    y_ = 0;
  }
  const QFontMetrics metrics(painter_.font(), painter_.device());
  painter_.drawText(0, y_ + metrics.ascent(), piece);
  y_ += lineHeight_;
  ++printedLines_;
}

bool TextPrinter::End() {
  if (!active_) return false;
  active_ = false;
  return painter_.end();
}

QStringList DisplayedLines(const QPlainTextEdit& edit) {
  QStringList lines;
  const QTextDocument* document = edit.document();
  QAbstractTextDocumentLayout* layouter = document->documentLayout();
  for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
    // The plain-text layout lays blocks out lazily, as they are shown;
    // asking for a block's rectangle lays it out at the control's width.
    layouter->blockBoundingRect(block);
    const QString text = block.text();
    const QTextLayout* layout = block.layout();
    if (!layout || layout->lineCount() == 0) {
      lines << text;
      continue;
    }
    for (int i = 0; i < layout->lineCount(); ++i) {
      const QTextLine line = layout->lineAt(i);
      lines << text.mid(line.textStart(), line.textLength());
    }
  }
  if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  return lines;
}

bool PrintLines(QPrinter& printer, const QFont& font, const QStringList& lines, QString* error,
                const QString& jobName, int shownWidth) {
  if (!jobName.isEmpty()) printer.setDocName(jobName);
  TextPrinter device(printer);
  if (!device.Begin(error)) return false;
  device.SetFont(font, shownWidth);
  for (const QString& line : lines) device.WriteLine(line.left(kMaxPrintedLine));
  if (!device.End()) {
    if (error) *error = QStringLiteral("The print job failed.");
    return false;
  }
  return true;
}

}  // namespace vz::app
