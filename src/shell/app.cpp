#include "shell/app.hpp"

#include <algorithm>
#include <ctime>
#include <exception>
#include <filesystem>

#include "bytes/encoding.hpp"
#include "bytes/inflate.hpp"
#include "extract/extract.hpp"
#include "extract/certificates.hpp"
#include "extract/rebuild_files.hpp"
#include "extract/safe_path.hpp"
#include "extract/budget.hpp"
#include "parse/parse.hpp"
#include "project/project.hpp"
#include "shell/open_checks.hpp"
#include "sis9/parser.hpp"
#include "views/rebuild_script.hpp"

namespace tarvik {

namespace {

constexpr const char* kBrimondTitle = "Brimond";
constexpr const char* kNotAPackage = "This is not the valid SIS file!";
constexpr const char* kStubNotice = "This is a stub sis file which contains no file inside";
constexpr const char* kUnknownVersion = "Unknown SIS file version!";
constexpr const char* kInternalError =
    "Internal Error: No file buffer to open, please shut down Tarvik and start again";
// Damaged parts named in the summary message; the rest are counted.
constexpr std::size_t kDamageShown = 5;

std::string UnreadableMessage(const std::string& path, const std::string& why) {
  return "Cannot read " + path + ": " + why;
}

// Name of the PKG scratch file, made from the time of day.
std::string ScratchName() {
  std::time_t now = std::time(nullptr);
  std::tm tmv{};
  localtime_r(&now, &tmv);
  std::string text = std::to_string(tmv.tm_sec * 22) + HexText(static_cast<std::uint64_t>(tmv.tm_hour * tmv.tm_min * 128));
  return NumText(HexToLong(text));
}

// Extraction's messages and progress, shown through the Ui.
class UiReporter : public extract::Reporter {
 public:
  explicit UiReporter(App& app) : app_(app) {}
  void Failed(const std::string& text) override { app_.ui.MsgBox(text, msg::Critical, kProgramName); }
  void Warning(const std::string& text) override { app_.ui.MsgBox(text, msg::Exclamation, kProgramName); }
  void Progress(std::uint64_t done, std::uint64_t total) override {
    app_.ui.Progress(static_cast<std::size_t>(done), static_cast<std::size_t>(total));
  }
  bool Cancelled() const override { return app_.state.stopExtraction; }

 private:
  App& app_;
};

}  // namespace

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
  std::string why;
  if (auto scratch = platform.GetScratchDir(&why)) {
    // Part and scratch files that a killed run left behind.
    RemoveStaleFiles(*scratch);
    RemoveStaleFiles(scratch->substr(0, scratch->size() - std::string("Brimond/").size()));
  } else {
    ui.MsgBox("Cannot use a private temporary folder: " + why, msg::Exclamation, kProgramName);
  }
  ensure(JoinPath(state.windowsFolder + "Brimond", "bin"));
}

void App::Form_Unload() {
  const std::string& scratch = state.pkgScratchFile;
  if (!scratch.empty() && fsys::FileExists(scratch) && !fsys::DeleteFile(scratch))
    ui.MsgBox("Error : Module_Unload : cannot delete " + scratch, msg::Exclamation, kProgramName);
  scratch_.Delete();
}

void App::ClearPackage() {
  state.package.reset();
  state.view = {};
  state.dataMark = 0;
  state.stub = false;
}

void App::ShowProblems(const model::Package& package) {
  using Kind = model::Problem::Kind;
  std::string damage;
  std::size_t damaged = 0;
  for (const model::Problem& p : package.problems) {
    switch (p.kind) {
      case Kind::NotAPackage: ui.MsgBox(kNotAPackage, msg::Critical, kBrimondTitle); break;
      case Kind::Inflate: ui.MsgBox(InflateMessage(p.status, "Extraction Error: "), msg::Exclamation, kBrimondTitle); break;
      case Kind::UnknownVersion: ui.MsgBox(kUnknownVersion, msg::Exclamation, kProgramName); break;
      case Kind::Unreadable: ui.MsgBox(kInternalError, msg::Critical, kProgramName); break;
      case Kind::Damaged:
        // Pre-9.x damage is in the model (and in the views that list problems); the window
        // names only a condition it had to leave out.
        if (package.generation != model::Generation::Sis9 && p.what != model::kConditionTooDeep &&
            p.what != model::kConditionTooLong)
          break;
        if (damaged++ < kDamageShown) damage += (damaged > 1 ? "; " : "") + p.what + " at " + std::to_string(p.where);
        break;
    }
  }
  if (package.stub) ui.MsgBox(kStubNotice, msg::Information, kBrimondTitle);
  if (damaged > 0) {
    if (damaged > kDamageShown) damage += "; and " + std::to_string(damaged - kDamageShown) + " more";
    ui.MsgBox(std::string(kProgramName) + " Damaged package data: could not read " + damage, msg::Plain, kProgramName);
  }
}

