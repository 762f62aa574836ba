#include "gui/main_window.hpp"

#include <unistd.h>

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLocale>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <QVBoxLayout>

#include <numeric>

#include "gui/about_box.hpp"
#include "operations/build.hpp"
#include "gui/dialogs.hpp"
#include "gui/extract_result_dialog.hpp"
#include "views/fact_list.hpp"
#include "gui/help.hpp"
#include "gui/logo.hpp"
#include "gui/window_rules.hpp"

namespace tarvik::gui {

namespace {

// The text area's font: Tahoma, or the closest sans-serif face the system has.
QFont TextAreaFont() {
  QFont font;
  font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans"),
                    QStringLiteral("Liberation Sans")});
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(9);
  return font;
}

QString FolderOf(const std::string& path) { return QFileInfo(QString::fromStdString(path)).absolutePath(); }

QString Utf8(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

QString SizeText(std::uint64_t bytes) {
  return QLocale().formattedDataSize(static_cast<qint64>(bytes), 1, QLocale::DataSizeIecFormat);
}

constexpr const char* kBuildFilter = "SIS File (.sis, .sisx)|*.sis;*.sisx|All Files|*.*";
constexpr const char* kBuildTitle = "Build Package";
constexpr const char* kUnsavedEdits = "The script has edits that are not saved.\r\nDrop them?";
constexpr const char* kExtractionRunning =
    "Files are still being extracted.\r\nCancel the extraction and close Tarvik? The files written so far stay; "
    "the one being written is removed.";

// Settings keys.
constexpr const char* kGeometryKey = "window/geometry";
constexpr const char* kSplitterKey = "window/splitter";
constexpr const char* kRecentKey = "recentFiles";
constexpr const char* kOpenFolderKey = "folders/open";
constexpr const char* kExtractFolderKey = "folders/extract";
constexpr const char* kSaveFolderKey = "folders/save";
constexpr const char* kWorkingDirKey = "workingDirectory";
constexpr const char* kRebuildScriptsKey = "extract/rebuildScripts";
constexpr const char* kLeaveOutPrefixKey = "extract/leaveOutPrefix";
constexpr const char* kOpenAfterKey = "extract/openFolderAfter";

}  // namespace

MainWindow::MainWindow(Platform platform, Desktop* desktop, QWidget* parent)
    : QMainWindow(parent),
      ownDesktop_(desktop ? nullptr : std::make_unique<Desktop>()),
      desktop_(desktop ? desktop : ownDesktop_.get()),
      commands_(*this, std::move(platform)) {
  setObjectName(QStringLiteral("frmMain"));
  setWindowIcon(ProgramIcon());
  setAcceptDrops(true);

  auto* central = new QWidget(this);
  central->setObjectName(QStringLiteral("centralWidget"));
  setCentralWidget(central);
  BuildBrowser(central);

  // The banner sits over the right-hand pane, hidden until Open or Reload shows it.
  picture1_ = new QLabel(central);
  picture1_->setObjectName(QStringLiteral("Picture1"));
  picture1_->setTextFormat(Qt::PlainText);
  picture1_->setFrameShape(QFrame::Box);
  picture1_->setMargin(8);
  picture1_->setAutoFillBackground(true);
  QPalette bannerPalette = picture1_->palette();
  bannerPalette.setColor(QPalette::Window, QColor(0xff, 0xff, 0xe1));
  bannerPalette.setColor(QPalette::WindowText, QColor(0x1f, 0x4e, 0x79));
  picture1_->setPalette(bannerPalette);
  QFont bannerFont = TextAreaFont();
  bannerFont.setBold(true);
  picture1_->setFont(bannerFont);
  picture1_->hide();

  BuildStatusBar();
  BuildMenus();
  SetUpKeyboard();
  setWindowTitle(QString::fromLatin1(kProgramName));
  resize(960, 640);
  splitter_->setSizes({220, 740});

  commands_.Form_Load();
  LoadSettings();
  ShowPackage();
  mnFile_Click();
}

MainWindow::~MainWindow() {
  if (busy_) QApplication::restoreOverrideCursor();
}

// ---- Building -------------------------------------------------------------------------

void MainWindow::BuildBrowser(QWidget* central) {
  splitter_ = new QSplitter(Qt::Horizontal, central);
  splitter_->setObjectName(QStringLiteral("splitter"));
  splitter_->setChildrenCollapsible(false);

  tree_ = new QTreeWidget(splitter_);
  tree_->setObjectName(QStringLiteral("packageTree"));
  tree_->setHeaderLabel(tr("Packages"));
  tree_->setMinimumWidth(140);
  connect(tree_, &QTreeWidget::currentItemChanged, this, [this] { ShowFacts(); });

  tabs_ = new QTabWidget(splitter_);
  tabs_->setObjectName(QStringLiteral("tabs"));

  BuildFilesTab();
  BuildFactsTab();
  BuildScriptTab();
  BuildChecksTab();

  tabs_->addTab(filesTab_, tr("Files"));
  tabs_->addTab(factsTab_, tr("Facts"));
  tabs_->addTab(scriptTab_, tr("Script"));
  tabs_->addTab(checksTab_, tr("Checks"));
  tabs_->setCurrentWidget(scriptTab_);

  splitter_->addWidget(tree_);
  splitter_->addWidget(tabs_);
  splitter_->setStretchFactor(0, 0);
  splitter_->setStretchFactor(1, 1);

  // The splitter fills the central area, which the window keeps between the menu bar and
  // the status bar.
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(splitter_);
}

