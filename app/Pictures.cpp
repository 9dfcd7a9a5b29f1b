#include "app/Pictures.h"

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygon>
#include <QRadialGradient>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <cstddef>

namespace vz::app {
namespace {

// The 16-colour palette of the small pictures.
constexpr QRgb kBlack = 0xff000000;
constexpr QRgb kNavy = 0xff000080;
constexpr QRgb kPurple = 0xff800080;
constexpr QRgb kGrey = 0xff808080;
constexpr QRgb kSilver = 0xffc0c0c0;
constexpr QRgb kRed = 0xffff0000;
constexpr QRgb kLime = 0xff00ff00;
constexpr QRgb kYellow = 0xffffff00;
constexpr QRgb kBlue = 0xff0000ff;
constexpr QRgb kFuchsia = 0xffff00ff;
constexpr QRgb kWhite = 0xffffffff;

QFont Sans(int pixelSize, bool bold = false) {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  font.setStyleStrategy(QFont::PreferAntialias);
  font.setHintingPreference(QFont::PreferNoHinting);
  return font;
}

// ---------------------------------------------------------------------------
// Pixel drawing for the 16-colour pictures: no smoothing, whole pixels only.

void Fill(QPainter& p, int x, int y, int w, int h, QRgb colour) {
  p.fillRect(x, y, w, h, QColor::fromRgba(colour));
}

// A rectangle with rounded corners of `radius` pixels, filled row by row so
// that the corners are the same at every size.
void FillRounded(QPainter& p, const QRect& r, int radius, QRgb colour) {
  for (int row = 0; row < r.height(); ++row) {
    const int fromEdge = std::min(row, r.height() - 1 - row);
    int inset = 0;
    if (fromEdge < radius) {
      const double dy = radius - fromEdge - 0.5;
      inset = radius - static_cast<int>(std::lround(std::sqrt(radius * radius - dy * dy)));
    }
    Fill(p, r.left() + inset, r.top() + row, r.width() - 2 * inset, 1, colour);
  }
}

void Polygon(QPainter& p, const QPolygon& shape, QRgb fill, QRgb outline) {
  p.setPen(QPen(QColor::fromRgba(outline), 0));
  p.setBrush(QColor::fromRgba(fill));
  p.drawPolygon(shape);
}

// The icon on its 32-pixel grid: a purple tile with a black edge, a game
// pad across its lower half and a yellow V standing on the pad.
void DrawIcon32(QPainter& p) {
  // Tile.
  FillRounded(p, QRect(1, 1, 30, 30), 5, kBlack);
  FillRounded(p, QRect(2, 2, 28, 28), 4, kPurple);
  Fill(p, 6, 2, 20, 1, kFuchsia);
  Fill(p, 2, 6, 1, 18, kFuchsia);
  // Game pad: a silver body with a lit top edge and a shaded bottom edge,
  // the cross pad on the left and two buttons on the right.
  FillRounded(p, QRect(4, 17, 24, 12), 4, kBlack);
  FillRounded(p, QRect(5, 18, 22, 10), 3, kSilver);
  Fill(p, 8, 18, 16, 1, kWhite);
  Fill(p, 8, 27, 16, 1, kGrey);
  Fill(p, 7, 22, 7, 2, kBlack);
  Fill(p, 9, 20, 3, 6, kBlack);
  Fill(p, 19, 20, 4, 4, kBlack);
  Fill(p, 20, 21, 2, 2, kRed);
  Fill(p, 22, 23, 4, 4, kBlack);
  Fill(p, 23, 24, 2, 2, kBlue);
  // The V, in front of the pad.
  Polygon(p,
          QPolygon({QPoint(6, 3), QPoint(12, 3), QPoint(16, 12), QPoint(20, 3), QPoint(26, 3),
                    QPoint(18, 21), QPoint(14, 21)}),
          kYellow, kBlack);
}

// A shape given as runs of pixels per row (row, first column, last
// column), filled with `fill` and edged all round with one pixel of
// `outline`.
struct Run {
  int row, first, last;
};
template <std::size_t N>
void Outlined(QPainter& p, const Run (&runs)[N], QRgb fill, QRgb outline) {
  for (const Run& r : runs) Fill(p, r.first - 1, r.row - 1, r.last - r.first + 3, 3, outline);
  for (const Run& r : runs) Fill(p, r.first, r.row, r.last - r.first + 1, 1, fill);
}

// The icon on its 16-pixel grid: the same tile, V and pad with fewer
// details.
void DrawIcon16(QPainter& p) {
  FillRounded(p, QRect(0, 0, 16, 16), 3, kBlack);
  FillRounded(p, QRect(1, 1, 14, 14), 2, kPurple);
  FillRounded(p, QRect(1, 8, 14, 7), 2, kBlack);
  FillRounded(p, QRect(2, 9, 12, 5), 1, kSilver);
  Fill(p, 3, 11, 3, 1, kBlack);
  Fill(p, 4, 10, 1, 3, kBlack);
  Fill(p, 10, 10, 1, 1, kRed);
  Fill(p, 12, 11, 1, 1, kBlue);
  static constexpr Run kV[] = {{1, 2, 4},   {1, 11, 13}, {2, 3, 5},  {2, 10, 12}, {3, 3, 5},
                               {3, 10, 12}, {4, 4, 6},   {4, 9, 11}, {5, 5, 7},   {5, 8, 10},
                               {6, 5, 10},  {7, 6, 9},   {8, 7, 8}};
  Outlined(p, kV, kYellow, kBlack);
}

QImage IconImage(int size) {
  QImage image(size, size, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing, false);
  if (size == 16) {
    DrawIcon16(p);
  } else {
    p.scale(size / 32.0, size / 32.0);
    DrawIcon32(p);
  }
  return image;
}

// The printer, normal: paper standing in the feed at the back, a silver
// body with a purple band and a green lamp, and a printed sheet coming out
// at the front.
QImage PrinterImage() {
  QImage image(16, 16, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing, false);
  // Paper in the feed.
  Fill(p, 4, 0, 8, 6, kBlack);
  Fill(p, 5, 1, 6, 5, kWhite);
  Fill(p, 6, 2, 4, 1, kSilver);
  Fill(p, 6, 4, 3, 1, kSilver);
  // Body.
  Fill(p, 1, 5, 14, 7, kBlack);
  Fill(p, 0, 6, 16, 5, kBlack);
  Fill(p, 2, 6, 12, 5, kSilver);
  Fill(p, 1, 7, 14, 3, kSilver);
  Fill(p, 2, 6, 12, 1, kWhite);
  Fill(p, 2, 10, 12, 1, kGrey);
  Fill(p, 3, 8, 7, 1, kPurple);
  Fill(p, 12, 8, 1, 1, kLime);
  // Printed sheet.
  Fill(p, 3, 10, 10, 6, kBlack);
  Fill(p, 4, 11, 8, 4, kWhite);
  Fill(p, 5, 12, 6, 1, kNavy);
  Fill(p, 5, 14, 4, 1, kNavy);
  return image;
}

// A disabled image in the classic embossed style: every dark pixel of the
// normal image becomes grey with a white pixel below and to the right of
// it; light pixels drop out.
QImage Disabled(const QImage& normal) {
  QImage out(normal.size(), QImage::Format_ARGB32);
  out.fill(Qt::transparent);
  auto dark = [&](int x, int y) {
    if (x < 0 || y < 0 || x >= normal.width() || y >= normal.height()) return false;
    const QRgb c = normal.pixel(x, y);
    return qAlpha(c) == 255 && qGray(c) < 140;
  };
  for (int y = 0; y < normal.height(); ++y)
    for (int x = 0; x < normal.width(); ++x) {
      if (dark(x, y))
        out.setPixel(x, y, kGrey);
      else if (dark(x - 1, y - 1))
        out.setPixel(x, y, kWhite);
    }
  return out;
}

// ---------------------------------------------------------------------------
// Lettering for the large pictures.

// Text filled with a yellow-to-orange gradient, edged in dark plum and
// lifted off the ground by a soft shadow.
void Title(QPainter& p, const QPointF& baseline, const QFont& font, const QString& text) {
  QPainterPath path;
  path.addText(baseline, font, text);
  const QRectF box = path.boundingRect();
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  p.fillPath(path.translated(2, 2), QColor(0, 0, 0, 110));
  p.fillPath(path.translated(3, 3), QColor(0, 0, 0, 50));
  p.strokePath(path, QPen(QColor(48, 0, 44), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  QLinearGradient fill(box.topLeft(), box.bottomLeft());
  fill.setColorAt(0.0, QColor(255, 250, 170));
  fill.setColorAt(0.45, QColor(255, 214, 40));
  fill.setColorAt(1.0, QColor(250, 128, 20));
  p.fillPath(path, fill);
  p.restore();
}

void Text(QPainter& p, const QPointF& baseline, const QFont& font, const QColor& colour,
          const QString& text) {
  p.setFont(font);
  p.setPen(colour);
  p.drawText(baseline, text);
}

void CentredText(QPainter& p, qreal centreX, qreal baseline, const QFont& font,
                 const QColor& colour, const QString& text) {
  const qreal width = QFontMetricsF(font).horizontalAdvance(text);
  Text(p, QPointF(centreX - width / 2, baseline), font, colour, text);
}

// A soft shadow along the right and bottom edges of a control, so that the
// controls sit on the picture rather than float over it.
void ControlShadow(QPainter& p, const QRect& control) {
  for (int i = 1; i <= 3; ++i) {
    const QColor shade(0, 0, 0, 70 - 18 * i);
    p.fillRect(QRect(control.right() + i, control.top() + i + 1, 1, control.height() - 1), shade);
    p.fillRect(QRect(control.left() + i + 1, control.bottom() + i, control.width() - 1, 1), shade);
  }
}

// A small stylised star: four points and a bright centre.
void Sparkle(QPainter& p, const QPointF& centre, qreal radius, const QColor& colour) {
  QPainterPath star;
  const qreal waist = radius * 0.22;
  star.moveTo(centre.x(), centre.y() - radius);
  star.quadTo(centre.x() + waist, centre.y() - waist, centre.x() + radius, centre.y());
  star.quadTo(centre.x() + waist, centre.y() + waist, centre.x(), centre.y() + radius);
  star.quadTo(centre.x() - waist, centre.y() + waist, centre.x() - radius, centre.y());
  star.quadTo(centre.x() - waist, centre.y() - waist, centre.x(), centre.y() - radius);
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  p.fillPath(star, colour);
  p.restore();
}

}  // namespace

QPixmap MainBackground(const MainLayout& layout) {
  // Around the controls, and under the two white labels (left of the
  // machine box's top and right of the search box), the ground stays plain
  // dark purple.
  const int w = layout.Client.width(), h = layout.Client.height();
  const QRect& grid = layout.Grid;
  const QRect& memo = layout.Memo;
  const QRect& printButton = layout.PrintButton;
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(Qt::black);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);

  // Ground: purple, darkening towards the bottom right.
  QLinearGradient ground(0, 0, w * 420.0 / 658, h * 560.0 / 363);
  ground.setColorAt(0.0, QColor(120, 14, 128));
  ground.setColorAt(0.5, QColor(86, 6, 100));
  ground.setColorAt(1.0, QColor(34, 0, 52));
  p.fillRect(image.rect(), ground);

  // Fine diagonal pinstripes over the whole ground.
  p.setPen(QPen(QColor(255, 255, 255, 9), 1));
  for (int x = -h; x < w; x += 7) p.drawLine(x, h, x + h, 0);

  // A glow behind the title, reaching neither the machine label nor the
  // machine box.
  QRadialGradient glow(QPointF(memo.left() + 201, 22), 230);
  glow.setColorAt(0.0, QColor(255, 110, 255, 80));
  glow.setColorAt(1.0, QColor(255, 110, 255, 0));
  p.fillRect(QRect(grid.right() + 7, 0, w - grid.right() - 7, 52), glow);

  // Title band: the icon and the program's name above the cheat text.
  p.drawPixmap(QPoint(memo.left(), 10), WindowIconPixmap(32));
  Title(p, QPointF(memo.left() + 42, 36), Sans(27, true), QStringLiteral("Vorza Cheat Reader"));
  Sparkle(p, QPointF(w - 62, 15), 7, QColor(255, 245, 200, 230));
  Sparkle(p, QPointF(w - 44, 34), 4, QColor(255, 220, 255, 170));
  Sparkle(p, QPointF(w - 18, 20), 5, QColor(255, 235, 180, 200));
  // A rule under the band, fading out at both ends.
  QLinearGradient rule(QPointF(memo.left(), 0), QPointF(w, 0));
  rule.setColorAt(0.0, QColor(255, 200, 60, 0));
  rule.setColorAt(0.25, QColor(255, 200, 60, 200));
  rule.setColorAt(0.8, QColor(255, 120, 230, 160));
  rule.setColorAt(1.0, QColor(255, 120, 230, 0));
  p.fillRect(QRect(memo.left(), 46, w - memo.left(), 2), rule);

  // The strip between the grid and the cheat text: what the catalogue
  // holds, written upwards in faint capitals.
  p.save();
  p.translate(grid.right() + 30, grid.center().y());
  p.rotate(-90);
  QFont capitals = Sans(12, true);
  capitals.setLetterSpacing(QFont::AbsoluteSpacing, 2.0);
  CentredText(p, 0, 4, capitals, QColor(235, 190, 255, 95),
              QStringLiteral("CHEATS \u2022 CODES \u2022 PASSWORDS"));
  p.restore();

  // The strip right of the cheat text: the four machines as short marks,
  // and the print button's caption.
  const QStringList marks{QStringLiteral("PC"), QStringLiteral("N64"), QStringLiteral("PSX"),
                          QStringLiteral("DC")};
  const qreal stripCentre = (memo.right() + 1 + w) / 2.0;
  const QFont markFont = Sans(12, true);
  for (int i = 0; i < marks.size(); ++i) {
    const qreal top = 92 + i * 52;
    CentredText(p, stripCentre, top, markFont, QColor(255, 220, 120, 150), marks[i]);
    if (i + 1 < marks.size())
      Sparkle(p, QPointF(stripCentre, top + 22), 4, QColor(240, 190, 255, 110));
  }
  CentredText(p, printButton.center().x() + 0.5, printButton.top() - 6, Sans(10, true),
              QColor(255, 255, 255, 190), QStringLiteral("Print"));

  for (const QRect& control : {layout.MachineBox, grid, layout.SearchBox, memo, printButton})
    ControlShadow(p, control);
  p.end();
  return QPixmap::fromImage(image);
}

QPixmap SplashPicture(const QString& version) {
  const int w = 289, h = 127;
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(Qt::black);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);

