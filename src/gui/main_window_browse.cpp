// The window's browsing aids: the context menus of the Files rows and the package tree, a
// file's Properties, the integrity test, the counts and the signature in the status bar,
// and the keyboard.

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLocale>
#include <QProcess>
#include <QShortcut>
#include <QStatusBar>

#include "extract/integrity.hpp"
#include "gui/dialogs.hpp"
#include "gui/file_properties.hpp"
#include "gui/main_window.hpp"

namespace tarvik::gui {

namespace {

QString Utf8(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

QString Bytes(std::uint64_t n) {
  return QLocale().formattedDataSize(static_cast<qint64>(n), 1, QLocale::DataSizeIecFormat);
}

}  // namespace

// ---- Context menus --------------------------------------------------------------------

std::unique_ptr<QMenu> MainWindow::MakeFilesMenu() {
  auto menu = std::make_unique<QMenu>(this);
  menu->setObjectName(QStringLiteral("filesMenu"));
  const std::vector<std::size_t> rows = SelectedRows();
  const bool one = rows.size() == 1, any = !rows.empty(), free = !running_ && !busy_;
  QAction* open = menu->addAction(tr("&Open"), this, [this] {
    const QModelIndex current = filesView_->currentIndex();
    if (current.isValid()) OpenFileAt(current);
  });
  open->setObjectName(QStringLiteral("filesOpen"));
  open->setEnabled(one && free);
  QAction* openWith = menu->addAction(tr("Open &With..."), this, [this, rows] { OpenWith(rows.front()); });
  openWith->setObjectName(QStringLiteral("filesOpenWith"));
  openWith->setEnabled(one && free);
  QAction* extract = menu->addAction(tr("&Extract..."), this, &MainWindow::mnExtrSel_Click);
  extract->setObjectName(QStringLiteral("filesExtract"));
  extract->setEnabled(any && mnExtrSel_->isEnabled());
  menu->addSeparator();
  QAction* copy = menu->addAction(tr("&Copy Path"), this, [this, rows] { CopyPaths(rows); });
  copy->setObjectName(QStringLiteral("filesCopyPath"));
  copy->setEnabled(any);
  QAction* props = menu->addAction(tr("&Properties"), this, [this, rows] { ShowProperties(static_cast<int>(rows.front())); });
  props->setObjectName(QStringLiteral("filesProperties"));
  props->setEnabled(one);
  return menu;
}

std::unique_ptr<QMenu> MainWindow::MakeTreeMenu() {
  auto menu = std::make_unique<QMenu>(this);
  menu->setObjectName(QStringLiteral("treeMenu"));
  QTreeWidgetItem* current = tree_->currentItem();
  const views::PackageFacts* facts =
      current ? &packageFacts_[static_cast<std::size_t>(current->data(0, Qt::UserRole).value<qulonglong>())].facts
              : nullptr;
  QAction* extract = menu->addAction(tr("&Extract This Package..."), this, [this, facts] {
    if (facts) ExtractPackage(facts->package);
  });
  extract->setObjectName(QStringLiteral("treeExtract"));
  extract->setEnabled(facts && mnExtr_->isEnabled());
  QAction* copy = menu->addAction(tr("Copy &UID"), this, [facts] {
    if (facts) QApplication::clipboard()->setText(Utf8(views::UidText(facts->uid)));
  });
  copy->setObjectName(QStringLiteral("treeCopyUid"));
  copy->setEnabled(facts != nullptr);
  QAction* props = menu->addAction(tr("&Properties"), this, [this] { tabs_->setCurrentWidget(factsTab_); });
  props->setObjectName(QStringLiteral("treeProperties"));
  props->setEnabled(facts != nullptr);
  return menu;
}

void MainWindow::CopyPaths(const std::vector<std::size_t>& rows) {
  QStringList paths;
  for (std::size_t r : rows) paths << Utf8(filesModel_->Row(static_cast<int>(r)).target);
  QApplication::clipboard()->setText(paths.join(QLatin1Char('\n')));
}

void MainWindow::OpenWith(std::size_t row) {
  auto dialog = MakeOpenDialog(this, "Programs|*", "Open With", QStringLiteral("/usr/bin"));
  if (desktop_->Exec(*dialog) != QDialog::Accepted) return;
  const std::optional<std::string> program = ChosenPath(*dialog);
  if (!program) return;
  const std::vector<QString> paths = ExtractToTemp({row}, "open");
  if (paths.empty()) {
    Tell({ops::Severity::Warning, kProgramName,
          "Tarvik could not take " + filesModel_->Row(static_cast<int>(row)).extractPath +
              " out of the package to open it: its data is missing or damaged."});
    return;
  }
  if (!QProcess::startDetached(QString::fromStdString(*program), {paths.front()}))
    Tell({ops::Severity::Warning, kProgramName, "Tarvik could not start " + *program + "."});
}

void MainWindow::ExtractPackage(const model::Package* package) {
  // The package's own files and those of the packages embedded in it.
  std::set<const model::Package*> chosen{package};
  for (bool grew = true; grew;) {
    grew = false;
    for (const views::PackageInTree& p : packageFacts_)
      if (p.parent >= 0 && chosen.count(packageFacts_[static_cast<std::size_t>(p.parent)].facts.package) &&
          chosen.insert(p.facts.package).second)
        grew = true;
  }
  std::vector<std::size_t> rows;
  const std::vector<views::FileRow>& files = commands_.Files();
  for (std::size_t i = 0; i < files.size(); ++i)
    if (chosen.count(files[i].package)) rows.push_back(i);
  if (rows.empty()) {
    Tell({ops::Severity::Note, kProgramName, "This package carries no files to extract."});
    return;
  }
  Run([this, &rows] { ExtractRows(&rows, false); }, false);
}

void MainWindow::ShowProperties(int row) {
  if (row < 0 || row >= filesModel_->rowCount() || !shown_) return;
  const QModelIndex cell = filesModel_->index(row, FilesModel::Sha1);
  const views::FileRow& r = filesModel_->Row(row);
  PropertiesDialog dialog(this, tr("Properties of %1").arg(FilesModel::NameOf(r)),
                          FileProperties(r, shown_->generation, filesModel_->data(cell, Qt::DisplayRole).toString(),
                                         filesModel_->ExecutableOf(row)));
  desktop_->Exec(dialog);
}

// ---- Integrity test -------------------------------------------------------------------

void MainWindow::mnTest_Click() {
  if (running_ || busy_ || !shown_ || commands_.Files().empty() || !shownItem_) return;
  const std::shared_ptr<const ops::Opened> item = shownItem_;
  extract::IntegrityReport report;
  WithProgress([&](ExtractionRun& run) {
    run.RunWork([&](extract::Reporter& r) { report = extract::TestIntegrity(*item->bytes, item->view.files, r); },
                item->view.files.size());
  });
  std::vector<std::size_t> rows(report.outcomes.size());
  for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = i;
  filesModel_->SetTested(rows, report.outcomes);
  const bool bad = report.Count(extract::Integrity::Mismatch) || report.Count(extract::Integrity::Damaged);
  statusBar()->showMessage(Utf8(report.Summary()), 10000);
  Tell({bad ? ops::Severity::Warning : ops::Severity::Note, kProgramName, report.Summary() + "."});
}

// ---- Status bar -----------------------------------------------------------------------

void MainWindow::ShowCounts() {
  const int all = filesModel_->rowCount(), shown = filesProxy_->rowCount();
  if (all == 0) {
    counts_->clear();
    counts_->hide();
    return;
  }
  const QLocale locale;
  QString text = shown == all ? (all == 1 ? tr("1 file") : tr("%1 files").arg(locale.toString(all)))
                              : tr("%1 of %2 shown").arg(locale.toString(shown), locale.toString(all));
  const std::vector<std::size_t> rows = SelectedRows();
  if (!rows.empty()) {
    std::uint64_t size = 0;
    for (std::size_t r : rows) size += filesModel_->Row(static_cast<int>(r)).uncompressedSize;
    text += QStringLiteral(" \u00B7 ") + tr("%1 selected, %2").arg(locale.toString(static_cast<qulonglong>(rows.size())), Bytes(size));
  }
  counts_->setText(text);
  counts_->show();
}

void MainWindow::ShowSignature() {
  signature_->hide();
  if (!shown_ || shown_->generation != model::Generation::Sis9) return;
  bool any = false, allVerify = true, selfSigned = false;
  if (signers_)
    for (const signers::Chain& c : signers_->chains) {
      if (c.packageOrdinal != shown_->ordinal) continue;
      any = true;
      selfSigned = selfSigned || c.trust == signers::Trust::SelfSigned;
      for (const signers::SignatureCheck& s : c.signatures) allVerify = allVerify && s.verdict == signers::Verdict::Verified;
      allVerify = allVerify && !c.signatures.empty();
    }
  QString text = !any ? tr("Unsigned") : allVerify ? (selfSigned ? tr("Self-signed, verifies") : tr("Signed, verifies"))
                                                    : tr("Signed, does not verify");
  signature_->setText(text);
  signature_->setToolTip(tr("How the package is signed; the Facts tab says by whom"));
  signature_->show();
}

// ---- Keyboard -------------------------------------------------------------------------

void MainWindow::SetUpKeyboard() {
  // Ctrl+F: to the filter of the Files tab.
  auto* find = new QShortcut(QKeySequence::Find, this);
  connect(find, &QShortcut::activated, this, [this] {
    tabs_->setCurrentWidget(filesTab_);
    filter_->setFocus(Qt::ShortcutFocusReason);
    filter_->selectAll();
  });
  filter_->installEventFilter(this);
  // Tab leaves the table instead of walking its cells.
  filesView_->setTabKeyNavigation(false);
  filesView_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(filesView_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    const QModelIndex index = filesView_->indexAt(at);
    if (index.isValid() && !filesView_->selectionModel()->isRowSelected(index.row(), {}))
      filesView_->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    if (index.isValid()) filesView_->setCurrentIndex(index);
    MakeFilesMenu()->exec(filesView_->viewport()->mapToGlobal(at));
  });
  tree_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(tree_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    if (QTreeWidgetItem* item = tree_->itemAt(at)) tree_->setCurrentItem(item);
    MakeTreeMenu()->exec(tree_->viewport()->mapToGlobal(at));
  });
  // Counts follow the filter and the selection.
  connect(filesProxy_, &QAbstractItemModel::modelReset, this, &MainWindow::ShowCounts);
  connect(filesProxy_, &QAbstractItemModel::layoutChanged, this, &MainWindow::ShowCounts);
  connect(filesProxy_, &QAbstractItemModel::rowsInserted, this, &MainWindow::ShowCounts);
  connect(filesProxy_, &QAbstractItemModel::rowsRemoved, this, &MainWindow::ShowCounts);
  connect(filesView_->selectionModel(), &QItemSelectionModel::selectionChanged, this, &MainWindow::ShowCounts);
}

