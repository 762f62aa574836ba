#include "gui/extract_result_dialog.hpp"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "gui/window_rules.hpp"
#include "shell/app.hpp"

namespace tarvik::gui {

ExtractResultDialog::ExtractResultDialog(QWidget* parent, const std::string& text, const std::string& folder,
                                         std::function<void(const std::string&)> openFolder)
    : QDialog(parent), folder_(folder), openFolder_(std::move(openFolder)) {
  setObjectName(QStringLiteral("frmResult"));
  setWindowTitle(QString::fromLatin1(kProgramName));
  setModal(true);

  // The list can be long: a read-only text box scrolls where a label would not.
  text_ = new QPlainTextEdit(this);
  text_->setObjectName(QStringLiteral("Text1"));
  text_->setReadOnly(true);
  text_->setLineWrapMode(QPlainTextEdit::NoWrap);
  text_->setPlainText(ForDisplay(text));

  close_ = new QPushButton(tr("Close"), this);
  close_->setObjectName(QStringLiteral("cmdClose"));
  close_->setDefault(true);
  view_ = new QPushButton(tr("View File"), this);
  view_->setObjectName(QStringLiteral("cmdView"));

  connect(close_, &QPushButton::clicked, this, &QDialog::accept);
  connect(view_, &QPushButton::clicked, this, [this] {
    if (openFolder_) openFolder_(folder_);
  });

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(view_);
  buttons->addWidget(close_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text_, 1);
  layout->addLayout(buttons);
  resize(460, 320);
}

}  // namespace tarvik::gui
