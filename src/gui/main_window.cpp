#include "gui/main_window.hpp"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QMenuBar>
#include <QResizeEvent>
#include <QStatusBar>

#include "gui/about_box.hpp"
#include "gui/dialogs.hpp"
#include "gui/extract_result_dialog.hpp"
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

QString FolderOf(const std::string& path) {
  return QFileInfo(QString::fromStdString(path)).absolutePath();
}

}  // namespace

MainWindow::MainWindow(Platform platform, Desktop* desktop, QWidget* parent)
    : QMainWindow(parent),
      ownDesktop_(desktop ? nullptr : std::make_unique<Desktop>()),
      desktop_(desktop ? desktop : ownDesktop_.get()),
      app_(*this, std::move(platform)) {
  setObjectName(QStringLiteral("frmMain"));
  setWindowIcon(ProgramIcon());

  auto* central = new QWidget(this);
  central->setObjectName(QStringLiteral("centralWidget"));
  setCentralWidget(central);

  // The text area keeps its top-left corner; its size follows the resize rule, not a layout.
  text1_ = new QPlainTextEdit(central);
  text1_->setObjectName(QStringLiteral("Text1"));
  text1_->setFont(TextAreaFont());
  text1_->setLineWrapMode(QPlainTextEdit::NoWrap);
  text1_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  text1_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  text1_->move(0, 0);
  text1_->resize(640, 420);
  connect(text1_, &QPlainTextEdit::textChanged, this, [this] { textEdited_ = true; });

  // The banner sits over the text area, hidden until Open or Reload shows it.
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

  progress_ = new QProgressBar(this);
  progress_->setObjectName(QStringLiteral("progressBar"));
  progress_->setMaximumWidth(240);
  progress_->hide();
  statusBar()->addPermanentWidget(progress_);

  BuildMenus();
  setWindowTitle(QString::fromLatin1(kProgramName));
  resize(760, 560);
  ApplyResizeRule(size());

  app_.Form_Load();
  // The banner's place is fixed from the text area's corner (the text area never moves).
  const double dpiX = logicalDpiX(), dpiY = logicalDpiY();
  picture1_->move(text1_->x() + static_cast<int>(std::lround(TwipsToPixels(kBannerLeftOffset, dpiX))),
                  text1_->y() + static_cast<int>(std::lround(TwipsToPixels(kBannerTopOffset, dpiY))));
  mnFile_Click();
}

MainWindow::~MainWindow() {
  if (busy_) QApplication::restoreOverrideCursor();
}

QAction* MainWindow::AddAction(QMenu* menu, const char* caption, const char* name, const QKeySequence& shortcut,
                               void (MainWindow::*slot)()) {
  QAction* action = menu->addAction(QString::fromLatin1(caption));
  action->setObjectName(QString::fromLatin1(name));
  if (!shortcut.isEmpty()) action->setShortcut(shortcut);
  connect(action, &QAction::triggered, this, slot);
  return action;
}

