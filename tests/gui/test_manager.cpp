// The window as an archive manager: the question before files are replaced, context menus
// and Properties, the integrity test, counts and the signature in the status bar, the
// keyboard, extract options, and the mends of failed opens, Save As and the desktop.

#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>

#include <memory>

#include "gui/dialogs.hpp"
#include "gui/main_window.hpp"
#include "scripted_desktop.hpp"
#include "small_package.hpp"
#include "checks/checks.hpp"
#include "support/e32_images.hpp"
#include "support/sis9_writer.hpp"
#include "support/test_env.hpp"

using namespace tarvik;
using namespace tarvik::gui;
namespace w = tarvik::test::sis9w;

namespace {

using test::File;

// A package with a few files of different sizes, one under a language condition, and an
// embedded package.
Bytes SmallPackage() { return test::SmallPackage("Manager Demo"); }

QString ReadText(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QStringLiteral("(none)");
}

}  // namespace

class ManagerTest : public QObject {
  Q_OBJECT
 private slots:
  void init();
  void cleanup();

  void overwriteQuestionKeepsAnEditedFile();
  void contextMenusAndProperties();
  void integrityTestMarksTheRows();
  void countsAndSignatureInTheStatusBar();
  void keyboard();
  void extractOptions();
  void folderViewAndPreview();
  void executablesAndChecks();
  void failedOpenKeepsThePackage();
  void saveAsProposesTheNameAndReturnsToTheDialog();
  void workingDirectoryShowsInTheScriptAtOnce();
  void desktopFailuresAndDropsAreSaid();

