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
// walked to open (a bounded number), so that a file costs no walk from the top once its
// folder is known, and it names the temporary files of its writes.
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

 private:
  // Folder handles kept open at most; beyond, the cache starts again.
  static constexpr std::size_t kMaxOpenFolders = 64;

  Folder base_;
  std::map<std::vector<std::string>, Folder> folders_;
  std::vector<std::string> lastPath_;
  std::string lastRelative_;
  std::optional<std::vector<std::string>> lastComponents_;
  const Folder* last_ = nullptr;  // the folder of the last file, looked up again first
  std::string partPrefix_;  // ".tarvik-<process>-<writer>-"
  unsigned long counter_ = 0;
};

// A file being written below the extraction folder: the bytes go to a temporary file in
// the destination's folder, which Commit renames over the destination.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Prepares the destination `relative` below `base`. False when the path is unsafe, leads
  // through a symbolic link, names a folder or a link, or a folder or the file cannot be
  // created.
  bool Open(const FolderHandle& base, std::string_view relative);
  // The same below an extraction's destination folder.
  bool Open(Destination& destination, std::string_view relative);
  bool Write(const std::uint8_t* data, std::size_t size);
  // Closes the file and moves it into place; false (and nothing left behind) on failure.
  bool Commit();
  // Removes the temporary file.
  void Abort();
  // Why the last Open, Write or Commit failed: an errno value, kUnsafeName or kNotAFile
  // (0 when nothing failed).
  int Error() const { return error_; }
  static constexpr int kUnsafeName = -1;  // the name would leave the folder, or holds control characters
  static constexpr int kNotAFile = -2;    // a link, a folder or a device stands at the destination

 private:
  // `fresh`: the folder was made by this extraction, so nothing else can stand at `name`.
  bool OpenIn(int folderFd, std::string name, std::string tempName, bool fresh = false);

  FolderHandle folder_;  // owned when opened through a handle of its own
  int folderFd_ = -1;
  std::string name_;
  std::string tempName_;
  int fd_ = -1;
  bool failed_ = false;
  int error_ = 0;
};

// The reason of an OutputFile error, as the person reads it ("No space left on device").
std::string ErrorText(int error);

}  // namespace tarvik::extract
