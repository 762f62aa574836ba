#include "extract/safe_path.hpp"

#include "platform/part_files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
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

namespace {

// Creates (where missing) and opens the folder `name` in `parent`, never following a link;
// `made` tells whether it was created here. -1 with errno set when it cannot be made or
// opened.
int OpenLevel(int parent, const char* name, bool* made) {
  *made = mkdirat(parent, name, 0777) == 0;
  if (!*made && errno != EEXIST) return -1;
  // O_NOFOLLOW refuses a level that is a symbolic link, O_DIRECTORY one that is a file.
  const int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    // The reason as the person needs it: a link planted in the way is not "not a folder".
    const int error = errno;
    struct stat st {};
    const bool link = fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
    errno = link ? ELOOP : error;
  }
  return fd;
}

}  // namespace

FolderHandle OpenFolders(const FolderHandle& base, const std::vector<std::string>& components, std::size_t count,
                         bool* madeLast) {
  if (madeLast) *madeLast = false;
  if (!base.Valid()) return {};
  FolderHandle current(dup(base.Fd()));
  for (std::size_t i = 0; i < count && i < components.size() && current.Valid(); ++i) {
    bool made = false;
    FolderHandle next(OpenLevel(current.Fd(), components[i].c_str(), &made));
    if (madeLast) *madeLast = made;
    current = std::move(next);
    if (!current.Valid()) return {};
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

namespace {

// Whether `key` is `components[0 .. levels)` joined with '/'.
bool KeyIs(std::string_view key, const std::vector<std::string>& components, std::size_t levels) {
  std::size_t at = 0;
  for (std::size_t i = 0; i < levels; ++i) {
    if (i > 0) {
      if (at >= key.size() || key[at] != '/') return false;
      ++at;
    }
    const std::string& part = components[i];
    if (key.size() - at < part.size() || key.compare(at, part.size(), part) != 0) return false;
    at += part.size();
  }
  return at == key.size();
}

}  // namespace

const Destination::Folder* Destination::FolderOf(const std::vector<std::string>& components) {
  if (!base_.handle.Valid() || components.empty()) return nullptr;
  const std::size_t levels = components.size() - 1;
  if (levels == 0) return &base_;
  // Files of one folder usually follow one another: the last folder is looked at first.
  if (last_ && KeyIs(lastKey_, components, levels)) return last_;
  if (folders_.size() + levels > kMaxOpenFolders) {
    last_ = nullptr;
    folders_.clear();
  }
  // The key of every level: ends[n] is where the key of the first n levels ends.
  std::string key;
  std::vector<std::size_t> ends(levels + 1, 0);
  for (std::size_t i = 0; i < levels; ++i) {
    if (i > 0) key += '/';
    key += components[i];
    ends[i + 1] = key.size();
  }
  // Walk on from the deepest folder on the way that is open already.
  const Folder* at = &base_;
  std::size_t known = 0;
  for (std::size_t n = levels; n > 0; --n) {
    const auto up = folders_.find(std::string_view(key).substr(0, ends[n]));
    if (up != folders_.end()) {
      at = &up->second;
      known = n;
      break;
    }
  }
  for (std::size_t i = known; i < levels; ++i) {
    const std::string_view sub = std::string_view(key).substr(0, ends[i + 1]);
    Folder folder;
    bool made = false;
    folder.handle = FolderHandle(OpenLevel(at->handle.Fd(), components[i].c_str(), &made));
    if (!folder.handle.Valid()) return nullptr;
    if (made) made_.emplace(sub);
    folder.made = made || made_.find(sub) != made_.end();
    at = &folders_.emplace(std::string(sub), std::move(folder)).first->second;
  }
  lastKey_ = std::move(key);
  last_ = at;
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
  destination_ = nullptr;
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
  return OpenIn(folder_.Fd(), parts->back(), false, kUnknownSize);
}

bool OutputFile::Open(Destination& destination, std::string_view relative, std::uint64_t size) {
  Abort();
  error_ = 0;
  destination_ = &destination;
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
  return OpenIn(folder->handle.Fd(), parts->back(), folder->made, size);
}

bool OutputFile::OpenIn(int folderFd, std::string name, bool fresh, std::uint64_t size) {
  folderFd_ = folderFd;
  name_ = std::move(name);
  failed_ = false;
  bool vacant = fresh;
  if (!fresh) {
    struct stat st {};
    if (fstatat(folderFd_, name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
      if (!S_ISREG(st.st_mode)) {
        error_ = kNotAFile;  // a link, a folder or a device stands there: leave it alone
        return false;
      }
    } else {
      vacant = errno == ENOENT;
    }
  }
  if (vacant && size <= kUnnamedLimit && destination_ && destination_->UnnamedFiles()) {
    fd_ = openat(folderFd_, ".", O_RDWR | O_TMPFILE | O_CLOEXEC, 0666);
    if (fd_ >= 0) {
      unnamed_ = true;
      return true;
    }
    // A file system without unnamed files says so (EOPNOTSUPP; EISDIR or EINVAL from an
    // older system); any other failure is met again, and reported, by the part file.
    if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) destination_->NoUnnamedFiles();
  }
  return OpenNamed();
}

std::string OutputFile::NextTempName() { return destination_ ? destination_->TempName() : PartName(this, ++temps_); }

bool OutputFile::OpenNamed() {
  tempName_ = NextTempName();
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

bool OutputFile::Link(const char* target) {
  if (linkat(fd_, "", folderFd_, target, AT_EMPTY_PATH) == 0) return true;
  if (errno != ENOENT && errno != EPERM) return false;
  // A system that links a file by its handle only for privileged processes links it through
  // the handle's entry in /proc.
  char path[48];
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd_);
  return linkat(AT_FDCWD, path, folderFd_, target, AT_SYMLINK_FOLLOW) == 0;
}

bool OutputFile::CopyToPartFile() {
  const int unnamed = fd_;
  fd_ = -1;
  bool ok = OpenNamed();
  std::uint8_t buffer[16 * 1024];
  off_t at = 0;
  while (ok) {
    const ssize_t n = pread(unnamed, buffer, sizeof buffer, at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error_ = errno;
      failed_ = true;
      ok = false;
    }
    if (n <= 0) break;
    ok = Write(buffer, static_cast<std::size_t>(n));
    at += n;
  }
  close(unnamed);
  return ok;
}

bool OutputFile::Commit() {
  if (fd_ < 0) return false;
  if (unnamed_) {
    unnamed_ = false;
    if (!failed_) {
      if (Link(name_.c_str())) {
        const bool closed = close(fd_) == 0;
        fd_ = -1;
        if (closed) return true;
        error_ = errno;
        unlinkat(folderFd_, name_.c_str(), 0);  // its bytes may not all have been kept
        return false;
      }
      if (errno == EEXIST) {
        // Something stands at the name now (a file of the same name written before): it is
        // replaced as by a part file, through a temporary name of this file.
        tempName_ = NextTempName();
        PartFiles::Add(folderFd_, tempName_);
        if (!Link(tempName_.c_str())) {
          error_ = errno;
          failed_ = true;
          PartFiles::Remove(folderFd_, tempName_);
          tempName_.clear();
        }
      } else {
        // This system cannot name an unnamed file: its bytes go to a part file, and the
        // extraction's later files are written under part names from the start.
        if (destination_) destination_->NoUnnamedFiles();
        if (!CopyToPartFile() && fd_ < 0) return false;
      }
    }
  }
  const bool closed = close(fd_) == 0;
  if (!closed && !failed_) error_ = errno;
  fd_ = -1;
  if (!failed_ && closed && !tempName_.empty() &&
      renameat(folderFd_, tempName_.c_str(), folderFd_, name_.c_str()) != 0) {
    error_ = errno;
    failed_ = true;
  }
  if (tempName_.empty()) return !failed_ && closed;
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
  unnamed_ = false;
}

std::string ErrorText(int error) {
  if (error == OutputFile::kUnsafeName) return "the name would leave the folder or holds control characters";
  if (error == OutputFile::kNotAFile) return "something other than a file stands there";
  if (error == ELOOP) return "the path leads through a symbolic link";
  if (error == 0) return {};
  return std::strerror(error);
}

}  // namespace tarvik::extract
