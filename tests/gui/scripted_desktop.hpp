#pragma once
// A desktop for the window's tests: it answers file and folder dialogs and message boxes
// from queues, records what each dialog showed, hands other dialogs to a handler, and
// records the pages and folders the window asked to open.

#include <QFileDialog>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "gui/desktop.hpp"

namespace tarvik::test {

class ScriptedDesktop : public gui::Desktop {
 public:
  struct FileDialogSeen {
    QString title;
    QStringList filters;
    QString selectedFilter;
    QFileDialog::AcceptMode acceptMode = QFileDialog::AcceptOpen;
    QFileDialog::FileMode fileMode = QFileDialog::AnyFile;
    QFileDialog::Options options;
    QStringList proposed;  // the files selected before the answer
    QString directory;     // where the dialog starts
  };
  struct MessageSeen {
    QString text;
    QString title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
  };

  int Exec(QDialog& dialog) override;
  bool OpenUrl(const QUrl& url) override {
    urls.push_back(url);
    return opens;
  }
  void Beep() override { ++beeps; }
  // Settings in a file of a folder of the desktop's own (shared by every window it serves).
  std::unique_ptr<QSettings> Settings() override;

  // Answers: a path accepts a file dialog with it, nothing cancels (an empty queue cancels).
  std::deque<std::optional<QString>> fileAnswers;
  // Buttons for message boxes; when empty, a box gets its default button (Ok, or No).
  std::deque<QMessageBox::StandardButton> messageAnswers;
  // For message boxes with a check box ("Apply to all"): checked or not, in turn.
  std::deque<bool> checkAnswers;
  // Any other dialog (About box, extraction result); rejected when not set.
  std::function<int(QDialog&)> onOtherDialog;

  std::vector<FileDialogSeen> fileDialogs;
  std::vector<MessageSeen> messages;
  std::vector<QString> otherDialogs;  // titles
  std::vector<QUrl> urls;
  int beeps = 0;
  bool opens = true;  // whether a program takes what OpenUrl is given
  QTemporaryDir settingsDir;
};

// The folder of the project sources and where screenshots go.
QString SourceDir();
QString ScreenshotDir();
// The demo sample, when the checkout has it (or the package TARVIK_GUI_SAMPLE names).
std::optional<QString> DemoSample();

}  // namespace tarvik::test