  QLinearGradient ground(0, 0, 120, 200);
  ground.setColorAt(0.0, QColor(132, 18, 140));
  ground.setColorAt(0.6, QColor(80, 4, 96));
  ground.setColorAt(1.0, QColor(38, 0, 56));
  p.fillRect(image.rect(), ground);
  p.setPen(QPen(QColor(255, 255, 255, 9), 1));
  for (int x = -h; x < w; x += 7) p.drawLine(x, h, x + h, 0);
  QRadialGradient glow(QPointF(150, 36), 150);
  glow.setColorAt(0.0, QColor(255, 110, 255, 70));
  glow.setColorAt(1.0, QColor(255, 110, 255, 0));
  p.fillRect(image.rect(), glow);

  // Icon and name.
  p.drawPixmap(QPoint(14, 12), WindowIconPixmap(48));
  Title(p, QPointF(74, 39), Sans(34, true), QStringLiteral("Vorza"));
  Text(p, QPointF(75, 60), Sans(17, true), QColor(255, 255, 255), QStringLiteral("Cheat Reader"));
  Sparkle(p, QPointF(252, 40), 6, QColor(255, 245, 200, 230));
  Sparkle(p, QPointF(238, 28), 3.5, QColor(255, 220, 255, 170));
  if (!version.isEmpty()) {
    const QFont small = Sans(10);
    const QString text = QStringLiteral("Version ") + version;
    const qreal width = QFontMetricsF(small).horizontalAdvance(text);
    Text(p, QPointF(w - 9 - width, 15), small, QColor(235, 200, 255), text);
  }