 private:
  void Open(const QString& path) {
    desktop_->fileAnswers.push_back(path);
    window_->OpenAction()->trigger();
  }
  QString Write(const QString& name, const Bytes& bytes) {
    return QString::fromStdString(dir_->Write(name.toStdString(), bytes));
  }
  QString Folder(const char* name) {
    const QString path = QString::fromStdString(*dir_ / name);
    QDir().mkpath(path);
    return path;
  }
  // The row of the model whose file name is `name`.
  int RowOf(const QString& name) {
    for (int i = 0; i < window_->Files()->rowCount(); ++i)
      if (FilesModel::NameOf(window_->Files()->Row(i)) == name) return i;
    return -1;
  }
  void Select(const QString& name) {
    const QModelIndex at = window_->FilesFilter()->mapFromSource(window_->Files()->index(RowOf(name), 0));
    window_->FilesView()->setCurrentIndex(at);
    window_->FilesView()->selectionModel()->select(at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  }
  QAction* Action(QMenu& menu, const char* name) { return menu.findChild<QAction*>(QString::fromLatin1(name)); }

  std::unique_ptr<test::TempDir> dir_;
  std::unique_ptr<test::ScriptedDesktop> desktop_;
  std::unique_ptr<MainWindow> window_;
};

void ManagerTest::init() {
  dir_ = std::make_unique<test::TempDir>();
  desktop_ = std::make_unique<test::ScriptedDesktop>();
  window_ = std::make_unique<MainWindow>(test::TestPlatform(*dir_), desktop_.get());
}

void ManagerTest::cleanup() {
  window_.reset();
  desktop_.reset();
  dir_.reset();
}

void ManagerTest::overwriteQuestionKeepsAnEditedFile() {
  Open(Write(QStringLiteral("demo.sis"), SmallPackage()));
  const QString out = Folder("out");
  const QString beta = out + QStringLiteral("/bin/demo/data/beta.txt");
  desktop_->fileAnswers.push_back(out);
  window_->ExtractAction()->trigger();
  QCOMPARE(ReadText(beta), QStringLiteral("b"));
  // The person edits a file, then extracts again: Skip, for all, keeps the edit.
  QFile edit(beta);
  QVERIFY(edit.open(QIODevice::WriteOnly));
  edit.write("edited");
  edit.close();
  desktop_->messages.clear();
  desktop_->fileAnswers.push_back(out);
  desktop_->messageAnswers = {QMessageBox::No};
  desktop_->checkAnswers = {true};
  window_->ExtractAction()->trigger();
  QCOMPARE(ReadText(beta), QStringLiteral("edited"));
  QVERIFY(!desktop_->messages.empty());
  const auto& asked = desktop_->messages.front();
  QVERIFY(asked.text.contains(QStringLiteral("beta.txt")) || asked.text.contains(QStringLiteral("alpha.exe")));
  QVERIFY(asked.buttons.testFlag(QMessageBox::Apply));  // Rename
  QCOMPARE(asked.defaultButton, QMessageBox::No);       // Skip: Enter replaces nothing
  // Rename, for all: the edit stays, the package's file is written beside it.
  desktop_->fileAnswers.push_back(out);
  desktop_->messageAnswers = {QMessageBox::Apply};
  desktop_->checkAnswers = {true};
  window_->ExtractAction()->trigger();
  QCOMPARE(ReadText(beta), QStringLiteral("edited"));
  QCOMPARE(ReadText(out + QStringLiteral("/bin/demo/data/beta (2).txt")), QStringLiteral("b"));
  // Cancel writes nothing at all.
  QFile::remove(out + QStringLiteral("/bin/demo/data/beta (2).txt"));
  desktop_->fileAnswers.push_back(out);
  desktop_->messageAnswers = {QMessageBox::Cancel};
  window_->ExtractAction()->trigger();
  QVERIFY(!QFileInfo::exists(out + QStringLiteral("/bin/demo/data/beta (2).txt")));
}

void ManagerTest::contextMenusAndProperties() {
  Open(Write(QStringLiteral("demo.sis"), SmallPackage()));
  Select(QStringLiteral("fr.txt"));
  std::unique_ptr<QMenu> menu = window_->MakeFilesMenu();
  for (const char* name : {"filesOpen", "filesOpenWith", "filesExtract", "filesCopyPath", "filesProperties"}) {
    QVERIFY2(Action(*menu, name), name);
    QVERIFY2(Action(*menu, name)->isEnabled(), name);
  }
  Action(*menu, "filesCopyPath")->trigger();
  QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("!:\\data\\fr.txt"));
  QMap<QString, QString> shown;
  desktop_->onOtherDialog = [&](QDialog& d) {
    auto* table = d.findChild<QTableWidget*>(QStringLiteral("propertiesTable"));
    for (int i = 0; table && i < table->rowCount(); ++i) shown[table->item(i, 0)->text()] = table->item(i, 1)->text();
    return int(QDialog::Accepted);
  };
  Action(*menu, "filesProperties")->trigger();
  QCOMPARE(shown.value(QStringLiteral("Target path")), QStringLiteral("!:\\data\\fr.txt"));
  QCOMPARE(shown.value(QStringLiteral("Operation")), QStringLiteral("install"));
  QCOMPARE(shown.value(QStringLiteral("Installed when")), QStringLiteral("if language = French"));
  QCOMPARE(shown.value(QStringLiteral("SHA-1")).size(), 40);
  QVERIFY(shown.value(QStringLiteral("Size")).contains(QStringLiteral("7 bytes")));
  // Nothing selected: only what needs no row.
  window_->FilesView()->clearSelection();
  menu = window_->MakeFilesMenu();
  QVERIFY(!Action(*menu, "filesProperties")->isEnabled());
  // The tree: Copy UID of the embedded package, and Extract This Package writes its file only.
  QTreeWidgetItem* child = window_->PackageTree()->topLevelItem(0)->child(0);
  window_->PackageTree()->setCurrentItem(child);
  QCOMPARE(child->toolTip(0), QStringLiteral("UID 0xE0000002"));
  std::unique_ptr<QMenu> tree = window_->MakeTreeMenu();
  Action(*tree, "treeCopyUid")->trigger();
  QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("0xE0000002"));
  const QString out = Folder("one");
  desktop_->fileAnswers.push_back(out);
  desktop_->onOtherDialog = nullptr;
  Action(*tree, "treeExtract")->trigger();
  QVERIFY(QFileInfo::exists(out + QStringLiteral("/bin/demo/Embedded Components/Helper/data/helper.txt")));
  QVERIFY(!QFileInfo::exists(out + QStringLiteral("/bin/demo/data/beta.txt")));
}

