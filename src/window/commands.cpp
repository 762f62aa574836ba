#include "window/commands.hpp"

#include <algorithm>
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

namespace {
// An open that found nothing to show: a file of another kind, or one read as a package
// that is none. The window keeps what it showed before.
bool NothingOpened(const ops::Opened& item) {
  if (item.kind == ops::ItemKind::Other) return true;
  if (item.kind != ops::ItemKind::Package) return false;
  if (!item.package || item.package->generation == model::Generation::Unknown) return true;
  const auto& problems = item.package->problems;
  return std::any_of(problems.begin(), problems.end(),
                     [](const model::Problem& p) { return p.kind == model::Problem::Kind::NotAPackage; });
}
}  // namespace

void Commands::OpenBytes(const std::string& path, FileBytes data) {
  std::shared_ptr<const ops::Opened> item;
  try {
    item = ops::OpenBytes(path, std::move(data), {state_.sourceFolder}, ui_);
  } catch (const std::exception& e) {
    // Nothing of a half-read file is shown; what was open stays.
    TellFailure(ui_, e);
    return;
  }
  if (NothingOpened(*item)) return;
  state_.currentFile = path;
  state_.openedFile = path;
  Forget();
  state_.title = BaseName(path) + kTitleSuffix;
  ui_.SetTitle(state_.title);
  ui_.SetText("");
  Show(item);
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
  // A stub describes files and carries none: there is nothing to extract from it.
  m.extract = fsys::FileExists(state_.currentFile) && state_.item && state_.item->FileCount() != 0 &&
              !state_.item->IsStub() &&
              fsys::FileLength(state_.currentFile).value_or(0) != 0;
  return m;
}

void Commands::mnSave_Click() {
  static const ops::Opened kNothing;
  try {
    // The open file's name without its extension; "Unnamed" when nothing is open.
    std::string proposed = state_.openedFile.empty() ? std::string() : BaseName(state_.openedFile);
    if (const auto dot = proposed.rfind('.'); dot != std::string::npos && dot > 0) proposed.resize(dot);
    const auto chosen = ui_.ChooseSaveFile(kSaveFilter, kSaveTitle, proposed.empty() ? kProposedName : proposed);
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
  ops::ExtractRequest request;
  request.rows = rows;
  request.rebuildScripts = rebuildScripts;
  return PrepareExtraction(std::move(request));
}

ops::ExtractJob Commands::PrepareExtraction(ops::ExtractRequest request) {
  if (!mnFile_Click().extract) return {};
  if (request.folder.empty()) {
    const auto picked = ui_.ChooseFolder(kExtractFolderTitle, FolderPurpose::Extract);
    if (!picked) return {};
    request.folder = *picked;
  }
  request.folder = FolderPath(request.folder);
  if (request.folder.empty()) return {};
  return ops::PrepareExtraction(state_.item, request, ui_);
}

}  // namespace tarvik::window
