// tarvik: the desktop program. `tarvik FILE` opens FILE at start (what a file manager
// passes); without an argument the window starts empty.

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QTimer>
#include <QUrl>

#include <cstdio>
#include <cstring>

#include "gui/logo.hpp"
#include "gui/main_window.hpp"

namespace {

void Describe(QCommandLineParser& parser) {
  QCoreApplication::setApplicationName(QStringLiteral("Tarvik"));
  QCoreApplication::setApplicationVersion(QStringLiteral(TARVIK_VERSION));
  parser.setApplicationDescription(QStringLiteral("View, extract and save Symbian installation packages."));
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("A .sis, .sisx, .qsd or .pkg file to open."),
                               QStringLiteral("[file]"));
}

// --help and --version answer without a display.
bool AsksForText(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    for (const char* option : {"-h", "--help", "-?", "--help-all", "-v", "--version"})
      if (std::strcmp(argv[i], option) == 0) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (AsksForText(argc, argv)) {
    QCoreApplication core(argc, argv);
    QCommandLineParser parser;
    Describe(parser);
    parser.process(core);  // prints and exits
    return 0;
  }

  QApplication application(argc, argv);
  QCommandLineParser parser;
  Describe(parser);
  parser.process(application);
  QApplication::setDesktopFileName(QStringLiteral("tarvik"));
  QApplication::setWindowIcon(tarvik::gui::ProgramIcon());

  QString file;
  if (!parser.positionalArguments().isEmpty()) {
    file = parser.positionalArguments().first();
    const QUrl url(file);
    if (url.isLocalFile()) file = url.toLocalFile();
    // A file that is not there is still handed to Open, which tells the person in the
    // window (a terminal may not be watched).
    if (!QFileInfo(file).isFile()) std::fprintf(stderr, "tarvik: %s: no such file\n", qPrintable(file));
  }

  tarvik::gui::MainWindow window(tarvik::Platform::FromEnvironment());
  window.show();
  if (!file.isEmpty()) {
    // Open once the window is on screen, so the banner shows while the file is read.
    QTimer::singleShot(0, &window, [&window, file] { window.OpenPath(file); });
  }
  return QApplication::exec();
}