// Keys of the filter box: Esc clears it, Down moves into the table.
bool MainWindow::FilterKey(QKeyEvent* key) {
  if (key->key() == Qt::Key_Escape && !filter_->text().isEmpty()) {
    filter_->clear();
    return true;
  }
  if (key->key() == Qt::Key_Down && filesProxy_->rowCount() > 0) {
    filesView_->setFocus(Qt::TabFocusReason);
    if (!filesView_->selectionModel()->hasSelection()) {
      const QModelIndex first = filesProxy_->index(0, 0);
      filesView_->setCurrentIndex(first);
      filesView_->selectionModel()->select(first, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    return true;
  }
  return false;
}

// ---- Progress -------------------------------------------------------------------------

void MainWindow::WithProgress(const std::function<void(ExtractionRun&)>& body) {
  SetBusy(true);
  SetExtractEnabled(false);
  ExtractionRun run;
  extraction_ = &run;
  cancel_->setEnabled(true);
  cancel_->show();
  progress_->setRange(0, 1000);
  progress_->setValue(0);
  progress_->show();
  progressText_->show();
  connect(&run, &ExtractionRun::progressed, this, [this](const extract::ProgressInfo& p) {
    if (p.bytesTotal)
      Progress(p.bytesDone, p.bytesTotal);
    else
      Progress(p.filesDone, p.filesTotal);
    // The bytes are those of the package read so far (packed), not of the files written.
    if (!extraction_ || !extraction_->CancelAsked())
      progressText_->setText(tr("%1 of %2 files, %3 of %4 read")
                                 .arg(p.filesDone)
                                 .arg(p.filesTotal)
                                 .arg(Bytes(p.bytesDone), Bytes(p.bytesTotal)));
  });
  body(run);
  extraction_ = nullptr;
  cancel_->hide();
  progress_->hide();
  progressText_->hide();
  SetBusy(false);
  SetExtractEnabled(true);
}

}  // namespace tarvik::gui
