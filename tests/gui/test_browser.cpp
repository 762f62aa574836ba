// The window as a package browser: the package tree, the Files table (contents against
// tarvik-cli info, sort, filter, selection, open and drag out), Facts, dropping files,
// extraction in the background with Cancel and a close request, the status bar, recent
// files and settings, messages of files that cannot be read, and unsaved edits.

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <memory>
#include <sstream>

#include "gui/extract_result_dialog.hpp"
#include "gui/main_window.hpp"
#include "gui/window_rules.hpp"
#include "scripted_desktop.hpp"
#include "small_package.hpp"
#include "support/sis9_writer.hpp"
#include "support/test_env.hpp"

using namespace tarvik;
using namespace tarvik::gui;
namespace w = tarvik::test::sis9w;

namespace {

const char kPkgText[] = "&EN\r\n#{\"Demo\"},(0x10000001),1,0,0\r\n\"file.txt\"-\"!:\\data\\file.txt\"\r\n";

using test::File;

// A package with a few files of different sizes, one under a language condition, and an
// embedded package.
Bytes SmallPackage() { return test::SmallPackage("Browser Demo"); }

// Bytes deflate cannot shrink.
std::string Noise(std::size_t size, std::uint32_t seed) {
  std::string s(size, '\0');
  for (char& c : s) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>(seed >> 24);
  }
  return s;
}

// Every file below `folder`, relative.
QStringList FilesBelow(const QString& folder) {
  QStringList out;
  QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
  while (it.hasNext()) out << QDir(folder).relativeFilePath(it.next());
  out.sort();
  return out;
}

}  // namespace

class BrowserTest : public QObject {
  Q_OBJECT
 private slots:
  void init();
  void cleanup();

  void opensOnTheScriptTab();
  void treeAndFactsFollowThePackage();
  void filesTableColumnsSortAndFilter();
  void filesTableMatchesCliInfoForCorpus();
  void extractSelected();
  void openAndDragOutAFile();
  void dropOpensAndNeverEntersTheScript();
  void failuresGoToTheOneResultDialog();
  void extractAllAsksBeforeABombAndWritesRebuildScripts();
  void cancelMidwayLeavesNoPartialFile();
  void closeDuringExtractionAsks();
  void statusBar();
  void settingsRoundTrip();
  void recentFilesDropTheGone();
  void commandLineMessages();
  void unsavedEditsAreMarkedAndAsked();
  void screenshotsOfTheTabs();

 private:
  void Open(const QString& path);
  QString Write(const QString& name, const QByteArray& bytes);
  QString Write(const QString& name, const Bytes& bytes);
  void NewWindow();

  std::unique_ptr<test::TempDir> dir_;
  std::unique_ptr<test::ScriptedDesktop> desktop_;
  std::unique_ptr<MainWindow> window_;
};

void BrowserTest::init() {
  dir_ = std::make_unique<test::TempDir>();
  desktop_ = std::make_unique<test::ScriptedDesktop>();
  NewWindow();
}

void BrowserTest::NewWindow() {
  window_.reset();
  window_ = std::make_unique<MainWindow>(test::TestPlatform(*dir_), desktop_.get());
}

void BrowserTest::cleanup() {
  window_.reset();
  desktop_.reset();
  dir_.reset();
}

void BrowserTest::Open(const QString& path) {
  desktop_->fileAnswers.push_back(path);
  window_->OpenAction()->trigger();
}

QString BrowserTest::Write(const QString& name, const QByteArray& bytes) {
  return QString::fromStdString(dir_->Write(name.toStdString(), std::string_view(bytes.constData(), bytes.size())));
}

QString BrowserTest::Write(const QString& name, const Bytes& bytes) {
  return QString::fromStdString(dir_->Write(name.toStdString(), bytes));
}

void BrowserTest::opensOnTheScriptTab() {
  QCOMPARE(window_->Tabs()->count(), 4);
  QCOMPARE(window_->Tabs()->tabText(0), QStringLiteral("Files"));
  QCOMPARE(window_->Tabs()->tabText(1), QStringLiteral("Facts"));
  QCOMPARE(window_->Tabs()->tabText(2), QStringLiteral("Script"));
  QCOMPARE(window_->Tabs()->tabText(3), QStringLiteral("Checks"));
  QCOMPARE(window_->Tabs()->currentWidget(), window_->ScriptTab());
  QVERIFY(window_->ScriptTab()->isAncestorOf(window_->TextArea()));
  QCOMPARE(window_->Splitter()->widget(0), static_cast<QWidget*>(window_->PackageTree()));
  QCOMPARE(window_->Splitter()->widget(1), static_cast<QWidget*>(window_->Tabs()));
  // Opening a package keeps the Script tab in front.
  Open(Write(QStringLiteral("demo.sis"), SmallPackage()));
  QCOMPARE(window_->Tabs()->currentWidget(), window_->ScriptTab());
  QVERIFY(window_->TextArea()->toPlainText().contains(QStringLiteral("#{\"Browser Demo\"}")));
}

