// The main window driven as a person would drive it: menus, shortcuts, titles, the
// File-menu rule, the banner, the resize rule, and Open, Extract and Save As through the
// real commands, with the dialogs answered by a scripted desktop.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenuBar>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <filesystem>
#include <memory>

#include "gui/about_box.hpp"
#include "gui/extract_result_dialog.hpp"
#include "gui/main_window.hpp"
#include "gui/window_rules.hpp"
#include "scripted_desktop.hpp"
#include "support/sis9_writer.hpp"
#include "support/test_env.hpp"

using namespace tarvik;
using namespace tarvik::gui;

namespace {

const char kPkgText[] =
    "; demo script\r\n&EN\r\n#{\"Demo\"},(0x10000001),1,0,0\r\n\"file.txt\"-\"!:\\data\\file.txt\"\r\n";

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return f.readAll();
}

struct MenuState {
  bool save, extract, reload, close;
};

// The real window, watched at the moments the core shows text and progress.
QByteArray DemoPackage() {
  const Bytes b = test::sis9w::MakeDemoPackage();
  return QByteArray(reinterpret_cast<const char*>(b.data()), static_cast<qsizetype>(b.size()));
}

class ProbeWindow : public MainWindow {
 public:
  using MainWindow::MainWindow;
  void SetText(const std::string& text) override {
    if (!text.empty()) bannerWhileShowing.push_back(Banner()->isVisibleTo(this));
    MainWindow::SetText(text);
  }
  void Progress(std::size_t done, std::size_t total) override {
    extractOfferedWhileBusy.push_back(ExtractAction()->isEnabled() || menuBar()->isEnabled());
    MainWindow::Progress(done, total);
  }
  std::vector<bool> bannerWhileShowing;
  std::vector<bool> extractOfferedWhileBusy;
};

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT
 private slots:
  void init();
  void cleanup();

  void menuTree_data();
  void menuTree();
  void menuOrder();
  void startsEmpty();
  void openDialogAndCancel();
  void openPkgShowsItUnchanged();
  void titleShowsFileName_data();
  void titleShowsFileName();
  void fileMenuRuleRunsWhenMenuOpens();
  void reloadAndClose();
  void bannerPlacement();
  void layoutLeavesStatusBarFree();
  void shortcuts_data();
  void shortcuts();
  void workingDirectory();
  void helpLinks();
  void aboutFromMenu();
  void saveAsAsksBeforeReplacing();
  void saveAsSessionAndBack();
  void editedTextIsSaved();
  void busyRefusesSecondExtraction();
  void progressShowsAndRepaints();
  void exitDeletesScratchFile();
  void buildPackageFromTheScript();
  void openSample();
  void extractSample();
  void commandLinePath();

 private:
  void Open(const QString& path);
  MenuState FileMenuNow();
  QString Write(const QString& name, const QByteArray& bytes);

  std::unique_ptr<test::TempDir> dir_;
  std::unique_ptr<test::ScriptedDesktop> desktop_;
  std::unique_ptr<ProbeWindow> window_;
};

void WindowTest::init() {
  dir_ = std::make_unique<test::TempDir>();
  desktop_ = std::make_unique<test::ScriptedDesktop>();
  window_ = std::make_unique<ProbeWindow>(test::TestPlatform(*dir_), desktop_.get());
}

void WindowTest::cleanup() {
  window_.reset();
  desktop_.reset();
  dir_.reset();
}

void WindowTest::Open(const QString& path) {
  desktop_->fileAnswers.push_back(path);
  window_->OpenAction()->trigger();
}

// What the File menu offers once it has opened.
MenuState WindowTest::FileMenuNow() {
  emit window_->FileMenu()->aboutToShow();
  return {window_->SaveAction()->isEnabled(), window_->ExtractAction()->isEnabled(),
          window_->ReloadAction()->isEnabled(), window_->CloseAction()->isEnabled()};
}

