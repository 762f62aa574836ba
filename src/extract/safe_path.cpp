#include "extract/safe_path.hpp"

#include "platform/part_files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace tarvik::extract {

namespace {

bool IsSep(char c) { return c == '\\' || c == '/'; }

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// A name for a temporary file: the process number keeps other processes' names apart, the
// address and counter of its writer those of other writers in this process.
std::string PartName(const void* writer, unsigned long n) {
  return PartPrefix() + std::to_string(reinterpret_cast<std::uintptr_t>(writer) % 100000) + "-" + std::to_string(n) +
         ".part";
}

}  // namespace

std::optional<std::vector<std::string>> SafeComponents(std::string_view relative) {
  if (relative.empty() || IsSep(relative.front()) || IsSep(relative.back())) return std::nullopt;
  if (relative.size() >= 2 && IsAsciiLetter(relative[0]) && relative[1] == ':') return std::nullopt;
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= relative.size(); ++i) {
    if (i < relative.size()) {
      const auto c = static_cast<unsigned char>(relative[i]);
      if (c < 0x20 || c == 0x7F) return std::nullopt;
      if (!IsSep(relative[i])) continue;
    }
    std::string_view part = relative.substr(start, i - start);
    start = i + 1;
    if (part.empty()) continue;
    if (part == "." || part == "..") return std::nullopt;
    parts.emplace_back(part);
  }
  if (parts.empty()) return std::nullopt;
  return parts;
}

FolderHandle::~FolderHandle() {
  if (fd_ >= 0) close(fd_);
}

