#include "shell/open_checks.hpp"

#include <filesystem>

#include "parse/parse.hpp"
#include "platform/platform.hpp"
#include "shell/app.hpp"

namespace tarvik::opencheck {

bool Readable(Ui& ui, const std::string& path, bool reload) {
  // Missing: nothing there (or a link to nothing). A path the system cannot look at is
  // left to the read, which names the reason.
  std::error_code ec;
  if (!std::filesystem::exists(path, ec) && !ec) {
    if (reload)
      ui.MsgBox(path + " is no longer there: it was moved, renamed or deleted after it was opened, so it cannot be "
                       "read again.\r\nThe window keeps what it shows. Open the file from its new place to read it again.",
                msg::Exclamation, kProgramName);
    else
      ui.MsgBox(path + " does not exist.\r\nIt may have been moved, renamed or deleted. Open another file with "
                       "File > Open..., or drop one on the window.",
                msg::Critical, kProgramName);
    return false;
  }
  return true;
}

bool NotEmpty(Ui& ui, const std::string& path, std::size_t size) {
  if (size != 0) return true;
  ui.MsgBox(BaseName(path) + " is empty (0 bytes): there is nothing in it to show.\r\nIt may be an unfinished "
                             "download or copy. Copy the package again, or open another file.",
            msg::Critical, kProgramName);
  return false;
}

bool OfferAsPackage(Ui& ui, const std::string& path, ByteView bytes) {
  const std::string name = BaseName(path);
  if (LooksLikePackage(bytes.Span())) {
    return ui.MsgBox(name + " does not end in .sis or .sisx, but its first bytes are those of a Symbian "
                            "installation package.\r\nRead it as a package?",
                     msg::Question + msg::YesNo, kProgramName) == msg::Yes;
  }
  ui.MsgBox(name + " is not a file Tarvik reads: it opens packages (.sis, .sisx), PKG scripts (.pkg) and session "
                   "files (.qsd), and the first bytes of this file are not those of a package.\r\nIf it is a PKG "
                   "script or a session file, rename it to end in .pkg or .qsd and open it again.",
         msg::Exclamation, kProgramName);
  return false;
}

}  // namespace tarvik::opencheck
