// The window's dialogs and rules on their own: filter lists, message-box styles, the
// resize rule, the About box and the extraction-result dialog.

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTextDocumentFragment>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "gui/about_box.hpp"
#include "gui/dialogs.hpp"
#include "gui/extract_result_dialog.hpp"
#include "gui/window_rules.hpp"
#include "scripted_desktop.hpp"
#include "window/commands.hpp"

using namespace tarvik;
using namespace tarvik::gui;

namespace {
constexpr const char* kSaveFilter =
    "PKG File (.pkg)|*.pkg|Brimond Session File (.qsd)|*.qsd|Text File (.txt)|*.txt|All Files|*.*";
}

class DialogsTest : public QObject {
  Q_OBJECT
 private slots:
  void filters_data();
  void filters();
  void messageBoxStyles_data();
  void messageBoxStyles();
  void questionBoxes_data();
  void questionBoxes();
  void openDialog();
  void saveDialogNeverAsksToReplace();
  void folderDialog();
  void chosenPathIsNative();
  void lineBreaks_data();
  void lineBreaks();
  void aboutText();
  void aboutVisitClosesFirst_data();
  void aboutVisitClosesFirst();
  void aboutScreenshot();
  void extractResult();
  void extractReport();
};

void DialogsTest::filters_data() {
  QTest::addColumn<QString>("filter");
  QTest::addColumn<QStringList>("expected");
  QTest::newRow("open") << QString::fromLatin1(window::kOpenFilter)
                        << QStringList{"SIS File, Brimond File, PKG File (*.sis *.sisx *.qsd *.pkg)",
                                       "SIS File (.sis, .sisx) (*.sis *.sisx)",
                                       "Brimond Session File (.qsd) (*.qsd)", "PKG File (.pkg) (*.pkg)"};
  QTest::newRow("save, every file") << QString::fromLatin1(kSaveFilter)
                                    << QStringList{"PKG File (.pkg) (*.pkg)", "Brimond Session File (.qsd) (*.qsd)",
                                                   "Text File (.txt) (*.txt)", "All Files (*)"};
  QTest::newRow("no patterns") << QStringLiteral("Nothing||Some|*.a|") << QStringList{"Some (*.a)"};
  QTest::newRow("description only") << QStringLiteral("Lonely") << QStringList{};
  QTest::newRow("empty") << QString() << QStringList{};
}

void DialogsTest::filters() {
  QFETCH(QString, filter);
  QFETCH(QStringList, expected);
  QCOMPARE(ToQtFilters(filter.toStdString()), expected);
}

void DialogsTest::messageBoxStyles_data() {
  QTest::addColumn<int>("severity");
  QTest::addColumn<int>("icon");
  QTest::newRow("plain") << int(ops::Severity::Plain) << int(QMessageBox::NoIcon);
  QTest::newRow("error") << int(ops::Severity::Error) << int(QMessageBox::Critical);
  QTest::newRow("warning") << int(ops::Severity::Warning) << int(QMessageBox::Warning);
  QTest::newRow("note") << int(ops::Severity::Note) << int(QMessageBox::Information);
}

void DialogsTest::messageBoxStyles() {
  QFETCH(int, severity);
  QFETCH(int, icon);
  auto box = MakeMessageBox(
      nullptr, {ops::Severity(severity), "Tarvik", "C:\\x.sis already exists.\r\nDo you want to replace it?"});
  QCOMPARE(int(box->icon()), icon);
  QCOMPARE(int(box->standardButtons()), int(QMessageBox::Ok));
  QCOMPARE(box->windowTitle(), QStringLiteral("Tarvik"));
  QCOMPARE(box->text(), QStringLiteral("C:\\x.sis already exists.\nDo you want to replace it?"));
  // Texts such as "<--------" are shown as written, never taken for markup.
  QCOMPARE(box->textFormat(), Qt::PlainText);
}

