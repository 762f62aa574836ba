#include "operations/window_files.hpp"

#include <signal.h>

#include <cerrno>
#include <ctime>
#include <filesystem>

#include "extract/safe_path.hpp"

namespace tarvik::ops {

namespace {

// Name of the PKG scratch file, made from the time of day.
std::string ScratchName() {
  std::time_t now = std::time(nullptr);
  std::tm tmv{};
  localtime_r(&now, &tmv);
  const std::string digits =
      std::to_string(tmv.tm_sec * 22) + HexText(static_cast<std::uint64_t>(tmv.tm_hour * tmv.tm_min * 128));
  // The digits are read back as hexadecimal and written in decimal.
  return std::to_string(HexValue(digits).value_or(0));
}

void WriteController(const std::string& folder, const model::Package& package) {
  fsys::DeleteFile(JoinPath(folder, "tmp.bin"));
  if (!package.controller) return;
  const Bytes& controller = *package.controller;
  extract::OutputFile out;
  if (out.Open(extract::FolderHandle::OpenPrivate(folder), "tmp.bin") &&
      out.Write(controller.data(), controller.size()))
    out.Commit();
  else
    out.Abort();
}

// Whether the process `pid` has ended.
bool Gone(long pid) { return pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH; }

// Removes the folders "open-PID-N" and "drag-PID-N" (files taken out of a package to be
// opened or dragged away) that a window which is no longer running left in `folder`.
void RemoveStaleTakeOuts(const std::string& folder) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    std::size_t at = name.rfind("open-", 0) == 0 ? 5 : name.rfind("drag-", 0) == 0 ? 5 : 0;
    if (at == 0 || entry.is_symlink(ec) || !entry.is_directory(ec)) continue;
    long pid = 0;
    for (; at < name.size() && name[at] >= '0' && name[at] <= '9' && pid < 100000000; ++at) pid = pid * 10 + (name[at] - '0');
    if (at < name.size() && name[at] == '-' && Gone(pid)) std::filesystem::remove_all(entry.path(), ec);
  }
}

}  // namespace

std::vector<Message> PrepareProgramFolders(const Platform& platform) {
  std::vector<Message> messages;
  // The data folder itself may not exist yet on a fresh account.
  std::error_code ec;
  std::filesystem::create_directories(platform.DataDir(), ec);
  const std::string top = JoinPath(platform.DataDir(), "Brimond");
  auto ensure = [&messages](const std::string& folder) {
    if (!fsys::FolderExists(folder) && !fsys::CreateFolder(folder))
      messages.push_back({Severity::Warning, kProgramName, "Cannot create the folder " + folder});
  };
  ensure(top);
  std::string why;
  if (auto scratch = platform.ScratchDir(&why)) {
    // Part and scratch files that a killed run left behind.
    RemoveStaleFiles(*scratch);
    RemoveStaleTakeOuts(*scratch);
    RemoveStaleFiles(scratch->substr(0, scratch->size() - std::string("Brimond/").size()));
  } else {
    messages.push_back({Severity::Warning, kProgramName, "Cannot use a private temporary folder: " + why});
  }
  ensure(JoinPath(top, "bin"));
  return messages;
}

void ScratchFiles::Write(const Opened& item) {
  const model::Package* package = item.package.get();
  if (!package || package->generation != model::Generation::Sis9 ||
      (!package->problems.empty() && package->problems.front().kind == model::Problem::Kind::NotAPackage))
    return;
  // Only a folder that is private at every level (sent nowhere by a planted link).
  std::string folder = platform_.ScratchDir().value_or("");
  if (!folder.empty()) folder.pop_back();
  if (package->frame && !folder.empty()) WriteController(folder, *package);
  if (!pkgPath_.empty()) fsys::DeleteFile(pkgPath_);
  held_.Delete();
  pkgPath_ = folder.empty() ? std::string() : JoinPath(folder, ScratchName());
  if (!item.view.script.empty() && !pkgPath_.empty()) held_.Write(pkgPath_, item.view.script);
}

std::optional<Message> ScratchFiles::Remove() {
  std::optional<Message> failure;
  if (!pkgPath_.empty() && fsys::FileExists(pkgPath_) && !fsys::DeleteFile(pkgPath_))
    failure = Message{Severity::Warning, kProgramName, "Error : Module_Unload : cannot delete " + pkgPath_};
  held_.Delete();
  return failure;
}

}  // namespace tarvik::ops
