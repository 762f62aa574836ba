#pragma once
// The main window: a package browser. On the left the package tree (the main package and
// the packages embedded in it), on the right the tabs Files (the file table), Facts (what
// is known of the package chosen in the tree) and Script (the text area with the PKG
// script, where the window opens). Below, the status bar with the package's summary, the
// Working Directory and, while files are extracted, the progress and Cancel. The window
// owns the window's commands, which hold what is open; every menu item runs one of them,
// and the window is the WindowUi through which they talk to the person.

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QToolButton>
#include <QTreeWidget>

class QKeyEvent;

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "gui/desktop.hpp"
#include "gui/extract_result_dialog.hpp"
#include "gui/extraction.hpp"
#include "gui/files_model.hpp"
#include "platform/platform.hpp"
#include "operations/build.hpp"
#include "operations/extract.hpp"
#include "window/commands.hpp"
#include "signers/signers.hpp"
#include "views/facts.hpp"

namespace tarvik::gui {

using window::kProgramName;

inline constexpr int kRecentFiles = 8;
inline constexpr const char* kEmptyHint = "Open or drop a package";

class MainWindow : public QMainWindow, public window::WindowUi {
  Q_OBJECT
 public:
  // `desktop` answers dialogs, opens pages and keeps the settings; the window uses the real
  // desktop when it is null. Start-up (Form_Load) runs here, before the window is shown.
  explicit MainWindow(Platform platform, Desktop* desktop = nullptr, QWidget* parent = nullptr);
  ~MainWindow() override;

  window::Commands& commands() { return commands_; }

  // Opens `path` as if it had been chosen in the Open dialog (the file named on the
  // command line, a dropped file, a recent file).
  void OpenPath(const QString& path);

  // The window's parts.
  QPlainTextEdit* TextArea() const { return text1_; }
  QLabel* Banner() const { return picture1_; }
  QProgressBar* ProgressBar() const { return progress_; }
  QPushButton* CancelButton() const { return cancel_; }
  QLabel* ProgressText() const { return progressText_; }
  QMenu* FileMenu() const { return mnFile_; }
  QMenu* RecentMenu() const { return mnRecent_; }
  QAction* OpenAction() const { return mnOpen_; }
  QAction* SaveAction() const { return mnSave_; }
  QAction* CloseAction() const { return mnClose_; }
  QAction* ReloadAction() const { return mnReload_; }
  QAction* ExtractAction() const { return mnExtr_; }
  QAction* ExtractSelectedAction() const { return mnExtrSel_; }
  QAction* BuildAction() const { return mnBuild_; }
  QAction* TestAction() const { return mnTest_; }
  QAction* ExitAction() const { return mnExit_; }
  QSplitter* Splitter() const { return splitter_; }
  QTreeWidget* PackageTree() const { return tree_; }
  QTabWidget* Tabs() const { return tabs_; }
  QWidget* FilesTab() const { return filesTab_; }
  QWidget* FactsTab() const { return factsTab_; }
  QWidget* ScriptTab() const { return scriptTab_; }
  QWidget* ChecksTab() const { return checksTab_; }
  QTableWidget* ChecksTable() const { return checks_; }
  QComboBox* CheckDevice() const { return device_; }
  QLabel* ChecksSummary() const { return checksSummary_; }
  QTableView* FilesView() const { return filesView_; }
  FilesModel* Files() const { return filesModel_; }
  FilesProxy* FilesFilter() const { return filesProxy_; }
  QLineEdit* FilterBox() const { return filter_; }
  QPushButton* ExtractSelectedButton() const { return extractSelected_; }
  QPushButton* ExtractAllButton() const { return extractAll_; }
  QCheckBox* RebuildScriptsBox() const { return rebuildScripts_; }
  QCheckBox* LeaveOutPrefixBox() const { return leaveOutPrefix_; }
  QToolButton* ShowFoldersButton() const { return showFolders_; }
  QTreeWidget* FolderTree() const { return folders_; }
  QToolButton* ShowPreviewButton() const { return showPreview_; }
  QPlainTextEdit* PreviewText() const { return previewText_; }
  QLabel* PreviewImage() const { return previewImage_; }
  QCheckBox* OpenAfterBox() const { return openAfter_; }
  QPushButton* ExtractHereButton() const { return extractHere_; }
  QTableWidget* FactsTable() const { return facts_; }
  QPushButton* CopyFactsButton() const { return copyFacts_; }
  QLabel* Summary() const { return summary_; }
  // "12 of 20,000 shown · 3 selected, 397 KiB".
  QLabel* CountsLabel() const { return counts_; }
  // How the package is signed, in a word or two ("Unsigned", "Signed, verifies").
  QLabel* SignatureLabel() const { return signature_; }
  // The context menus of the Files rows chosen now and of the package tree's current item
  // (what a right click shows).
  std::unique_ptr<QMenu> MakeFilesMenu();
  std::unique_ptr<QMenu> MakeTreeMenu();
  // The Properties of the file at a row of the model.
  void ShowProperties(int row);
  QLabel* WorkingDirLabel() const { return wdLabel_; }
  QToolButton* WorkingDirClear() const { return wdClear_; }
  const QStringList& RecentFiles() const { return recent_; }
  // The running extraction (its progress signal), or null.
  ExtractionRun* Extraction() const { return extraction_; }
  // The script was edited since it was shown or saved.
  bool HasUnsavedEdits() const;
  // The facts shown, as text (what Copy puts on the clipboard).
  QString FactsText() const;

