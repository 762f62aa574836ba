// tarvik: the desktop program. `tarvik FILE` opens FILE at start (what a file manager
// passes); without an argument the window starts empty.

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QTimer>
#include <QUrl>

#include <cstdio>

#include "gui/logo.hpp"
#include "gui/main_window.hpp"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tarvik"));
  QApplication::setApplicationVersion(QStringLiteral(TARVIK_VERSION));
  QApplication::setDesktopFileName(QStringLiteral("tarvik"));
  QApplication::setWindowIcon(tarvik::gui::ProgramIcon());

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("View, extract and save Symbian installation packages."));
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("A .sis, .sisx, .qsd or .pkg file to open."),
                               QStringLiteral("[file]"));
  parser.process(application);

  QString file;
  if (!parser.positionalArguments().isEmpty()) {
    file = parser.positionalArguments().first();
    const QUrl url(file);
    if (url.isLocalFile()) file = url.toLocalFile();
    if (!QFileInfo(file).isFile()) {
      std::fprintf(stderr, "tarvik: %s: no such file\n", qPrintable(file));
      file.clear();
    }
  }

  tarvik::gui::MainWindow window(tarvik::Platform::FromEnvironment());
  window.show();
  if (!file.isEmpty()) {
    // Open once the window is on screen, so the banner shows while the file is read.
    QTimer::singleShot(0, &window, [&window, file] { window.OpenPath(file); });
  }
  return QApplication::exec();
}