void MainWindow::BuildMenus() {
  QMenuBar* bar = menuBar();
  // Captions are shown as written; "&" would make a mnemonic, and none is used.
  mnFile_ = bar->addMenu(QStringLiteral("File"));
  mnFile_->setObjectName(QStringLiteral("mnFile"));
  mnOpen_ = AddAction(mnFile_, "Open...", "mnOpen", QKeySequence(Qt::CTRL | Qt::Key_O), &MainWindow::mnOpen_Click);
  mnSave_ = AddAction(mnFile_, "Save As...", "mnSave", QKeySequence(Qt::CTRL | Qt::Key_S), &MainWindow::mnSave_Click);
  mnFile_->addSeparator();
  mnClose_ = AddAction(mnFile_, "Close", "mnClose", QKeySequence(Qt::CTRL | Qt::Key_I), &MainWindow::mnClose_Click);
  mnReload_ =
      AddAction(mnFile_, "Reload", "mnReload", QKeySequence(Qt::CTRL | Qt::Key_R), &MainWindow::mnReload_Click);
  mnFile_->addSeparator();
  mnExtr_ = AddAction(mnFile_, "Extract", "mnExtr", QKeySequence(Qt::CTRL | Qt::Key_E), &MainWindow::mnExtr_Click);
  mnFile_->addSeparator();
  mnExit_ = AddAction(mnFile_, "Exit", "mnExit", QKeySequence(Qt::CTRL | Qt::Key_Q), &MainWindow::mnExit_Click);
  connect(mnFile_, &QMenu::aboutToShow, this, &MainWindow::mnFile_Click);

  mnSetting_ = bar->addMenu(QStringLiteral("Setting"));
  mnSetting_->setObjectName(QStringLiteral("mnSetting"));
  mnWD_ = AddAction(mnSetting_, "Working Directory", "mnWD", {}, &MainWindow::mnWD_Click);

  mnHelp_ = bar->addMenu(QStringLiteral("Help"));
  mnHelp_->setObjectName(QStringLiteral("mnHelp"));
  mnDl1_ = AddAction(mnHelp_, "Tarvik On the Web", "mnDl1", {}, &MainWindow::mnDl1_Click);
  mndl2_ = AddAction(mnHelp_, "Download Brimond", "mndl2", {}, &MainWindow::mndl2_Click);
  mnAbout_ = AddAction(mnHelp_, "About  Tarvik", "mnAbout", {}, &MainWindow::mnAbout_Click);

  // Shortcuts work while the text area has the focus too.
  for (QAction* a : {mnOpen_, mnSave_, mnClose_, mnReload_, mnExtr_, mnExit_}) a->setShortcutContext(Qt::WindowShortcut);
}

// ---- Commands -------------------------------------------------------------------------

void MainWindow::Run(const std::function<void()>& command) {
  if (running_ || busy_) return;
  running_ = true;
  try {
    command();
  } catch (...) {
    // The command ends silently, as an error trap would end it.
    HideBanner();
    SetBusy(false);
  }
  running_ = false;
  progress_->hide();
  statusBar()->clearMessage();
  mnFile_Click();
}

void MainWindow::mnFile_Click() {
  const FileMenuState items = app_.mnFile_Click();
  mnSave_->setEnabled(items.save);
  mnReload_->setEnabled(items.reload);
  mnClose_->setEnabled(items.close);
  mnExtr_->setEnabled(items.extract && !busy_);
}

void MainWindow::mnOpen_Click() {
  Run([this] { app_.mnOpen_Click(); });
  pendingOpen_.reset();
}

void MainWindow::OpenPath(const QString& path) {
  pendingOpen_ = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()).toStdString();
  mnOpen_Click();
}

// The items below are enabled only when the File-menu rule allows them; a shortcut pressed
// after the file vanished is checked here again.
void MainWindow::mnSave_Click() {
  Run([this] {
    if (app_.mnFile_Click().save) app_.mnSave_Click();
  });
}

void MainWindow::mnClose_Click() {
  Run([this] {
    if (app_.mnFile_Click().close) app_.mnClose_Click();
  });
}

void MainWindow::mnReload_Click() {
  Run([this] {
    if (app_.mnFile_Click().reload) app_.mnReload_Click();
  });
}

void MainWindow::mnExtr_Click() {
  Run([this] {
    if (app_.mnFile_Click().extract) app_.mnExtr_Click();
  });
}

void MainWindow::mnExit_Click() { close(); }

void MainWindow::mnWD_Click() {
  Run([this] { app_.mnWD_Click(); });
}

void MainWindow::mnDl1_Click() { desktop_->OpenUrl(QUrl(QString::fromLatin1(kScreenshotsPage))); }

void MainWindow::mndl2_Click() { desktop_->OpenUrl(QUrl(QString::fromLatin1(kBrimondScreenshotsPage))); }

void MainWindow::mnAbout_Click() {
  AboutBox box(this, [this](const QUrl& url) { desktop_->OpenUrl(url); });
  desktop_->Exec(box);
}

// ---- Window events --------------------------------------------------------------------

void MainWindow::ApplyResizeRule(QSize window) {
  text1_->resize(TextAreaSize(window, text1_->size(), logicalDpiX(), logicalDpiY()));
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  // The rule speaks of the whole window, frame included.
  const QSize frame = frameGeometry().size() - geometry().size();
  ApplyResizeRule(event->size() + frame);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (running_ || busy_) {
    event->ignore();
    return;
  }
  if (!unloaded_) {
    unloaded_ = true;
    app_.Form_Unload();
  }
  event->accept();
}

