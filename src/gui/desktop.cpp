#include "gui/desktop.hpp"

#include <QApplication>
#include <QDesktopServices>

namespace tarvik::gui {

int Desktop::Exec(QDialog& dialog) { return dialog.exec(); }

bool Desktop::OpenUrl(const QUrl& url) { return url.isValid() && QDesktopServices::openUrl(url); }

void Desktop::Beep() { QApplication::beep(); }

}  // namespace tarvik::gui

namespace tarvik::gui {

std::unique_ptr<QSettings> Desktop::Settings() {
  return std::make_unique<QSettings>(QStringLiteral("Tarvik"), QStringLiteral("tarvik"));
}

}  // namespace tarvik::gui