void MainWindow::BuildFilesTab() {
  // Files: the filter, the folders, the table, the preview, the extract options and buttons.
  filesTab_ = new QWidget(tabs_);
  filesTab_->setObjectName(QStringLiteral("filesTab"));
  filter_ = new QLineEdit(filesTab_);
  filter_->setObjectName(QStringLiteral("filter"));
  filter_->setPlaceholderText(tr("Filter by name or target path"));
  filter_->setClearButtonEnabled(true);
  filesModel_ = new FilesModel(this);
  filesProxy_ = new FilesProxy(filesModel_, this);
  filesView_ = new QTableView(filesTab_);
  filesView_->setObjectName(QStringLiteral("filesView"));
  filesView_->setModel(filesProxy_);
  filesView_->setSelectionBehavior(QAbstractItemView::SelectRows);
  filesView_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  filesView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  filesView_->setDragEnabled(true);
  filesView_->setDragDropMode(QAbstractItemView::DragOnly);
  filesView_->setDefaultDropAction(Qt::CopyAction);
  filesView_->setWordWrap(false);
  filesView_->setAlternatingRowColors(true);
  filesView_->verticalHeader()->hide();
  filesView_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  filesView_->verticalHeader()->setDefaultSectionSize(filesView_->fontMetrics().height() + 6);
  // The package's own order until a heading is clicked.
  filesView_->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
  filesView_->setSortingEnabled(true);
  filesView_->horizontalHeader()->setStretchLastSection(true);
  const int widths[] = {190, 230, 75, 85, 85, 170, 110, 150};
  for (int c = 0; c < 8; ++c) filesView_->setColumnWidth(c, widths[c]);
  connect(filter_, &QLineEdit::textChanged, filesProxy_, &FilesProxy::SetText);
  connect(filesView_, &QAbstractItemView::activated, this, &MainWindow::OpenFileAt);
  connect(filesView_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &MainWindow::UpdateSelectionActions);
  filesModel_->dragFiles = [this](const std::vector<std::size_t>& rows) {
    QList<QUrl> urls;
    for (const QString& path : ExtractToTemp(rows, "drag")) urls << QUrl::fromLocalFile(path);
    return urls;
  };
  BuildExtractOptions();
  BuildFilePanes();
  auto* filesLayout = new QVBoxLayout(filesTab_);
  filesLayout->setContentsMargins(4, 4, 4, 4);
  auto* filterRow = new QHBoxLayout;
  filterRow->addWidget(showFolders_);
  filterRow->addWidget(filter_, 1);
  filterRow->addWidget(showPreview_);
  filesLayout->addLayout(filterRow);
  auto* panes = new QSplitter(Qt::Horizontal, filesTab_);
  panes->setObjectName(QStringLiteral("filesPanes"));
  panes->setChildrenCollapsible(false);
  panes->addWidget(folders_);
  panes->addWidget(filesView_);
  panes->addWidget(preview_);
  panes->setStretchFactor(1, 1);
  filesLayout->addWidget(panes, 1);
  auto* options = new QHBoxLayout;
  options->addWidget(rebuildScripts_);
  options->addWidget(leaveOutPrefix_);
  options->addWidget(openAfter_);
  options->addStretch(1);
  filesLayout->addLayout(options);
  auto* filesButtons = new QHBoxLayout;
  filesButtons->addStretch(1);
  filesButtons->addWidget(extractHere_);
  filesButtons->addWidget(extractSelected_);
  filesButtons->addWidget(extractAll_);
  filesLayout->addLayout(filesButtons);
}

void MainWindow::BuildExtractOptions() {
  extractSelected_ = new QPushButton(tr("Extract &Selected..."), filesTab_);
  extractSelected_->setObjectName(QStringLiteral("extractSelected"));
  extractAll_ = new QPushButton(tr("Extract All..."), filesTab_);
  extractAll_->setObjectName(QStringLiteral("extractAll"));
  connect(extractSelected_, &QPushButton::clicked, this, &MainWindow::mnExtrSel_Click);
  connect(extractAll_, &QPushButton::clicked, this, &MainWindow::mnExtr_Click);
  rebuildScripts_ = new QCheckBox(tr("Also write PKG files for rebuilding"), filesTab_);
  rebuildScripts_->setObjectName(QStringLiteral("rebuildScripts"));
  rebuildScripts_->setToolTip(tr("Extract All also writes one PKG file per package beside the extracted files, "
                                 "ready for the SDK's package builder"));
  connect(rebuildScripts_, &QCheckBox::toggled, this, [this](bool on) {
    if (settings_) settings_->setValue(kRebuildScriptsKey, on);
  });
  leaveOutPrefix_ = new QCheckBox(tr("Leave out bin\\<package>\\"), filesTab_);
  leaveOutPrefix_->setObjectName(QStringLiteral("leaveOutPrefix"));
  leaveOutPrefix_->setToolTip(tr("Write the files straight into the chosen folder, by their paths on the device"));
  openAfter_ = new QCheckBox(tr("Open the folder afterwards"), filesTab_);
  openAfter_->setObjectName(QStringLiteral("openAfter"));
  extractHere_ = new QPushButton(tr("Extract &Here"), filesTab_);
  extractHere_->setObjectName(QStringLiteral("extractHere"));
  extractHere_->setToolTip(tr("Extract into the folder that holds the package"));
  connect(extractHere_, &QPushButton::clicked, this, [this] { ExtractAllOrShown(true); });
  connect(leaveOutPrefix_, &QCheckBox::toggled, this, [this](bool on) {
    if (settings_) settings_->setValue(kLeaveOutPrefixKey, on);
  });
  connect(openAfter_, &QCheckBox::toggled, this, [this](bool on) {
    if (settings_) settings_->setValue(kOpenAfterKey, on);
  });
}

void MainWindow::BuildFactsTab() {
  // Facts: a key and value table and Copy.
  factsTab_ = new QWidget(tabs_);
  factsTab_->setObjectName(QStringLiteral("factsTab"));
  facts_ = new QTableWidget(0, 2, factsTab_);
  facts_->setObjectName(QStringLiteral("factsTable"));
  facts_->setHorizontalHeaderLabels({tr("Fact"), tr("Value")});
  facts_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  facts_->setSelectionBehavior(QAbstractItemView::SelectRows);
  facts_->verticalHeader()->hide();
  facts_->verticalHeader()->setDefaultSectionSize(facts_->fontMetrics().height() + 6);
  facts_->horizontalHeader()->setStretchLastSection(true);
  facts_->setColumnWidth(0, 220);
  facts_->setWordWrap(false);
  copyFacts_ = new QPushButton(tr("Copy as Text"), factsTab_);
  copyFacts_->setObjectName(QStringLiteral("copyFacts"));
  connect(copyFacts_, &QPushButton::clicked, this, [this] { QApplication::clipboard()->setText(FactsText()); });
  auto* factsLayout = new QVBoxLayout(factsTab_);
  factsLayout->setContentsMargins(4, 4, 4, 4);
  factsLayout->addWidget(facts_, 1);
  auto* factsButtons = new QHBoxLayout;
  factsButtons->addStretch(1);
  factsButtons->addWidget(copyFacts_);
  factsLayout->addLayout(factsButtons);
}

void MainWindow::BuildScriptTab() {
  // Script: the text area of the PKG script, where the window opens.
  scriptTab_ = new QWidget(tabs_);
  scriptTab_->setObjectName(QStringLiteral("scriptTab"));
  text1_ = new QPlainTextEdit(scriptTab_);
  text1_->setObjectName(QStringLiteral("Text1"));
  text1_->setFont(TextAreaFont());
  text1_->setLineWrapMode(QPlainTextEdit::NoWrap);
  text1_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  text1_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  connect(text1_, &QPlainTextEdit::textChanged, this, [this] {
    if (!settingText_) textEdited_ = true;
  });
  connect(text1_->document(), &QTextDocument::modificationChanged, this, [this] { UpdateTitle(); });
  // A dropped file opens; its address never lands in the script.
  text1_->installEventFilter(this);
  text1_->viewport()->installEventFilter(this);
  auto* scriptLayout = new QVBoxLayout(scriptTab_);
  scriptLayout->setContentsMargins(0, 0, 0, 0);
  scriptLayout->addWidget(text1_);
}

