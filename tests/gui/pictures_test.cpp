// The program's pictures: their sizes, that they are drawn (not blank),
// that the white labels of the main window stay readable on the
// background, that the small pictures keep to the 16-colour palette, that
// the print glyph's disabled half is grey, and the desktop files beside
// them.
//
// PicturesManual.DISABLED_SaveForViewing writes the pictures, enlarged
// copies and a mock-up of the main window to /tmp/vorza-pictures for a look
// by eye: run the binary with --gtest_also_run_disabled_tests
// --gtest_filter=PicturesManual.*
#include "app/Pictures.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QPlainTextEdit>
#include <QSet>
#include <QTableWidget>
#include <QTextStream>
#include <QToolButton>
#include <QXmlStreamReader>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <tuple>

#include "app/Application.h"

namespace vz::app {
namespace {

const std::filesystem::path kAppDir =
    std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "app";

QImage Argb(const QPixmap& pixmap) {
  return pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
}

int DistinctColours(const QImage& image) {
  QSet<QRgb> colours;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) colours.insert(image.pixel(x, y));
  return static_cast<int>(colours.size());
}

double Linear(int channel) {
  const double c = channel / 255.0;
  return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

// Relative luminance, 0 (black) to 1 (white).
double Luminance(QRgb c) {
  return 0.2126 * Linear(qRed(c)) + 0.7152 * Linear(qGreen(c)) + 0.0722 * Linear(qBlue(c));
}

// Contrast ratio of white text on a colour of luminance `l`.
double ContrastWithWhite(double l) {
  return 1.05 / (l + 0.05);
}

int Saturation(QRgb c) {
  return std::max({qRed(c), qGreen(c), qBlue(c)}) - std::min({qRed(c), qGreen(c), qBlue(c)});
}

// The classic 16-colour palette.
const QSet<QRgb> kSixteen{0xff000000, 0xff800000, 0xff008000, 0xff808000, 0xff000080, 0xff800080,
                          0xff008080, 0xffc0c0c0, 0xff808080, 0xffff0000, 0xff00ff00, 0xffffff00,
                          0xff0000ff, 0xffff00ff, 0xff00ffff, 0xffffffff};

// Every pixel is either fully transparent or opaque in one of the sixteen
// colours.
void ExpectSixteenColours(const QImage& image, const char* what) {
  int strays = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QRgb c = image.pixel(x, y);
      if (qAlpha(c) == 0) continue;
      if (qAlpha(c) != 255 || !kSixteen.contains(c)) {
        if (++strays <= 5)
          ADD_FAILURE() << what << ": pixel " << x << "," << y << " is " << std::hex << c;
      }
    }
  EXPECT_EQ(strays, 0) << what;
}

// Pixels where two pictures of one size differ by more than `tolerance` in
// some channel. Drawing the same picture twice can differ by a few levels
// at the edges of letters (the font engine's caches warm up), never more.
int PixelsApart(const QImage& a, const QImage& b, int tolerance) {
  int n = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) {
      const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
      n += std::abs(qRed(p) - qRed(q)) > tolerance || std::abs(qGreen(p) - qGreen(q)) > tolerance ||
           std::abs(qBlue(p) - qBlue(q)) > tolerance;
    }
  return n;
}

int OpaquePixels(const QImage& image) {
  int n = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) n += qAlpha(image.pixel(x, y)) == 255;
  return n;
}

TEST(Pictures, MainBackgroundIsAnOpaquePictureOfTheClientArea) {
  const QPixmap background = MainBackground();
  EXPECT_EQ(background.size(), QSize(658, 363));
  EXPECT_FALSE(background.hasAlphaChannel());
  EXPECT_GT(DistinctColours(Argb(background)), 500);
}

TEST(Pictures, MainBackgroundIsPurple) {
  const QImage image = Argb(MainBackground());
  double r = 0, g = 0, b = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      r += qRed(image.pixel(x, y));
      g += qGreen(image.pixel(x, y));
      b += qBlue(image.pixel(x, y));
    }
  const double n = image.width() * image.height();
  r /= n, g /= n, b /= n;
  // Red and blue alike, green far below both.
  EXPECT_GT(r, 2.5 * g);
  EXPECT_GT(b, 2.5 * g);
  EXPECT_LT(std::abs(r - b), 0.35 * std::max(r, b));
}

