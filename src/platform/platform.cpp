#include "platform/platform.hpp"

#include "platform/part_files.hpp"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>

namespace fs = std::filesystem;

namespace tarvik {

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::string HomeFolder() {
  std::string home = Env("HOME");
  if (!home.empty()) return home;
  if (const passwd* pw = getpwuid(getuid())) return pw->pw_dir ? pw->pw_dir : "";
  return {};
}

std::string StripTrailingSeparators(std::string path) {
  while (path.size() > 1 && path.back() == kSep) path.pop_back();
  return path;
}

}  // namespace

Platform Platform::FromEnvironment() {
  std::string data = Env("XDG_DATA_HOME");
  if (data.empty() || data[0] != '/') data = HomeFolder() + "/.local/share";
  std::string tmp = Env("TMPDIR");
  if (tmp.empty() || tmp[0] != '/') tmp = "/tmp";
  return Platform(data, tmp);
}

std::string Platform::DataDir() const { return StripTrailingSeparators(dataHome_); }

namespace {

// Creates (mode 0700) or enters one level of the private temporary tree: it must be a real
// folder (not a link) of this user, and is made private when it is open to others. False,
// with the reason in `why`, otherwise.
bool PrivateLevel(const std::string& dir, std::string* why) {
  auto fail = [&](const std::string& reason) {
    if (why) *why = reason;
    return false;
  };
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
    return fail("cannot create the folder " + dir + ": " + std::strerror(errno));
  struct stat st {};
  if (lstat(dir.c_str(), &st) != 0) return fail("cannot reach the folder " + dir + ": " + std::strerror(errno));
  if (S_ISLNK(st.st_mode)) return fail(dir + " is a symbolic link");
  if (!S_ISDIR(st.st_mode)) return fail(dir + " is not a folder");
  if (st.st_uid != geteuid()) return fail(dir + " belongs to another user");
  if ((st.st_mode & 077) != 0 && chmod(dir.c_str(), 0700) != 0)
    return fail("cannot make the folder " + dir + " private: " + std::strerror(errno));
  return true;
}

}  // namespace

std::optional<std::string> Platform::TempDir(std::string* why) const {
  std::error_code ec;
  const std::string root = StripTrailingSeparators(tempRoot_);
  if (!fs::is_directory(root, ec)) fs::create_directories(root, ec);
  const std::string dir = JoinPath(root, "tarvik-" + std::to_string(geteuid()));
  if (!PrivateLevel(dir, why)) return std::nullopt;
  return dir + kSep;
}

std::optional<std::string> Platform::ScratchDir(std::string* why) const {
  const auto top = TempDir(why);
  if (!top) return std::nullopt;
  const std::string dir = *top + "Brimond";
  if (!PrivateLevel(dir, why)) return std::nullopt;
  return dir + kSep;
}

std::string ToNative(std::string_view path) {
  std::string out(path);
  for (char& c : out)
    if (c == '\\') c = kSep;
  return out;
}

std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string out(folder);
  if (!out.empty() && out.back() != kSep) out += kSep;
  while (!name.empty() && name.front() == kSep) name.remove_prefix(1);
  out += name;
  return out;
}

std::string FolderPath(std::string_view chosen) {
  std::string folder(chosen.substr(0, chosen.find('\0')));
  if (!folder.empty() && folder.back() != kSep) folder += kSep;
  return folder;
}

std::string BaseName(std::string_view path) {
  const size_t p = path.find_last_of("/\\");
  return std::string(p == std::string_view::npos ? path : path.substr(p + 1));
}

std::string ToLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string ToUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
  if (suffix.size() > text.size()) return false;
  return ToLower(text.substr(text.size() - suffix.size())) == ToLower(suffix);
}