QString WindowTest::Write(const QString& name, const QByteArray& bytes) {
  return QString::fromStdString(dir_->Write(name.toStdString(), std::string_view(bytes.constData(), bytes.size())));
}

void WindowTest::menuTree_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QString>("caption");
  QTest::addColumn<QKeySequence>("shortcut");
  QTest::newRow("open") << "mnOpen" << "Open..." << QKeySequence("Ctrl+O");
  QTest::newRow("save") << "mnSave" << "Save As..." << QKeySequence("Ctrl+S");
  QTest::newRow("close") << "mnClose" << "Close" << QKeySequence("Ctrl+I");
  QTest::newRow("reload") << "mnReload" << "Reload" << QKeySequence("Ctrl+R");
  QTest::newRow("extract") << "mnExtr" << "Extract" << QKeySequence("Ctrl+E");
  QTest::newRow("exit") << "mnExit" << "Exit" << QKeySequence("Ctrl+Q");
  QTest::newRow("working directory") << "mnWD" << "Working Directory" << QKeySequence();
  QTest::newRow("on the web") << "mnDl1" << "Tarvik On the Web" << QKeySequence();
  QTest::newRow("download") << "mndl2" << "Download Brimond" << QKeySequence();
  QTest::newRow("about, two blanks") << "mnAbout" << "About  Tarvik" << QKeySequence();
}

void WindowTest::menuTree() {
  QFETCH(QString, name);
  QFETCH(QString, caption);
  QFETCH(QKeySequence, shortcut);
  auto* action = window_->findChild<QAction*>(name);
  QVERIFY2(action, qPrintable(name));
  // The caption as shown: "&" marks the mnemonic and is not shown.
  QCOMPARE(QString(action->text()).remove(QLatin1Char('&')), caption);
  QVERIFY(action->text().contains(QLatin1Char('&')));
  QCOMPARE(action->shortcut(), shortcut);
}

void WindowTest::menuOrder() {
  QStringList menus;
  for (QAction* a : window_->menuBar()->actions()) menus << a->text();
  QCOMPARE(menus, (QStringList{"&File", "&Setting", "&Help"}));
  QStringList file;
  for (QAction* a : window_->FileMenu()->actions()) file << (a->isSeparator() ? QStringLiteral("-") : a->objectName());
  QCOMPARE(file, (QStringList{"mnOpen", "mnRecentMenu", "mnSave", "-", "mnClose", "mnReload", "-", "mnExtr",
                               "mnExtrSel", "mnBuild", "mnTest", "-", "mnExit"}));
  auto* help = window_->findChild<QMenu*>(QStringLiteral("mnHelp"));
  QVERIFY(help);
  QStringList helpItems;
  for (QAction* a : help->actions()) helpItems << a->objectName();
  QCOMPARE(helpItems, (QStringList{"mnDl1", "mndl2", "mnAbout"}));
}

void WindowTest::startsEmpty() {
  QCOMPARE(window_->windowTitle(), QStringLiteral("Tarvik"));
  QVERIFY(window_->TextArea()->toPlainText().isEmpty());
  QVERIFY(!window_->Banner()->isVisibleTo(window_.get()));
  const MenuState m = FileMenuNow();
  QVERIFY(!m.save && !m.extract && !m.reload && !m.close);
  QVERIFY(window_->OpenAction()->isEnabled());
  QVERIFY(window_->ExitAction()->isEnabled());
  // Tahoma, or the nearest sans-serif face.
  QCOMPARE(window_->TextArea()->font().families().value(0), QStringLiteral("Tahoma"));
  QCOMPARE(window_->TextArea()->font().styleHint(), QFont::SansSerif);
}