TEST(Pictures, TheWhiteLabelsStayReadableOnTheBackground) {
  // At the form's size and in larger windows.
  for (const QSize client : {QSize(658, 363), QSize(1100, 760)}) {
    const MainLayout layout = MainLayoutFor(client);
    const QImage image = Argb(MainBackground(layout));
    ASSERT_EQ(image.size(), client);
    // The labels' places, with room for a font wider than the designer's.
    const QMap<QString, QRect> labels{
        {"Machine :", QRect(layout.MachineLabel - QPoint(0, 2), QSize(90, 16))},
        {"<-Search", QRect(layout.SearchLabel - QPoint(2, 3), QSize(58, 20))}};
    for (auto it = labels.begin(); it != labels.end(); ++it) {
      double sum = 0, worst = 0;
      for (int y = it->top(); y <= it->bottom(); ++y)
        for (int x = it->left(); x <= it->right(); ++x) {
          const double l = Luminance(image.pixel(x, y));
          sum += l;
          worst = std::max(worst, l);
        }
      const double average = sum / (it->width() * it->height());
      EXPECT_GE(ContrastWithWhite(average), 7.0) << it.key().toStdString() << " " << client.width();
      EXPECT_GE(ContrastWithWhite(worst), 4.5) << it.key().toStdString() << " " << client.width();
    }
  }
}

TEST(Pictures, TheNameStandsBrightInTheTitleBand) {
  for (const QSize client : {QSize(658, 363), QSize(1100, 760)}) {
    const MainLayout layout = MainLayoutFor(client);
    const QImage image = Argb(MainBackground(layout));
    int bright = 0, elsewhere = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) {
        const QRgb c = image.pixel(x, y);
        // Yellow to orange lettering.
        if (qRed(c) > 220 && qGreen(c) > 110 && qBlue(c) < 120) {
          if (y < 50 && x >= layout.Grid.right() + 7)
            ++bright;
          else
            ++elsewhere;
        }
      }
    EXPECT_GT(bright, 1500) << client.width();
    EXPECT_EQ(elsewhere, 0) << client.width();
  }
}

TEST(Pictures, SplashPictureCarriesTheVersion) {
  const QPixmap splash = SplashPicture(QStringLiteral("1.3.0.3"));
  EXPECT_EQ(splash.size(), QSize(289, 127));
  EXPECT_FALSE(splash.hasAlphaChannel());
  const QImage image = Argb(splash);
  EXPECT_GT(DistinctColours(image), 300);
  EXPECT_EQ(PixelsApart(image, Argb(SplashPicture(QStringLiteral("1.3.0.3"))), 12), 0);
  // Another version changes the picture, and only in its top right corner.
  const QImage other = Argb(SplashPicture(QStringLiteral("1.3.0.8")));
  EXPECT_GT(PixelsApart(image, other, 48), 10);
  const QRect corner(200, 0, 89, 20);
  EXPECT_EQ(PixelsApart(image.copy(corner), other.copy(corner), 48), PixelsApart(image, other, 48));
  // Without a version, there is none.
  const QImage none = Argb(SplashPicture(QString()));
  EXPECT_GT(PixelsApart(image.copy(corner), none.copy(corner), 48), 80);
}

TEST(Pictures, WindowIconHas16By16To48By48InSixteenColours) {
  const QIcon icon = WindowIcon();
  const QList<QSize> sizes = icon.availableSizes();
  for (int size : {16, 32, 48}) {
    EXPECT_TRUE(sizes.contains(QSize(size, size))) << size;
    const QImage image = Argb(icon.pixmap(QSize(size, size)));
    ASSERT_EQ(image.size(), QSize(size, size));
    ExpectSixteenColours(image, "icon");
    EXPECT_GE(DistinctColours(image), 6) << size;
    // A tile that fills most of its square, with transparent corners.
    EXPECT_GT(OpaquePixels(image), size * size * 8 / 10) << size;
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << size;
    EXPECT_EQ(qAlpha(image.pixel(size - 1, size - 1)), 0) << size;
  }
}

