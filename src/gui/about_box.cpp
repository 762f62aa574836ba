#include "gui/about_box.hpp"

#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "gui/logo.hpp"
#include "gui/window_rules.hpp"

namespace tarvik::gui {

void ClickableLabel::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit clicked();
}

AboutBox::AboutBox(QWidget* parent, std::function<void(const QUrl&)> openPage)
    : QDialog(parent), openPage_(std::move(openPage)) {
  setObjectName(QStringLiteral("frmAbout"));
  setWindowTitle(QString::fromLatin1(kAboutTitle));
  setModal(true);

  picture_ = new ClickableLabel(this);
  picture_->setObjectName(QStringLiteral("Picture1"));
  picture_->setPixmap(DrawLogo(64));
  picture_->setCursor(Qt::PointingHandCursor);
  picture_->setToolTip(QString::fromLatin1(kHomePage));
  picture_->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

  label_ = new QLabel(this);
  label_->setObjectName(QStringLiteral("Label1"));
  label_->setTextFormat(Qt::PlainText);
  label_->setWordWrap(true);
  label_->setText(ForDisplay(kAboutText));
  label_->setMinimumWidth(380);

  link_ = new QLabel(this);
  link_->setObjectName(QStringLiteral("Label2"));
  link_->setTextFormat(Qt::RichText);
  link_->setText(QStringLiteral("<a href=\"%1\">%2</a>")
                     .arg(QString::fromLatin1(kHomePage), QString::fromLatin1(kVisitText).toHtmlEscaped()));
  link_->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
  link_->setOpenExternalLinks(false);
  link_->setCursor(Qt::PointingHandCursor);

  auto* ok = new QPushButton(tr("OK"), this);
  ok->setDefault(true);

  connect(picture_, &ClickableLabel::clicked, this, &AboutBox::Visit);
  connect(link_, &QLabel::linkActivated, this, &AboutBox::Visit);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  auto* top = new QHBoxLayout;
  top->addWidget(picture_, 0, Qt::AlignTop);
  top->addSpacing(12);
  top->addWidget(label_, 1);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(link_);
  bottom->addStretch(1);
  bottom->addWidget(ok);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addSpacing(8);
  layout->addLayout(bottom);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

void AboutBox::Visit() {
  done(QDialog::Accepted);
  if (openPage_) openPage_(QUrl(QString::fromLatin1(kHomePage)));
}

}  // namespace tarvik::gui
