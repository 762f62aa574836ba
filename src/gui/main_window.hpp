#pragma once
// The main window: the text area, the "please wait" banner, the menus, and the Ui through
// which the core talks to the person. It owns the App, which holds the state, the package
// and the file buffer; every command is the App's, run from here.

#include <QAction>
#include <QElapsedTimer>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "gui/desktop.hpp"
#include "shell/app.hpp"
#include "platform/platform.hpp"
#include "shell/ui.hpp"

namespace tarvik::gui {

class MainWindow : public QMainWindow, public Ui {
  Q_OBJECT
 public:
  // `desktop` answers dialogs and opens pages; the window uses the real desktop when it is
  // null. Start-up (Form_Load) runs here, before the window is shown.
  explicit MainWindow(Platform platform, Desktop* desktop = nullptr, QWidget* parent = nullptr);
  ~MainWindow() override;

  App& app() { return app_; }

  // Opens `path` as if it had been chosen in the Open dialog (the file named on the
  // command line).
  void OpenPath(const QString& path);

  // The window's parts, by their element names.
  QPlainTextEdit* TextArea() const { return text1_; }
  QLabel* Banner() const { return picture1_; }
  QProgressBar* ProgressBar() const { return progress_; }
  QMenu* FileMenu() const { return mnFile_; }
  QAction* OpenAction() const { return mnOpen_; }
  QAction* SaveAction() const { return mnSave_; }
  QAction* CloseAction() const { return mnClose_; }
  QAction* ReloadAction() const { return mnReload_; }
  QAction* ExtractAction() const { return mnExtr_; }
  QAction* ExitAction() const { return mnExit_; }

  // Sets the text area's size for a window of `window` pixels (the resize rule).
  void ApplyResizeRule(QSize window);

  // Ui.
  int MsgBox(const std::string& text, int style, const std::string& title) override;
  std::optional<std::string> ChooseOpenFile(const std::string& filter, const std::string& title) override;
  std::optional<std::string> ChooseSaveFile(const std::string& filter, const std::string& title,
                                            const std::string& proposedName) override;
  std::optional<std::string> ChooseFolder(const std::string& title) override;
  void ShowBanner(const std::string& text) override;
  void HideBanner() override;
  void SetTitle(const std::string& title) override;
  void SetText(const std::string& text) override;
  std::string Text() const override;
  void DoEvents() override;
  void SetBusy(bool busy) override;
  void SetExtractEnabled(bool enabled) override;
  void Progress(std::size_t done, std::size_t total) override;
  void ShowExtractResult(const std::string& text, const std::string& folder) override;
  void OpenUrl(const std::string& url) override;
  void OpenFolder(const std::string& path) override;
  void Beep() override;

 public slots:
  // File menu.
  void mnFile_Click();
  void mnOpen_Click();
  void mnSave_Click();
  void mnClose_Click();
  void mnReload_Click();
  void mnExtr_Click();
  void mnExit_Click();
  // Setting and Help menus.
  void mnWD_Click();
  void mnDl1_Click();
  void mndl2_Click();
  void mnAbout_Click();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildMenus();
  QAction* AddAction(QMenu* menu, const char* caption, const char* name, const QKeySequence& shortcut,
                     void (MainWindow::*slot)());
  // Runs a command of the App: refused while another runs; any error ends it silently with
  // the banner hidden and the pointer restored; the File items are brought up to date.
  void Run(const std::function<void()>& command);
  // Lets the window repaint without taking the person's input, so that no second command
  // can start while one runs.
  void Repaint();

  std::unique_ptr<Desktop> ownDesktop_;
  Desktop* desktop_;
  App app_;

  QPlainTextEdit* text1_ = nullptr;
  QLabel* picture1_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QMenu* mnFile_ = nullptr;
  QMenu* mnSetting_ = nullptr;
  QMenu* mnHelp_ = nullptr;
  QAction* mnOpen_ = nullptr;
  QAction* mnSave_ = nullptr;
  QAction* mnClose_ = nullptr;
  QAction* mnReload_ = nullptr;
  QAction* mnExtr_ = nullptr;
  QAction* mnExit_ = nullptr;
  QAction* mnWD_ = nullptr;
  QAction* mnDl1_ = nullptr;
  QAction* mndl2_ = nullptr;
  QAction* mnAbout_ = nullptr;

  std::string shownText_;           // the text last put into the text area
  bool textEdited_ = false;         // the text area changed since
  std::optional<std::string> pendingOpen_;
  QString lastFolder_;              // where the file dialogs start
  bool running_ = false;            // a command is running
  bool busy_ = false;               // an extraction is running (hourglass)
  bool unloaded_ = false;
  QElapsedTimer repaintClock_;
};

}  // namespace tarvik::gui