TEST(Pictures, PrintGlyphHoldsANormalAndAGreyDisabledPrinter) {
  const QPixmap glyph = PrintGlyph();
  ASSERT_EQ(glyph.size(), QSize(32, 16));
  const QImage image = Argb(glyph);
  ExpectSixteenColours(image, "glyph");
  const QImage normal = image.copy(0, 0, 16, 16);
  const QImage disabled = image.copy(16, 0, 16, 16);

  int coloured = 0;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      const QRgb n = normal.pixel(x, y);
      if (qAlpha(n) == 255 && Saturation(n) >= 128) ++coloured;
      const QRgb d = disabled.pixel(x, y);
      if (qAlpha(d) == 255) {
        EXPECT_EQ(Saturation(d), 0) << x << "," << y;
      }
    }
  EXPECT_GE(coloured, 3);
  EXPECT_GT(OpaquePixels(normal), 100);
  EXPECT_GT(OpaquePixels(disabled), 60);
  EXPECT_GE(DistinctColours(normal), 6);
  EXPECT_NE(normal, disabled);
  // The disabled printer has the normal one's outline: grey wherever the
  // normal image is black.
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      if (normal.pixel(x, y) == 0xff000000) {
        EXPECT_EQ(disabled.pixel(x, y), 0xff808080u) << x << "," << y;
      }
}

TEST(Pictures, PrintIconTakesItsModesFromTheGlyphsHalves) {
  const QImage glyph = Argb(PrintGlyph());
  const QIcon icon = PrintIcon();
  EXPECT_EQ(Argb(icon.pixmap(QSize(16, 16), QIcon::Normal)), glyph.copy(0, 0, 16, 16));
  EXPECT_EQ(Argb(icon.pixmap(QSize(16, 16), QIcon::Disabled)), glyph.copy(16, 0, 16, 16));
}

TEST(DesktopFiles, TheScalableIconIsAnSvgOfTheIconsSquare) {
  QFile file(QString::fromStdString((kAppDir / "vorza.svg").string()));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
  QXmlStreamReader xml(&file);
  ASSERT_TRUE(xml.readNextStartElement()) << xml.errorString().toStdString();
  EXPECT_EQ(xml.name(), QStringLiteral("svg"));
  EXPECT_EQ(xml.namespaceUri(), QStringLiteral("http://www.w3.org/2000/svg"));
  EXPECT_EQ(xml.attributes().value("viewBox").toString().simplified(), QStringLiteral("0 0 32 32"));
  QSet<QString> elements;
  while (!xml.atEnd()) {
    if (xml.readNext() == QXmlStreamReader::StartElement) elements.insert(xml.name().toString());
  }
  EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString() << " at line "
                               << xml.lineNumber();
  // Shapes only: lettering would depend on the fonts of the desktop.
  EXPECT_FALSE(elements.contains("text"));
  EXPECT_TRUE(elements.contains("path") || elements.contains("rect"));
}