void ManagerTest::integrityTestMarksTheRows() {
  Bytes bytes = SmallPackage();
  Open(Write(QStringLiteral("demo.sis"), bytes));
  const int beta = RowOf(QStringLiteral("beta.txt"));
  QCOMPARE(window_->Files()->data(window_->Files()->index(beta, FilesModel::Sha1), Qt::DisplayRole).toString(),
           QStringLiteral("given, not checked yet"));
  QVERIFY(window_->TestAction()->isEnabled());
  window_->TestAction()->trigger();
  for (int i = 0; i < window_->Files()->rowCount(); ++i)
    QCOMPARE(window_->Files()->data(window_->Files()->index(i, FilesModel::Sha1), Qt::DisplayRole).toString(),
             QStringLiteral("matches"));
  QCOMPARE(desktop_->messages.back().text, QStringLiteral("5 files tested: 5 match their SHA-1."));
  // A changed byte of a stored file is found, and nothing was written anywhere.
  const std::string needle = "bonjour";
  const auto at = std::search(bytes.begin(), bytes.end(), needle.begin(), needle.end());
  QVERIFY(at != bytes.end());
  at[6] = 'X';
  Open(Write(QStringLiteral("changed.sis"), bytes));
  window_->TestAction()->trigger();
  QCOMPARE(window_->Files()->data(window_->Files()->index(RowOf(QStringLiteral("fr.txt")), FilesModel::Sha1),
                                  Qt::DisplayRole).toString(),
           QStringLiteral("does not match"));
  QCOMPARE(desktop_->messages.back().text,
           QStringLiteral("5 files tested: 4 match their SHA-1, 1 does not match its SHA-1."));
  QCOMPARE(desktop_->messages.back().icon, QMessageBox::Warning);
}

void ManagerTest::countsAndSignatureInTheStatusBar() {
  Open(Write(QStringLiteral("demo.sis"), SmallPackage()));
  QCOMPARE(window_->CountsLabel()->text(), QStringLiteral("5 files"));
  window_->FilterBox()->setText(QStringLiteral("txt"));
  QCOMPARE(window_->CountsLabel()->text(), QStringLiteral("3 of 5 shown"));
  window_->FilesView()->selectAll();
  QVERIFY(window_->CountsLabel()->text().startsWith(QStringLiteral("3 of 5 shown \u00B7 3 selected, ")));
  // Unsigned, said in the status bar and the Facts.
  QCOMPARE(window_->SignatureLabel()->text(), QStringLiteral("Unsigned"));
  QVERIFY(window_->FactsText().contains(QStringLiteral("Signature\tunsigned\n")));
}

void ManagerTest::keyboard() {
  Open(Write(QStringLiteral("demo.sis"), SmallPackage()));
  // Mnemonics on the menus; Close on Ctrl+W as well.
  QCOMPARE(window_->FileMenu()->title(), QStringLiteral("&File"));
  QVERIFY(window_->CloseAction()->shortcuts().contains(QKeySequence(Qt::CTRL | Qt::Key_W)));
  window_->show();
  QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  window_->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(window_.get()));
  // Ctrl+F: the filter; Esc clears it; Down goes into the table; Tab leaves the table.
  QTest::keyClick(window_.get(), Qt::Key_F, Qt::ControlModifier);
  QCOMPARE(window_->Tabs()->currentWidget(), window_->FilesTab());
  QTRY_VERIFY(window_->FilterBox()->hasFocus());
  QTest::keyClicks(window_->FilterBox(), QStringLiteral("beta"));
  QCOMPARE(window_->FilesFilter()->rowCount(), 1);
  QTest::keyClick(window_->FilterBox(), Qt::Key_Escape);
  QCOMPARE(window_->FilterBox()->text(), QString());
  QTest::keyClick(window_->FilterBox(), Qt::Key_Down);
  QVERIFY(window_->FilesView()->hasFocus());
  QVERIFY(window_->FilesView()->selectionModel()->hasSelection());
  QVERIFY(!window_->FilesView()->tabKeyNavigation());
  // Questions that replace or drop something do not answer Enter with Yes.
  auto box = MakeQuestionBox(window_.get(), {ops::QuestionKind::ReplaceFile, "Tarvik", "x exists"});
  QCOMPARE(box->standardButton(box->defaultButton()), QMessageBox::No);
}

