#include "extract/rebuild_files.hpp"

#include <algorithm>

#include "extract/safe_path.hpp"

namespace tarvik::extract {

std::vector<std::string> WriteRebuildScripts(const std::string& folder, const std::vector<views::RebuildScript>& scripts,
                                             Reporter& reporter) {
  std::vector<std::string> written;
  Destination destination(folder);
  for (const views::RebuildScript& s : scripts) {
    std::string shown = s.path;
    std::replace(shown.begin(), shown.end(), '\\', '/');
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

}  // namespace tarvik::extract