namespace fsys {

bool FileExists(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::is_regular_file(path, ec);
}

bool FolderExists(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::is_directory(path, ec);
}

bool IsSymlink(const std::string& path) {
  std::error_code ec;
  return fs::is_symlink(fs::symlink_status(path, ec));
}

std::optional<std::string> SpecialFileKind(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode)) return std::nullopt;
  if (S_ISDIR(st.st_mode)) return "a folder";
  if (S_ISFIFO(st.st_mode)) return "a named pipe";
  if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return "a device";
  if (S_ISSOCK(st.st_mode)) return "a socket";
  return "not a file";
}

bool CreateFolder(const std::string& path) {
  if (path.empty()) return false;
  if (mkdir(path.c_str(), 0777) == 0) return true;
  return FolderExists(path);
}

std::optional<std::int64_t> FileLength(const std::string& path) {
  std::error_code ec;
  const auto n = fs::file_size(path, ec);
  if (ec) return std::nullopt;
  return static_cast<std::int64_t>(n);
}

bool DeleteFile(const std::string& path) {
  std::error_code ec;
  fs::remove(path, ec);
  return !ec && !fs::exists(fs::symlink_status(path, ec));
}

namespace {

// Opens `path` for reading when it is a regular file (a pipe or a device is not opened for
// reading at all: it could block or never end); -1 and the reason otherwise.
int OpenRegular(const std::string& path, struct stat& st, std::string& why) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    why = std::strerror(errno);
    return -1;
  }
  if (fstat(fd, &st) != 0) {
    why = std::strerror(errno);
    close(fd);
    return -1;
  }
  if (!S_ISREG(st.st_mode)) {
    close(fd);
    why = S_ISDIR(st.st_mode) ? std::strerror(EISDIR)
                              : std::string("it is ") +
                                    (S_ISFIFO(st.st_mode) ? "a named pipe" : S_ISSOCK(st.st_mode) ? "a socket" : "a device") +
                                    ", not a file";
    return -1;
  }
  return fd;
}

// Reads the file from its start to its end, whatever `size` said (a file may grow or shrink
// meanwhile).
bool ReadToEnd(int fd, std::size_t size, Bytes& out, std::string& why) {
  Bytes data;
  try {
    data.resize(size);
    std::size_t done = 0;
    while (true) {
      // At the measured end a small read tells whether there is more, without growing the
      // buffer for nothing.
      std::uint8_t probe[4096];
      const bool atEnd = done == data.size();
      const auto at = static_cast<off_t>(done);
      const ssize_t n = atEnd ? pread(fd, probe, sizeof probe, at) : pread(fd, data.data() + done, data.size() - done, at);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        why = std::strerror(errno);
        return false;
      }
      if (n == 0) break;
      if (atEnd) data.insert(data.end(), probe, probe + n);
      done += static_cast<std::size_t>(n);
    }
    data.resize(done);
  } catch (const std::bad_alloc&) {
    why = std::strerror(ENOMEM);
    return false;
  }
  out = std::move(data);
  return true;
}

// Reads [from, to) of the file into `dest` (the same offsets); where the file ended if it
// ended before `to`.
std::optional<std::size_t> ReadRange(int fd, std::uint8_t* dest, std::size_t from, std::size_t to, std::string& why) {
  while (from < to) {
    const ssize_t n = pread(fd, dest + from, to - from, static_cast<off_t>(from));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      why = std::strerror(errno);
      return std::nullopt;
    }
    if (n == 0) return from;
    from += static_cast<std::size_t>(n);
  }
  return to;
}