TEST(DesktopFiles, TheDesktopEntryStartsTheReader) {
  QFile file(QString::fromStdString((kAppDir / "vorza.desktop").string()));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly | QIODevice::Text));
  QTextStream in(&file);
  QString group;
  QMap<QString, QString> entry;
  bool sawGroup = false;
  while (!in.atEnd()) {
    const QString line = in.readLine().trimmed();
    if (line.isEmpty() || line.startsWith('#')) continue;
    if (line.startsWith('[')) {
      group = line;
      if (!sawGroup) {
        EXPECT_EQ(line, QStringLiteral("[Desktop Entry]")) << "the first group";
      }
      sawGroup = true;
      continue;
    }
    ASSERT_TRUE(sawGroup) << "a key before any group: " << line.toStdString();
    const int eq = line.indexOf('=');
    ASSERT_GT(eq, 0) << line.toStdString();
    const QString key = line.left(eq).trimmed();
    if (group == QStringLiteral("[Desktop Entry]")) {
      EXPECT_FALSE(entry.contains(key)) << "twice: " << key.toStdString();
      entry.insert(key, line.mid(eq + 1).trimmed());
    }
  }
  EXPECT_EQ(entry.value("Type"), QStringLiteral("Application"));
  EXPECT_EQ(entry.value("Name"), QStringLiteral("Vorza Cheat Reader"));
  EXPECT_FALSE(entry.value("Comment").isEmpty());
  EXPECT_EQ(entry.value("Exec"), QStringLiteral("vorza"));
  // Docks match the running window to this entry by its class.
  EXPECT_EQ(entry.value("StartupWMClass"), QString::fromLatin1(kDesktopName));
  const QString name = QCoreApplication::applicationName();
  SetDesktopIdentity();
  EXPECT_EQ(QGuiApplication::desktopFileName(), entry.value("StartupWMClass"));
  EXPECT_EQ(QCoreApplication::applicationName(), entry.value("StartupWMClass"));
  QCoreApplication::setApplicationName(name);
  EXPECT_EQ(entry.value("Icon"), QStringLiteral("vorza"));
  EXPECT_EQ(entry.value("Terminal"), QStringLiteral("false"));
  // One main category: the menu lists the reader once.
  EXPECT_EQ(entry.value("Categories"), QStringLiteral("Game;"));
}

// Not a check: writes the pictures for a look by eye.
TEST(PicturesManual, DISABLED_SaveForViewing) {
  const QString dir = QStringLiteral("/tmp/vorza-pictures");
  ASSERT_TRUE(QDir().mkpath(dir));
  auto save = [&](const QPixmap& pixmap, const QString& name, int zoom) {
    const QPixmap out = zoom == 1 ? pixmap : pixmap.scaled(pixmap.size() * zoom);
    EXPECT_TRUE(out.save(dir + "/" + name)) << name.toStdString();
  };
  save(MainBackground(), "background.png", 1);
  save(SplashPicture(QStringLiteral("1.3.0.3")), "splash.png", 1);
  save(SplashPicture(QStringLiteral("1.3.0.3")), "splash-x3.png", 3);
  for (int size : {16, 32, 48})
    save(WindowIcon().pixmap(QSize(size, size)), QStringLiteral("icon%1-x8.png").arg(size), 8);
  save(PrintGlyph(), "printglyph-x12.png", 12);

  // The main window's client area with stand-ins for its controls.
  QWidget window;
  window.setFixedSize(658, 363);
  auto* image = new QLabel(&window);
  image->setGeometry(0, 0, 658, 363);
  image->setPixmap(MainBackground());
  QFont label(QStringLiteral("DejaVu Sans"));
  label.setPixelSize(11);
  label.setBold(true);
  for (auto [text, x, y] : {std::tuple{"Machine :", 3, 15}, std::tuple{"<-Search", 173, 341}}) {
    auto* l = new QLabel(QString::fromLatin1(text), &window);
    l->setFont(label);
    l->setStyleSheet(QStringLiteral("color: white; background: transparent"));
    l->move(x, y);
    l->adjustSize();
  }
  auto* combo = new QComboBox(&window);
  combo->setGeometry(1, 29, 169, 20);
  combo->addItem(QStringLiteral("IBM/PC"));
  auto* grid = new QTableWidget(20, 1, &window);
  grid->setGeometry(0, 53, 169, 277);
  grid->setHorizontalHeaderLabels({QStringLiteral("Cheatname")});
  grid->verticalHeader()->setDefaultSectionSize(16);
  for (int row = 0; row < 20; ++row)
    grid->setItem(row, 0, new QTableWidgetItem(QStringLiteral("Game number %1").arg(row + 1)));
  auto* search = new QLineEdit(&window);
  search->setGeometry(0, 335, 170, 24);
  auto* memo = new QPlainTextEdit(&window);
  memo->setGeometry(229, 52, 372, 309);
  memo->setPlainText(QStringLiteral("Type the code on the title screen\nfor all weapons."));
  auto* print = new QToolButton(&window);
  print->setGeometry(616, 332, 29, 25);
  print->setIcon(PrintIcon());
  window.show();
  EXPECT_TRUE(window.grab().save(dir + "/mainwindow.png"));
}

}  // namespace
}  // namespace vz::app