void DialogsTest::questionBoxes_data() {
  QTest::addColumn<int>("kind");
  QTest::addColumn<int>("icon");
  QTest::newRow("replace") << int(ops::QuestionKind::ReplaceFile) << int(QMessageBox::Warning);
  QTest::newRow("budget") << int(ops::QuestionKind::WriteBeyondBudget) << int(QMessageBox::Warning);
  QTest::newRow("read as package") << int(ops::QuestionKind::ReadAsPackage) << int(QMessageBox::Question);
  QTest::newRow("stop extraction") << int(ops::QuestionKind::StopExtraction) << int(QMessageBox::Question);
}

void DialogsTest::questionBoxes() {
  QFETCH(int, kind);
  QFETCH(int, icon);
  auto box = MakeQuestionBox(nullptr, {ops::QuestionKind(kind), "Tarvik", "Go on?"});
  QCOMPARE(int(box->icon()), icon);
  QCOMPARE(int(box->standardButtons()), int(QMessageBox::Yes | QMessageBox::No));
  QCOMPARE(box->textFormat(), Qt::PlainText);
}

void DialogsTest::openDialog() {
  auto dialog = MakeOpenDialog(nullptr, window::kOpenFilter, window::kOpenTitle, QString());
  QCOMPARE(dialog->windowTitle(), QStringLiteral("Open File"));
  QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptOpen);
  QCOMPARE(dialog->fileMode(), QFileDialog::ExistingFile);
  QCOMPARE(dialog->nameFilters().size(), 4);
  // The first pair is selected; the dialog shows descriptions only, as the list gives them.
  QCOMPARE(dialog->selectedNameFilter(), QStringLiteral("SIS File, Brimond File, PKG File"));
  QVERIFY(dialog->testOption(QFileDialog::HideNameFilterDetails));
}

void DialogsTest::saveDialogNeverAsksToReplace() {
  auto dialog = MakeSaveDialog(nullptr, kSaveFilter, "Save As...", "Unnamed", QDir::tempPath());
  QCOMPARE(dialog->windowTitle(), QStringLiteral("Save As..."));
  QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptSave);
  QVERIFY(dialog->testOption(QFileDialog::DontConfirmOverwrite));
  QCOMPARE(dialog->selectedNameFilter(), QStringLiteral("PKG File (.pkg)"));
  QCOMPARE(dialog->selectedFiles().value(0), QDir(QDir::tempPath()).filePath(QStringLiteral("Unnamed")));
  // No extension is added behind the person's back: the name decides the format.
  QVERIFY(dialog->defaultSuffix().isEmpty());
}

void DialogsTest::folderDialog() {
  auto dialog = MakeFolderDialog(nullptr, "Select folder to keep the extracted files", QString());
  QCOMPARE(dialog->windowTitle(), QStringLiteral("Select folder to keep the extracted files"));
  QCOMPARE(dialog->fileMode(), QFileDialog::Directory);
  QVERIFY(dialog->testOption(QFileDialog::ShowDirsOnly));
}

void DialogsTest::chosenPathIsNative() {
  QTemporaryDir dir;
  auto dialog = MakeSaveDialog(nullptr, kSaveFilter, "Save As...", "Unnamed", dir.path());
  dialog->selectFile(dir.filePath(QStringLiteral("out.qsd")));
  const auto path = ChosenPath(*dialog);
  QVERIFY(path.has_value());
  QCOMPARE(QString::fromStdString(*path), QDir::toNativeSeparators(dir.filePath(QStringLiteral("out.qsd"))));
}

void DialogsTest::lineBreaks_data() {
  QTest::addColumn<QByteArray>("text");
  QTest::addColumn<QString>("shown");
  QTest::addColumn<QByteArray>("back");
  QTest::newRow("crlf") << QByteArray("a\r\nb\r\n") << QStringLiteral("a\nb\n") << QByteArray("a\r\nb\r\n");
  QTest::newRow("lone cr") << QByteArray("a\rb") << QStringLiteral("a\nb") << QByteArray("a\r\nb");
  QTest::newRow("lone lf") << QByteArray("a\nb") << QStringLiteral("a\nb") << QByteArray("a\r\nb");
  QTest::newRow("utf-8") << QByteArray("\xc3\xa9t\xc3\xa9") << QStringLiteral("\u00e9t\u00e9")
                         << QByteArray("\xc3\xa9t\xc3\xa9");
}

