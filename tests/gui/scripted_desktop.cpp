#include "scripted_desktop.hpp"

#include <QCheckBox>
#include <QDir>
#include <QPushButton>
#include <QFileInfo>

#include "support/test_env.hpp"

namespace tarvik::test {

int ScriptedDesktop::Exec(QDialog& dialog) {
  if (auto* box = qobject_cast<QMessageBox*>(&dialog)) {
    messages.push_back({box->text(), box->windowTitle(), box->icon(), box->standardButtons(),
                        box->defaultButton() ? box->standardButton(box->defaultButton()) : QMessageBox::NoButton});
    if (box->checkBox() && !checkAnswers.empty()) {
      box->checkBox()->setChecked(checkAnswers.front());
      checkAnswers.pop_front();
    }
    if (!messageAnswers.empty()) {
      const QMessageBox::StandardButton b = messageAnswers.front();
      messageAnswers.pop_front();
      return b;
    }
    // Without an answer, the box's default button (Enter).
    if (QAbstractButton* def = box->defaultButton()) return box->standardButton(def);
    return box->standardButtons().testFlag(QMessageBox::No) ? QMessageBox::No : QMessageBox::Ok;
  }
  if (auto* files = qobject_cast<QFileDialog*>(&dialog)) {
    fileDialogs.push_back({files->windowTitle(), files->nameFilters(), files->selectedNameFilter(),
                           files->acceptMode(), files->fileMode(), files->options(), files->selectedFiles(),
                           files->directory().absolutePath()});
    if (fileAnswers.empty()) return QDialog::Rejected;
    const std::optional<QString> answer = fileAnswers.front();
    fileAnswers.pop_front();
    if (!answer) return QDialog::Rejected;
    files->selectFile(*answer);
    return QDialog::Accepted;
  }
  otherDialogs.push_back(dialog.windowTitle());
  return onOtherDialog ? onOtherDialog(dialog) : QDialog::Rejected;
}

std::unique_ptr<QSettings> ScriptedDesktop::Settings() {
  return std::make_unique<QSettings>(settingsDir.filePath(QStringLiteral("tarvik.ini")), QSettings::IniFormat);
}

QString SourceDir() { return QStringLiteral(TARVIK_SOURCE_DIR); }

QString ScreenshotDir() {
  const QString dir = QStringLiteral(TARVIK_SCREENSHOT_DIR);
  QDir().mkpath(dir);
  return dir;
}

std::optional<QString> DemoSample() {
  // TARVIK_GUI_SAMPLE points the tests at another package when trying one by hand.
  const QString chosen = qEnvironmentVariable("TARVIK_GUI_SAMPLE");
  const QString path = chosen.isEmpty() ? SourceDir() + QStringLiteral("/samples/demo.sisx") : chosen;
  if (!QFileInfo(path).isFile()) return std::nullopt;
  return path;
}

}  // namespace tarvik::test