  // What it holds, and for which machines.
  QLinearGradient rule(QPointF(10, 0), QPointF(w - 10, 0));
  rule.setColorAt(0.0, QColor(255, 200, 60, 0));
  rule.setColorAt(0.2, QColor(255, 200, 60, 210));
  rule.setColorAt(0.8, QColor(255, 120, 230, 170));
  rule.setColorAt(1.0, QColor(255, 120, 230, 0));
  p.fillRect(QRect(10, 70, w - 20, 2), rule);
  QFont italic = Sans(12);
  italic.setItalic(true);
  CentredText(p, w / 2.0, 88, italic, QColor(255, 225, 140),
              QStringLiteral("Cheats, codes and passwords"));
  const QFont machines = Sans(10);
  const QColor lavender(235, 215, 255);
  CentredText(p, w / 2.0, 104, machines, lavender, QStringLiteral("IBM/PC  \u2022  Nintendo N64"));
  CentredText(p, w / 2.0, 117, machines, lavender,
              QStringLiteral("Sony Playstation  \u2022  Sega Dreamcast"));

  // A raised edge: the window itself has no border.
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setPen(QColor(220, 150, 230));
  p.drawLine(0, 0, w - 1, 0);
  p.drawLine(0, 0, 0, h - 1);
  p.setPen(QColor(20, 0, 24));
  p.drawLine(0, h - 1, w - 1, h - 1);
  p.drawLine(w - 1, 0, w - 1, h - 1);
  p.setPen(QColor(170, 80, 180));
  p.drawLine(1, 1, w - 2, 1);
  p.drawLine(1, 1, 1, h - 2);
  p.setPen(QColor(50, 0, 60));
  p.drawLine(1, h - 2, w - 2, h - 2);
  p.drawLine(w - 2, 1, w - 2, h - 2);
  p.end();
  return QPixmap::fromImage(image);
}

QPixmap WindowIconPixmap(int size) {
  return QPixmap::fromImage(IconImage(size));
}

QIcon WindowIcon() {
  QIcon icon;
  for (int size : {16, 32, 48}) icon.addPixmap(WindowIconPixmap(size));
  return icon;
}

QPixmap PrintGlyph() {
  const QImage normal = PrinterImage();
  QImage glyph(32, 16, QImage::Format_ARGB32);
  glyph.fill(Qt::transparent);
  QPainter p(&glyph);
  p.drawImage(0, 0, normal);
  p.drawImage(16, 0, Disabled(normal));
  p.end();
  return QPixmap::fromImage(glyph);
}

QIcon PrintIcon() {
  const QPixmap glyph = PrintGlyph();
  QIcon icon;
  icon.addPixmap(glyph.copy(0, 0, 16, 16), QIcon::Normal);
  icon.addPixmap(glyph.copy(16, 0, 16, 16), QIcon::Disabled);
  return icon;
}

}  // namespace vz::app