void WindowTest::openDialogAndCancel() {
  desktop_->fileAnswers.push_back(std::nullopt);
  window_->OpenAction()->trigger();
  QCOMPARE(desktop_->fileDialogs.size(), std::size_t{1});
  const auto& d = desktop_->fileDialogs[0];
  QCOMPARE(d.title, QStringLiteral("Open File"));
  QCOMPARE(d.acceptMode, QFileDialog::AcceptOpen);
  QCOMPARE(d.filters.size(), 4);
  QCOMPARE(d.selectedFilter, QStringLiteral("SIS File, Brimond File, PKG File"));
  QCOMPARE(d.filters.first(), QStringLiteral("SIS File, Brimond File, PKG File (*.sis *.sisx *.qsd *.pkg)"));
  // Cancel changes nothing.
  QCOMPARE(window_->windowTitle(), QStringLiteral("Tarvik"));
  QVERIFY(!window_->Banner()->isVisibleTo(window_.get()));
  QVERIFY(window_->Banner()->text().isEmpty());
  QVERIFY(desktop_->messages.empty());
}

void WindowTest::openPkgShowsItUnchanged() {
  const QString path = Write(QStringLiteral("demo.pkg"), QByteArray(kPkgText));
  Open(path);
  QCOMPARE(window_->windowTitle(), QStringLiteral("demo.pkg - Tarvik"));
  QCOMPARE(window_->TextArea()->toPlainText(), ForDisplay(kPkgText));
  QCOMPARE(window_->Text(), std::string(kPkgText));
  QVERIFY(!window_->Banner()->isVisibleTo(window_.get()));
  QCOMPARE(window_->Banner()->text(), QStringLiteral("<--------Openning file, please wait...-------->"));
  // The banner was up while the text came in.
  QCOMPARE(window_->bannerWhileShowing, std::vector<bool>{true});
  const MenuState m = FileMenuNow();
  QVERIFY(m.save && m.reload && m.close);
  QVERIFY(!m.extract);  // a script carries no files
  QVERIFY(desktop_->messages.empty());
}

void WindowTest::titleShowsFileName_data() {
  QTest::addColumn<QString>("name");
  QTest::newRow("upper-case extension") << QStringLiteral("UPPER.PKG");
  QTest::newRow("blanks") << QStringLiteral("my script.pkg");
  QTest::newRow("not a modification mark") << QStringLiteral("a[*]b.pkg");
  QTest::newRow("accents") << QStringLiteral("\u00e9t\u00e9.pkg");
}

void WindowTest::titleShowsFileName() {
  QFETCH(QString, name);
  window_->show();
  QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  const QString path = Write(name, QByteArray(kPkgText));
  Open(path);
  // What the window system shows, folder left out.
  QCOMPARE(window_->windowHandle()->title(), name + QStringLiteral(" - Tarvik"));
  QCOMPARE(window_->Text(), std::string(kPkgText));
}

void WindowTest::fileMenuRuleRunsWhenMenuOpens() {
  // The rule is asked each time the menu opens: a file that vanished since the last command
  // no longer offers Extract.
  const QString path = Write(QStringLiteral("x.sis"), DemoPackage());
  Open(path);
  QVERIFY(FileMenuNow().extract);
  QVERIFY(QFile::remove(path));
  QVERIFY(!FileMenuNow().extract);
  // The shortcut of a disabled item does nothing, and a stale one is checked again.
  window_->ExtractAction()->setEnabled(true);
  window_->mnExtr_Click();
  QVERIFY(desktop_->fileDialogs.size() == 1);  // only the Open dialog so far
}

void WindowTest::reloadAndClose() {
  const QString path = Write(QStringLiteral("r.pkg"), QByteArray(kPkgText));
  Open(path);
  window_->TextArea()->setPlainText(QStringLiteral("edited"));
  Write(QStringLiteral("r.pkg"), QByteArray("&EN\r\n"));
  desktop_->messageAnswers.push_back(QMessageBox::Yes);  // drop the edits
  window_->ReloadAction()->trigger();
  QCOMPARE(window_->Text(), std::string("&EN\r\n"));
  QCOMPARE(window_->windowTitle(), QStringLiteral("r.pkg - Tarvik"));
  QCOMPARE(window_->Banner()->text(), QStringLiteral("<--------Reload File, please wait...-------->"));
  QVERIFY(!window_->Banner()->isVisibleTo(window_.get()));

  window_->CloseAction()->trigger();
  QCOMPARE(window_->windowTitle(), QStringLiteral("Tarvik"));
  QVERIFY(window_->TextArea()->toPlainText().isEmpty());
  const MenuState m = FileMenuNow();
  QVERIFY(!m.save && !m.extract && !m.reload && !m.close);
}