FolderHandle& FolderHandle::operator=(FolderHandle&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

FolderHandle FolderHandle::Open(const std::string& path) {
  return FolderHandle(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

FolderHandle FolderHandle::OpenPrivate(const std::string& path) {
  return FolderHandle(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

FolderHandle OpenFolders(const FolderHandle& base, const std::vector<std::string>& components, std::size_t count,
                         bool* madeLast) {
  if (madeLast) *madeLast = false;
  if (!base.Valid()) return {};
  FolderHandle current(dup(base.Fd()));
  for (std::size_t i = 0; i < count && i < components.size() && current.Valid(); ++i) {
    const char* name = components[i].c_str();
    const bool made = mkdirat(current.Fd(), name, 0777) == 0;
    if (!made && errno != EEXIST) return {};
    if (madeLast) *madeLast = made;
    // O_NOFOLLOW refuses a level that is a symbolic link, O_DIRECTORY one that is a file.
    FolderHandle next(openat(current.Fd(), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!next.Valid()) {
      // The reason as the person needs it: a link planted in the way is not "not a folder".
      const int error = errno;
      struct stat st {};
      const bool link = fstatat(current.Fd(), name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
      errno = link ? ELOOP : error;
    }
    current = std::move(next);
  }
  return current;
}

bool CreateDestinationFolders(const FolderHandle& base, std::string_view relative) {
  auto parts = SafeComponents(relative);
  if (!parts) return false;
  return OpenFolders(base, *parts, parts->size() - 1).Valid();
}

Destination::Destination(const std::string& folder) : partPrefix_(PartName(this, 0)) {
  base_.handle = FolderHandle::Open(folder);
  partPrefix_.resize(partPrefix_.size() - std::string("0.part").size());
}

const Destination::Folder* Destination::FolderOf(const std::vector<std::string>& components) {
  if (!base_.handle.Valid() || components.empty()) return nullptr;
  const std::size_t levels = components.size() - 1;
  if (levels == 0) return &base_;
  // Files of one folder usually follow one another: the last folder is looked at first.
  if (last_ && lastPath_.size() == levels && std::equal(lastPath_.begin(), lastPath_.end(), components.begin()))
    return last_;
  std::vector<std::string> key(components.begin(), components.begin() + static_cast<std::ptrdiff_t>(levels));
  auto it = folders_.find(key);
  if (it == folders_.end()) {
    // Walk on from the deepest folder on the way that is open already.
    const FolderHandle* from = &base_.handle;
    std::size_t known = 0;
    for (std::size_t n = levels - 1; n > 0; --n) {
      auto up = folders_.find(std::vector<std::string>(key.begin(), key.begin() + static_cast<std::ptrdiff_t>(n)));
      if (up != folders_.end()) {
        from = &up->second.handle;
        known = n;
        break;
      }
    }
    Folder folder;
    folder.handle = OpenFolders(*from, std::vector<std::string>(key.begin() + static_cast<std::ptrdiff_t>(known), key.end()),
                                levels - known, &folder.made);
    if (!folder.handle.Valid()) return nullptr;
    if (folders_.size() >= kMaxOpenFolders) {
      last_ = nullptr;
      folders_.clear();
    }
    it = folders_.emplace(key, std::move(folder)).first;
  }
  lastPath_ = std::move(key);
  last_ = &it->second;
  return last_;
}

const std::vector<std::string>* Destination::Components(std::string_view relative) {
  if (!lastComponents_ || relative != lastRelative_) {
    lastRelative_.assign(relative);
    lastComponents_ = SafeComponents(relative);
  }
  return lastComponents_ ? &*lastComponents_ : nullptr;
}

bool Destination::MakeFolders(std::string_view relative) {
  const auto* parts = Components(relative);
  return parts && FolderOf(*parts) != nullptr;
}

std::string Destination::TempName() { return partPrefix_ + std::to_string(++counter_) + ".part"; }

OutputFile::~OutputFile() { Abort(); }

bool OutputFile::Open(const FolderHandle& base, std::string_view relative) {
  Abort();
  error_ = 0;
  auto parts = SafeComponents(relative);
  if (!parts) {
    error_ = kUnsafeName;
    return false;
  }
  folder_ = OpenFolders(base, *parts, parts->size() - 1);
  if (!folder_.Valid()) {
    error_ = errno != 0 ? errno : EIO;
    return false;
  }
  return OpenIn(folder_.Fd(), parts->back(), PartName(this, 1));
}

bool OutputFile::Open(Destination& destination, std::string_view relative) {
  Abort();
  error_ = 0;
  const auto* parts = destination.Components(relative);
  if (!parts) {
    error_ = kUnsafeName;
    return false;
  }
  errno = 0;
  const Destination::Folder* folder = destination.FolderOf(*parts);
  if (!folder) {
    error_ = errno != 0 ? errno : EIO;
    return false;
  }
  return OpenIn(folder->handle.Fd(), parts->back(), destination.TempName(), folder->made);
}

bool OutputFile::OpenIn(int folderFd, std::string name, std::string tempName, bool fresh) {
  folderFd_ = folderFd;
  name_ = std::move(name);
  struct stat st {};
  if (!fresh && fstatat(folderFd_, name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode)) {
    error_ = kNotAFile;  // a link, a folder or a device stands there: leave it alone
    return false;
  }
  tempName_ = std::move(tempName);
  // Listed before it exists: an interruption at any moment finds it.
  PartFiles::Add(folderFd_, tempName_);
  fd_ = openat(folderFd_, tempName_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd_ < 0) {
    error_ = errno;
    PartFiles::Remove(folderFd_, tempName_);
    tempName_.clear();
  }
  failed_ = fd_ < 0;
  return !failed_;
}

bool OutputFile::Write(const std::uint8_t* data, std::size_t size) {
  if (fd_ < 0 || failed_) return false;
  while (size > 0) {
    const ssize_t n = write(fd_, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      error_ = errno;
      failed_ = true;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool OutputFile::Commit() {
  if (fd_ < 0) return false;
  const bool closed = close(fd_) == 0;
  if (!closed && !failed_) error_ = errno;
  fd_ = -1;
  if (!failed_ && closed && renameat(folderFd_, tempName_.c_str(), folderFd_, name_.c_str()) != 0) {
    error_ = errno;
    failed_ = true;
  }
  PartFiles::Remove(folderFd_, tempName_);
  if (failed_ || !closed) {
    unlinkat(folderFd_, tempName_.c_str(), 0);
    tempName_.clear();
    return false;
  }
  tempName_.clear();
  return true;
}

void OutputFile::Abort() {
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
  if (!tempName_.empty() && folderFd_ >= 0) {
    unlinkat(folderFd_, tempName_.c_str(), 0);
    PartFiles::Remove(folderFd_, tempName_);
  }
  tempName_.clear();
  failed_ = false;
}

std::string ErrorText(int error) {
  if (error == OutputFile::kUnsafeName) return "the name would leave the folder or holds control characters";
  if (error == OutputFile::kNotAFile) return "something other than a file stands there";
  if (error == ELOOP) return "the path leads through a symbolic link";
  if (error == 0) return {};
  return std::strerror(error);
}

}  // namespace tarvik::extract