void ManagerTest::extractOptions() {
  const QString package = Write(QStringLiteral("demo.sis"), SmallPackage());
  Open(package);
  // Leave out bin\<package>\ and open the folder afterwards.
  window_->LeaveOutPrefixBox()->setChecked(true);
  window_->OpenAfterBox()->setChecked(true);
  const QString flat = Folder("flat");
  desktop_->fileAnswers.push_back(flat);
  window_->ExtractAction()->trigger();
  QVERIFY(QFileInfo::exists(flat + QStringLiteral("/sys/bin/alpha.exe")));
  QVERIFY(QFileInfo::exists(flat + QStringLiteral("/Embedded Components/Helper/data/helper.txt")));
  QVERIFY(!QFileInfo::exists(flat + QStringLiteral("/bin")));
  QVERIFY(!desktop_->urls.empty());
  QCOMPARE(QDir(desktop_->urls.back().toLocalFile()), QDir(flat));
  window_->LeaveOutPrefixBox()->setChecked(false);
  window_->OpenAfterBox()->setChecked(false);
  // A filter narrows the table: "Only These" extracts the files shown.
  window_->FilterBox()->setText(QStringLiteral("txt"));
  const QString some = Folder("some");
  desktop_->fileAnswers.push_back(some);
  desktop_->messageAnswers = {QMessageBox::Yes};
  window_->ExtractAction()->trigger();
  QVERIFY(QFileInfo::exists(some + QStringLiteral("/bin/demo/data/beta.txt")));
  QVERIFY(!QFileInfo::exists(some + QStringLiteral("/bin/demo/sys/bin/alpha.exe")));
  // Extract Here: beside the package, no folder asked.
  window_->FilterBox()->clear();
  const std::size_t dialogs = desktop_->fileDialogs.size();
  window_->ExtractHereButton()->click();
  QCOMPARE(desktop_->fileDialogs.size(), dialogs);
  QVERIFY(QFileInfo::exists(QFileInfo(package).absolutePath() + QStringLiteral("/bin/demo/sys/bin/alpha.exe")));
}

void ManagerTest::folderViewAndPreview() {
  Open(Write(QStringLiteral("demo.sis"), SmallPackage()));
  window_->show();
  window_->Tabs()->setCurrentWidget(window_->FilesTab());
  window_->ShowFoldersButton()->setChecked(true);
  QTreeWidget* folders = window_->FolderTree();
  QVERIFY(folders->isVisible());
  QTreeWidgetItem* all = folders->topLevelItem(0);
  QCOMPARE(all->text(0), QStringLiteral("All files"));
  QTreeWidgetItem* drive = all->child(0);
  QCOMPARE(drive->text(0), QStringLiteral("!:"));
  QStringList levels;
  for (int i = 0; i < drive->childCount(); ++i) levels << drive->child(i)->text(0);
  QCOMPARE(levels, (QStringList{QStringLiteral("data"), QStringLiteral("sys")}));
  // Choosing "data" shows the files in it, of every package.
  folders->setCurrentItem(drive->child(0));
  QCOMPARE(window_->FilesFilter()->rowCount(), 4);
  QCOMPARE(window_->CountsLabel()->text(), QStringLiteral("4 of 5 shown"));
  folders->setCurrentItem(all);
  QCOMPARE(window_->FilesFilter()->rowCount(), 5);
  // The preview shows the current file's text.
  window_->ShowPreviewButton()->setChecked(true);
  Select(QStringLiteral("fr.txt"));
  QCOMPARE(window_->PreviewText()->toPlainText(), QStringLiteral("bonjour"));
  Select(QStringLiteral("alpha.exe"));
  QCOMPARE(window_->PreviewText()->toPlainText().left(3), QStringLiteral("aaa"));
}