void BrowserTest::treeAndFactsFollowThePackage() {
  Open(Write(QStringLiteral("demo.sis"), SmallPackage()));
  QTreeWidget* tree = window_->PackageTree();
  QCOMPARE(tree->topLevelItemCount(), 1);
  QTreeWidgetItem* main = tree->topLevelItem(0);
  QCOMPARE(main->text(0), QStringLiteral("Browser Demo  1.2.3"));
  QCOMPARE(main->childCount(), 1);
  QCOMPARE(main->child(0)->text(0), QStringLiteral("Helper  2.1.0"));
  QCOMPARE(tree->currentItem(), main);
  // Facts of the main package.
  auto fact = [this](const QString& key) {
    for (int i = 0; i < window_->FactsTable()->rowCount(); ++i)
      if (window_->FactsTable()->item(i, 0)->text() == key) return window_->FactsTable()->item(i, 1)->text();
    return QStringLiteral("<none>");
  };
  QCOMPARE(fact(QStringLiteral("Generation")), QStringLiteral("Symbian 9.x"));
  QCOMPARE(fact(QStringLiteral("Package UID")), QStringLiteral("0xE0000001"));
  QCOMPARE(fact(QStringLiteral("Version")), QStringLiteral("1.2.3"));
  QCOMPARE(fact(QStringLiteral("UID1")), QStringLiteral("0x10201A7A"));
  QCOMPARE(fact(QStringLiteral("Name (British English (EN))")), QStringLiteral("Browser Demo"));
  QCOMPARE(fact(QStringLiteral("Files")), QStringLiteral("5"));
  QVERIFY(fact(QStringLiteral("Languages")).contains(QStringLiteral("French")));
  QVERIFY(fact(QStringLiteral("Created")).startsWith(QStringLiteral("2007-03-05")));
  QCOMPARE(window_->FilesFilter()->rowCount(), 5);
  // Copy as text: one "key TAB value" line per fact.
  window_->CopyFactsButton()->click();
  const QString copied = QApplication::clipboard()->text();
  QCOMPARE(copied, window_->FactsText());
  QVERIFY(copied.contains(QStringLiteral("Package UID\t0xE0000001\n")));
  // The embedded package: its own facts, and the Files tab shows its files only.
  tree->setCurrentItem(main->child(0));
  QCOMPARE(fact(QStringLiteral("Package UID")), QStringLiteral("0xE0000002"));
  QCOMPARE(fact(QStringLiteral("Generation")), QStringLiteral("Symbian 9.x, embedded package"));
  QCOMPARE(fact(QStringLiteral("UID1")), QStringLiteral("<none>"));  // no file frame of its own
  QCOMPARE(fact(QStringLiteral("Files of this package")), QStringLiteral("1"));
  QCOMPARE(window_->FilesFilter()->rowCount(), 1);
  QCOMPARE(window_->FilesFilter()->index(0, FilesModel::Name).data().toString(), QStringLiteral("helper.txt"));
  QCOMPARE(window_->FilesFilter()->index(0, FilesModel::Package).data().toString(), QStringLiteral("Helper"));
  // Close: nothing is shown any more.
  window_->CloseAction()->trigger();
  QCOMPARE(tree->topLevelItemCount(), 0);
  QCOMPARE(window_->FactsTable()->rowCount(), 0);
  QCOMPARE(window_->Files()->rowCount(), 0);
}

