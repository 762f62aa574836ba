#include "gui/dialogs.hpp"

#include <QDir>

#include "gui/window_rules.hpp"

namespace tarvik::gui {

namespace {
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
}  // namespace

std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* parent, const ops::Message& message) {
  return MakeBox(parent, message.title, message.text, SeverityIcon(message.severity), QMessageBox::Ok);
}

std::unique_ptr<QMessageBox> MakeQuestionBox(QWidget* parent, const ops::Question& question) {
  return MakeBox(parent, question.title, question.text, QuestionIcon(question.kind),
                 QMessageBox::Yes | QMessageBox::No);
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