void MainWindow::BuildStatusBar() {
  summary_ = new QLabel(this);
  summary_->setObjectName(QStringLiteral("summary"));
  // Cut rather than pushed under the progress when the window is narrow; the tooltip has it whole.
  summary_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  statusBar()->addWidget(summary_, 2);
  counts_ = new QLabel(this);
  counts_->setObjectName(QStringLiteral("counts"));
  counts_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  counts_->hide();
  statusBar()->addWidget(counts_, 1);
  signature_ = new QLabel(this);
  signature_->setObjectName(QStringLiteral("signature"));
  signature_->hide();
  statusBar()->addPermanentWidget(signature_);

  progressText_ = new QLabel(this);
  progressText_->setObjectName(QStringLiteral("progressText"));
  progressText_->hide();
  statusBar()->addPermanentWidget(progressText_);
  progress_ = new QProgressBar(this);
  progress_->setObjectName(QStringLiteral("progressBar"));
  progress_->setMaximumWidth(200);
  progress_->hide();
  statusBar()->addPermanentWidget(progress_);
  cancel_ = new QPushButton(tr("Cancel"), this);
  cancel_->setObjectName(QStringLiteral("cancelExtraction"));
  cancel_->hide();
  connect(cancel_, &QPushButton::clicked, this, [this] {
    if (extraction_) {
      extraction_->Cancel();
      cancel_->setEnabled(false);
      progressText_->setText(tr("Cancelling..."));
    }
  });
  statusBar()->addPermanentWidget(cancel_);

  wdLabel_ = new QLabel(this);
  wdLabel_->setObjectName(QStringLiteral("workingDirectory"));
  statusBar()->addPermanentWidget(wdLabel_);
  wdClear_ = new QToolButton(this);
  wdClear_->setObjectName(QStringLiteral("clearWorkingDirectory"));
  wdClear_->setText(QStringLiteral("\u00D7"));
  wdClear_->setAutoRaise(true);
  wdClear_->setToolTip(tr("Clear the Working Directory"));
  connect(wdClear_, &QToolButton::clicked, this, &MainWindow::mnClearWD_Click);
  statusBar()->addPermanentWidget(wdClear_);
}

QAction* MainWindow::AddAction(QMenu* menu, const QString& caption, const char* name, const QKeySequence& shortcut,
                               void (MainWindow::*slot)()) {
  QAction* action = menu->addAction(caption);
  action->setObjectName(QString::fromLatin1(name));
  if (!shortcut.isEmpty()) action->setShortcut(shortcut);
  connect(action, &QAction::triggered, this, slot);
  return action;
}

void MainWindow::BuildMenus() {
  QMenuBar* bar = menuBar();
  // Captions carry mnemonics (Alt+F opens File); the "&" is not shown.
  mnFile_ = bar->addMenu(QStringLiteral("&File"));
  mnFile_->setObjectName(QStringLiteral("mnFile"));
  mnOpen_ = AddAction(mnFile_, QStringLiteral("&Open..."), "mnOpen", QKeySequence(Qt::CTRL | Qt::Key_O),
                      &MainWindow::mnOpen_Click);
  mnRecent_ = mnFile_->addMenu(tr("Open R&ecent"));
  mnRecent_->setObjectName(QStringLiteral("mnRecent"));
  mnRecent_->menuAction()->setObjectName(QStringLiteral("mnRecentMenu"));
  connect(mnRecent_, &QMenu::aboutToShow, this, &MainWindow::FillRecentMenu);
  mnSave_ = AddAction(mnFile_, QStringLiteral("Save &As..."), "mnSave", QKeySequence(Qt::CTRL | Qt::Key_S),
                      &MainWindow::mnSave_Click);
  mnFile_->addSeparator();
  mnClose_ = AddAction(mnFile_, QStringLiteral("&Close"), "mnClose", QKeySequence(Qt::CTRL | Qt::Key_I),
                       &MainWindow::mnClose_Click);
  mnReload_ = AddAction(mnFile_, QStringLiteral("&Reload"), "mnReload", QKeySequence(Qt::CTRL | Qt::Key_R),
                        &MainWindow::mnReload_Click);
  mnFile_->addSeparator();
  mnExtr_ = AddAction(mnFile_, QStringLiteral("E&xtract"), "mnExtr", QKeySequence(Qt::CTRL | Qt::Key_E),
                      &MainWindow::mnExtr_Click);
  mnExtrSel_ = AddAction(mnFile_, tr("Extract Selected..."), "mnExtrSel", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E),
                         &MainWindow::mnExtrSel_Click);
  mnBuild_ = AddAction(mnFile_, tr("&Build Package..."), "mnBuild", QKeySequence(Qt::CTRL | Qt::Key_B),
                       &MainWindow::mnBuild_Click);
  mnTest_ = AddAction(mnFile_, tr("&Test Integrity"), "mnTest", QKeySequence(Qt::CTRL | Qt::Key_T),
                      &MainWindow::mnTest_Click);
  mnFile_->addSeparator();
  mnExit_ = AddAction(mnFile_, QStringLiteral("E&xit"), "mnExit", QKeySequence(Qt::CTRL | Qt::Key_Q),
                      &MainWindow::mnExit_Click);
  connect(mnFile_, &QMenu::aboutToShow, this, &MainWindow::mnFile_Click);

  mnSetting_ = bar->addMenu(QStringLiteral("&Setting"));
  mnSetting_->setObjectName(QStringLiteral("mnSetting"));
  mnWD_ = AddAction(mnSetting_, QStringLiteral("&Working Directory"), "mnWD", {}, &MainWindow::mnWD_Click);
  mnClearWD_ = AddAction(mnSetting_, tr("&Clear Working Directory"), "mnClearWD", {}, &MainWindow::mnClearWD_Click);

  mnHelp_ = bar->addMenu(QStringLiteral("&Help"));
  mnHelp_->setObjectName(QStringLiteral("mnHelp"));
  mnDl1_ = AddAction(mnHelp_, QStringLiteral("Tarvik On the &Web"), "mnDl1", {}, &MainWindow::mnDl1_Click);
  mndl2_ = AddAction(mnHelp_, QStringLiteral("&Download Brimond"), "mndl2", {}, &MainWindow::mndl2_Click);
  mnAbout_ = AddAction(mnHelp_, QStringLiteral("&About  Tarvik"), "mnAbout", {}, &MainWindow::mnAbout_Click);
  for (QAction* a : {mnDl1_, mndl2_}) a->setStatusTip(tr("Opens the README installed with Tarvik"));

  // Close answers Ctrl+W too, as in most programs.
  mnClose_->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_I), QKeySequence(Qt::CTRL | Qt::Key_W)});
  // Shortcuts work while the text area has the focus too.
  for (QAction* a : {mnOpen_, mnSave_, mnClose_, mnReload_, mnExtr_, mnExtrSel_, mnBuild_, mnTest_, mnExit_})
    a->setShortcutContext(Qt::WindowShortcut);
}

// ---- Commands -------------------------------------------------------------------------

void MainWindow::Run(const std::function<void()>& command, bool replaces) {
  if (running_ || busy_) return;
  running_ = true;
  if (replaces) {
    // The command may let go of the package the views show.
    filesModel_->Clear();
    filesModel_->SetExecutables(nullptr);
    executables_.clear();
    tree_->clear();
    shown_.reset();
    shownItem_.reset();
  }
  try {
    command();
  } catch (...) {
    // The command ends silently, as an error trap would end it.
    HideBanner();
    SetBusy(false);
  }
  running_ = false;
  if (replaces) ShowPackage();
  mnFile_Click();
}

