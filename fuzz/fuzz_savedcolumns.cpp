// The input is text (UTF-8): the lines of an older "savedColumns" list, and
// also a columns text. The list is read by columns outside any grid and by
// columns of a grid that starts with the one empty column a grid makes for
// itself; the text is read by ReadText. Every column is then looked at
// (values, defaults, what is stored), and what is written must read back
// to the same text: WriteText, ReadText of it and WriteText again give the
// same text, and so does a copy of the columns.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// The table component's headers come before Qt's: Qt defines "slots" as a
// macro, and the index layer has a member of that name.
#include <QFontMetrics>
#include <QGuiApplication>
#include <QStringList>

#include "fuzz/FuzzSupport.h"
#include "views/GridColumns.h"

using namespace vz;
using namespace vz::views;

namespace {

volatile std::uint64_t gSink = 0;

void Consume(const QString& s) {
  gSink = gSink + static_cast<std::uint64_t>(qHash(s));
}

// A grid as the columns see it.
class Grid : public ColumnsOwner {
 public:
  QColor GridColor() const override { return QColor(250, 250, 200); }
  QColor GridFixedColor() const override { return QColor(40, 90, 140); }
  QFont GridFont() const override { return QFont(QStringLiteral("DejaVu Sans"), 11); }
  QFont GridTitleFont() const override { return QFont(QStringLiteral("DejaVu Serif"), 9); }
  bool GridHasTitles() const override { return true; }
  int GridDefaultColWidth() const override { return 64; }
  bool GridHasWindow() const override { return false; }
  bool GridLoading() const override { return false; }
  data::DataSet* GridDataSet() const override { return nullptr; }
  bool GridLinkActive() const override { return false; }
  data::Field* GridMappedField(int) const override { return nullptr; }
  void GridBeginLayout() override {}
  void GridEndLayout() override {}
  void GridColumnsChanged() override {}
};

void LookAt(const GridColumns& columns) {
  for (int i = 0; i < columns.Count(); ++i) {
    const GridColumn& c = *columns[i];
    Consume(QString::fromStdString(c.FieldName()));
    Consume(c.Color().name() + c.Font().toString() + c.FontColor().name());
    gSink = gSink + static_cast<std::uint64_t>(c.Width() + c.DefaultWidth() + c.DropDownRows()) +
            static_cast<std::uint64_t>(c.Alignment()) + c.ReadOnly();
    gSink = gSink + c.IsAlignmentStored() + c.IsColorStored() + c.IsFontStored() +
            c.IsReadOnlyStored() + c.IsWidthStored() + c.IsButtonStyleStored() +
            c.IsDropDownRowsStored();
    const ColumnTitle& t = c.Title();
    Consume(t.Caption() + t.DefaultCaption() + t.Color().name() + t.Font().toString() +
            t.FontColor().name());
    gSink = gSink + t.IsCaptionStored() + t.IsAlignmentStored() + t.IsColorStored() +
            t.IsFontStored() + static_cast<std::uint64_t>(t.Alignment());
  }
}

[[noreturn]] void Mismatch(const char* what, const QString& first, const QString& second) {
  std::fprintf(stderr, "fuzz_savedcolumns: %s\n--- first:\n%s\n--- second:\n%s\n", what,
               first.toUtf8().constData(), second.toUtf8().constData());
  std::abort();
}

// What the columns write must read back to the same columns.
void CheckRoundTrip(const GridColumns& columns, ColumnsOwner* grid) {
  const QString written = columns.WriteText();
  Consume(written);
  GridColumns back(grid);
  try {
    back.ReadText(written);
  } catch (const ColumnsTextError& e) {
    Mismatch(e.what(), written, QString());
  }
  LookAt(back);
  const QString again = back.WriteText();
  if (again != written) Mismatch("the columns text does not read back", written, again);

  GridColumns copy(grid);
  copy.Assign(columns);
  LookAt(copy);
  if (copy.WriteText() != written)
    Mismatch("a copy writes another text", written, copy.WriteText());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtFatalMsg) {
      std::fprintf(stderr, "qFatal: %s\n", message.toUtf8().constData());
      std::abort();
    }
  });
  // A command line of its own: the fuzzer's options are not Qt's.
  static int argc = 1;
  static char name[] = "fuzz_savedcolumns";
  static char* argv[] = {name, nullptr};
  static QGuiApplication app(argc, argv);
  fuzz::Initialize();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QString text =
      QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const QStringList entries = text.split(QLatin1Char('\n'));

  {
    GridColumns columns(nullptr);
    columns.ReadSavedColumns(entries);
    LookAt(columns);
    CheckRoundTrip(columns, nullptr);
  }
  {
    Grid grid;
    GridColumns columns(&grid);
    columns.Add();
    columns.ReadSavedColumns(entries);
    LookAt(columns);
    CheckRoundTrip(columns, &grid);
  }
  {
    GridColumns columns(nullptr);
    try {
      columns.ReadText(text);
    } catch (const ColumnsTextError&) {
      if (columns.Count() != 0)
        Mismatch("a rejected text changed the columns", text, columns.WriteText());
    }
    LookAt(columns);
    CheckRoundTrip(columns, nullptr);
  }
  return 0;
}