void ManagerTest::executablesAndChecks() {
  // An executable asking for AllFiles in an unsigned package: a column, its Properties and
  // an error among the Checks.
  test::ImageFields fields;
  fields.caps = 1u << 11;  // AllFiles
  const std::vector<std::uint8_t> image = test::E32Image(fields);
  w::Controller main;
  main.names = {"Exe Demo"};
  w::File exe;
  exe.target = "!:\\sys\\bin\\demo.exe";
  exe.data = Bytes(image.begin(), image.end());
  exe.deflate = true;
  main.files = {exe, File("!:\\data\\readme.txt", "read me")};
  const Bytes bytes = w::Build(main);
  Open(Write(QStringLiteral("exe.sis"), bytes));
  const int row = RowOf(QStringLiteral("demo.exe"));
  const QString cell = window_->Files()->data(window_->Files()->index(row, FilesModel::Executable), Qt::DisplayRole).toString();
  QCOMPARE(cell, QStringLiteral("EXE, EKA2, SID 0xE0001234, 1 capability"));
  QCOMPARE(window_->Files()->data(window_->Files()->index(RowOf(QStringLiteral("readme.txt")), FilesModel::Executable),
                                  Qt::DisplayRole).toString(),
           QString());
  QMap<QString, QString> shown;
  desktop_->onOtherDialog = [&](QDialog& d) {
    auto* table = d.findChild<QTableWidget*>(QStringLiteral("propertiesTable"));
    for (int i = 0; table && i < table->rowCount(); ++i) shown[table->item(i, 0)->text()] = table->item(i, 1)->text();
    return int(QDialog::Accepted);
  };
  window_->ShowProperties(row);
  QCOMPARE(shown.value(QStringLiteral("Secure ID")), QStringLiteral("0xE0001234"));
  QCOMPARE(shown.value(QStringLiteral("Capabilities in the header")), QStringLiteral("AllFiles"));
  // The Checks tab holds what the checks find, errors first.
  const std::vector<checks::Finding> findings =
      checks::Check(*window_->commands().State().item->package, bytes, {QDateTime::currentSecsSinceEpoch(), {}});
  QTableWidget* table = window_->ChecksTable();
  QCOMPARE(table->rowCount(), static_cast<int>(findings.size()));
  QVERIFY(checks::HasError(findings));
  QCOMPARE(table->item(0, 0)->text(), QStringLiteral("error"));
  QVERIFY(window_->ChecksSummary()->text().startsWith(QStringLiteral("It will not install")));
  // Another device: the checks run again for it.
  window_->CheckDevice()->setCurrentIndex(1);
  QVERIFY(table->rowCount() >= static_cast<int>(findings.size()));
}

void ManagerTest::failedOpenKeepsThePackage() {
  const QString good = Write(QStringLiteral("demo.sis"), SmallPackage());
  Open(good);
  const QString title = window_->windowTitle();
  const QString text = window_->TextArea()->toPlainText();
  Open(Write(QStringLiteral("notes.sis"), Bytes{'j', 'u', 's', 't', ' ', 't', 'e', 'x', 't', '\n'}));
  QCOMPARE(window_->PackageTree()->topLevelItem(0)->text(0), QStringLiteral("Manager Demo  1.2.3"));
  QCOMPARE(window_->windowTitle(), title);
  QVERIFY(!window_->windowTitle().startsWith(QLatin1Char('*')));
  QCOMPARE(window_->TextArea()->toPlainText(), text);
  QCOMPARE(window_->RecentFiles(), QStringList{QDir::toNativeSeparators(QFileInfo(good).absoluteFilePath())});
}

