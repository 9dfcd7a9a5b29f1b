#include "app/WebLinksDialog.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <algorithm>

#include "app/Application.h"
#include "app/Pictures.h"
#include "app/Shell.h"
#include "app/UrlLabel.h"
#include "app/VersionInfo.h"

namespace vz::app {
namespace {

void SetTextColor(QWidget* widget, const QColor& color) {
  QPalette p = widget->palette();
  p.setColor(QPalette::WindowText, color);
  widget->setPalette(p);
}

// The layout's sizes were made for a narrower font than ours. A label whose
// text does not fit grows to fit it, keeping its left edge or, for the
// window's title and centred texts, its centre. It never shrinks below its
// laid-out size.
enum class Keep { Left, Centre };
void FitText(QLabel* label, Keep keep = Keep::Left) {
  const QSize needed = label->sizeHint();
  QRect r = label->geometry();
  const int width = std::max(r.width(), needed.width());
  const int height = std::max(r.height(), needed.height());
  if (keep == Keep::Centre) r.moveLeft(r.left() - (width - r.width()) / 2);
  r.setSize(QSize(width, height));
  label->setGeometry(r);
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QRect& bounds, const QString& text, const QFont& font,
                  const QColor& color) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QLatin1String(name));
  label->setTextFormat(Qt::PlainText);
  label->setGeometry(bounds);
  label->setFont(font);
  SetTextColor(label, color);
  return label;
}

UrlLabel* MakeLink(QWidget* parent, const char* name, const QRect& bounds, const QString& caption,
                    const char* url) {
  auto* link = new UrlLabel(parent);
  link->setObjectName(QLatin1String(name));
  link->setGeometry(bounds);
  QFont font = SansFont(11);
  font.setUnderline(true);
  link->setFont(font);
  link->setText(caption);
  link->SetURL(QString::fromLatin1(url));
  FitText(link);
  return link;
}

}  // namespace

WebLinksDialog::WebLinksDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("Form2"));
  setWindowTitle(QStringLiteral("Information"));
  // A title bar without any buttons.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setFont(SansFont(11));
  setWindowIcon(WindowIcon());
  resize(282, 187);

  Panel1 = FillWithRaisedPanel(this);

  Label1 = MakeLabel(Panel1, "Label1", QRect(28, 22, 226, 29), QStringLiteral("Vorza for Windows"),
                     SansFont(24, true), Qt::blue);
  Label1->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  Label1->setAutoFillBackground(true);
  QPalette menuBackground = Label1->palette();
  menuBackground.setColor(QPalette::Window, QApplication::palette("QMenu").color(QPalette::Window));
  Label1->setPalette(menuBackground);
  FitText(Label1, Keep::Centre);

  Label5 = MakeLabel(Panel1, "Label5", QRect(111, 54, 47, 13), QStringLiteral("fileversion"), SansFont(11),
                     Qt::blue);
  Label2 = MakeLabel(Panel1, "Label2", QRect(58, 75, 166, 16), QString::fromLatin1(kAuthorCredit),
                     SansFont(13, true), Qt::red);
  Label2->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  FitText(Label2, Keep::Centre);

  URLLabel1 = MakeLink(Panel1, "URLLabel1", QRect(102, 99, 78, 13), QStringLiteral("Homepage Vantu"), kHomepageVantu);
  connect(URLLabel1, &UrlLabel::MouseMove, this, &WebLinksDialog::URLLabel1MouseMove);
  URLLabel2 = MakeLink(Panel1, "URLLabel2", QRect(91, 124, 101, 13), QStringLiteral("Homepage Skarrow"),
                       kHomepageSkarrow);
  connect(URLLabel2, &UrlLabel::MouseMove, this, &WebLinksDialog::URLLabel2MouseMove);

  Button1 = new QPushButton(QStringLiteral("OK"), Panel1);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setGeometry(106, 152, 69, 25);
  connect(Button1, &QPushButton::clicked, this, &QDialog::accept);

  VersionInfo1 = new VersionInfo(this);
  VersionInfo1->setObjectName(QStringLiteral("VersionInfo1"));

  CentreOnScreen(this);
  FormCreate();
}

void WebLinksDialog::FormCreate() {
  setWindowTitle(QStringLiteral("About"));
  VersionInfo1->SetFileName(ProgramFileName());
  Label5->setText(QStringLiteral("v") + VersionInfo1->FileVersion());
  FitText(Label5);
}

void WebLinksDialog::URLLabel1MouseMove(Qt::KeyboardModifiers, int, int) { SetScreenCursor(Qt::PointingHandCursor); }

void WebLinksDialog::URLLabel2MouseMove(Qt::KeyboardModifiers, int, int) { SetScreenCursor(Qt::PointingHandCursor); }

void About1Click(WebLinksDialog* form) { form->exec(); }

}  // namespace vz::app