void MainWindow::mnFile_Click() {
  const window::FileMenuState items = commands_.mnFile_Click();
  mnSave_->setEnabled(items.save);
  mnReload_->setEnabled(items.reload);
  mnClose_->setEnabled(items.close);
  mnBuild_->setEnabled(items.save && !busy_);
  mnExtr_->setEnabled(items.extract && !busy_);
  extractAll_->setEnabled(items.extract && !busy_);
  extractHere_->setEnabled(items.extract && !busy_);
  mnTest_->setEnabled(items.extract && !busy_ && shown_ && !shown_->stub);
  UpdateSelectionActions();
}

void MainWindow::UpdateSelectionActions() {
  const bool can = commands_.mnFile_Click().extract && !busy_ && filesView_->selectionModel()->hasSelection();
  mnExtrSel_->setEnabled(can);
  extractSelected_->setEnabled(can);
}

bool MainWindow::HasUnsavedEdits() const { return text1_->document()->isModified(); }

bool MainWindow::MayDropEdits() {
  if (!HasUnsavedEdits()) return true;
  return Ask({ops::QuestionKind::DropEdits, kProgramName, kUnsavedEdits});
}

void MainWindow::mnOpen_Click() {
  if (running_ || busy_) return;
  if (!MayDropEdits()) {
    pendingOpen_.reset();
    return;
  }
  const std::shared_ptr<const ops::Opened> before = commands_.State().item;
  Run([this] { commands_.mnOpen_Click(); });
  pendingOpen_.reset();
  // A file that did not open, or one of the window's own temporary files, is not recent.
  const std::string& opened = commands_.State().openedFile;
  const std::optional<std::string> tmp = commands_.platform().TempDir();
  const bool temporary = tmp && !tmp->empty() && opened.rfind(*tmp, 0) == 0;
  if (commands_.State().item != before && !opened.empty() && fsys::FileExists(opened) && !temporary)
    AddRecent(QString::fromStdString(opened));
}

void MainWindow::OpenPath(const QString& path) {
  pendingOpen_ = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()).toStdString();
  mnOpen_Click();
}

// The items below are enabled only when the File-menu rule allows them; a shortcut pressed
// after the file vanished is checked here again.
void MainWindow::mnSave_Click() {
  Run(
      [this] {
        if (!commands_.mnFile_Click().save) return;
        savedTo_.reset();
        replaceConfirmed_.reset();
        commands_.mnSave_Click();
        replaceConfirmed_.reset();
        // Saved as a script or text file: the edits are in the file now (a session file
        // keeps the text the package gave).
        if (savedTo_ && !EndsWithNoCase(*savedTo_, "qsd")) {
          Bytes written;
          const std::string expected = Text() + "\r\n";
          if (fsys::ReadWholeFile(*savedTo_, written) &&
              std::string(written.begin(), written.end()) == expected) {
            shownText_ = Text();
            textEdited_ = false;
            text1_->document()->setModified(false);
          }
        }
      },
      false);
}

void MainWindow::mnClose_Click() {
  if (running_ || busy_ || !MayDropEdits()) return;
  Run([this] {
    if (commands_.mnFile_Click().close) commands_.mnClose_Click();
  });
}

void MainWindow::mnReload_Click() {
  if (running_ || busy_ || !MayDropEdits()) return;
  Run([this] {
    if (commands_.mnFile_Click().reload) commands_.mnReload_Click();
  });
}

void MainWindow::mnExtr_Click() { ExtractAllOrShown(false); }

void MainWindow::ExtractAllOrShown(bool here) {
  // With a filter or a package of the tree narrowing the table, the person says whether the
  // files shown or every file are meant.
  const int shown = filesProxy_->rowCount(), all = filesModel_->rowCount();
  std::vector<std::size_t> visible;
  if (shown < all && !running_ && !busy_ && commands_.mnFile_Click().extract) {
    auto box = MakeBox(this, kProgramName,
                       QStringLiteral("The table shows %1 of the %2 files.\r\nExtract only the files shown, or all %2?")
                           .arg(shown)
                           .arg(all)
                           .toStdString(),
                       QMessageBox::Question, QMessageBox::Yes | QMessageBox::YesToAll | QMessageBox::Cancel);
    box->button(QMessageBox::Yes)->setText(tr("Only &These %1").arg(shown));
    box->button(QMessageBox::YesToAll)->setText(tr("&All %1").arg(all));
    box->setDefaultButton(QMessageBox::Yes);
    const int answer = desktop_->Exec(*box);
    if (answer == QMessageBox::Cancel) return;
    if (answer == QMessageBox::Yes)
      for (int i = 0; i < shown; ++i)
        visible.push_back(static_cast<std::size_t>(filesProxy_->mapToSource(filesProxy_->index(i, 0)).row()));
    std::sort(visible.begin(), visible.end());
  }
  Run([this, &visible, here] { ExtractRows(visible.empty() ? nullptr : &visible, here); }, false);
}

void MainWindow::mnExtrSel_Click() {
  const std::vector<std::size_t> rows = SelectedRows();
  if (rows.empty()) return;
  Run([this, &rows] { ExtractRows(&rows, false); }, false);
}

void MainWindow::mnExit_Click() { close(); }

void MainWindow::mnBuild_Click() {
  Run(
      [this] {
        if (!commands_.mnFile_Click().save) return;
        const std::string opened = commands_.State().openedFile;
        const std::string stem = QFileInfo(QString::fromStdString(opened)).completeBaseName().toStdString();
        const auto out = ChooseSaveFile(kBuildFilter, kBuildTitle, (stem.empty() ? "Unnamed" : stem) + ".sis");
        // The dialog asked before an existing file is replaced.
        if (!out || out->empty()) return;
        replaceConfirmed_.reset();
        // Source names are found beside the opened file, or in the Working Directory.
        ops::BuildRequest request;
        request.text = Text();
        request.sourceFolder = commands_.State().sourceFolder.empty() ? FolderOf(opened).toStdString()
                                                                      : commands_.State().sourceFolder;
        request.outPath = *out;
        ShowBuildReport(ops::BuildFromText(request, commands_.platform()), *out);
      },
      false);
}

void MainWindow::ShowBuildReport(const ops::BuildReport& report, const std::string& out) {
  if (report.errors.empty()) {
    Tell({ops::Severity::Note, kProgramName, "The package was built: " + out});
    return;
  }
  std::string text = "The package was not built:";
  for (const std::string& e : report.errors) text += "\r\n" + e;
  Tell({ops::Severity::Error, kProgramName, text});
  if (!report.firstErrorLine) return;
  // The line of the first error, selected in the script.
  tabs_->setCurrentWidget(scriptTab_);
  QTextCursor cursor(text1_->document()->findBlockByNumber(*report.firstErrorLine - 1));
  cursor.select(QTextCursor::LineUnderCursor);
  text1_->setTextCursor(cursor);
  text1_->setFocus();
}

