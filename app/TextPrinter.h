// The printer as a line-oriented text device: lines are written one below
// the other in the current font, a new page starts when the next line would
// not fit, and a line wider than the page continues on the next line. The
// page keeps margins of at least 15 mm on every side (the printer's own
// where they are larger).
#pragma once

#include <QFont>
#include <QPainter>
#include <QString>
#include <QStringList>

class QPlainTextEdit;
class QPrinter;

namespace vz::app {

class TextPrinter {
 public:
  // The device writes on `printer`, which must outlive it.
  explicit TextPrinter(QPrinter& printer);
  ~TextPrinter();
  TextPrinter(const TextPrinter&) = delete;
  TextPrinter& operator=(const TextPrinter&) = delete;

  // The least margin on every side of the page, in millimetres.
  static constexpr double kMarginMm = 15.0;
  // The largest size of printed text, in points.
  static constexpr double kLargestPoints = 12.0;

  // Starts the print job (the page's margins are set first). False (with
  // the printer's error in `error`) when the job cannot be started.
  bool Begin(QString* error);
  // The font of the lines written from now on. A font sized in screen
  // pixels keeps its size on paper (pixels at 96 per inch); with
  // `shownWidth`, the width in screen pixels that the lines were laid out
  // in, it is scaled so that such a line takes the page's width, up to
  // kLargestPoints (and down as far as the page needs).
  void SetFont(const QFont& font, int shownWidth = 0);
  // Writes one line and moves below it. Tabs are left to the font; a line
  // end inside the text is not expected (callers write one line at a time).
  void WriteLine(const QString& text);
  // Ends the job and hands it to the printer. False when the printer
  // reports a failure.
  bool End();

  // What the device did so far, for the caller's messages and for tests.
  int Pages() const { return pages_; }
  int PrintedLines() const { return printedLines_; }
  int LineHeight() const { return lineHeight_; }

 private:
  void Place(const QString& piece);

  QPrinter& printer_;
  QPainter painter_;
  bool active_ = false;
  int y_ = 0;
  int lineHeight_ = 0;
  int pages_ = 0;
  int printedLines_ = 0;
};

// The lines a plain-text control holds as displayed: each paragraph as the
// control wraps it at its current width, one entry per displayed line. A
// final empty line is not counted, so an empty text gives no lines.
QStringList DisplayedLines(const QPlainTextEdit& edit);

// Prints `lines` on `printer` in `font`, each cut to its first 4096
// characters, as a job named `jobName`; `shownWidth` as for
// TextPrinter::SetFont. False with a message in `error` when the job
// fails.
bool PrintLines(QPrinter& printer, const QFont& font, const QStringList& lines, QString* error,
                const QString& jobName = QString(), int shownWidth = 0);

}  // namespace vz::app