// ---- Ui -------------------------------------------------------------------------------

int MainWindow::MsgBox(const std::string& text, int style, const std::string& title) {
  auto box = MakeMessageBox(this, text, style, title);
  return AnswerOf(desktop_->Exec(*box));
}

std::optional<std::string> MainWindow::ChooseOpenFile(const std::string& filter, const std::string& title) {
  if (pendingOpen_) {
    std::optional<std::string> path = std::move(pendingOpen_);
    pendingOpen_.reset();
    lastFolder_ = FolderOf(*path);
    return path;
  }
  auto dialog = MakeOpenDialog(this, filter, title, lastFolder_);
  if (desktop_->Exec(*dialog) != QDialog::Accepted) return std::nullopt;
  std::optional<std::string> path = ChosenPath(*dialog);
  if (path) lastFolder_ = FolderOf(*path);
  return path;
}

std::optional<std::string> MainWindow::ChooseSaveFile(const std::string& filter, const std::string& title,
                                                      const std::string& proposedName) {
  auto dialog = MakeSaveDialog(this, filter, title, proposedName, lastFolder_);
  if (desktop_->Exec(*dialog) != QDialog::Accepted) return std::nullopt;
  std::optional<std::string> path = ChosenPath(*dialog);
  if (path) lastFolder_ = FolderOf(*path);
  return path;
}

std::optional<std::string> MainWindow::ChooseFolder(const std::string& title) {
  auto dialog = MakeFolderDialog(this, title, lastFolder_);
  if (desktop_->Exec(*dialog) != QDialog::Accepted) return std::nullopt;
  return ChosenPath(*dialog);
}

void MainWindow::ShowBanner(const std::string& text) {
  picture1_->clear();
  picture1_->setText(QString::fromStdString(text));
  picture1_->adjustSize();
  picture1_->show();
  picture1_->raise();
  // The reading that follows holds the thread: paint the banner first.
  picture1_->repaint();
  Repaint();
}

void MainWindow::HideBanner() { picture1_->hide(); }

void MainWindow::SetTitle(const std::string& title) {
  // "[*]" in a title is Qt's modification mark; a file name may hold it literally.
  QString t = QString::fromStdString(title);
  t.replace(QLatin1String("[*]"), QLatin1String("[*][*]"));
  setWindowTitle(t);
}

void MainWindow::SetText(const std::string& text) {
  shownText_ = text;
  text1_->setPlainText(ForDisplay(text));
  textEdited_ = false;
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

void MainWindow::DoEvents() {
  if (!repaintClock_.isValid() || repaintClock_.elapsed() >= 30) Repaint();
}

void MainWindow::SetBusy(bool busy) {
  if (busy == busy_) return;
  busy_ = busy;
  if (busy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
    progress_->hide();
    statusBar()->clearMessage();
  }
  menuBar()->setEnabled(!busy);
}

void MainWindow::SetExtractEnabled(bool enabled) { mnExtr_->setEnabled(enabled && !busy_); }

void MainWindow::Progress(std::size_t done, std::size_t total) {
  if (total == 0) return;
  const int max = total > 1000000 ? 1000000 : static_cast<int>(total);
  const int value = static_cast<int>(done >= total ? max : static_cast<double>(done) * max / static_cast<double>(total));
  progress_->setRange(0, max);
  progress_->setValue(value);
  progress_->show();
  if (done >= total || !repaintClock_.isValid() || repaintClock_.elapsed() >= 30) Repaint();
}

void MainWindow::ShowExtractResult(const std::string& text, const std::string& folder) {
  ExtractResultDialog dialog(this, text, folder, [this](const std::string& f) { OpenFolder(f); });
  desktop_->Exec(dialog);
}

void MainWindow::OpenUrl(const std::string& url) { desktop_->OpenUrl(QUrl(QString::fromStdString(url))); }

void MainWindow::OpenFolder(const std::string& path) {
  desktop_->OpenUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

void MainWindow::Beep() { desktop_->Beep(); }

}  // namespace tarvik::gui