void MainWindow::mnWD_Click() {
  const std::string before = commands_.State().sourceFolder;
  Run([this] { commands_.mnWD_Click(); }, false);
  if (settings_) settings_->setValue(kWorkingDirKey, QString::fromStdString(commands_.State().sourceFolder));
  ShowWorkingDirectory();
  if (commands_.State().sourceFolder != before) ApplyWorkingDirectory();
}

void MainWindow::mnClearWD_Click() {
  const bool had = !commands_.State().sourceFolder.empty();
  commands_.SetSourceFolder({});
  if (settings_) settings_->remove(kWorkingDirKey);
  ShowWorkingDirectory();
  if (had) ApplyWorkingDirectory();
}

void MainWindow::ApplyWorkingDirectory() {
  // The script of an open package names its sources under the Working Directory: it is
  // written again at once, unless the person edited it.
  if (running_ || busy_ || !shown_ || shown_->generation == model::Generation::Unknown || HasUnsavedEdits()) return;
  if (!commands_.mnFile_Click().reload) return;
  Run([this] { commands_.mnReload_Click(); });
}

void MainWindow::OpenReadme() {
  const QString readme = ReadmePath();
  if (readme.isEmpty()) {
    Tell({ops::Severity::Warning, kProgramName,
          "The README of Tarvik was not found. It is installed with the program under share/doc/tarvik."});
    return;
  }
  OpenWithDesktop(QUrl::fromLocalFile(readme));
}

void MainWindow::mnDl1_Click() { OpenReadme(); }

void MainWindow::mndl2_Click() { OpenReadme(); }

void MainWindow::mnAbout_Click() {
  AboutBox box(this, [this](const QUrl& url) { OpenWithDesktop(url); });
  desktop_->Exec(box);
}

// ---- Extraction -----------------------------------------------------------------------

std::vector<std::size_t> MainWindow::SelectedRows() const {
  std::vector<std::size_t> rows;
  for (const QModelIndex& i : filesView_->selectionModel()->selectedRows())
    rows.push_back(static_cast<std::size_t>(filesProxy_->mapToSource(i).row()));
  std::sort(rows.begin(), rows.end());
  return rows;
}

void MainWindow::ExtractRows(const std::vector<std::size_t>* rows, bool here) {
  ops::ExtractRequest request;
  if (rows) request.rows = *rows;
  // Build-ready PKG files name every file of the package: only a whole extraction writes them.
  request.rebuildScripts = !rows && rebuildScripts_->isChecked();
  request.leaveOutPrefix = leaveOutPrefix_->isChecked();
  // Extract Here: into the folder that holds the package.
  if (here) request.folder = FolderOf(commands_.State().openedFile).toStdString();
  const ops::ExtractJob job = commands_.PrepareExtraction(std::move(request));
  if (job.status == ops::ExtractStatus::Refused || job.status == ops::ExtractStatus::Declined ||
      job.status == ops::ExtractStatus::Kept)
    return;
  const ops::ExtractReport report = RunInBackground(job);
  filesModel_->SetStates(job.positions, report.result);
  if (closeAfterExtraction_) {
    QTimer::singleShot(0, this, &QWidget::close);
    return;
  }
  for (const ops::Message& m : report.messages)
    if (m.severity == ops::Severity::Note) Tell(m);
  ShowExtractReport(job, report);
  if (openAfter_->isChecked() && report.result.extracted > 0 && !report.result.cancelled)
    OpenFolder(job.leaveOutPrefix ? job.folder : job.folder + "bin");
}

ops::ExtractReport MainWindow::RunInBackground(const ops::ExtractJob& job) {
  ops::ExtractReport report;
  WithProgress([&](ExtractionRun& run) { report = run.Run(job); });
  return report;
}

void MainWindow::ShowExtractReport(const ops::ExtractJob& job, const ops::ExtractReport& report) {
  const extract::Result& result = report.result;
  if (result.extracted == 0 && result.failures.empty() && !result.cancelled && report.error.empty() &&
      report.scripts.empty() && report.scriptFailures.empty())
    return;
  if (result.extracted > 0) Beep();
  ExtractReport shown;
  shown.folder = job.folder;
  shown.written = result.written;
  // The build-ready PKG files, listed with the extracted files.
  for (const std::string& path : report.scripts) {
    const QFileInfo info(QString::fromStdString(job.folder + path));
    shown.written.push_back({job.item->view.files.size(), QDir::toNativeSeparators(QString::fromStdString(path)).toStdString(),
                             static_cast<std::uint64_t>(info.size()), extract::HashCheck::None});
  }
  shown.failures = result.failures;
  shown.cancelled = result.cancelled;
  shown.error = report.error;
  for (const std::string& text : report.scriptFailures) shown.error += (shown.error.empty() ? "" : "\n") + text;
  ExtractResultDialog dialog(this, shown, job.folder + "bin", [this](const std::string& f) { OpenFolder(f); });
  desktop_->Exec(dialog);
}

std::vector<QString> MainWindow::ExtractToTemp(const std::vector<std::size_t>& rows, const char* purpose) {
  std::vector<QString> paths;
  if (running_ || busy_ || rows.empty()) return paths;
  const std::optional<std::string> tmp = commands_.platform().TempDir();
  if (!tmp) return paths;
  const std::string folder = JoinPath(JoinPath(*tmp, "Brimond"), std::string(purpose) + "-" +
                                                                     std::to_string(::getpid()) + "-" +
                                                                     std::to_string(++tempRuns_));
  if (!QDir().mkpath(QString::fromStdString(folder))) return paths;
  tempFolders_ << QString::fromStdString(folder);
  ops::ExtractRequest request;
  request.folder = folder;
  request.rows = rows;
  const ops::ExtractJob job = ops::PrepareExtraction(commands_.State().item, request, *this);
  extract::QuietReporter quiet;
  const ops::ExtractReport report = ops::RunExtraction(job, quiet);
  for (const extract::WrittenFile& w : report.result.written)
    paths.push_back(QString::fromStdString(JoinPath(folder, w.path)));
  return paths;
}

void MainWindow::OpenFileAt(const QModelIndex& index) {
  if (!index.isValid() || running_ || busy_) return;
  const int row = filesProxy_->mapToSource(index).row();
  if (row < 0) return;
  const std::vector<QString> paths = ExtractToTemp({static_cast<std::size_t>(row)}, "open");
  if (paths.empty()) {
    Tell({ops::Severity::Warning, kProgramName,
          "Tarvik could not take " + filesModel_->Row(row).extractPath +
              " out of the package to open it: its data is missing or damaged."});
    return;
  }
  OpenWithDesktop(QUrl::fromLocalFile(paths.front()));
}

// ---- Showing the package --------------------------------------------------------------