  // The window's side of the commands: messages and questions in message boxes, the file
  // dialogs, the banner, the title and the text area.
  void Tell(const ops::Message& message) override;
  bool Ask(const ops::Question& question) override;
  ops::ExistingAnswer AskExisting(const ops::ExistingQuestion& question) override;
  void Pulse() override;
  std::optional<std::string> ChooseOpenFile(const std::string& filter, const std::string& title) override;
  std::optional<std::string> ChooseSaveFile(const std::string& filter, const std::string& title,
                                            const std::string& proposedName) override;
  std::optional<std::string> ChooseFolder(const std::string& title, window::FolderPurpose purpose) override;
  void ShowBanner(const std::string& text) override;
  void HideBanner() override;
  void SetTitle(const std::string& title) override;
  void SetText(const std::string& text) override;
  std::string Text() const override;

  // The hourglass and the extraction items while an extraction runs, and its progress:
  // `done` of `total` units.
  void SetBusy(bool busy);
  void SetExtractEnabled(bool enabled);
  virtual void Progress(std::size_t done, std::size_t total);

 public slots:
  // File menu.
  void mnFile_Click();
  void mnOpen_Click();
  void mnSave_Click();
  void mnClose_Click();
  void mnReload_Click();
  void mnExtr_Click();
  void mnExtrSel_Click();
  void mnExit_Click();
  // Builds the script as it stands into a package.
  void mnBuild_Click();
  // Checks every file's SHA-1 without writing anything, marking the rows and telling one
  // summary.
  void mnTest_Click();
  // Setting and Help menus.
  void mnWD_Click();
  void mnClearWD_Click();
  void mnDl1_Click();
  void mndl2_Click();
  void mnAbout_Click();
  // The Files table: opens the file at a row of the view with the desktop's program.
  void OpenFileAt(const QModelIndex& index);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildMenus();
  void BuildBrowser(QWidget* central);
  void BuildFilesTab();
  void BuildExtractOptions();
  void BuildFilePanes();
  // The folder pane from the shown files (when it is shown), and the preview of the current row.
  void FillFolders();
  void ShowPreview();
  void BuildFactsTab();
  void BuildScriptTab();
  void BuildChecksTab();
  void ShowChecks();
  void BuildStatusBar();
  QAction* AddAction(QMenu* menu, const QString& caption, const char* name, const QKeySequence& shortcut,
                     void (MainWindow::*slot)());
  // Runs one of the commands: refused while another runs; any error ends it silently with
  // the banner hidden and the pointer restored; the File items are brought up to date.
  // `replaces`: the command may replace the package, so the views let go of it first and
  // show the new one after.
  void Run(const std::function<void()>& command, bool replaces = true);
  // Lets the window repaint without taking the person's input, so that no second command
  // can start while one runs.
  void Repaint();
  // Shows the open package in the tree, the Files and Facts tabs and the status bar.
  void ShowPackage();
  void ShowFacts();
  void ShowSummary();
  void ShowWorkingDirectory();
  void ShowCounts();
  void ShowSignature();
  void SetUpKeyboard();
  bool FilterKey(QKeyEvent* key);
  // Runs work over the package's files on a worker thread with the progress and Cancel shown.
  void WithProgress(const std::function<void(ExtractionRun&)>& body);
  // Files menu actions on rows of the model.
  void CopyPaths(const std::vector<std::size_t>& rows);
  void OpenWith(std::size_t row);
  void ExtractPackage(const model::Package* package);
  void UpdateTitle();
  void UpdateSelectionActions();
  // Asks before edits of the script are dropped; true to go on.
  bool MayDropEdits();
  // Extraction of rows of the file table (all of them when null) into a folder the person
  // picks, in the background, with the one result dialog.
  void ExtractRows(const std::vector<std::size_t>* rows, bool here);
  // Extract All, or only the rows the table shows when the person says so.
  void ExtractAllOrShown(bool here);
  ops::ExtractReport RunInBackground(const ops::ExtractJob& job);
  void ShowExtractReport(const ops::ExtractJob& job, const ops::ExtractReport& report);
  void ShowBuildReport(const ops::BuildReport& report, const std::string& out);
  void OpenFolder(const std::string& path);
  // Hands an address to the desktop's programs, and says so when none takes it.
  void OpenWithDesktop(const QUrl& url);
  void Beep();
  // Extracts rows into a fresh folder of the private temporary folder; the paths of the
  // files written.
  std::vector<QString> ExtractToTemp(const std::vector<std::size_t>& rows, const char* purpose);
  std::vector<std::size_t> SelectedRows() const;
  // Settings.
  void LoadSettings();
  void FitOnScreen();
  // Writes the open package's script again after the Working Directory changed.
  void ApplyWorkingDirectory();
  void SaveWindowSettings();
  void AddRecent(const QString& path);
  void FillRecentMenu();
  void OpenRecent(const QString& path);
  void OpenReadme();