void BrowserTest::filesTableColumnsSortAndFilter() {
  Open(Write(QStringLiteral("demo.sis"), SmallPackage()));
  FilesProxy* proxy = window_->FilesFilter();
  auto cell = [proxy](int row, int column) { return proxy->index(row, column).data().toString(); };
  auto names = [&] {
    QStringList out;
    for (int r = 0; r < proxy->rowCount(); ++r) out << cell(r, FilesModel::Name);
    return out;
  };
  // The package's order until a heading is clicked.
  QCOMPARE(names(), (QStringList{"alpha.exe", "beta.txt", "gamma.ini", "helper.txt", "fr.txt"}));
  QCOMPARE(cell(0, FilesModel::Target), QStringLiteral("!:\\sys\\bin\\alpha.exe"));
  QCOMPARE(proxy->index(0, FilesModel::Size).data(FilesModel::SortRole).toULongLong(), 3000ull);
  QCOMPARE(cell(0, FilesModel::Compression), QStringLiteral("deflate"));
  QCOMPARE(cell(1, FilesModel::Compression), QStringLiteral("stored"));
  QCOMPARE(cell(4, FilesModel::Condition), QStringLiteral("if language = French"));
  QCOMPARE(cell(0, FilesModel::Condition), QString());
  QCOMPARE(cell(0, FilesModel::Sha1), QStringLiteral("given, not checked yet"));
  QCOMPARE(cell(0, FilesModel::Package), QStringLiteral("Browser Demo"));
  QCOMPARE(proxy->index(3, 0).data(FilesModel::ExtractPathRole).toString(),
           QStringLiteral("bin\\demo\\Embedded Components\\Helper\\data\\helper.txt"));
  // Sorting by size, both ways; then by name.
  window_->FilesView()->sortByColumn(FilesModel::Size, Qt::AscendingOrder);
  QCOMPARE(names(), (QStringList{"beta.txt", "fr.txt", "helper.txt", "gamma.ini", "alpha.exe"}));
  window_->FilesView()->sortByColumn(FilesModel::Size, Qt::DescendingOrder);
  QCOMPARE(names().first(), QStringLiteral("alpha.exe"));
  window_->FilesView()->sortByColumn(FilesModel::Name, Qt::AscendingOrder);
  QCOMPARE(names(), (QStringList{"alpha.exe", "beta.txt", "fr.txt", "gamma.ini", "helper.txt"}));
  // The filter looks at names and target paths, in any case.
  window_->FilterBox()->setText(QStringLiteral("TXT"));
  QCOMPARE(names(), (QStringList{"beta.txt", "fr.txt", "helper.txt"}));
  window_->FilterBox()->setText(QStringLiteral("sys\\bin"));
  QCOMPARE(names(), (QStringList{"alpha.exe"}));
  window_->FilterBox()->clear();
  QCOMPARE(proxy->rowCount(), 5);
  // Several rows can be selected; Extract Selected follows the selection.
  QVERIFY(!window_->ExtractSelectedButton()->isEnabled());
  window_->FilesView()->selectionModel()->select(
      proxy->index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  window_->FilesView()->selectionModel()->select(
      proxy->index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  QCOMPARE(window_->FilesView()->selectionModel()->selectedRows().size(), 2);
  QVERIFY(window_->ExtractSelectedButton()->isEnabled());
  QVERIFY(window_->ExtractSelectedAction()->isEnabled());
}

void BrowserTest::filesTableMatchesCliInfoForCorpus() {
  const auto shared = test::SharedDir();
  if (!shared) QSKIP("no ../shared");
  int checked = 0;
  for (const test::ManifestRow& row : test::CorpusManifest()) {
    const std::string generation = row.at("generation");
    if (generation != "9.x" && generation != "pre-9.x") continue;
    const std::string path = *shared + "/corpus/" + row.at("file");
    const test::CliResult cli = test::RunCli("info '" + path + "'", *dir_);
    Open(QString::fromStdString(path));
    desktop_->messages.clear();
    // The Files section of info: a heading, then one tab-separated line per file.
    std::istringstream in(cli.out);
    std::string line;
    std::vector<std::vector<std::string>> files;
    bool inFiles = false;
    std::vector<std::string> header;
    while (std::getline(in, line)) {
      if (line.rfind("Files (", 0) == 0) {
        inFiles = true;
        std::getline(in, line);  // the column names
        continue;
      }
      if (!inFiles) {
        header.push_back(line);
        continue;
      }
      if (line.empty()) break;
      std::vector<std::string> cells;
      std::istringstream cellsIn(line);
      for (std::string c; std::getline(cellsIn, c, '\t');) cells.push_back(c);
      files.push_back(cells);
    }
    FilesModel* model = window_->Files();
    QCOMPARE(model->rowCount(), int(files.size()));
    const bool sis9 = generation == "9.x";
    for (int r = 0; r < model->rowCount(); ++r) {
      const auto& cells = files[static_cast<std::size_t>(r)];
      const QString where = QString::fromStdString(row.at("file") + " row " + std::to_string(r));
      QCOMPARE(model->index(r, 0).data(FilesModel::ExtractPathRole).toString().toStdString(), cells[0]);
      const auto size = model->index(r, FilesModel::Size).data(FilesModel::SortRole).toULongLong();
      const auto packed = model->index(r, FilesModel::Packed).data(FilesModel::SortRole).toULongLong();
      if (sis9) {
        const QString compression = model->index(r, FilesModel::Compression).data().toString();
        if (compression != QStringLiteral("no data")) QCOMPARE(compression.toStdString(), cells[2]);
        QVERIFY2(std::to_string(packed) == cells[3], qPrintable(where));
        QVERIFY2(std::to_string(size) == cells[4], qPrintable(where));
      } else {
        QVERIFY2(std::to_string(size) == cells[1], qPrintable(where));
        QVERIFY2(std::to_string(packed) == cells[2], qPrintable(where));
      }
    }
    // The header facts of a 9.x package: its UIDs and package UID as info prints them.
    if (sis9) {
      std::map<std::string, std::string> info;
      for (const std::string& h : header) {
        const auto colon = h.find(": ");
        if (colon != std::string::npos && !info.count(h.substr(0, colon))) info[h.substr(0, colon)] = h.substr(colon + 2);
      }
      std::map<QString, QString> facts;
      for (int i = 0; i < window_->FactsTable()->rowCount(); ++i)
        facts[window_->FactsTable()->item(i, 0)->text()] = window_->FactsTable()->item(i, 1)->text();
      for (const auto& [cliKey, factKey] : std::vector<std::pair<std::string, QString>>{
               {"UID1", "UID1"}, {"UID2", "UID2"}, {"UID3", "UID3"}, {"SIS UID", "Package UID"}}) {
        if (!info.count(cliKey)) continue;
        QCOMPARE(facts[factKey], QStringLiteral("0x") + QString::fromStdString(info[cliKey]));
      }
      QCOMPARE(facts[QStringLiteral("Files")], QString::number(files.size()));
    }
    ++checked;
  }
  QVERIFY(checked > 50);
}

void BrowserTest::extractSelected() {
  Open(Write(QStringLiteral("demo.sis"), SmallPackage()));
  FilesProxy* proxy = window_->FilesFilter();
  window_->FilesView()->selectionModel()->select(proxy->index(1, 0),
                                                 QItemSelectionModel::Select | QItemSelectionModel::Rows);
  window_->FilesView()->selectionModel()->select(proxy->index(3, 0),
                                                 QItemSelectionModel::Select | QItemSelectionModel::Rows);
  const QString out = QString::fromStdString(*dir_ / "out");
  QVERIFY(QDir().mkpath(out));
  desktop_->fileAnswers.push_back(out);
  QStringList listed;
  QString summary;
  desktop_->onOtherDialog = [&](QDialog& d) {
    auto* dialog = qobject_cast<ExtractResultDialog*>(&d);
    if (!dialog) return int(QDialog::Rejected);
    for (int i = 0; i < dialog->WrittenList()->topLevelItemCount(); ++i)
      listed << dialog->WrittenList()->topLevelItem(i)->text(0);
    summary = dialog->Summary()->text();
    return int(QDialog::Accepted);
  };
  window_->ExtractSelectedButton()->click();
  QCOMPARE(desktop_->otherDialogs.size(), std::size_t{1});
  QCOMPARE(listed, (QStringList{"bin/demo/data/beta.txt", "bin/demo/Embedded Components/Helper/data/helper.txt"}));
  QVERIFY2(summary.startsWith(QStringLiteral("2 files written")), qPrintable(summary));
  listed.sort();
  QCOMPARE(FilesBelow(out), listed);
  QCOMPARE(QFile(out + QStringLiteral("/bin/demo/data/beta.txt")).size(), 1);
  // The SHA-1 column tells what extraction found.
  QCOMPARE(proxy->index(1, FilesModel::Sha1).data().toString(), QStringLiteral("matches"));
  QCOMPARE(proxy->index(0, FilesModel::Sha1).data().toString(), QStringLiteral("given, not checked yet"));
  QVERIFY(desktop_->messages.empty());
}

void BrowserTest::openAndDragOutAFile() {
  Open(Write(QStringLiteral("demo.sis"), SmallPackage()));
  FilesProxy* proxy = window_->FilesFilter();
  // Enter or a double-click opens the file with the desktop's program, from the private
  // temporary folder.
  emit window_->FilesView()->activated(proxy->index(2, FilesModel::Name));
  QCOMPARE(desktop_->urls.size(), std::size_t{1});
  const QString opened = desktop_->urls[0].toLocalFile();
  QCOMPARE(QFileInfo(opened).fileName(), QStringLiteral("gamma.ini"));
  QCOMPARE(QFile(opened).size(), 700);
  QVERIFY(opened.startsWith(QString::fromStdString(*window_->commands().platform().TempDir())));
  // Dragging rows out gives the file manager the files themselves.
  const QModelIndexList rows{window_->Files()->index(0, 0), window_->Files()->index(1, 0), window_->Files()->index(1, 3)};
  std::unique_ptr<QMimeData> mime(window_->Files()->mimeData(rows));
  QVERIFY(mime);
  const QList<QUrl> urls = mime->urls();
  QCOMPARE(urls.size(), 2);
  QCOMPARE(QFileInfo(urls[0].toLocalFile()).fileName(), QStringLiteral("alpha.exe"));
  QCOMPARE(QFile(urls[0].toLocalFile()).size(), 3000);
  QCOMPARE(QFileInfo(urls[1].toLocalFile()).fileName(), QStringLiteral("beta.txt"));
  QVERIFY(window_->Files()->flags(rows[0]).testFlag(Qt::ItemIsDragEnabled));
  QVERIFY(desktop_->messages.empty());
  // They go when the window closes.
  window_->show();
  QVERIFY(window_->close());
  QVERIFY(!QFileInfo::exists(opened));
  QVERIFY(!QFileInfo::exists(urls[0].toLocalFile()));
}

void BrowserTest::dropOpensAndNeverEntersTheScript() {
  window_->show();
  QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  const QString pkg = Write(QStringLiteral("dropped.pkg"), QByteArray(kPkgText));
  const QString sis = Write(QStringLiteral("dropped.sisx"), SmallPackage());
  struct Target {
    QWidget* widget;
    QString file;
    QString title;
  };
  for (const Target& t : {Target{window_->TextArea()->viewport(), pkg, QStringLiteral("dropped.pkg - Tarvik")},
                          Target{window_->PackageTree()->viewport(), sis, QStringLiteral("dropped.sisx - Tarvik")}}) {
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(t.file)});
    const QPoint at = t.widget->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(t.widget, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(t.widget, &drop);
    QTRY_COMPARE(window_->windowTitle(), t.title);
    QVERIFY(!window_->TextArea()->toPlainText().contains(QStringLiteral("file://")));
  }
  QCOMPARE(window_->PackageTree()->topLevelItemCount(), 1);
  QVERIFY(window_->TextArea()->toPlainText().startsWith(QStringLiteral(";<---Main SIS File PKG--->")));
}

void BrowserTest::failuresGoToTheOneResultDialog() {
  // A package cut short: the files whose data is gone fail, each with its reason, in the
  // one result dialog; no message box per file.
  w::Controller c;
  c.names = {"Cut"};
  for (int i = 0; i < 6; ++i)
    c.files.push_back(File("!:\\data\\f" + std::to_string(i) + ".bin", Noise(20000, i + 3u), i % 2 == 0));
  Bytes bytes = w::Build(c);
  bytes.resize(bytes.size() - 50000);
  Open(Write(QStringLiteral("cut.sis"), bytes));
  QVERIFY(window_->ExtractAction()->isEnabled());
  desktop_->messages.clear();
  const QString out = QString::fromStdString(*dir_ / "out");
  QVERIFY(QDir().mkpath(out));
  desktop_->fileAnswers.push_back(out);
  int failed = -1, written = -1;
  QString reason;
  desktop_->onOtherDialog = [&](QDialog& d) {
    auto* dialog = qobject_cast<ExtractResultDialog*>(&d);
    if (!dialog) return int(QDialog::Rejected);
    written = dialog->WrittenList()->topLevelItemCount();
    failed = dialog->FailureList() ? dialog->FailureList()->topLevelItemCount() : 0;
    if (failed > 0) reason = dialog->FailureList()->topLevelItem(0)->text(1);
    dialog->show();
    if (QTest::qWaitForWindowExposed(dialog))
      dialog->grab().save(test::ScreenshotDir() + QStringLiteral("/extract_result_failures.png"));
    return int(QDialog::Accepted);
  };
  window_->ExtractAction()->trigger();
  QVERIFY2(desktop_->messages.empty(), qPrintable(desktop_->messages.empty() ? QString() : desktop_->messages[0].text));
  QCOMPARE(desktop_->otherDialogs.size(), std::size_t{1});
  QVERIFY(failed >= 2);
  QCOMPARE(written + failed, 6);
  QVERIFY2(reason.contains(QStringLiteral("lies outside the package")), qPrintable(reason));
  QCOMPARE(FilesBelow(out).size(), written);
}

void BrowserTest::extractAllAsksBeforeABombAndWritesRebuildScripts() {
  // Four descriptions of one deflated megabyte: far more than a package of 2 KiB could hold.
  w::Controller bomb;
  bomb.names = {"Bomb"};
  for (int k = 0; k < 4; ++k) {
    w::File f = File("!:\\data\\copy" + std::to_string(k) + ".bin", std::string(1 << 20, '\0'), true);
    f.fileIndex = 0;
    bomb.files.push_back(f);
  }
  Open(Write(QStringLiteral("bomb.sis"), w::Build(bomb)));
  desktop_->messages.clear();
  const QString out = QString::fromStdString(*dir_ / "out");
  QVERIFY(QDir().mkpath(out));
  desktop_->fileAnswers.push_back(out);
  window_->ExtractAllButton()->click();  // the question is answered No
  QCOMPARE(desktop_->messages.size(), std::size_t{1});
  QVERIFY(desktop_->messages[0].text.contains(QStringLiteral("could honestly hold")));
  QVERIFY(desktop_->otherDialogs.empty());
  QVERIFY(FilesBelow(out).isEmpty());

  // The check box: a whole extraction also writes the package's build-ready PKG file, listed
  // with the extracted files.
  Open(Write(QStringLiteral("demo.sis"), SmallPackage()));
  window_->RebuildScriptsBox()->setChecked(true);
  desktop_->messages.clear();
  desktop_->fileAnswers.push_back(out);
  QStringList listed;
  desktop_->onOtherDialog = [&](QDialog& d) {
    auto* dialog = qobject_cast<ExtractResultDialog*>(&d);
    if (!dialog) return int(QDialog::Rejected);
    for (int i = 0; i < dialog->WrittenList()->topLevelItemCount(); ++i)
      listed << dialog->WrittenList()->topLevelItem(i)->text(0);
    return int(QDialog::Accepted);
  };
  window_->ExtractAllButton()->click();
  QVERIFY(desktop_->messages.empty());
  QVERIFY2(listed.contains(QStringLiteral("demo.pkg")), qPrintable(listed.join(QLatin1Char(','))));
  QFile pkg(out + QStringLiteral("/demo.pkg"));
  QVERIFY(pkg.open(QIODevice::ReadOnly));
  QVERIFY(pkg.read(2) == QByteArray("\xFF\xFE", 2));  // UTF-16LE with a byte-order mark
  QVERIFY(QFile::exists(out + QStringLiteral("/bin/demo/Embedded Components/Helper.pkg")));
}

void BrowserTest::cancelMidwayLeavesNoPartialFile() {
  // Three big files: Cancel on the first tick of the progress stops inside the first or
  // second one.
  w::Controller c;
  c.names = {"Big"};
  for (int i = 0; i < 3; ++i) c.files.push_back(File("!:\\data\\big" + std::to_string(i) + ".bin", Noise(48u << 20, i + 1u)));
  Open(Write(QStringLiteral("big.sis"), w::Build(c)));
  const QString out = QString::fromStdString(*dir_ / "out");
  QVERIFY(QDir().mkpath(out));
  window_->resize(900, 600);
  window_->show();
  QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  desktop_->fileAnswers.push_back(out);
  bool cancelled = false;
  QTimer tick;
  connect(&tick, &QTimer::timeout, this, [&] {
    if (!window_->Extraction() || cancelled) return;
    QVERIFY(window_->CancelButton()->isVisible());
    window_->CancelButton()->click();
    cancelled = true;
  });
  tick.start(10);
  QString summary;
  desktop_->onOtherDialog = [&](QDialog& d) {
    if (auto* dialog = qobject_cast<ExtractResultDialog*>(&d)) summary = dialog->Summary()->text();
    return int(QDialog::Accepted);
  };
  window_->ExtractAction()->trigger();
  tick.stop();
  QVERIFY(cancelled);
  QVERIFY2(summary.contains(QStringLiteral("cancelled")), qPrintable(summary));
  // Only whole files stay, and no temporary file.
  const QStringList left = FilesBelow(out);
  QVERIFY(left.size() < 3);
  for (const QString& f : left) {
    QVERIFY2(!QFileInfo(f).fileName().startsWith(QLatin1Char('.')), qPrintable(f));
    QCOMPARE(QFile(out + QLatin1Char('/') + f).size(), qint64(48u << 20));
  }
  QVERIFY(!window_->CancelButton()->isVisible());
  QVERIFY(window_->ExtractAction()->isEnabled());
  QVERIFY(window_->menuBar()->isEnabled());
}

void BrowserTest::closeDuringExtractionAsks() {
  w::Controller c;
  for (int i = 0; i < 3; ++i) c.files.push_back(File("!:\\data\\big" + std::to_string(i) + ".bin", Noise(48u << 20, i + 7u)));
  Open(Write(QStringLiteral("big.sis"), w::Build(c)));
  window_->resize(900, 600);
  window_->show();
  QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  window_->Tabs()->setCurrentWidget(window_->FilesTab());
  const QString out = QString::fromStdString(*dir_ / "out");
  QVERIFY(QDir().mkpath(out));
  desktop_->fileAnswers.push_back(out);
  bool asked = false;
  int waited = 0;
  QTimer tick;
  connect(&tick, &QTimer::timeout, this, [&] {
    if (!window_->Extraction() || asked) return;
    if (window_->ProgressBar()->value() == 0 && ++waited < 40) return;  // until the bar has moved
    asked = true;
    // What the window shows while it works.
    const QString shot = test::ScreenshotDir() + QStringLiteral("/extract_progress.png");
    QVERIFY(window_->grab().save(shot));
    qInfo("Extraction progress screenshot: %s", qPrintable(shot));
    // No: the extraction goes on and the window stays.
    desktop_->messageAnswers.push_back(QMessageBox::No);
    QVERIFY(!window_->close());
    // Yes: it is cancelled and the window closes once it has stopped.
    desktop_->messageAnswers.push_back(QMessageBox::Yes);
    QVERIFY(!window_->close());
  });
  tick.start(5);
  window_->ExtractAction()->trigger();
  tick.stop();
  QVERIFY(asked);
  QCOMPARE(desktop_->messages.size(), std::size_t{2});
  QVERIFY(desktop_->messages[0].text.contains(QStringLiteral("still being extracted")));
  QCOMPARE(desktop_->messages[0].buttons, QMessageBox::Yes | QMessageBox::No);
  QTRY_VERIFY(!window_->isVisible());
  QVERIFY(desktop_->otherDialogs.empty());  // no result dialog on the way out
  for (const QString& f : FilesBelow(out)) QCOMPARE(QFile(out + QLatin1Char('/') + f).size(), qint64(48u << 20));
}

void BrowserTest::statusBar() {
  QCOMPARE(window_->Summary()->text(), QStringLiteral("Open or drop a package"));
  QVERIFY(!window_->WorkingDirLabel()->isVisibleTo(window_.get()));
  Open(Write(QStringLiteral("demo.sis"), SmallPackage()));
  const QString summary = window_->Summary()->text();
  for (const char* part : {"Symbian 9.x package", "Browser Demo 1.2.3", "5 files"})
    QVERIFY2(summary.contains(QLatin1String(part)), qPrintable(summary));
  // The Working Directory in use, and clearing it.
  const QString wd = QString::fromStdString(*dir_ / "wd");
  QVERIFY(QDir().mkpath(wd));
  desktop_->fileAnswers.push_back(wd);
  window_->findChild<QAction*>(QStringLiteral("mnWD"))->trigger();
  QVERIFY(window_->WorkingDirLabel()->isVisibleTo(window_.get()));
  QVERIFY(window_->WorkingDirLabel()->text().contains(wd));
  window_->WorkingDirClear()->click();
  QVERIFY(window_->commands().State().sourceFolder.empty());
  QVERIFY(!window_->WorkingDirLabel()->isVisibleTo(window_.get()));
  window_->CloseAction()->trigger();
  QCOMPARE(window_->Summary()->text(), QStringLiteral("Open or drop a package"));
}

void BrowserTest::settingsRoundTrip() {
  const QString pkg = Write(QStringLiteral("kept.pkg"), QByteArray(kPkgText));
  const QString wd = QString::fromStdString(*dir_ / "wd");
  QVERIFY(QDir().mkpath(wd));
  window_->show();
  QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  window_->resize(790, 560);
  window_->Splitter()->setSizes({250, 540});
  Open(pkg);
  desktop_->fileAnswers.push_back(wd);
  window_->findChild<QAction*>(QStringLiteral("mnWD"))->trigger();
  const QList<int> sizes = window_->Splitter()->sizes();
  QVERIFY(window_->close());
  // The next window remembers.
  NewWindow();
  QCOMPARE(window_->RecentFiles(), QStringList{pkg});
  QCOMPARE(window_->commands().State().sourceFolder, wd.toStdString() + "/");
  QVERIFY(window_->WorkingDirLabel()->text().contains(wd));
  QCOMPARE(window_->size(), QSize(790, 560));
  window_->show();
  QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  QCOMPARE(window_->Splitter()->sizes(), sizes);
  // The Open dialog starts in the last folder.
  desktop_->fileAnswers.push_back(std::nullopt);
  window_->OpenAction()->trigger();
  QCOMPARE(desktop_->fileDialogs.back().directory, QFileInfo(pkg).absolutePath());
  // A window remembered larger than the screen (another screen, another scale) is shrunk.
  window_->resize(4000, 3000);
  QVERIFY(window_->close());
  NewWindow();
  const QRect room = window_->screen()->availableGeometry();
  QVERIFY(window_->width() <= room.width() && window_->height() <= room.height());
}

void BrowserTest::recentFilesDropTheGone() {
  QStringList paths;
  for (int i = 0; i < 10; ++i) {
    paths.prepend(Write(QStringLiteral("r%1.pkg").arg(i), QByteArray(kPkgText)));
    Open(paths.front());
  }
  QCOMPARE(window_->RecentFiles(), paths.mid(0, kRecentFiles));
  QVERIFY(QFile::remove(paths[1]));
  emit window_->RecentMenu()->aboutToShow();
  QStringList expected = paths.mid(0, kRecentFiles);
  expected.removeAt(1);
  QCOMPARE(window_->RecentFiles(), expected);
  // The entries name the files; choosing one opens it.
  QList<QAction*> items;
  for (QAction* a : window_->RecentMenu()->actions())
    if (a->data().isValid()) items << a;
  QCOMPARE(items.size(), expected.size());
  items[2]->trigger();
  QCOMPARE(window_->windowTitle(), QFileInfo(expected[2]).fileName() + QStringLiteral(" - Tarvik"));
  QCOMPARE(window_->RecentFiles().first(), expected[2]);
}

void BrowserTest::commandLineMessages() {
  // A missing file named on the command line, an empty file and a renamed package: each is
  // told, and the window stays usable.
  window_->OpenPath(QString::fromStdString(*dir_ / "missing.sis"));
  QCOMPARE(desktop_->messages.size(), std::size_t{1});
  QVERIFY(desktop_->messages[0].text.contains(QStringLiteral("does not exist")));
  QCOMPARE(window_->windowTitle(), QStringLiteral("Tarvik"));
  window_->OpenPath(Write(QStringLiteral("empty.sis"), QByteArray()));
  QCOMPARE(desktop_->messages.size(), std::size_t{2});
  QVERIFY(desktop_->messages[1].text.contains(QStringLiteral("empty")));
  desktop_->messageAnswers.push_back(QMessageBox::Yes);
  window_->OpenPath(Write(QStringLiteral("renamed.zip"), SmallPackage()));
  QCOMPARE(desktop_->messages.size(), std::size_t{3});
  QVERIFY(desktop_->messages[2].text.contains(QStringLiteral("Read it as a package?")));
  QCOMPARE(window_->PackageTree()->topLevelItemCount(), 1);
  QVERIFY(window_->Summary()->text().contains(QStringLiteral("Browser Demo")));
}

void BrowserTest::unsavedEditsAreMarkedAndAsked() {
  const QString path = Write(QStringLiteral("e.pkg"), QByteArray(kPkgText));
  Open(path);
  QCOMPARE(window_->windowTitle(), QStringLiteral("e.pkg - Tarvik"));
  QTest::keyClicks(window_->TextArea(), QStringLiteral("; note"));
  QVERIFY(window_->HasUnsavedEdits());
  QCOMPARE(window_->windowTitle(), QStringLiteral("*e.pkg - Tarvik"));
  // Open, Reload and Close ask; No keeps the edits (and shows no dialog).
  const std::size_t dialogs = desktop_->fileDialogs.size();
  window_->OpenAction()->trigger();
  window_->ReloadAction()->trigger();
  window_->CloseAction()->trigger();
  QCOMPARE(desktop_->messages.size(), std::size_t{3});
  for (const auto& m : desktop_->messages) QVERIFY(m.text.contains(QStringLiteral("not saved")));
  QCOMPARE(desktop_->fileDialogs.size(), dialogs);
  QVERIFY(window_->TextArea()->toPlainText().contains(QStringLiteral("; note")));
  // Exit asks too.
  window_->show();
  QVERIFY(!window_->close());
  QCOMPARE(desktop_->messages.size(), std::size_t{4});
  // Saved as a script, the mark goes.
  desktop_->fileAnswers.push_back(QString::fromStdString(*dir_ / "saved.pkg"));
  window_->SaveAction()->trigger();
  QVERIFY(!window_->HasUnsavedEdits());
  QCOMPARE(window_->windowTitle(), QStringLiteral("e.pkg - Tarvik"));
  QVERIFY(window_->close());
  QCOMPARE(desktop_->messages.size(), std::size_t{4});
}

void BrowserTest::screenshotsOfTheTabs() {
  const auto shared = test::SharedDir();
  if (!shared) QSKIP("no ../shared");
  const QString package = QString::fromStdString(*shared + "/corpus/IlSocio__Symbian-IconHider/IconHider.sisx");
  if (!QFileInfo(package).isFile()) QSKIP("the corpus package is not there");
  window_->resize(1100, 640);
  window_->show();
  QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  Open(package);
  QVERIFY(window_->Files()->rowCount() > 0);
  for (QWidget* tab : {window_->FilesTab(), window_->FactsTab(), window_->ScriptTab()}) {
    window_->Tabs()->setCurrentWidget(tab);
    QApplication::processEvents();
    const QString shot = test::ScreenshotDir() + QStringLiteral("/tab_%1.png").arg(tab->objectName());
    QVERIFY(window_->grab().save(shot));
    qInfo("Screenshot: %s", qPrintable(shot));
  }
}

QTEST_MAIN(BrowserTest)
#include "test_browser.moc"