void MainWindow::ShowPackage() {
  const std::shared_ptr<const ops::Opened>& item = commands_.State().item;
  shownItem_ = item;
  shown_ = item ? item->package : nullptr;
  const bool isPackage = shown_ && shown_->generation != model::Generation::Unknown;
  filesModel_->SetRows(isPackage ? &item->view.files : nullptr);
  executables_.clear();
  if (isPackage && item->bytes) executables_ = views::ExecutablesOf(*shown_, item->bytes->Span());
  filesModel_->SetExecutables(&executables_);
  filesProxy_->SetPackages({});
  signers_.reset();
  if (isPackage && shown_->generation == model::Generation::Sis9 && shown_->controllerRead && !item->bytes->empty())
    signers_ = signers::Inspect(*shown_, *item->bytes);
  tree_->clear();
  packageFacts_.clear();
  if (isPackage) {
    packageFacts_ = views::FactsOfTree(*shown_);
    std::vector<QTreeWidgetItem*> items;
    for (std::size_t i = 0; i < packageFacts_.size(); ++i) {
      const views::PackageFacts& f = packageFacts_[i].facts;
      const int parent = packageFacts_[i].parent;
      const model::Version& v = f.package->version;
      const QString name = f.names.empty() ? tr("(no name)") : Utf8(f.Name());
      const QString version = QStringLiteral("%1.%2.%3").arg(v.major).arg(v.minor).arg(v.build);
      auto* item = parent < 0 ? new QTreeWidgetItem(tree_) : new QTreeWidgetItem(items[static_cast<std::size_t>(parent)]);
      item->setText(0, name + QStringLiteral("  ") + version);
      item->setToolTip(0, QStringLiteral("UID 0x%1").arg(QString::number(f.uid, 16).rightJustified(8, QLatin1Char('0')).toUpper()));
      item->setData(0, Qt::UserRole, QVariant::fromValue<qulonglong>(i));
      items.push_back(item);
    }
    tree_->expandAll();
    if (!items.empty()) tree_->setCurrentItem(items.front());
  }
  FillFolders();
  ShowChecks();
  ShowFacts();
  ShowSummary();
  ShowSignature();
  ShowCounts();
  ShowWorkingDirectory();
}

void MainWindow::ShowFacts() {
  facts_->setRowCount(0);
  QTreeWidgetItem* current = tree_->currentItem();
  if (!shown_ || !current) {
    filesProxy_->SetPackages({});
    return;
  }
  auto factsOf = [&](const QTreeWidgetItem* item) -> const views::PackageFacts& {
    return packageFacts_[static_cast<std::size_t>(item->data(0, Qt::UserRole).value<qulonglong>())].facts;
  };
  const views::PackageFacts& chosen = factsOf(current);
  // The Files tab shows the files of the chosen package and of those embedded in it.
  std::set<const model::Package*> packages;
  if (chosen.embedded) {
    std::vector<QTreeWidgetItem*> stack{current};
    while (!stack.empty()) {
      QTreeWidgetItem* item = stack.back();
      stack.pop_back();
      packages.insert(factsOf(item).package);
      for (int i = 0; i < item->childCount(); ++i) stack.push_back(item->child(i));
    }
  }
  filesProxy_->SetPackages(std::move(packages));
  const std::vector<views::Fact> facts = views::FactList(chosen, commands_.Files(), signers_ ? &*signers_ : nullptr);
  facts_->setRowCount(static_cast<int>(facts.size()));
  for (int i = 0; i < static_cast<int>(facts.size()); ++i) {
    const views::Fact& f = facts[static_cast<std::size_t>(i)];
    facts_->setItem(i, 0, new QTableWidgetItem(Utf8(f.first)));
    auto* value = new QTableWidgetItem(Utf8(f.second));
    value->setToolTip(Utf8(f.second));
    facts_->setItem(i, 1, value);
  }
}

QString MainWindow::FactsText() const {
  QString text;
  for (int i = 0; i < facts_->rowCount(); ++i)
    text += facts_->item(i, 0)->text() + QLatin1Char('\t') + facts_->item(i, 1)->text() + QLatin1Char('\n');
  return text;
}

void MainWindow::ShowSummary() {
  const std::string& file = commands_.State().openedFile;
  if (file.empty()) {
    summary_->setText(QString::fromLatin1(kEmptyHint));
    return;
  }
  if (!shown_ || shown_->generation == model::Generation::Unknown) {
    const QString name = QFileInfo(QString::fromStdString(file)).fileName();
    if (EndsWithNoCase(file, ".pkg"))
      summary_->setText(tr("PKG script"));
    else if (EndsWithNoCase(file, ".qsd"))
      summary_->setText(tr("Session file"));
    else
      summary_->setText(tr("%1 was not read as a package").arg(name));
    return;
  }
  const model::Package& p = *shown_;
  QString generation = p.generation == model::Generation::Pre9 ? tr("pre-9.x package")
                       : p.stub                                  ? tr("Symbian 9.x stub")
                                                                 : tr("Symbian 9.x package");
  const QString name = p.names.empty() ? tr("(no name)") : Utf8(p.names.front());
  std::uint64_t total = 0;
  for (const views::FileRow& r : commands_.Files()) total += r.uncompressedSize;
  const auto count = static_cast<int>(commands_.Files().size());
  if (p.stub) {
    // A stub describes files already on the device and carries none of them.
    summary_->setText(QStringLiteral("%1 \u00B7 %2 %3.%4.%5 \u00B7 %6")
                          .arg(generation, name)
                          .arg(p.version.major)
                          .arg(p.version.minor)
                          .arg(p.version.build)
                          .arg(count == 1 ? tr("describes 1 file, carries none")
                                          : tr("describes %1 files, carries none").arg(count)));
    summary_->setToolTip(summary_->text());
    return;
  }
  summary_->setText(QStringLiteral("%1 \u00B7 %2 %3.%4.%5 \u00B7 %6 \u00B7 %7")
                        .arg(generation, name)
                        .arg(p.version.major)
                        .arg(p.version.minor)
                        .arg(p.version.build)
                        .arg(count == 1 ? tr("1 file") : tr("%1 files").arg(count), SizeText(total)));
  summary_->setToolTip(summary_->text());
}

void MainWindow::ShowWorkingDirectory() {
  const std::string& wd = commands_.State().sourceFolder;
  wdLabel_->setVisible(!wd.empty());
  wdClear_->setVisible(!wd.empty());
  mnClearWD_->setEnabled(!wd.empty());
  wdLabel_->setText(tr("Working Directory: %1").arg(QString::fromStdString(wd)));
  wdLabel_->setToolTip(tr("Written in front of the source names of the script at the next Open or Reload"));
}

void MainWindow::UpdateTitle() {
  // "[*]" in a title is Qt's modification mark; a file name may hold it literally.
  QString t = QString::fromStdString(title_);
  t.replace(QLatin1String("[*]"), QLatin1String("[*][*]"));
  if (HasUnsavedEdits()) t.prepend(QLatin1Char('*'));
  setWindowTitle(t);
}

// ---- Settings -------------------------------------------------------------------------

void MainWindow::LoadSettings() {
  settings_ = desktop_->Settings();
  if (!settings_) return;
  const QByteArray geometry = settings_->value(kGeometryKey).toByteArray();
  if (!geometry.isEmpty()) restoreGeometry(geometry);
  FitOnScreen();
  const QByteArray split = settings_->value(kSplitterKey).toByteArray();
  if (!split.isEmpty()) splitter_->restoreState(split);
  recent_ = settings_->value(kRecentKey).toStringList();
  lastFolder_ = settings_->value(kOpenFolderKey).toString();
  lastExtractFolder_ = settings_->value(kExtractFolderKey).toString();
  lastSaveFolder_ = settings_->value(kSaveFolderKey).toString();
  const QString wd = settings_->value(kWorkingDirKey).toString();
  if (!wd.isEmpty()) commands_.SetSourceFolder(wd.toStdString());
  rebuildScripts_->setChecked(settings_->value(kRebuildScriptsKey, false).toBool());
  leaveOutPrefix_->setChecked(settings_->value(kLeaveOutPrefixKey, false).toBool());
  openAfter_->setChecked(settings_->value(kOpenAfterKey, false).toBool());
}