  std::unique_ptr<Desktop> ownDesktop_;
  Desktop* desktop_;
  window::Commands commands_;
  std::unique_ptr<QSettings> settings_;

  // What the views show, held so that they never point into an item that the commands have
  // let go of.
  std::shared_ptr<const ops::Opened> shownItem_;
  std::shared_ptr<const model::Package> shown_;
  std::optional<signers::Report> signers_;
  // The facts of the shown file's packages; each tree item holds its position here.
  std::vector<views::PackageInTree> packageFacts_;

  QSplitter* splitter_ = nullptr;
  QTreeWidget* tree_ = nullptr;
  QTabWidget* tabs_ = nullptr;
  QWidget* filesTab_ = nullptr;
  QWidget* factsTab_ = nullptr;
  QWidget* scriptTab_ = nullptr;
  QWidget* checksTab_ = nullptr;
  QTableWidget* checks_ = nullptr;     // one row per finding of the checks
  QComboBox* device_ = nullptr;        // the device the package is checked for
  QLabel* checksSummary_ = nullptr;
  // The executables the shown package carries, as their headers say.
  std::vector<views::ExecutableFacts> executables_;
  QLineEdit* filter_ = nullptr;
  QTableView* filesView_ = nullptr;
  FilesModel* filesModel_ = nullptr;
  FilesProxy* filesProxy_ = nullptr;
  QPushButton* extractSelected_ = nullptr;
  QPushButton* extractAll_ = nullptr;
  QCheckBox* rebuildScripts_ = nullptr;  // a whole extraction also writes build-ready PKG files
  QTreeWidget* folders_ = nullptr;       // the folders the files install to
  QStackedWidget* preview_ = nullptr;    // the preview of the current file
  QPlainTextEdit* previewText_ = nullptr;
  QLabel* previewImage_ = nullptr;       // an image, or why there is no preview
  QToolButton* showFolders_ = nullptr;
  QToolButton* showPreview_ = nullptr;
  QCheckBox* leaveOutPrefix_ = nullptr;  // files without the bin\<package>\ folder
  QCheckBox* openAfter_ = nullptr;       // the folder opens when the extraction is done
  QPushButton* extractHere_ = nullptr;   // extracts beside the package
  QTableWidget* facts_ = nullptr;
  QPushButton* copyFacts_ = nullptr;
  QPlainTextEdit* text1_ = nullptr;
  QLabel* picture1_ = nullptr;
  QLabel* summary_ = nullptr;
  QLabel* counts_ = nullptr;
  QLabel* signature_ = nullptr;
  QLabel* wdLabel_ = nullptr;
  QToolButton* wdClear_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* progressText_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QMenu* mnFile_ = nullptr;
  QMenu* mnRecent_ = nullptr;
  QMenu* mnSetting_ = nullptr;
  QMenu* mnHelp_ = nullptr;
  QAction* mnOpen_ = nullptr;
  QAction* mnSave_ = nullptr;
  QAction* mnClose_ = nullptr;
  QAction* mnReload_ = nullptr;
  QAction* mnExtr_ = nullptr;
  QAction* mnExtrSel_ = nullptr;
  QAction* mnBuild_ = nullptr;
  QAction* mnTest_ = nullptr;
  QAction* mnExit_ = nullptr;
  QAction* mnWD_ = nullptr;
  QAction* mnClearWD_ = nullptr;
  QAction* mnDl1_ = nullptr;
  QAction* mndl2_ = nullptr;
  QAction* mnAbout_ = nullptr;

  std::string title_ = kProgramName;  // the title the commands set, without the edit mark
  std::string shownText_;           // the text last put into the text area (or saved)
  bool textEdited_ = false;         // the text area changed since
  bool settingText_ = false;        // the window itself is filling the text area
  std::optional<std::string> pendingOpen_;
  std::optional<std::string> savedTo_;  // the file Save As chose last
  std::optional<std::string> replaceConfirmed_;  // the file Save As was allowed to replace
  QString lastFolder_;              // where the file dialogs start
  QString lastExtractFolder_;       // where the folder picker of Extract starts
  QString lastSaveFolder_;          // where Save As and Build Package start
  QStringList recent_;
  bool running_ = false;            // a command is running
  bool busy_ = false;               // an extraction is running (hourglass)
  bool unloaded_ = false;
  bool closeAfterExtraction_ = false;
  ExtractionRun* extraction_ = nullptr;
  int tempRuns_ = 0;                // folders made in the temporary folder
  QStringList tempFolders_;         // they go when the window closes
  QElapsedTimer repaintClock_;
};

}  // namespace tarvik::gui
