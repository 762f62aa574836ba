#include "window/commands.hpp"

#include <exception>

#include "operations/save.hpp"

namespace tarvik::window {

namespace {

// An unexpected failure ends a command; the person is told what it was.
void TellFailure(ops::Conversation& conversation, const std::exception& e) {
  conversation.Tell({ops::Severity::Plain, kProgramName, std::string("Error:") + kProgramName + " : " + e.what()});
}

}  // namespace

Commands::Commands(WindowUi& ui, Platform platform) : ui_(ui), platform_(platform), scratch_(std::move(platform)) {}

void Commands::Form_Load() {
  for (const ops::Message& m : ops::PrepareProgramFolders(platform_)) ui_.Tell(m);
}

void Commands::Form_Unload() {
  if (auto failure = scratch_.Remove()) ui_.Tell(*failure);
}

const std::vector<views::FileRow>& Commands::Files() const {
  static const std::vector<views::FileRow> kNone;
  return state_.item ? state_.item->view.files : kNone;
}

void Commands::Forget() { state_.item.reset(); }

void Commands::Show(const std::shared_ptr<const ops::Opened>& item) {
  state_.item = item;
  scratch_.Write(*item);
  if (item->kind != ops::ItemKind::Other) ui_.SetText(item->text);
}

void Commands::mnOpen_Click() {
  auto chosen = ui_.ChooseOpenFile(kOpenFilter, kOpenTitle);
  if (!chosen || chosen->empty()) return;
  ops::FileRead read = ops::ReadFile(*chosen, false);
  if (read.status != ops::ReadStatus::Read) {
    // Nothing is read from a file that cannot be read: the window stays as it was.
    ui_.Tell(*read.refusal);
    return;
  }
  ui_.ShowBanner(kOpenBanner);
  OpenBytes(*chosen, std::move(read.bytes));
  ui_.HideBanner();
}

void Commands::OpenBytes(const std::string& path, FileBytes data) {
  try {
    state_.currentFile = path;
    state_.openedFile = path;
    Forget();
    state_.title = BaseName(path) + kTitleSuffix;
    ui_.SetTitle(state_.title);
    ui_.SetText("");
    Show(ops::OpenBytes(path, std::move(data), {state_.sourceFolder}, ui_));
  } catch (const std::exception& e) {
    // Nothing of a half-read file stays.
    Forget();
    TellFailure(ui_, e);
  }
}

void Commands::mnReload_Click() {
  if (state_.openedFile.empty()) return;
  ops::FileRead read = ops::ReadFile(state_.openedFile, true);
  if (read.status == ops::ReadStatus::Missing) {
    // The window keeps what it shows.
    ui_.Tell(*read.refusal);
    return;
  }
  try {
    Forget();
    ui_.SetText("");
    state_.title = BaseName(state_.openedFile) + kTitleSuffix;
    ui_.SetTitle(state_.title);
    state_.currentFile = state_.openedFile;
    ui_.ShowBanner(kReloadBanner);
    if (read.status != ops::ReadStatus::Read) {
      // The file became unreadable or was emptied: it is closed, with the reason.
      ui_.HideBanner();
      mnClose_Click();
      ui_.Tell(*read.refusal);
      return;
    }
    Show(ops::OpenBytes(state_.currentFile, std::move(read.bytes), {state_.sourceFolder}, ui_));
  } catch (const std::exception& e) {
    Forget();
    TellFailure(ui_, e);
  }
  ui_.HideBanner();
}

void Commands::mnClose_Click() {
  Forget();
  ui_.SetText("");
  state_.currentFile.clear();
  state_.openedFile.clear();
  state_.title = kProgramName;
  ui_.SetTitle(state_.title);
}

FileMenuState Commands::mnFile_Click() const {
  FileMenuState m;
  if (state_.currentFile.empty()) return m;
  m.save = m.reload = m.close = true;
  m.extract = fsys::FileExists(state_.currentFile) && state_.item && state_.item->FileCount() != 0 &&
              fsys::FileLength(state_.currentFile).value_or(0) != 0;
  return m;
}

void Commands::mnSave_Click() {
  static const ops::Opened kNothing;
  try {
    const auto chosen = ui_.ChooseSaveFile(kSaveFilter, kSaveTitle, kProposedName);
    if (!chosen || chosen->empty()) return;
    ops::Save(state_.item ? *state_.item : kNothing, ui_.Text(), *chosen, ui_);
  } catch (const std::exception& e) {
    TellFailure(ui_, e);
  }
}

void Commands::mnWD_Click() {
  const auto chosen = ui_.ChooseFolder(kWorkingDirTitle, FolderPurpose::WorkingDirectory);
  if (!chosen) return;
  const std::string folder = FolderPath(*chosen);
  if (!folder.empty()) state_.sourceFolder = folder;
}

ops::ExtractJob Commands::PrepareExtraction(const std::optional<std::vector<std::size_t>>& rows,
                                            bool rebuildScripts) {
  if (!mnFile_Click().extract) return {};
  const auto picked = ui_.ChooseFolder(kExtractFolderTitle, FolderPurpose::Extract);
  if (!picked) return {};
  const std::string folder = FolderPath(*picked);
  if (folder.empty()) return {};
  ops::ExtractRequest request;
  request.folder = folder;
  request.rows = rows;
  request.rebuildScripts = rebuildScripts;
  return ops::PrepareExtraction(state_.item, request, ui_);
}

}  // namespace tarvik::window