// Reads the first `size` bytes of a large file into zeroed storage, only where the file
// holds data: the holes of a sparse file are neither read nor given memory. A file that
// grew meanwhile is read as it was measured, one that shrank as it is.
bool ReadSparse(int fd, std::size_t size, FileBytes& out, std::string& why) {
  FileBytes bytes;
  try {
    bytes = FileBytes::Zeroed(size);
  } catch (const std::bad_alloc&) {
    why = std::strerror(ENOMEM);
    return false;
  }
  std::size_t end = size;
  for (std::size_t pos = 0; pos < end;) {
    off_t data = lseek(fd, static_cast<off_t>(pos), SEEK_DATA);
    if (data < 0 && errno == ENXIO) break;  // holes to the end
    if (data < 0) data = static_cast<off_t>(pos);  // no hole finding here: all of it is data
    if (static_cast<std::size_t>(data) >= end) break;
    const off_t hole = lseek(fd, data, SEEK_HOLE);
    const std::size_t stop = hole < data ? end : std::min(end, static_cast<std::size_t>(hole));
    const std::optional<std::size_t> reached = ReadRange(fd, bytes.Writable(), static_cast<std::size_t>(data), stop, why);
    if (!reached) return false;
    bytes.AddData(static_cast<std::size_t>(data), *reached);
    if (*reached < stop) end = *reached;  // the file ends there now
    pos = stop;
  }
  struct stat st {};
  if (fstat(fd, &st) == 0 && static_cast<std::uint64_t>(st.st_size) < end) end = static_cast<std::size_t>(st.st_size);
  bytes.Finish(end);
  out = std::move(bytes);
  return true;
}

}  // namespace

bool ReadWholeFile(const std::string& path, Bytes& out, std::string* why) {
  std::string reason;
  struct stat st {};
  const int fd = OpenRegular(path, st, reason);
  const bool ok = fd >= 0 && ReadToEnd(fd, static_cast<std::size_t>(st.st_size), out, reason);
  if (fd >= 0) close(fd);
  if (!ok && why) *why = reason;
  return ok;
}

bool ReadWholeFile(const std::string& path, FileBytes& out, std::string* why) {
  std::string reason;
  struct stat st {};
  const int fd = OpenRegular(path, st, reason);
  const bool ok = fd >= 0 && ReadOpenFile(fd, static_cast<std::uint64_t>(st.st_size), out, &reason);
  if (fd >= 0) close(fd);
  if (!ok && why) *why = reason;
  return ok;
}

bool ReadOpenFile(int fd, std::uint64_t size, FileBytes& out, std::string* why) {
  std::string reason;
  bool ok = false;
  if (size > SIZE_MAX) {
    reason = std::strerror(EFBIG);
  } else if (size < FileBytes::kMappedFrom) {
    Bytes data;
    ok = ReadToEnd(fd, static_cast<std::size_t>(size), data, reason);
    if (ok) out = FileBytes(std::move(data));
  } else {
    ok = ReadSparse(fd, static_cast<std::size_t>(size), out, reason);
  }
  if (!ok && why) *why = reason;
  return ok;
}

bool WriteFileAtomic(const std::string& path, const std::uint8_t* data, std::size_t size) {
  const fs::path target(path);
  const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
  // A file being replaced keeps its mode; a new one is created with 0666 and the kernel
  // applies the umask, so the process never has to change it.
  struct stat st {};
  const bool replacing = stat(path.c_str(), &st) == 0;
  const mode_t mode = replacing ? (st.st_mode & 07777) : 0666;
  if (SpecialFileKind(path)) {
    errno = EINVAL;
    return false;  // a pipe or a device is never replaced by a file
  }
  // The temporary name does not grow with the target's: a name of 255 bytes is allowed.
  // Seeded once per thread: a random_device per call costs more than the write itself.
  thread_local std::mt19937 seed{std::random_device{}()};
  std::string tmp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    tmp = (dir / (PartPrefix() + std::to_string(seed() % 1000000) + ".tmp")).string();
    // Listed before it exists: an interruption at any moment finds it.
    PartFiles::Add(AT_FDCWD, tmp);
    fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) PartFiles::Remove(AT_FDCWD, tmp);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;
  bool ok = !replacing || fchmod(fd, mode) == 0;
  std::size_t done = 0;
  while (ok && done < size) {
    const ssize_t n = write(fd, data + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (close(fd) != 0) ok = false;
  if (ok && std::rename(tmp.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) unlink(tmp.c_str());
  PartFiles::Remove(AT_FDCWD, tmp);
  return ok;
}

}  // namespace fsys

}  // namespace tarvik