void App::WriteScratchFiles(const model::Package& package, const std::string& script) {
  // Only a folder that is private at every level (sent nowhere by a planted link).
  std::string folder = platform.GetScratchDir().value_or("");
  if (!folder.empty()) folder.pop_back();
  if (package.frame && !folder.empty()) {
    // The unpacked controller, streamed from the package into the file: the model keeps no
    // copy of it.
    fsys::DeleteFile(JoinPath(folder, "tmp.bin"));
    const bool inflated = std::none_of(package.problems.begin(), package.problems.end(),
                                       [](const model::Problem& p) { return p.kind == model::Problem::Kind::Inflate; });
    extract::OutputFile out;
    if (inflated && out.Open(extract::FolderHandle::OpenPrivate(folder), "tmp.bin")) {
      const int status = sis9::ReadControllerBytes(
          bytes, *package.frame, [&out](const std::uint8_t* data, std::size_t size) { return out.Write(data, size); });
      if (status == zstatus::Ok)
        out.Commit();
      else
        out.Abort();
    }
  }
  if (!state.pkgScratchFile.empty()) fsys::DeleteFile(state.pkgScratchFile);
  scratch_.Delete();
  state.pkgScratchFile = folder.empty() ? std::string() : JoinPath(folder, ScratchName());
  if (!script.empty() && !state.pkgScratchFile.empty()) scratch_.Write(state.pkgScratchFile, script);
}

std::string App::OpenPackage(const std::string& path) {
  // A file that exists but cannot be read is reported as no package: it reads as one zero
  // byte.
  static const std::uint8_t kZero = 0;
  const bool unread = bytes.empty() && fsys::FileLength(path).value_or(0) > 0;
  auto package = std::make_shared<model::Package>(
      Parse(unread ? std::span<const std::uint8_t>(&kZero, 1) : std::span<const std::uint8_t>(bytes), path));
  const bool notPackage = !package->problems.empty() && package->problems.front().kind == model::Problem::Kind::NotAPackage;
  if (package->generation == model::Generation::Unknown) return {};
  views::ScriptSettings settings;
  settings.sourceFolder = state.defaultSourceFolder;
  views::PackageView view = views::Describe(*package, settings);
  if (package->generation == model::Generation::Sis9) {
    state.formatMarker = 1;
    if (!notPackage) WriteScratchFiles(*package, view.script);
    state.dataMark = static_cast<std::int32_t>(view.files.size());
  } else {
    state.formatMarker = 0;
    const bool unreadable = std::any_of(package->problems.begin(), package->problems.end(), [](const model::Problem& p) {
      return p.kind == model::Problem::Kind::Unreadable;
    });
    state.dataMark = unreadable || !package->oldHeader ? 0 : package->oldHeader->fileCount;
  }
  state.stub = package->stub;
  ShowProblems(*package);
  std::string script = view.script;
  state.view = std::move(view);
  state.package = std::move(package);
  return script;
}