void WindowTest::bannerPlacement() {
  window_->show();
  QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  window_->ShowBanner("<--------Openning file, please wait...-------->");
  QLabel* banner = window_->Banner();
  QVERIFY(banner->isVisibleTo(window_.get()));
  const QPoint corner = window_->TextArea()->mapTo(banner->parentWidget(), QPoint(0, 0));
  QCOMPARE(banner->x() - corner.x(), kBannerLeftOffset);
  QCOMPARE(banner->y() - corner.y(), kBannerTopOffset);
  QVERIFY(banner->width() >= banner->fontMetrics().horizontalAdvance(banner->text()));
  window_->HideBanner();
  QVERIFY(!banner->isVisibleTo(window_.get()));
}

void WindowTest::layoutLeavesStatusBarFree() {
  // After any resize or maximize, the text area and its scroll bar end above the status bar,
  // and the tree and the tabs fill the central area.
  window_->show();
  QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  Open(Write(QStringLiteral("long.pkg"), QByteArray(kPkgText).repeated(200)));
  for (const QSize size : {QSize(640, 480), QSize(1200, 900), QSize(420, 300)}) {
    window_->resize(size);
    QApplication::processEvents();
    QTRY_COMPARE(window_->Splitter()->size(), window_->centralWidget()->size());
    const QRect text(window_->TextArea()->mapTo(window_.get(), QPoint(0, 0)), window_->TextArea()->size());
    QVERIFY2(text.bottom() < window_->statusBar()->y(), qPrintable(QStringLiteral("%1").arg(text.bottom())));
    QVERIFY(text.right() <= window_->width());
  }
  window_->showMaximized();
  QApplication::processEvents();
  QTRY_COMPARE(window_->Splitter()->size(), window_->centralWidget()->size());
  const QRect text(window_->TextArea()->mapTo(window_.get(), QPoint(0, 0)), window_->TextArea()->size());
  QVERIFY(text.bottom() < window_->statusBar()->y());
}

void WindowTest::shortcuts_data() {
  QTest::addColumn<int>("key");
  QTest::addColumn<QString>("effect");  // "dialog:TITLE", "title:TITLE", "banner:TEXT" or "closed"
  QTest::newRow("Ctrl+O opens") << int(Qt::Key_O) << "dialog:Open File";
  QTest::newRow("Ctrl+S saves") << int(Qt::Key_S) << "dialog:Save As...";
  QTest::newRow("Ctrl+E extracts") << int(Qt::Key_E) << "dialog:Select folder to keep the extracted files";
  QTest::newRow("Ctrl+I closes") << int(Qt::Key_I) << "title:Tarvik";
  QTest::newRow("Ctrl+R reloads") << int(Qt::Key_R) << "banner:<--------Reload File, please wait...-------->";
  QTest::newRow("Ctrl+Q exits") << int(Qt::Key_Q) << "closed";
}

void WindowTest::shortcuts() {
  QFETCH(int, key);
  QFETCH(QString, effect);
  const QString path = Write(QStringLiteral("s.sis"), DemoPackage());
  Open(path);
  window_->mnFile_Click();
  desktop_->fileDialogs.clear();
  window_->show();
  window_->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(window_.get()));
  QTest::keyClick(window_.get(), Qt::Key(key), Qt::ControlModifier);
  const QString kind = effect.section(QLatin1Char(':'), 0, 0);
  const QString value = effect.section(QLatin1Char(':'), 1);
  if (kind == QLatin1String("dialog")) {
    QTRY_COMPARE(desktop_->fileDialogs.size(), std::size_t{1});
    QCOMPARE(desktop_->fileDialogs[0].title, value);
  } else if (kind == QLatin1String("title")) {
    QTRY_COMPARE(window_->windowTitle(), value);
  } else if (kind == QLatin1String("banner")) {
    QTRY_COMPARE(window_->Banner()->text(), value);
  } else {
    QTRY_VERIFY(!window_->isVisible());
  }
}

