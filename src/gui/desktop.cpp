#include "gui/desktop.hpp"

#include <QApplication>
#include <QDesktopServices>

namespace tarvik::gui {

int Desktop::Exec(QDialog& dialog) { return dialog.exec(); }

void Desktop::OpenUrl(const QUrl& url) {
  if (url.isValid()) QDesktopServices::openUrl(url);
}

void Desktop::Beep() { QApplication::beep(); }

}  // namespace tarvik::gui
