#include "extract/rebuild_files.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>

#include "extract/safe_path.hpp"

namespace tarvik::extract {

namespace {

// Whether anything (a file, a link, a folder ...) stands at `relative` below the
// destination, looked at without following a link; false also when its folder cannot be had.
bool Occupied(Destination& destination, const std::string& relative) {
  const std::vector<std::string>* components = destination.Components(relative);
  if (!components || components->empty()) return false;
  const Destination::Folder* folder = destination.FolderOf(*components);
  if (!folder) return false;
  struct stat st {};
  return fstatat(folder->handle.Fd(), components->back().c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

}  // namespace

std::vector<std::string> WriteRebuildScripts(const std::string& folder, const std::vector<views::RebuildScript>& scripts,
                                             Reporter& reporter, const ReplaceQuestion& replace) {
  std::vector<std::string> written;
  Destination destination(folder);
  for (const views::RebuildScript& s : scripts) {
    std::string shown = s.path;
    std::replace(shown.begin(), shown.end(), '\\', '/');
    if (!s.refused.empty()) {
      reporter.Failed("The PKG file " + folder + shown + " was not written: " + s.refused + ".");
      continue;
    }
    if (destination.MakeFolders(s.path) && Occupied(destination, s.path) && !(replace && replace(folder + shown))) {
      reporter.Failed(folder + shown + " already exists and was not replaced.");
      continue;
    }
    const std::string bytes = views::EncodePkgFile(s.text);
    OutputFile out;
    const bool ok = destination.MakeFolders(s.path) && out.Open(destination, s.path, bytes.size()) &&
                    out.Write(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()) && out.Commit();
    if (ok)
      written.push_back(shown);
    else
      reporter.Failed(std::string("Error while writing ") + folder + shown);
  }
  return written;
}

std::vector<std::string> WriteRebuildFiles(const std::string& folder, const model::Package& package,
                                           const views::PackageView& view, const Result* result,
                                           const ReplaceQuestion& replace, Reporter& reporter) {
  std::vector<bool> written;
  if (result) {
    written.assign(view.files.size(), false);
    for (const WrittenFile& w : result->written)
      if (w.row < written.size()) written[w.row] = true;
  }
  return WriteRebuildScripts(folder, views::RebuildScripts(package, view, result ? &written : nullptr), reporter,
                             replace);
}

}  // namespace tarvik::extract
