#pragma once
// Safe destinations for extracted files.
//
// A package names its files by paths relative to the extraction folder, with backslashes.
// Those names come from the package and cannot be trusted: a name may climb out of the
// folder (".."), be absolute, carry a drive prefix or control characters, or lead through a
// symbolic link that something else planted in the folder. Every file is therefore created
// relative to an open handle of the extraction folder, one folder level at a time, never
// following a link, and written under a temporary name that is renamed into place only when
// the whole content has been written.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik::extract {

// The components of a package path relative to the extraction folder (separators "\" and
// "/"; empty components between separators are dropped). Nothing when the path is unsafe:
// empty, absolute, drive-prefixed ("C:..."), holding a "." or ".." component or a control
// character, or ending in a separator (no file name).
std::optional<std::vector<std::string>> SafeComponents(std::string_view relative);

// An open folder handle.
class FolderHandle {
 public:
  FolderHandle() = default;
  explicit FolderHandle(int fd) : fd_(fd) {}
  ~FolderHandle();
  FolderHandle(FolderHandle&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  FolderHandle& operator=(FolderHandle&& other) noexcept;
  FolderHandle(const FolderHandle&) = delete;
  FolderHandle& operator=(const FolderHandle&) = delete;

  // Opens a folder chosen by the person (a native path; links in it are the person's own).
  static FolderHandle Open(const std::string& path);
  // The same for a folder whose last level must not be a symbolic link.
  static FolderHandle OpenPrivate(const std::string& path);
  bool Valid() const { return fd_ >= 0; }
  int Fd() const { return fd_; }

 private:
  int fd_ = -1;
};

// Creates (where missing) and opens the folders `components[0 .. count)` below `base`, one
// level at a time; a level that is a symbolic link or not a folder fails the walk. With
// `madeLast`, it tells whether the walk made the last folder itself.
FolderHandle OpenFolders(const FolderHandle& base, const std::vector<std::string>& components, std::size_t count,
                         bool* madeLast = nullptr);

// Creates the folders of a destination (every component but the last) below `base`.
// False when the path is unsafe or a level cannot be made.
bool CreateDestinationFolders(const FolderHandle& base, std::string_view relative);

// The extraction folder of one extraction. It keeps the handles of the folders it has
// walked to open (a bounded number, every level of a walk), so that a file costs no walk
// from the top once its folder is known, and it names the temporary files of its writes.
class Destination {
 public:
  // `folder` is a native path chosen by the person.
  explicit Destination(const std::string& folder);
  Destination(const Destination&) = delete;
  Destination& operator=(const Destination&) = delete;
  bool Valid() const { return base_.handle.Valid(); }
  // A folder below the extraction folder; `made` when this extraction made it, so that
  // nothing but its own files can stand in it.
  struct Folder {
    FolderHandle handle;
    bool made = false;
  };
  // The folder that holds `components[0 .. size - 1)`, created where missing; nullptr when
  // a level is a link, not a folder, or cannot be made.
  const Folder* FolderOf(const std::vector<std::string>& components);
  // Creates the folders of a destination (every component but the last).
  bool MakeFolders(std::string_view relative);
  // The safe components of `relative` (see SafeComponents), kept for the path asked last:
  // the folders of a file and the file itself ask for the same path one after the other.
  const std::vector<std::string>* Components(std::string_view relative);
  // A fresh temporary name for a file being written.
  std::string TempName();
  // Whether small files are written as unnamed files linked in when complete (see
  // OutputFile); turned off for the rest of the extraction when the folder's file system
  // or the system cannot do it.
  bool UnnamedFiles() const { return unnamed_; }
  void NoUnnamedFiles() { unnamed_ = false; }

 private:
  // Folder handles kept open at most; beyond, the cache starts again.
  static constexpr std::size_t kMaxOpenFolders = 128;

  Folder base_;
  // Open folders by their components joined with '/' (a component holds no separator).
  std::map<std::string, Folder, std::less<>> folders_;
  // The folders this extraction made, kept when their handles are dropped.
  std::set<std::string, std::less<>> made_;
  std::string lastKey_;
  std::string lastRelative_;
  std::optional<std::vector<std::string>> lastComponents_;
  const Folder* last_ = nullptr;  // the folder of the last file, looked up again first
  std::string partPrefix_;  // ".tarvik-<process>-<writer>-"
  unsigned long counter_ = 0;
  bool unnamed_ = true;
};

// A file being written below the extraction folder, which appears under its name only when
// complete. A small file going where nothing stands yet is written as an unnamed file of the
// folder (O_TMPFILE) and linked in under its name by Commit: no other name ever exists, and
// an interrupted or killed run leaves nothing behind. Any other file is written under a
// temporary part name in the same folder, registered for removal on an interrupt, which
// Commit renames over the destination; a large file thus shows while it is written, and
// the rename costs little beside its writing.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Files of at most this many bytes may be written unnamed.
  static constexpr std::uint64_t kUnnamedLimit = std::uint64_t{1} << 20;
  static constexpr std::uint64_t kUnknownSize = ~std::uint64_t{0};

  // Prepares the destination `relative` below `base`. False when the path is unsafe, leads
  // through a symbolic link, names a folder or a link, or a folder or the file cannot be
  // created.
  bool Open(const FolderHandle& base, std::string_view relative);
  // The same below an extraction's destination folder, for a file of `size` bytes (when
  // known beforehand).
  bool Open(Destination& destination, std::string_view relative, std::uint64_t size = kUnknownSize);
  bool Write(const std::uint8_t* data, std::size_t size);
  // Closes the file and moves it into place; false (and nothing left behind) on failure.
  bool Commit();
  // Removes the temporary file.
  void Abort();
  // Why the last Open, Write or Commit failed: an errno value, kUnsafeName or kNotAFile
  // (0 when nothing failed).
  int Error() const { return error_; }
  // Whether the file being written has no name yet (an unnamed file).
  bool Unnamed() const { return unnamed_; }
  static constexpr int kUnsafeName = -1;  // the name would leave the folder, or holds control characters
  static constexpr int kNotAFile = -2;    // a link, a folder or a device stands at the destination

 private:
  // `fresh`: the folder was made by this extraction, so nothing else can stand at `name`.
  bool OpenIn(int folderFd, std::string name, bool fresh, std::uint64_t size);
  // Creates the part file under a new temporary name.
  bool OpenNamed();
  // Gives the unnamed file the name `target` in its folder.
  bool Link(const char* target);
  // Writes the unnamed file's bytes again under a part name (no way to link it was found).
  bool CopyToPartFile();
  std::string NextTempName();

  FolderHandle folder_;  // owned when opened through a handle of its own
  Destination* destination_ = nullptr;
  int folderFd_ = -1;
  std::string name_;
  std::string tempName_;
  int fd_ = -1;
  bool unnamed_ = false;
  bool failed_ = false;
  int error_ = 0;
  unsigned long temps_ = 0;
};

// The reason of an OutputFile error, as the person reads it ("No space left on device").
std::string ErrorText(int error);

}  // namespace tarvik::extract