void ManagerTest::saveAsProposesTheNameAndReturnsToTheDialog() {
  Open(Write(QStringLiteral("demo.sis"), SmallPackage()));
  const QString taken = QString::fromStdString(dir_->Write("taken.pkg", "keep me"));
  const QString plain = QString::fromStdString(*dir_ / "plain");
  // "taken.pkg" stands: No goes back to the dialog, and "plain" gets ".pkg".
  desktop_->fileAnswers = {taken, plain};
  desktop_->messageAnswers = {QMessageBox::No};
  window_->SaveAction()->trigger();
  QCOMPARE(desktop_->fileDialogs.size(), std::size_t{3});  // Open, then Save As twice
  QVERIFY(desktop_->fileDialogs[1].proposed.first().endsWith(QStringLiteral("demo")));
  QCOMPARE(ReadText(taken), QStringLiteral("keep me"));
  QStringList seen;
  for (const auto& m : desktop_->messages) seen << m.text;
  for (const auto& d : desktop_->fileDialogs) seen << d.title + QStringLiteral(" / ") + d.selectedFilter;
  QVERIFY2(QFileInfo::exists(plain + QStringLiteral(".pkg")), qPrintable(seen.join(QStringLiteral(" | "))));
  // The next Save As starts where the last one saved.
  QCOMPARE(desktop_->fileDialogs.back().directory, QFileInfo(plain).absolutePath());
  // Yes replaces it, asked once.
  desktop_->messages.clear();
  desktop_->fileAnswers = {taken};
  desktop_->messageAnswers = {QMessageBox::Yes};
  window_->SaveAction()->trigger();
  QCOMPARE(desktop_->messages.size(), std::size_t{1});
  QVERIFY(ReadText(taken).contains(QStringLiteral("Manager Demo")));
}

void ManagerTest::workingDirectoryShowsInTheScriptAtOnce() {
  Open(Write(QStringLiteral("demo.sis"), SmallPackage()));
  QVERIFY(!window_->TextArea()->toPlainText().contains(QStringLiteral("/wd/")));
  const QString wd = Folder("wd");
  desktop_->fileAnswers.push_back(wd);
  window_->findChild<QAction*>(QStringLiteral("mnWD"))->trigger();
  QVERIFY(window_->TextArea()->toPlainText().contains(wd + QStringLiteral("/")));
  window_->findChild<QAction*>(QStringLiteral("mnClearWD"))->trigger();
  QVERIFY(!window_->TextArea()->toPlainText().contains(wd));
}

void ManagerTest::desktopFailuresAndDropsAreSaid() {
  Open(Write(QStringLiteral("demo.sis"), SmallPackage()));
  desktop_->opens = false;
  window_->OpenFileAt(window_->FilesFilter()->index(0, 0));
  QVERIFY(desktop_->messages.back().text.startsWith(QStringLiteral("No program on this system opens ")));
  // Two dropped files: the first opens, and the second is said not to.
  const QString a = Write(QStringLiteral("a.sis"), SmallPackage()), b = Write(QStringLiteral("b.sis"), SmallPackage());
  window_->show();
  QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(a), QUrl::fromLocalFile(b)});
  QWidget* target = window_->PackageTree()->viewport();
  const QPoint at = target->rect().center();
  QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter);
  QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &drop);
  QTRY_VERIFY2(window_->windowTitle().contains(QStringLiteral("a.sis")),
               qPrintable(window_->windowTitle() + QStringLiteral(" / ") + desktop_->messages.back().text));
  QTRY_VERIFY(desktop_->messages.back().text.contains(QStringLiteral("1 other dropped file was not")));
}

QTEST_MAIN(ManagerTest)
#include "test_manager.moc"