void MainWindow::FitOnScreen() {
  // A size remembered on a larger screen (or at another scale) is shrunk to this one.
  const QScreen* screen = this->screen();
  if (!screen) return;
  const QRect room = screen->availableGeometry();
  QRect frame = geometry();
  if (frame.width() <= room.width() && frame.height() <= room.height() && room.contains(frame)) return;
  frame.setWidth(std::min(frame.width(), room.width()));
  frame.setHeight(std::min(frame.height(), room.height()));
  frame.moveTopLeft(QPoint(std::clamp(frame.left(), room.left(), room.right() - frame.width() + 1),
                           std::clamp(frame.top(), room.top(), room.bottom() - frame.height() + 1)));
  setGeometry(frame);
}

void MainWindow::SaveWindowSettings() {
  if (!settings_) return;
  settings_->setValue(kGeometryKey, saveGeometry());
  settings_->setValue(kSplitterKey, splitter_->saveState());
  settings_->sync();
}

void MainWindow::AddRecent(const QString& path) {
  recent_.removeAll(path);
  recent_.prepend(path);
  while (recent_.size() > kRecentFiles) recent_.removeLast();
  if (settings_) settings_->setValue(kRecentKey, recent_);
}

void MainWindow::FillRecentMenu() {
  // Files that are gone are dropped from the list.
  QStringList kept;
  for (const QString& p : recent_)
    if (QFileInfo(p).isFile()) kept << p;
  if (kept != recent_) {
    recent_ = kept;
    if (settings_) settings_->setValue(kRecentKey, recent_);
  }
  mnRecent_->clear();
  for (int i = 0; i < recent_.size(); ++i) {
    const QString path = recent_[i];
    QAction* a = mnRecent_->addAction(QStringLiteral("%1  %2").arg(i + 1).arg(QFileInfo(path).fileName()));
    a->setToolTip(path);
    a->setData(path);
    connect(a, &QAction::triggered, this, [this, path] { OpenRecent(path); });
  }
  if (recent_.isEmpty()) mnRecent_->addAction(tr("(none)"))->setEnabled(false);
  mnRecent_->addSeparator();
  QAction* clear = mnRecent_->addAction(tr("Clear Recent Files"));
  clear->setEnabled(!recent_.isEmpty());
  connect(clear, &QAction::triggered, this, [this] {
    recent_.clear();
    if (settings_) settings_->setValue(kRecentKey, recent_);
  });
}

void MainWindow::OpenRecent(const QString& path) { OpenPath(path); }

// ---- Window events --------------------------------------------------------------------

void MainWindow::closeEvent(QCloseEvent* event) {
  if (extraction_) {
    event->ignore();
    if (Ask({ops::QuestionKind::StopExtraction, kProgramName, kExtractionRunning})) {
      closeAfterExtraction_ = true;
      extraction_->Cancel();
    }
    return;
  }
  if (running_ || busy_) {
    event->ignore();
    return;
  }
  if (!closeAfterExtraction_ && !MayDropEdits()) {
    event->ignore();
    return;
  }
  SaveWindowSettings();
  if (!unloaded_) {
    unloaded_ = true;
    commands_.Form_Unload();
    // The files taken out to be opened or dragged away.
    for (const QString& folder : tempFolders_) QDir(folder).removeRecursively();
    tempFolders_.clear();
  }
  event->accept();
}

namespace {
// The local file a drag carries, when it carries one.
QString DraggedFile(const QMimeData* mime) {
  if (!mime || !mime->hasUrls()) return {};
  for (const QUrl& url : mime->urls())
    if (url.isLocalFile()) return url.toLocalFile();
  return {};
}
}  // namespace

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  // Rows dragged out of the Files table are for other programs: dropped back here they
  // would replace the package with one of its own files.
  if (!running_ && !busy_ && !event->source() && !DraggedFile(event->mimeData()).isEmpty())
    event->acceptProposedAction();
  else
    event->ignore();
}

void MainWindow::dragMoveEvent(QDragMoveEvent* event) {
  if (!running_ && !busy_ && !event->source() && !DraggedFile(event->mimeData()).isEmpty())
    event->acceptProposedAction();
  else
    event->ignore();
}

