#include "shell/open_checks.hpp"

#include "platform/platform.hpp"
#include "shell/app.hpp"

namespace tarvik::opencheck {

namespace {
constexpr std::uint32_t kSis9Uid1 = 0x10201A7A;
constexpr std::uint32_t kOldUid3 = 0x10000419;
}  // namespace

bool Readable(Ui& ui, const std::string& path, bool reload) {
  if (!fsys::FileExists(path)) {
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
  if (fsys::FileLength(path).value_or(0) == 0) {
    ui.MsgBox(BaseName(path) + " is empty (0 bytes): there is nothing in it to show.\r\nIt may be an unfinished "
                               "download or copy. Copy the package again, or open another file.",
              msg::Critical, kProgramName);
    return false;
  }
  return true;
}

bool LooksLikePackage(ByteView bytes) {
  if (bytes.Size() < 16) return false;
  return ReadLE(bytes, 0, 4) == kSis9Uid1 || ReadLE(bytes, 8, 4) == kOldUid3;
}

bool OfferAsPackage(Ui& ui, const std::string& path, ByteView bytes) {
  const std::string name = BaseName(path);
  if (LooksLikePackage(bytes)) {
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
