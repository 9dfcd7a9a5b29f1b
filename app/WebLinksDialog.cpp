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

QLabel* MakeLabel(QWidget* parent, const char* name, const QRect& bounds, const QString& text,
                  const QFont& font, const QColor& color) {
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

  panel_ = FillWithRaisedPanel(this);

  titleLabel_ = MakeLabel(panel_, "Label1", QRect(28, 22, 226, 29),
                          QStringLiteral("Vorza for Windows"), SansFont(24, true), Qt::blue);
  titleLabel_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  titleLabel_->setAutoFillBackground(true);
  QPalette menuBackground = titleLabel_->palette();
  menuBackground.setColor(QPalette::Window, QApplication::palette("QMenu").color(QPalette::Window));
  titleLabel_->setPalette(menuBackground);
  FitText(titleLabel_, Keep::Centre);

  versionLabel_ = MakeLabel(panel_, "Label5", QRect(111, 54, 47, 13), QStringLiteral("fileversion"),
                            SansFont(11), Qt::blue);
  creditLabel_ = MakeLabel(panel_, "Label2", QRect(58, 75, 166, 16),
                           QString::fromLatin1(kAuthorCredit), SansFont(13, true), Qt::red);
  creditLabel_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  FitText(creditLabel_, Keep::Centre);

  vantuLink_ = MakeLink(panel_, "URLLabel1", QRect(102, 99, 78, 13),
                        QStringLiteral("Homepage Vantu"), kHomepageVantu);
  connect(vantuLink_, &UrlLabel::MouseMove, this, &WebLinksDialog::OnVantuLinkMouseMove);
  skarrowLink_ = MakeLink(panel_, "URLLabel2", QRect(91, 124, 101, 13),
                          QStringLiteral("Homepage Skarrow"), kHomepageSkarrow);
  connect(skarrowLink_, &UrlLabel::MouseMove, this, &WebLinksDialog::OnSkarrowLinkMouseMove);

  okButton_ = new QPushButton(QStringLiteral("OK"), panel_);
  okButton_->setObjectName(QStringLiteral("Button1"));
  okButton_->setGeometry(106, 152, 69, 25);
  connect(okButton_, &QPushButton::clicked, this, &QDialog::accept);

  versionInfo_ = new VersionInfo(this);
  versionInfo_->setObjectName(QStringLiteral("VersionInfo1"));

  CentreOnScreen(this);
  SetUp();
}

void WebLinksDialog::SetUp() {
  setWindowTitle(QStringLiteral("About"));
  versionInfo_->SetFileName(ProgramFileName());
  versionLabel_->setText(QStringLiteral("v") + versionInfo_->FileVersion());
  FitText(versionLabel_);
}

void WebLinksDialog::OnVantuLinkMouseMove(Qt::KeyboardModifiers, int, int) {
  SetScreenCursor(Qt::PointingHandCursor);
}

void WebLinksDialog::OnSkarrowLinkMouseMove(Qt::KeyboardModifiers, int, int) {
  SetScreenCursor(Qt::PointingHandCursor);
}

void ShowWebLinks(WebLinksDialog* form) {
  form->exec();
}

}  // namespace vz::app