void DialogsTest::lineBreaks() {
  QFETCH(QByteArray, text);
  QFETCH(QString, shown);
  QFETCH(QByteArray, back);
  QCOMPARE(ForDisplay(text.toStdString()), shown);
  QCOMPARE(QByteArray::fromStdString(FromDisplay(shown)), back);
}

void DialogsTest::aboutText() {
  AboutBox box(nullptr, nullptr);
  QCOMPARE(box.windowTitle(), QStringLiteral("About Tarvik"));
  const QString text = QString::fromLatin1(kAboutText);
  const QStringList paragraphs = text.split(QStringLiteral("\r\n\r\n"));
  QCOMPARE(paragraphs.size(), 5);
  QCOMPARE(paragraphs[0], QStringLiteral("Tarvik v3.0, smart tool for view and extract Symbian SIS file"));
  QCOMPARE(paragraphs[1], QStringLiteral("This supports all version of sis file including UIQ, Series60 1st, 2nd and "
                                         "Series60 3rd Edition"));
  // A feedback line, with no placeholder address.
  QVERIFY(paragraphs[2].startsWith(QStringLiteral("Please send your feedback")));
  QVERIFY(!paragraphs[2].contains(QStringLiteral("example")));
  QCOMPARE(paragraphs[3],
           QStringLiteral("This software implements functions included in standard SIS Editor tool 'Brimond'"));
  QVERIFY(paragraphs[4].contains(QStringLiteral("Tarvik")));
  for (const QString& p : paragraphs) QVERIFY2(!p.contains(QLatin1Char('\r')) && !p.contains(QLatin1Char('\n')), qPrintable(p));
  QVERIFY(!text.endsWith(QLatin1Char('\n')));
  // The label shows the same paragraphs, one empty line between them.
  QCOMPARE(box.Label()->text(), paragraphs.join(QStringLiteral("\n\n")));
  QCOMPARE(box.Link()->text().contains(QStringLiteral("Visit us... ----&gt;")), true);
  QCOMPARE(QTextDocumentFragment::fromHtml(box.Link()->text()).toPlainText(), QStringLiteral("Visit us... ---->"));
  // The version, the licence and the libraries with their versions.
  const QString details = box.Details()->text();
  QVERIFY2(details.contains(QStringLiteral(TARVIK_VERSION)), qPrintable(details));
  QVERIFY2(details.contains(QStringLiteral("Licence")), qPrintable(details));
  for (const char* library : {"Qt ", "zlib ", "OpenSSL "}) QVERIFY2(details.contains(QLatin1String(library)), library);
  QVERIFY(details.contains(QString::fromLatin1(qVersion())));
  // The link goes to the README, not to a placeholder page.
  QVERIFY2(box.Page().isLocalFile() && box.Page().toLocalFile().endsWith(QStringLiteral("README.md")),
           qPrintable(box.Page().toString()));
}

void DialogsTest::aboutVisitClosesFirst_data() {
  QTest::addColumn<bool>("viaPicture");
  QTest::newRow("link label") << false;
  QTest::newRow("picture") << true;
}

void DialogsTest::aboutVisitClosesFirst() {
  QFETCH(bool, viaPicture);
  std::vector<QUrl> opened;
  bool visibleWhenOpened = true;
  AboutBox* boxPtr = nullptr;
  AboutBox box(nullptr, [&](const QUrl& url) {
    opened.push_back(url);
    visibleWhenOpened = boxPtr->isVisible();
  });
  boxPtr = &box;
  box.show();
  QVERIFY(QTest::qWaitForWindowExposed(&box));
  if (viaPicture) {
    QTest::mouseClick(box.Picture(), Qt::LeftButton);
  } else {
    emit box.Link()->linkActivated(box.Page().toString());
  }
  QCOMPARE(opened.size(), std::size_t{1});
  QCOMPARE(opened[0], box.Page());
  QVERIFY(box.Page().isLocalFile());
  QVERIFY(!visibleWhenOpened);
  QVERIFY(!box.isVisible());
  QCOMPARE(box.result(), int(QDialog::Accepted));
}