void WindowTest::workingDirectory() {
  const QString folder = QString::fromStdString(dir_->Path()) + QStringLiteral("/src");
  QVERIFY(QDir().mkpath(folder));
  desktop_->fileAnswers.push_back(folder);
  window_->findChild<QAction*>(QStringLiteral("mnWD"))->trigger();
  QCOMPARE(desktop_->fileDialogs.size(), std::size_t{1});
  QCOMPARE(desktop_->fileDialogs[0].title, QStringLiteral("Select location to include as default file path in pkg script"));
  QCOMPARE(desktop_->fileDialogs[0].fileMode, QFileDialog::Directory);
  QCOMPARE(window_->commands().State().sourceFolder, folder.toStdString() + "/");
  // Cancel keeps the setting.
  window_->findChild<QAction*>(QStringLiteral("mnWD"))->trigger();
  QCOMPARE(window_->commands().State().sourceFolder, folder.toStdString() + "/");
}

void WindowTest::helpLinks() {
  // Both Help items open the README that comes with the program, never a made-up page.
  window_->findChild<QAction*>(QStringLiteral("mnDl1"))->trigger();
  window_->findChild<QAction*>(QStringLiteral("mndl2"))->trigger();
  QCOMPARE(desktop_->urls.size(), std::size_t{2});
  for (const QUrl& url : desktop_->urls) {
    QVERIFY2(url.isLocalFile(), qPrintable(url.toString()));
    QVERIFY(QFileInfo(url.toLocalFile()).isFile());
    QCOMPARE(QFileInfo(url.toLocalFile()).fileName(), QStringLiteral("README.md"));
  }
  QVERIFY(desktop_->messages.empty());
}

void WindowTest::aboutFromMenu() {
  QString label;
  desktop_->onOtherDialog = [&](QDialog& d) {
    auto* box = qobject_cast<AboutBox*>(&d);
    if (!box) return int(QDialog::Rejected);
    label = box->Label()->text();
    box->Visit();
    return box->result();
  };
  window_->findChild<QAction*>(QStringLiteral("mnAbout"))->trigger();
  QCOMPARE(desktop_->otherDialogs, std::vector<QString>{QStringLiteral("About Tarvik")});
  QCOMPARE(label, ForDisplay(kAboutText));
  QCOMPARE(desktop_->urls.size(), std::size_t{1});
  QCOMPARE(QFileInfo(desktop_->urls[0].toLocalFile()).fileName(), QStringLiteral("README.md"));
}