void App::ReadCurrentFile() {
  const std::string& path = state.currentFile;
  const std::string lower = ToLower(path);
  auto ends = [&lower](std::string_view s) { return lower.size() >= s.size() && lower.ends_with(s); };
  bool read = true;
  if (ends(".qsd")) {
    state.projectText = OpenSession(path);
  } else if (ends(".pkg")) {
    state.projectText = DecodeTextFile(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    state.dataMark = 0;
  } else if (ends(".sis") || ends(".sisx") || opencheck::OfferAsPackage(ui, path, bytes)) {
    state.projectText = OpenPackage(path);
  } else {
    read = false;
  }
  if (read) ui.SetText(state.projectText);
}

void App::mnOpen_Click() {
  auto chosen = ui.ChooseOpenFile(kOpenFilter, kOpenTitle);
  if (!chosen || chosen->empty()) return;
  if (!opencheck::Readable(ui, *chosen, false)) return;
  Bytes data;
  std::string why;
  if (!fsys::ReadWholeFile(*chosen, data, &why)) {
    // Nothing is read from a file that cannot be read: the window stays as it was.
    ui.MsgBox(UnreadableMessage(*chosen, why), msg::Critical, kProgramName);
    return;
  }
  if (!opencheck::NotEmpty(ui, *chosen, data.size())) return;
  ui.ShowBanner(kOpenBanner);
  OpenBytes(*chosen, std::move(data));
  ui.HideBanner();
}

void App::OpenBytes(const std::string& path, Bytes data) {
  try {
    state.stopExtraction = true;
    ui.SetBusy(false);
    state.currentFile = path;
    state.openedFile = path;
    ClearPackage();
    bytes = std::move(data);
    state.extractionFolder.clear();
    state.title = BaseName(path) + kTitleSuffix;
    ui.SetTitle(state.title);
    ui.SetText("");
    ReadCurrentFile();
  } catch (const std::exception&) {
    // An unexpected failure ends the command quietly; nothing of a half-read package stays.
    ClearPackage();
  }
}

void App::mnReload_Click() {
  if (state.openedFile.empty()) return;
  if (!opencheck::Readable(ui, state.openedFile, true)) return;
  try {
    ClearPackage();
    bytes.clear();
    ui.SetText("");
    state.title = BaseName(state.openedFile) + kTitleSuffix;
    ui.SetTitle(state.title);
    state.currentFile = state.openedFile;
    ui.ShowBanner(kReloadBanner);
    state.stopExtraction = true;
    ui.SetBusy(false);
    state.extractionFolder.clear();
    std::string why;
    if (!fsys::ReadWholeFile(state.currentFile, bytes, &why)) {
      // The file became unreadable: it is closed, with the reason.
      ui.HideBanner();
      const std::string path = state.currentFile;
      mnClose_Click();
      ui.MsgBox(UnreadableMessage(path, why), msg::Critical, kProgramName);
      return;
    }
    if (bytes.empty()) {
      // The file was emptied since it was opened: nothing of it is left to show.
      ui.HideBanner();
      const std::string path = state.currentFile;
      mnClose_Click();
      opencheck::NotEmpty(ui, path, 0);
      return;
    }
    ReadCurrentFile();
  } catch (const std::exception&) {
    ClearPackage();
  }
  ui.HideBanner();
}

void App::mnClose_Click() {
  ClearPackage();
  bytes.clear();
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

std::string App::OpenSession(const std::string& path) {
  const project::Session session = project::OpenProject(bytes, path, [this] { ui.DoEvents(); });
  if (session.formatMarker) state.formatMarker = *session.formatMarker;
  if (session.error) {
    ui.MsgBox(*session.error, msg::Critical, kProgramName);
    return {};
  }
  state.carriedText = session.carriedText;
  state.title = BaseName(path) + kTitleSuffix;
  ui.SetTitle(state.title);
  return session.pkgText;
}

void App::mnSave_Click() {
  try {
    const auto chosen = ui.ChooseSaveFile(project::kSaveFilter, project::kSaveTitle, project::kProposedName);
    if (!chosen || chosen->empty()) return;
    const std::string& path = *chosen;
    if (const auto kind = fsys::SpecialFileKind(path)) {
      // Only a file is ever replaced: a pipe or a device would take the text somewhere else.
      ui.MsgBox("Cannot save to " + path + ": it is " + *kind + ", not a file.", msg::Critical, kProgramName);
      return;
    }
    if (fsys::FileExists(path) || fsys::IsSymlink(path)) {
      const int answer = ui.MsgBox(path + " already exists.\r\nDo you want to replace it?", msg::Exclamation + msg::YesNo,
                                   kProgramName);
      if (answer != msg::Yes) return;
    }
    if (EndsWithNoCase(path, "qsd")) {
      if (auto failure = project::SaveProject(path, state.projectText, state.carriedText, state.formatMarker))
        ui.MsgBox(failure->text, failure->warning ? msg::Exclamation : msg::Critical, kProgramName);
    } else if (!project::SaveText(path, ui.Text() + "\r\n")) {
      ui.MsgBox("Error while saving " + path, msg::Critical, kProgramName);
    }
  } catch (const std::exception&) {
  }
}

App::ExtractPlan App::ReadyToExtract(const std::vector<views::FileRow>& rows, std::uint64_t extraBytes) {
  state.extractDeclined = false;
  const model::Generation generation =
      state.formatMarker == 0 ? model::Generation::Pre9 : model::Generation::Sis9;
  // A pre-installed package (TYPE=PA or PP) describes files already on the device and
  // carries none of their bytes: that is said once, and nothing is extracted. (One whose
  // data could not be read is damaged, and says so file by file.)
  const model::Package* package = state.package.get();
  const bool preinstalled =
      generation == model::Generation::Sis9 && package && (package->installType == 3 || package->installType == 4) &&
      std::none_of(package->problems.begin(), package->problems.end(),
                   [](const model::Problem& p) { return p.kind == model::Problem::Kind::Damaged; }) &&
      std::none_of(rows.begin(), rows.end(), [](const views::FileRow& r) { return r.hasData; });
  if (preinstalled) {
    ui.MsgBox(extract::kNoFileData, msg::Information, kProgramName);
    return ExtractPlan::NoData;
  }
  // Far more output than the package could honestly hold, or than the disk has room for,
  // is written only when the person confirms it.
  extract::Budget budget = extract::PlanExtraction(bytes, generation, rows, state.extractionFolder);
  budget.planned += extraBytes;
  if (budget.TooMuch() &&
      ui.MsgBox(budget.Question(state.extractionFolder), msg::Exclamation + msg::YesNo, kProgramName) != msg::Yes) {
    state.extractDeclined = true;
    return ExtractPlan::Declined;
  }
  return ExtractPlan::Go;
}

std::vector<std::string> App::WriteRebuildFiles(const extract::Result& result, extract::Reporter& reporter) {
  if (!state.writeRebuildScripts) return {};
  const model::Package* package = state.package.get();
  if (state.formatMarker == 0) {
    ui.MsgBox(extract::kRebuildSis9Only, msg::Information, kProgramName);
    return {};
  }
  if (!package || result.stopped) return {};
  const auto replace = [this](const std::string& path) {
    return ui.MsgBox(path + " already exists.\r\nDo you want to replace it?", msg::Exclamation + msg::YesNo,
                     kProgramName) == msg::Yes;
  };
  return extract::WriteRebuildFiles(state.extractionFolder, *package, state.view, &result, replace, reporter);
}

void App::ExtractFiles() {
  const std::vector<extract::CertificateFile> certificates =
      state.writeCertificates && state.package ? extract::CertificateFiles(*state.package, bytes)
                                               : std::vector<extract::CertificateFile>();
  const ExtractPlan plan = ReadyToExtract(state.view.files, extract::CertificateCost(certificates));
  if (plan == ExtractPlan::Declined) return;
  ui.SetBusy(true);
  state.busy = true;
  state.stopExtraction = false;
  ui.SetExtractEnabled(false);
  state.extractedCount = 0;
  UiReporter reporter(*this);
  extract::Result result;
  const model::Generation generation =
      state.formatMarker == 0 ? model::Generation::Pre9 : model::Generation::Sis9;
  try {
    if (plan == ExtractPlan::Go)
      result = extract::ExtractAll(bytes, generation, state.view.files, state.extractionFolder, reporter);
    // The PKG files are listed after the extracted files, by their paths in the folder.
    const std::vector<std::string> scripts = WriteRebuildFiles(result, reporter);
    if (!scripts.empty()) {
      result.list += (result.list.empty() ? "" : "\r\n") + std::string(extract::kRebuildHead) +
                     state.extractionFolder + "\r\n";
      for (const std::string& path : scripts) result.list += path + "\r\n";
    }
    extract::ListCertificates(state.extractionFolder, certificates, result, reporter);
  } catch (const std::exception& e) {
    // An unexpected failure ends the extraction; what was written stays.
    ui.SetBusy(false);
    state.busy = false;
    ui.SetExtractEnabled(true);
    ui.MsgBox(std::string("Error:") + kProgramName + " : " + e.what(), msg::Plain, kProgramName);
    return;
  }
  state.extractedCount = result.extracted;
  ui.SetBusy(false);
  state.busy = false;
  ui.SetExtractEnabled(true);
  if (result.stopped) {
    state.stopExtraction = true;
    return;
  }
  if (!result.pastEnd.empty()) {
    std::string text = extract::kPastEndHead;
    for (const auto& m : result.pastEnd) text += "\r\n" + m;
    ui.MsgBox(text, msg::Critical, kProgramName);
  }
  if (!result.mismatches.empty()) {
    std::string text = extract::kHashMismatchHead;
    for (const auto& m : result.mismatches) text += "\r\n" + m;
    ui.MsgBox(text, msg::Exclamation, kProgramName);
  }
  if (result.list.empty()) return;
  ui.Beep();
  const std::string folder = state.extractionFolder + "bin";
  ui.ShowExtractResult(extract::kResultHead + folder + "\r\n\r\n" + result.list, folder);
}

std::optional<std::string> App::ChooseExtractionFolder() {
  auto picked = ui.ChooseFolder(extract::kFolderTitle);
  if (!picked) return std::nullopt;
  std::string folder = *picked;
  if (const auto nul = folder.find('\0'); nul != std::string::npos) folder.resize(nul);
  if (folder.empty()) return std::nullopt;
  if (folder.back() != kSep) folder += kSep;
  state.extractionFolder = folder;
  if (state.formatMarker != 0 && state.stub) return std::nullopt;
  return folder;
}

void App::mnExtr_Click() {
  if (ChooseExtractionFolder()) ExtractFiles();
}

void App::mnWD_Click() {
  auto chosen = ui.ChooseFolder(kWorkingDirTitle);
  if (!chosen) return;
  std::string path = chosen->substr(0, chosen->find('\0'));
  if (!path.empty() && path.back() != kSep) path += kSep;
  if (!path.empty()) state.defaultSourceFolder = path;
}

}  // namespace tarvik
