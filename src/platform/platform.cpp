#include "platform/platform.hpp"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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

std::string Platform::GetWinDir() const { return StripTrailingSeparators(dataHome_); }

std::optional<std::string> Platform::GetTempDir() const {
  std::error_code ec;
  const std::string root = StripTrailingSeparators(tempRoot_);
  if (!fs::is_directory(root, ec)) fs::create_directories(root, ec);
  const std::string dir = JoinPath(root, "tarvik-" + std::to_string(geteuid()));
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return std::nullopt;
  struct stat st {};
  if (lstat(dir.c_str(), &st) != 0) return std::nullopt;
  // Another user could have made the folder or a link in its place beforehand.
  if (S_ISLNK(st.st_mode) || !S_ISDIR(st.st_mode) || st.st_uid != geteuid()) return std::nullopt;
  if ((st.st_mode & 077) != 0 && chmod(dir.c_str(), 0700) != 0) return std::nullopt;
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

bool ReadWholeFile(const std::string& path, Bytes& out) {
  FileBuffer b;
  if (!OpenBinary(b, path)) return false;
  out = std::move(b.data);
  return true;
}

bool WriteFileAtomic(const std::string& path, const std::uint8_t* data, std::size_t size) {
  const fs::path target(path);
  const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
  // A file being replaced keeps its mode; a new one is created with 0666 and the kernel
  // applies the umask, so the process never has to change it.
  struct stat st {};
  const bool replacing = stat(path.c_str(), &st) == 0;
  const mode_t mode = replacing ? (st.st_mode & 07777) : 0666;
  std::random_device seed;
  std::string tmp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    tmp = (dir / ("." + target.filename().string() + ".tarvik-" + std::to_string(seed() % 1000000))).string();
    fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
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
  return ok;
}

}  // namespace fsys

}  // namespace tarvik