void WindowTest::saveAsAsksBeforeReplacing() {
  const QString path = Write(QStringLiteral("a.pkg"), QByteArray(kPkgText));
  Open(path);
  const QString target = Write(QStringLiteral("old.txt"), QByteArray("old"));
  // No: the file stays.
  desktop_->fileAnswers.push_back(target);
  window_->SaveAction()->trigger();
  // No returns to the dialog (then cancelled here), which proposes the name chosen before.
  const std::size_t n = desktop_->fileDialogs.size();
  QCOMPARE(QFileInfo(desktop_->fileDialogs[n - 1].proposed.value(0)).fileName(), QStringLiteral("old.txt"));
  const auto& save = desktop_->fileDialogs[n - 2];
  QCOMPARE(save.title, QStringLiteral("Save As..."));
  QCOMPARE(save.acceptMode, QFileDialog::AcceptSave);
  QVERIFY(save.options.testFlag(QFileDialog::DontConfirmOverwrite));
  QCOMPARE(save.filters, (QStringList{"PKG File (.pkg) (*.pkg)", "Brimond Session File (.qsd) (*.qsd)",
                                      "Text File (.txt) (*.txt)", "All Files (*)"}));
  QCOMPARE(save.selectedFilter, QStringLiteral("PKG File (.pkg)"));
  QCOMPARE(QFileInfo(save.proposed.value(0)).fileName(), QStringLiteral("a"));  // the open file's name
  QCOMPARE(desktop_->messages.size(), std::size_t{1});
  const auto& q = desktop_->messages[0];
  QCOMPARE(q.text, QDir::toNativeSeparators(target) + QStringLiteral(" already exists.\nDo you want to replace it?"));
  QCOMPARE(q.title, QStringLiteral("Tarvik"));
  QCOMPARE(q.icon, QMessageBox::Warning);
  QCOMPARE(q.buttons, QMessageBox::Yes | QMessageBox::No);
  QCOMPARE(ReadAll(target), QByteArray("old"));
  // Yes: replaced by the script and one CR LF.
  desktop_->fileAnswers.push_back(target);
  desktop_->messageAnswers.push_back(QMessageBox::Yes);
  window_->SaveAction()->trigger();
  QCOMPARE(ReadAll(target), QByteArray(kPkgText) + "\r\n");
}

void WindowTest::saveAsSessionAndBack() {
  const QString path = Write(QStringLiteral("b.pkg"), QByteArray(kPkgText));
  Open(path);
  const QString session = QString::fromStdString(*dir_ / "b.qsd");
  desktop_->fileAnswers.push_back(session);
  window_->SaveAction()->trigger();
  QVERIFY(QFileInfo(session).isFile());
  QVERIFY(desktop_->messages.empty());
  window_->CloseAction()->trigger();
  Open(session);
  QCOMPARE(window_->windowTitle(), QStringLiteral("b.qsd - Tarvik"));
  QCOMPARE(window_->Text(), std::string(kPkgText));
}

void WindowTest::editedTextIsSaved() {
  const QString path = Write(QStringLiteral("c.pkg"), QByteArray(kPkgText));
  Open(path);
  window_->TextArea()->setPlainText(QStringLiteral("&EN\n; edited"));
  QCOMPARE(window_->Text(), std::string("&EN\r\n; edited"));
  const QString out = QString::fromStdString(*dir_ / "edited.pkg");
  desktop_->fileAnswers.push_back(out);
  window_->SaveAction()->trigger();
  QCOMPARE(ReadAll(out), QByteArray("&EN\r\n; edited\r\n"));
}

void WindowTest::busyRefusesSecondExtraction() {
  const QString path = Write(QStringLiteral("d.sis"), DemoPackage());
  Open(path);
  window_->mnFile_Click();
  QVERIFY(window_->ExtractAction()->isEnabled());
  window_->SetBusy(true);
  window_->SetExtractEnabled(false);
  QVERIFY(!window_->ExtractAction()->isEnabled());
  QVERIFY(!window_->menuBar()->isEnabled());
  // The menu opening or a re-enabling call does not offer Extract while busy.
  window_->mnFile_Click();
  window_->SetExtractEnabled(true);
  QVERIFY(!window_->ExtractAction()->isEnabled());
  const std::size_t dialogs = desktop_->fileDialogs.size();
  window_->mnExtr_Click();
  window_->mnOpen_Click();
  QCOMPARE(desktop_->fileDialogs.size(), dialogs);
  // Nor can the window be closed under a running extraction.
  window_->show();
  QVERIFY(!window_->close());
  window_->SetBusy(false);
  window_->mnFile_Click();
  QVERIFY(window_->ExtractAction()->isEnabled());
  QVERIFY(window_->menuBar()->isEnabled());
}

