#include "gui/about_box.hpp"

#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "gui/help.hpp"
#include "gui/logo.hpp"
#include "gui/window_rules.hpp"

namespace tarvik::gui {

void ClickableLabel::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit clicked();
}

AboutBox::AboutBox(QWidget* parent, std::function<void(const QUrl&)> openPage, QUrl page)
    : QDialog(parent), openPage_(std::move(openPage)), page_(std::move(page)) {
  if (page_.isEmpty()) page_ = QUrl::fromLocalFile(ReadmePath());
  setObjectName(QStringLiteral("frmAbout"));
  setWindowTitle(QString::fromLatin1(kAboutTitle));
  setModal(true);

  picture_ = new ClickableLabel(this);
  picture_->setObjectName(QStringLiteral("Picture1"));
  picture_->setPixmap(DrawLogo(64));
  picture_->setCursor(Qt::PointingHandCursor);
  picture_->setToolTip(page_.toDisplayString());
  picture_->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

  label_ = new QLabel(this);
  label_->setObjectName(QStringLiteral("Label1"));
  label_->setTextFormat(Qt::PlainText);
  label_->setWordWrap(true);
  label_->setText(ForDisplay(kAboutText));
  label_->setMinimumWidth(380);

  details_ = new QLabel(this);
  details_->setObjectName(QStringLiteral("Label3"));
  details_->setTextFormat(Qt::PlainText);
  details_->setWordWrap(true);
  details_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  details_->setText(BuildDetails());

  link_ = new QLabel(this);
  link_->setObjectName(QStringLiteral("Label2"));
  link_->setTextFormat(Qt::RichText);
  link_->setText(QStringLiteral("<a href=\"%1\">%2</a>")
                     .arg(page_.toString(QUrl::FullyEncoded).toHtmlEscaped(),
                          QString::fromLatin1(kVisitText).toHtmlEscaped()));
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
  layout->addWidget(details_);
  layout->addSpacing(8);
  layout->addLayout(bottom);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

void AboutBox::Visit() {
  done(QDialog::Accepted);
  if (openPage_ && !page_.isEmpty()) openPage_(page_);
}

}  // namespace tarvik::gui