void MainWindow::dropEvent(QDropEvent* event) {
  const QString path = DraggedFile(event->mimeData());
  if (path.isEmpty() || running_ || busy_ || event->source()) {
    event->ignore();
    return;
  }
  event->acceptProposedAction();
  int others = 0;
  for (const QUrl& url : event->mimeData()->urls()) others += url.isLocalFile() ? 1 : 0;
  --others;
  // Opened once the drop has ended, so that the person's file manager is not held.
  QTimer::singleShot(0, this, [this, path, others] {
    OpenPath(path);
    if (others > 0)
      Tell({ops::Severity::Note, kProgramName,
            "Tarvik shows one package at a time: " + QFileInfo(path).fileName().toStdString() + " was opened, and " +
                std::to_string(others) + (others == 1 ? " other dropped file was not." : " other dropped files were not.")});
  });
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == filter_ && event->type() == QEvent::KeyPress && FilterKey(static_cast<QKeyEvent*>(event)))
    return true;
  if (watched == text1_ || watched == text1_->viewport()) {
    switch (event->type()) {
      case QEvent::DragEnter: {
        auto* e = static_cast<QDragEnterEvent*>(event);
        if (!e->mimeData()->hasUrls()) break;
        dragEnterEvent(e);
        return true;
      }
      case QEvent::DragMove: {
        auto* e = static_cast<QDragMoveEvent*>(event);
        if (!e->mimeData()->hasUrls()) break;
        dragMoveEvent(e);
        return true;
      }
      case QEvent::Drop: {
        auto* e = static_cast<QDropEvent*>(event);
        if (!e->mimeData()->hasUrls()) break;
        dropEvent(e);
        return true;
      }
      default: break;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

// ---- Ui -------------------------------------------------------------------------------

void MainWindow::Tell(const ops::Message& message) {
  // Every box of the window speaks as the program, whichever part of it has something to say.
  ops::Message shown = message;
  shown.title = kProgramName;
  auto box = MakeMessageBox(this, shown);
  desktop_->Exec(*box);
}

bool MainWindow::Ask(const ops::Question& question) {
  // The file chosen in the Save As dialog was confirmed there.
  if (question.kind == ops::QuestionKind::ReplaceFile && replaceConfirmed_ &&
      question.text.rfind(*replaceConfirmed_ + " already exists.", 0) == 0) {
    replaceConfirmed_.reset();
    return true;
  }
  auto box = MakeQuestionBox(this, question);
  return desktop_->Exec(*box) == QMessageBox::Yes;
}

ops::ExistingAnswer MainWindow::AskExisting(const ops::ExistingQuestion& question) {
  auto box = MakeExistingBox(this, question);
  const int result = desktop_->Exec(*box);
  return ExistingAnswerOf(*box, result);
}

std::optional<std::string> MainWindow::ChooseOpenFile(const std::string& filter, const std::string& title) {
  if (pendingOpen_) {
    std::optional<std::string> path = std::move(pendingOpen_);
    pendingOpen_.reset();
    return path;
  }
  auto dialog = MakeOpenDialog(this, filter, title, lastFolder_);
  if (desktop_->Exec(*dialog) != QDialog::Accepted) return std::nullopt;
  std::optional<std::string> path = ChosenPath(*dialog);
  if (path) {
    lastFolder_ = FolderOf(*path);
    if (settings_) settings_->setValue(kOpenFolderKey, lastFolder_);
  }
  return path;
}

namespace {
// The extension of a filter such as "PKG File (.pkg)" or "PKG File (*.pkg)": ".pkg"; empty
// for "All Files (*.*)".
QString FilterExtension(const QString& filter) {
  for (qsizetype dot = filter.indexOf(QLatin1Char('.')); dot >= 0; dot = filter.indexOf(QLatin1Char('.'), dot + 1)) {
    QString ext = QStringLiteral(".");
    for (qsizetype i = dot + 1; i < filter.size() && filter[i].isLetterOrNumber(); ++i) ext += filter[i];
    if (ext.size() > 1) return ext;
  }
  return {};
}
}  // namespace

std::optional<std::string> MainWindow::ChooseSaveFile(const std::string& filter, const std::string& title,
                                                      const std::string& proposedName) {
  std::string proposed = proposedName;
  for (;;) {
    // Where the person saved last; before any save, where files were opened from.
    auto dialog = MakeSaveDialog(this, filter, title, proposed, lastSaveFolder_.isEmpty() ? lastFolder_ : lastSaveFolder_);
    if (desktop_->Exec(*dialog) != QDialog::Accepted) return std::nullopt;
    std::optional<std::string> path = ChosenPath(*dialog);
    if (!path) return std::nullopt;
    // A name without an extension gets the one of the type chosen.
    if (QFileInfo(QString::fromStdString(*path)).suffix().isEmpty())
      *path += FilterExtension(dialog->selectedNameFilter()).toStdString();
    lastSaveFolder_ = FolderOf(*path);
    if (settings_) settings_->setValue(kSaveFolderKey, lastSaveFolder_);
    // Asked here so that No goes back to the dialog; the save does not ask again.
    if (fsys::FileExists(*path) &&
        !Ask({ops::QuestionKind::ReplaceFile, kProgramName, *path + " already exists.\r\nDo you want to replace it?"})) {
      proposed = QFileInfo(QString::fromStdString(*path)).fileName().toStdString();
      continue;
    }
    replaceConfirmed_ = *path;
    savedTo_ = path;
    return path;
  }
}

std::optional<std::string> MainWindow::ChooseFolder(const std::string& title, window::FolderPurpose purpose) {
  const bool forExtract = purpose == window::FolderPurpose::Extract;
  QString start = forExtract ? lastExtractFolder_ : QString::fromStdString(commands_.State().sourceFolder);
  if (start.isEmpty()) start = lastFolder_;
  auto dialog = MakeFolderDialog(this, title, start);
  if (desktop_->Exec(*dialog) != QDialog::Accepted) return std::nullopt;
  std::optional<std::string> path = ChosenPath(*dialog);
  if (path && forExtract) {
    lastExtractFolder_ = QString::fromStdString(*path);
    if (settings_) settings_->setValue(kExtractFolderKey, lastExtractFolder_);
  }
  return path;
}

void MainWindow::ShowBanner(const std::string& text) {
  picture1_->clear();
  picture1_->setText(QString::fromStdString(text));
  picture1_->adjustSize();
  // Over the text area's corner, wherever the tabs put it.
  const QPoint corner = text1_->isVisible() ? text1_->mapTo(centralWidget(), QPoint(0, 0))
                                            : tabs_->mapTo(centralWidget(), QPoint(0, 0));
  picture1_->move(corner.x() + kBannerLeftOffset, corner.y() + kBannerTopOffset);
  picture1_->show();
  picture1_->raise();
  // The reading that follows holds the thread: paint the banner first.
  picture1_->repaint();
  Repaint();
}

void MainWindow::HideBanner() { picture1_->hide(); }

void MainWindow::SetTitle(const std::string& title) {
  title_ = title;
  UpdateTitle();
}

void MainWindow::SetText(const std::string& text) {
  shownText_ = text;
  settingText_ = true;
  text1_->setPlainText(ForDisplay(text));
  settingText_ = false;
  textEdited_ = false;
  text1_->document()->setModified(false);
}

std::string MainWindow::Text() const {
  // Unedited, the text is exactly what was shown, line breaks and all.
  if (!textEdited_) return shownText_;
  return FromDisplay(text1_->toPlainText());
}

void MainWindow::Repaint() {
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  repaintClock_.start();
}

void MainWindow::Pulse() {
  if (!repaintClock_.isValid() || repaintClock_.elapsed() >= 30) Repaint();
}

void MainWindow::SetBusy(bool busy) {
  if (busy == busy_) return;
  busy_ = busy;
  if (busy) {
    QApplication::setOverrideCursor(Qt::BusyCursor);
  } else {
    QApplication::restoreOverrideCursor();
    progress_->hide();
  }
  menuBar()->setEnabled(!busy);
  extractAll_->setEnabled(!busy && commands_.mnFile_Click().extract);
  UpdateSelectionActions();
}

void MainWindow::SetExtractEnabled(bool enabled) {
  mnExtr_->setEnabled(enabled && !busy_);
  extractAll_->setEnabled(enabled && !busy_);
  extractHere_->setEnabled(enabled && !busy_);
  UpdateSelectionActions();
}

void MainWindow::Progress(std::size_t done, std::size_t total) {
  if (total == 0) return;
  const int max = total > 1000000 ? 1000000 : static_cast<int>(total);
  const int value = static_cast<int>(done >= total ? max : static_cast<double>(done) * max / static_cast<double>(total));
  progress_->setRange(0, max);
  progress_->setValue(value);
  progress_->show();
  if (done >= total || !repaintClock_.isValid() || repaintClock_.elapsed() >= 30) Repaint();
}

void MainWindow::OpenFolder(const std::string& path) {
  OpenWithDesktop(QUrl::fromLocalFile(QString::fromStdString(path)));
}

void MainWindow::OpenWithDesktop(const QUrl& url) {
  if (desktop_->OpenUrl(url)) return;
  const QString what = url.isLocalFile() ? QDir::toNativeSeparators(url.toLocalFile()) : url.toString();
  Tell({ops::Severity::Warning, kProgramName,
        "No program on this system opens " + what.toStdString() + ". Open it from your file manager instead."});
}

void MainWindow::Beep() { desktop_->Beep(); }

}  // namespace tarvik::gui