void WindowTest::progressShowsAndRepaints() {
  window_->show();
  QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  window_->SetBusy(true);
  // A click arriving while the work runs is not delivered: no second command can start.
  bool triggered = false;
  connect(window_->OpenAction(), &QAction::triggered, this, [&] { triggered = true; });
  QTest::keyClick(window_.get(), Qt::Key_O, Qt::ControlModifier);
  window_->Progress(5, 10);
  QVERIFY(window_->ProgressBar()->isVisibleTo(window_.get()));
  QCOMPARE(window_->ProgressBar()->value() * 2, window_->ProgressBar()->maximum());
  QVERIFY(!triggered);
  window_->Progress(10, 10);
  QCOMPARE(window_->ProgressBar()->value(), window_->ProgressBar()->maximum());
  window_->SetBusy(false);
  QVERIFY(!window_->ProgressBar()->isVisibleTo(window_.get()));
}

void WindowTest::exitDeletesScratchFile() {
  Open(Write(QStringLiteral("p.sis"), DemoPackage()));
  const QString scratch = QString::fromStdString(window_->commands().Scratch().PkgPath());
  QVERIFY(QFileInfo::exists(scratch));
  desktop_->messages.clear();
  window_->show();
  window_->ExitAction()->trigger();
  QVERIFY(!window_->isVisible());
  QVERIFY(!QFileInfo::exists(scratch));
  QVERIFY(desktop_->messages.empty());
}

void WindowTest::buildPackageFromTheScript() {
  // A script with a broken line: nothing is built, the errors are told, the line is selected.
  const QByteArray broken = "&EN\r\n#{\"Demo\"},(0xE0000001),1,0,0\r\n%{\"Vendor\"}\r\n:\"Vendor\"\r\n"
                            "\"a.txt\"-\"!:\\data\\a.txt\"\r\n\"b.txt\" \"!:\\data\\b.txt\"\r\n";
  Open(Write(QStringLiteral("demo.pkg"), broken));
  Write(QStringLiteral("a.txt"), QByteArray("alpha"));
  const QString out = QString::fromStdString(*dir_ / "demo.sis");
  desktop_->fileAnswers.push_back(out);
  desktop_->messages.clear();
  window_->BuildAction()->trigger();
  QCOMPARE(desktop_->messages.size(), std::size_t{1});
  QVERIFY2(desktop_->messages[0].text.contains(QStringLiteral("Script:6:")), qPrintable(desktop_->messages[0].text));
  QCOMPARE(desktop_->messages[0].icon, QMessageBox::Critical);
  QVERIFY(!QFileInfo::exists(out));
  QCOMPARE(window_->Tabs()->currentWidget(), window_->ScriptTab());
  QCOMPARE(window_->TextArea()->textCursor().blockNumber(), 5);

  // Mended in the text area: built from the text as it stands, its source found beside it.
  window_->TextArea()->setPlainText(QString::fromLatin1(broken).replace(QStringLiteral("\"b.txt\" \""), QStringLiteral("\"a.txt\"-\"")));
  desktop_->fileAnswers.push_back(out);
  desktop_->messages.clear();
  window_->BuildAction()->trigger();
  QCOMPARE(desktop_->messages.size(), std::size_t{1});
  QVERIFY2(desktop_->messages[0].text.startsWith(QStringLiteral("The package was built")), qPrintable(desktop_->messages[0].text));
  QVERIFY(QFileInfo(out).size() > 0);
}

void WindowTest::openSample() {
  const auto sample = test::DemoSample();
  if (!sample) QSKIP("samples/demo.sisx is not in this checkout");
  window_->resize(900, 640);
  window_->show();
  QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  Open(*sample);
  QCOMPARE(window_->windowTitle(), QFileInfo(*sample).fileName() + QStringLiteral(" - Tarvik"));
  const QString text = window_->TextArea()->toPlainText();
  QVERIFY(!text.isEmpty());
  QVERIFY2(text.contains(QStringLiteral("#{")), qPrintable(text.left(400)));
  QVERIFY(FileMenuNow().extract);
  QVERIFY(desktop_->messages.empty());
  QApplication::processEvents();
  const QString shot = test::ScreenshotDir() + QStringLiteral("/main_window.png");
  QVERIFY(window_->grab().save(shot));
  qInfo("Main window screenshot: %s", qPrintable(shot));
}

