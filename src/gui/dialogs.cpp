#include "gui/dialogs.hpp"

#include <QCheckBox>
#include <QDir>
#include <QPushButton>

#include "gui/window_rules.hpp"

namespace tarvik::gui {

std::unique_ptr<QMessageBox> MakeBox(QWidget* parent, const std::string& title, const std::string& text,
                                     QMessageBox::Icon icon, QMessageBox::StandardButtons buttons) {
  auto box = std::make_unique<QMessageBox>(parent);
  box->setWindowTitle(QString::fromStdString(title));
  box->setTextFormat(Qt::PlainText);
  box->setText(ForDisplay(text));
  box->setIcon(icon);
  box->setStandardButtons(buttons);
  return box;
}

std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* parent, const ops::Message& message) {
  return MakeBox(parent, message.title, message.text, SeverityIcon(message.severity), QMessageBox::Ok);
}

std::unique_ptr<QMessageBox> MakeQuestionBox(QWidget* parent, const ops::Question& question) {
  auto box = MakeBox(parent, question.title, question.text, QuestionIcon(question.kind),
                     QMessageBox::Yes | QMessageBox::No);
  // Enter never replaces, drops or stops anything by itself.
  box->setDefaultButton(question.kind == ops::QuestionKind::ReadAsPackage ? QMessageBox::Yes : QMessageBox::No);
  return box;
}

std::unique_ptr<QMessageBox> MakeExistingBox(QWidget* parent, const ops::ExistingQuestion& question) {
  std::string text = question.path + " already exists.";
  if (question.count > 1)
    text += "\r\n" + std::to_string(question.count - question.index) + " of the files to extract stand there already.";
  text += "\r\nReplace it, keep it, or keep it and write the package's file beside it under a new name?";
  auto box = MakeBox(parent, question.title, text, QMessageBox::Question,
                     QMessageBox::Yes | QMessageBox::No | QMessageBox::Apply | QMessageBox::Cancel);
  box->button(QMessageBox::Yes)->setText(QObject::tr("&Overwrite"));
  box->button(QMessageBox::No)->setText(QObject::tr("&Skip"));
  box->button(QMessageBox::Apply)->setText(QObject::tr("&Rename"));
  box->setDefaultButton(QMessageBox::No);
  box->setEscapeButton(QMessageBox::Cancel);
  if (question.count - question.index > 1) box->setCheckBox(new QCheckBox(QObject::tr("&Apply to all"), box.get()));
  return box;
}

ops::ExistingAnswer ExistingAnswerOf(const QMessageBox& box, int result) {
  ops::ExistingAnswer answer;
  answer.forAll = box.checkBox() && box.checkBox()->isChecked();
  switch (result) {
    case QMessageBox::Yes: answer.choice = ops::ExistingChoice::Overwrite; break;
    case QMessageBox::No: answer.choice = ops::ExistingChoice::Skip; break;
    case QMessageBox::Apply: answer.choice = ops::ExistingChoice::Rename; break;
    default: answer.choice = ops::ExistingChoice::Cancel; break;
  }
  return answer;
}

namespace {
void SetFilters(QFileDialog& dialog, const std::string& filter) {
  const QStringList filters = ToQtFilters(filter);
  if (filters.isEmpty()) return;
  dialog.setNameFilters(filters);
  dialog.selectNameFilter(filters.first());
}
}  // namespace

std::unique_ptr<QFileDialog> MakeOpenDialog(QWidget* parent, const std::string& filter,
                                            const std::string& title, const QString& folder) {
  auto dialog = std::make_unique<QFileDialog>(parent, QString::fromStdString(title), folder);
  dialog->setAcceptMode(QFileDialog::AcceptOpen);
  dialog->setFileMode(QFileDialog::ExistingFile);
  dialog->setOption(QFileDialog::HideNameFilterDetails);
  SetFilters(*dialog, filter);
  return dialog;
}

std::unique_ptr<QFileDialog> MakeSaveDialog(QWidget* parent, const std::string& filter,
                                            const std::string& title, const std::string& proposedName,
                                            const QString& folder) {
  auto dialog = std::make_unique<QFileDialog>(parent, QString::fromStdString(title), folder);
  dialog->setAcceptMode(QFileDialog::AcceptSave);
  dialog->setFileMode(QFileDialog::AnyFile);
  dialog->setOption(QFileDialog::DontConfirmOverwrite);
  dialog->setOption(QFileDialog::HideNameFilterDetails);
  SetFilters(*dialog, filter);
  dialog->selectFile(QString::fromStdString(proposedName));
  return dialog;
}

std::unique_ptr<QFileDialog> MakeFolderDialog(QWidget* parent, const std::string& title,
                                              const QString& folder) {
  auto dialog = std::make_unique<QFileDialog>(parent, QString::fromStdString(title), folder);
  dialog->setAcceptMode(QFileDialog::AcceptOpen);
  dialog->setFileMode(QFileDialog::Directory);
  dialog->setOption(QFileDialog::ShowDirsOnly);
  return dialog;
}

std::optional<std::string> ChosenPath(const QFileDialog& dialog) {
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty() || files.first().isEmpty()) return std::nullopt;
  return QDir::toNativeSeparators(files.first()).toStdString();
}

}  // namespace tarvik::gui
