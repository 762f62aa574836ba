#pragma once
// The platform layer: the program's folders and the file system, on Linux.
//
// Texts that the package formats define keep their backslashes; they become native paths
// only here (ToNative) at the moment a file or folder is touched. Paths chosen by the person
// are native already and are used as given.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "bytes/file_buffer.hpp"

namespace tarvik {

constexpr char kSep = '/';

class Platform {
 public:
  // Folders from the environment: XDG_DATA_HOME (or ~/.local/share) stands for the Windows
  // folder, TMPDIR (or /tmp) holds the private temporary folder.
  static Platform FromEnvironment();
  Platform(std::string dataHome, std::string tempRoot)
      : dataHome_(std::move(dataHome)), tempRoot_(std::move(tempRoot)) {}

  // The user's data folder, without a trailing separator.
  std::string DataDir() const;
  // The private per-user temporary folder with a trailing separator, created with mode
  // 0700 when missing. Nothing when it is a symbolic link, not a folder or owned by someone
  // else (another user could have planted it), or cannot be made; `why` then tells which.
  std::optional<std::string> TempDir(std::string* why = nullptr) const;
  // The folder "Brimond" inside it, with a trailing separator, checked the same way: a
  // private folder that was once open to others may hold anything another user put there.
  std::optional<std::string> ScratchDir(std::string* why = nullptr) const;

 private:
  std::string dataHome_;
  std::string tempRoot_;
};

// Backslashes to the native separator.
std::string ToNative(std::string_view path);
// Joins a folder and a name with one separator.
std::string JoinPath(std::string_view folder, std::string_view name);
// A folder as chosen (a dialog's answer, an argument): cut at a NUL, ending in one separator;
// empty when nothing was chosen.
std::string FolderPath(std::string_view chosen);
// The name after the last separator (either kind).
std::string BaseName(std::string_view path);
bool EndsWithNoCase(std::string_view text, std::string_view suffix);
std::string ToLower(std::string_view text);
std::string ToUpper(std::string_view text);

namespace fsys {
bool FileExists(const std::string& path);    // a regular file (following links)
bool FolderExists(const std::string& path);  // a folder (following links)
bool IsSymlink(const std::string& path);
// What stands at `path` when it is neither a regular file nor a link to one ("a folder",
// "a named pipe", "a device", "a socket"); nothing when it is a file, a link to one, or
// absent (a dangling link included).
std::optional<std::string> SpecialFileKind(const std::string& path);
bool CreateFolder(const std::string& path);  // one level; true when it exists afterwards
std::optional<std::int64_t> FileLength(const std::string& path);
bool DeleteFile(const std::string& path);    // true when no file is left
// Reads a whole regular file. False when it cannot be read, with the reason in `why` (a
// pipe or a device is not read at all: it could block or never end).
bool ReadWholeFile(const std::string& path, Bytes& out, std::string* why = nullptr);
// The same into FileBytes: a large file's holes (a sparse file) take neither memory nor
// reading time; a large file is read as long as it was when it was opened.
bool ReadWholeFile(const std::string& path, FileBytes& out, std::string* why = nullptr);
// Reads the regular file open at `fd` (measured at `size` bytes) from its start into `out`,
// as ReadWholeFile does; the file's offset is not used.
bool ReadOpenFile(int fd, std::uint64_t size, FileBytes& out, std::string* why = nullptr);
// Writes the bytes to a temporary file beside `path` (a short name, whatever the length of
// the target's), then renames it over `path`, so a failed write never destroys an existing
// file. Refuses a target that is not a regular file (SpecialFileKind).
bool WriteFileAtomic(const std::string& path, const std::uint8_t* data, std::size_t size);
inline bool WriteFileAtomic(const std::string& path, std::string_view data) {
  return WriteFileAtomic(path, reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
}
}  // namespace fsys

}  // namespace tarvik
