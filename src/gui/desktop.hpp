#pragma once
// What the window asks of the desktop: running a modal dialog, opening a web page or a
// folder in the system's programs, the beep, and the settings store. The program uses the real thing; tests
// put in their own to answer dialogs and to record what would have been opened.

#include <QDialog>
#include <QSettings>
#include <QUrl>

#include <memory>

namespace tarvik::gui {

class Desktop {
 public:
  virtual ~Desktop() = default;
  // Runs the dialog modally and returns its result (QDialog::exec()).
  virtual int Exec(QDialog& dialog);
  // Opens the address in the default web browser or file browser; false when no program
  // took it.
  virtual bool OpenUrl(const QUrl& url);
  virtual void Beep();
  // Where the window keeps what it remembers between runs (recent files, geometry,
  // folders, the Working Directory).
  virtual std::unique_ptr<QSettings> Settings();
};

}  // namespace tarvik::gui