void DialogsTest::aboutScreenshot() {
  AboutBox box(nullptr, nullptr);
  box.show();
  QVERIFY(QTest::qWaitForWindowExposed(&box));
  const QString path = test::ScreenshotDir() + QStringLiteral("/about_box.png");
  QVERIFY(box.grab().save(path));
  qInfo("About box screenshot: %s", qPrintable(path));
}

void DialogsTest::extractResult() {
  std::vector<std::string> opened;
  ExtractReport report;
  report.folder = "/tmp/x/";
  report.written = {{0, "a.txt", 1, extract::HashCheck::None}, {1, "b.dll", 2, extract::HashCheck::None}};
  ExtractResultDialog dialog(nullptr, report, "/tmp/x/bin", [&](const std::string& f) { opened.push_back(f); });
  QCOMPARE(dialog.windowTitle(), QStringLiteral("Tarvik"));
  QCOMPARE(dialog.CloseButton()->text(), QStringLiteral("Close"));
  QCOMPARE(dialog.ViewButton()->text(), QStringLiteral("View File"));
  QCOMPARE(dialog.WrittenList()->topLevelItemCount(), 2);
  dialog.show();
  QVERIFY(QTest::qWaitForWindowExposed(&dialog));
  // "View File" opens the folder and leaves the dialog open; "Close" closes it.
  dialog.ViewButton()->click();
  QCOMPARE(opened, std::vector<std::string>{"/tmp/x/bin"});
  QVERIFY(dialog.isVisible());
  dialog.CloseButton()->click();
  QVERIFY(!dialog.isVisible());
  QCOMPARE(opened.size(), std::size_t{1});
}

void DialogsTest::extractReport() {
  // One dialog for the whole extraction: written files relative to the folder with their
  // sizes and check, the failed ones with their reasons, and the counts.
  ExtractReport report;
  report.folder = "/tmp/out/";
  report.written = {{0, "bin/demo/a.txt", 5, extract::HashCheck::Match},
                    {2, "bin/demo/sys/bin/b.exe", 123456, extract::HashCheck::Mismatch}};
  report.failures = {{1, "bin/demo/c.dat", "its data lies outside the package (the package is cut short or damaged)"}};
  std::vector<std::string> opened;
  ExtractResultDialog dialog(nullptr, report, "/tmp/out/bin", [&](const std::string& f) { opened.push_back(f); });
  QCOMPARE(dialog.windowTitle(), QStringLiteral("Tarvik"));
  QTreeWidget* written = dialog.WrittenList();
  QCOMPARE(written->topLevelItemCount(), 2);
  QCOMPARE(written->topLevelItem(0)->text(0), QStringLiteral("bin/demo/a.txt"));
  QCOMPARE(written->topLevelItem(1)->text(0), QStringLiteral("bin/demo/sys/bin/b.exe"));
  QCOMPARE(written->topLevelItem(1)->toolTip(1), QStringLiteral("123456 bytes"));
  QCOMPARE(written->topLevelItem(1)->text(2), QStringLiteral("DOES NOT MATCH"));
  QVERIFY(dialog.FailureList());
  QCOMPARE(dialog.FailureList()->topLevelItemCount(), 1);
  QCOMPARE(dialog.FailureList()->topLevelItem(0)->text(0), QStringLiteral("bin/demo/c.dat"));
  QVERIFY(dialog.FailureList()->topLevelItem(0)->text(1).contains(QStringLiteral("outside the package")));
  const QString summary = dialog.Summary()->text();
  QVERIFY2(summary.contains(QStringLiteral("2 files written")), qPrintable(summary));
  QVERIFY2(summary.contains(QStringLiteral("1 could not be written")), qPrintable(summary));
  QVERIFY2(summary.contains(QStringLiteral("SHA-1")), qPrintable(summary));
  dialog.ViewButton()->click();
  QCOMPARE(opened, std::vector<std::string>{"/tmp/out/bin"});
  // Nothing failed: no failure list.
  report.failures.clear();
  ExtractResultDialog clean(nullptr, report, "/tmp/out/bin", nullptr);
  QVERIFY(!clean.FailureList());
}

QTEST_MAIN(DialogsTest)
#include "test_dialogs.moc"