void WindowTest::extractSample() {
  const auto sample = test::DemoSample();
  if (!sample) QSKIP("samples/demo.sisx is not in this checkout");
  Open(*sample);
  const std::size_t files = window_->commands().Files().size();
  QVERIFY(files > 0);
  const QString out = QString::fromStdString(*dir_ / "out");
  QVERIFY(QDir().mkpath(out));
  desktop_->fileAnswers.push_back(out);
  QStringList result;
  desktop_->onOtherDialog = [&](QDialog& d) {
    auto* dialog = qobject_cast<ExtractResultDialog*>(&d);
    if (!dialog) return int(QDialog::Rejected);
    for (int i = 0; i < dialog->WrittenList()->topLevelItemCount(); ++i)
      result << dialog->WrittenList()->topLevelItem(i)->text(0);
    dialog->show();
    if (QTest::qWaitForWindowExposed(dialog))
      dialog->grab().save(test::ScreenshotDir() + QStringLiteral("/extract_result.png"));
    dialog->ViewButton()->click();
    dialog->CloseButton()->click();
    return dialog->result();
  };
  // While the files are written, nothing can start a second extraction.
  std::vector<bool> offeredWhileBusy;
  QTimer watch;
  connect(&watch, &QTimer::timeout, this, [&] {
    if (window_->Extraction())
      offeredWhileBusy.push_back(window_->ExtractAction()->isEnabled() || window_->menuBar()->isEnabled() ||
                                 window_->ExtractAllButton()->isEnabled());
  });
  watch.start(1);
  window_->ExtractAction()->trigger();
  watch.stop();
  QCOMPARE(desktop_->fileDialogs.back().title, QStringLiteral("Select folder to keep the extracted files"));
  QVERIFY2(desktop_->messages.empty(), qPrintable(desktop_->messages.empty() ? QString() : desktop_->messages[0].text));
  QCOMPARE(desktop_->beeps, 1);
  for (bool offered : offeredWhileBusy) QVERIFY(!offered);
  // Every file of the table is on disk and named in the list, relative to the folder.
  QCOMPARE(result.size(), int(files));
  for (const auto& row : window_->commands().Files()) {
    std::string rel = row.extractPath;
    for (char& c : rel) if (c == '\\') c = '/';
    const QString file = out + QLatin1Char('/') + QString::fromStdString(rel);
    QVERIFY2(QFileInfo(file).isFile(), qPrintable(file));
    QVERIFY2(result.contains(QString::fromStdString(rel)), qPrintable(file));
  }
  // "View File" asked for the folder in the file browser.
  QCOMPARE(desktop_->urls.size(), std::size_t{1});
  QVERIFY(desktop_->urls[0].isLocalFile());
  QVERIFY(desktop_->urls[0].toLocalFile().startsWith(out));
  QVERIFY(window_->ExtractAction()->isEnabled());
  QVERIFY(!window_->ProgressBar()->isVisibleTo(window_.get()));
}

void WindowTest::commandLinePath() {
  Write(QStringLiteral("cmd.pkg"), QByteArray(kPkgText));
  const QString old = QDir::currentPath();
  QVERIFY(QDir::setCurrent(QString::fromStdString(dir_->Path())));
  window_->OpenPath(QStringLiteral("cmd.pkg"));
  QDir::setCurrent(old);
  QVERIFY(desktop_->fileDialogs.empty());  // no dialog: the path is the answer
  QCOMPARE(window_->windowTitle(), QStringLiteral("cmd.pkg - Tarvik"));
  QCOMPARE(window_->Text(), std::string(kPkgText));
  QVERIFY(QFileInfo(QString::fromStdString(window_->commands().State().openedFile)).isAbsolute());
}

QTEST_MAIN(WindowTest)
#include "test_window.moc"
