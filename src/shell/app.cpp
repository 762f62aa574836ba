#include "shell/app.hpp"

#include <exception>
#include <filesystem>

#include "bytes/encoding.hpp"

namespace tarvik {

App::App(Ui& ui_, Platform platform_) : ui(ui_), platform(std::move(platform_)) {}

void App::Form_Load() {
  // zlib is linked in: nothing to install. Then the program's folders, one level at a time,
  // under the data folder (which a fresh account may not have yet).
  state.windowsFolder = platform.GetWinDir() + kSep;
  std::error_code ec;
  std::filesystem::create_directories(platform.GetWinDir(), ec);
  auto ensure = [this](const std::string& folder) {
    if (!fsys::FolderExists(folder) && !fsys::CreateFolder(folder))
      ui.MsgBox("Cannot create the folder " + folder, msg::Exclamation, kProgramName);
  };
  ensure(state.windowsFolder + "Brimond");
  if (auto tmp = platform.GetTempDir())
    ensure(*tmp + "Brimond");
  else
    ui.MsgBox("Cannot make a private temporary folder (it is a link or belongs to another user)", msg::Exclamation,
              kProgramName);
  ensure(JoinPath(state.windowsFolder + "Brimond", "bin"));
}

void App::Form_Unload() {
  const std::string& scratch = state.pkgScratchFile;
  if (scratch.empty() || !fsys::FileExists(scratch)) return;
  if (!fsys::DeleteFile(scratch))
    ui.MsgBox("Error : Module_Unload : cannot delete " + scratch, msg::Exclamation, kProgramName);
}

void App::ReadCurrentFile() {
  const std::string& path = state.currentFile;
  const std::string lower = ToLower(path);
  auto ends = [&lower](std::string_view s) { return lower.size() >= s.size() && lower.ends_with(s); };
  bool read = true;
  if (ends(".qsd")) {
    state.projectText = project::OpenProject(*this, fsys::FileLength(path).value_or(0), path);
  } else if (ends(".pkg")) {
    Bytes bytes;
    fsys::ReadWholeFile(path, bytes);
    state.projectText = DecodeTextFile(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    state.dataMark = 0;
  } else if (ends(".sis") || ends(".sisx")) {
    state.projectText = sis_old::OpenSISFile2(*this);
  } else {
    read = false;
  }
  if (read) ui.SetText(state.projectText);
}

void App::mnOpen_Click() {
  auto chosen = ui.ChooseOpenFile(kOpenFilter, kOpenTitle);
  if (!chosen || chosen->empty()) return;
  ui.ShowBanner(kOpenBanner);
  try {
    state.stopExtraction = true;
    ui.SetBusy(false);
    state.currentFile = *chosen;
    state.openedFile = *chosen;
    buffer.Reset();
    state.extractionFolder.clear();
    state.title = BaseName(*chosen) + kTitleSuffix;
    ui.SetTitle(state.title);
    OpenBinary(buffer, state.currentFile);
    ui.SetText("");
    ReadCurrentFile();
  } catch (const std::exception&) {
    // An unexpected failure ends the command quietly; the state keeps what was set.
  }
  ui.HideBanner();
}

void App::mnReload_Click() {
  if (state.openedFile.empty()) return;
  try {
    buffer.Reset();
    ui.SetText("");
    state.title = BaseName(state.openedFile) + kTitleSuffix;
    ui.SetTitle(state.title);
    state.currentFile = state.openedFile;
    ui.ShowBanner(kReloadBanner);
    state.stopExtraction = true;
    ui.SetBusy(false);
    buffer.Reset();
    state.extractionFolder.clear();
    OpenBinary(buffer, state.currentFile);
    ui.SetText("");
    ReadCurrentFile();
  } catch (const std::exception&) {
    // As Open: end quietly.
  }
  ui.HideBanner();
}

void App::mnClose_Click() {
  buffer.Reset();
  ui.SetText("");
  state.currentFile.clear();
  state.openedFile.clear();
  state.title = kProgramName;
  ui.SetTitle(state.title);
  state.stopExtraction = true;
  ui.SetBusy(false);
  state.extractionFolder.clear();
}

FileMenuState App::mnFile_Click() const {
  FileMenuState m;
  if (state.currentFile.empty()) return m;
  m.save = m.reload = m.close = true;
  m.extract = fsys::FileExists(state.currentFile) && state.dataMark != 0 &&
              fsys::FileLength(state.currentFile).value_or(0) != 0;
  return m;
}

void App::mnSave_Click() {
  try {
    project::mnSave_Click(*this);
  } catch (const std::exception&) {
  }
}

void App::mnExtr_Click() { extract::mnExtr_Click(*this); }

void App::mnWD_Click() {
  auto chosen = ui.ChooseFolder(kWorkingDirTitle);
  if (!chosen) return;
  std::string path = chosen->substr(0, chosen->find('\0'));
  if (!path.empty() && path.back() != kSep) path += kSep;
  if (!path.empty()) state.defaultSourceFolder = path;
}

}  // namespace tarvik
