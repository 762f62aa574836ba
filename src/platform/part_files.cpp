#include "platform/part_files.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace tarvik {

namespace {

// The table read by the signal handler: a slot is filled first, then marked in use, so the
// handler never sees half a name.
struct Slot {
  volatile sig_atomic_t used = 0;
  int folderFd = -1;
  char name[1024] = {};
};
constexpr int kSlots = 16;
Slot slots[kSlots];


void OnInterrupt(int sig) {
  PartFiles::RemoveAll();
  _exit(128 + sig);
}

bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// The process number in a part-file name ".tarvik-<process>-...", or 0.
long PartOwner(std::string_view name) {
  constexpr std::string_view kHead = ".tarvik-";
  if (name.substr(0, kHead.size()) != kHead) return 0;
  name.remove_prefix(kHead.size());
  const auto dash = name.find('-');
  if (dash == std::string_view::npos || dash == 0 || dash > 9 || !AllDigits(name.substr(0, dash))) return 0;
  return std::stol(std::string(name.substr(0, dash)));
}

bool ProcessGone(long pid) { return kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH; }

}  // namespace

namespace PartFiles {

void Add(int folderFd, const std::string& name) {
  if (name.empty() || name.size() >= sizeof(Slot::name)) return;
  for (Slot& s : slots) {
    if (s.used) continue;
    s.folderFd = folderFd;
    std::memcpy(s.name, name.c_str(), name.size() + 1);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    s.used = 1;
    return;
  }
}

void Remove(int folderFd, const std::string& name) {
  for (Slot& s : slots)
    if (s.used && s.folderFd == folderFd && name == s.name) {
      s.used = 0;
      return;
    }
}

void RemoveAll() {
  for (Slot& s : slots)
    if (s.used) {
      unlinkat(s.folderFd, s.name, 0);
      s.used = 0;
    }
}

}  // namespace PartFiles

void InstallInterruptCleanup() {
  struct sigaction sa {};
  sa.sa_handler = OnInterrupt;
  sigemptyset(&sa.sa_mask);
  sigaddset(&sa.sa_mask, SIGINT);
  sigaddset(&sa.sa_mask, SIGTERM);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

std::string PartPrefix() { return ".tarvik-" + std::to_string(static_cast<long>(getpid())) + "-"; }

int RemoveStaleFiles(const std::string& folder) {
  const int dirFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dirFd < 0) return 0;
  DIR* dir = fdopendir(dup(dirFd));
  int removed = 0;
  if (dir) {
    while (const dirent* e = readdir(dir)) {
      const std::string_view name(e->d_name);
      struct stat st {};
      if (fstatat(dirFd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
      bool stale = false;
      if (const long owner = PartOwner(name)) {
        stale = owner != static_cast<long>(getpid()) && ProcessGone(owner);
      } else if (AllDigits(name)) {
        // A PKG scratch file: held by the process that wrote it for as long as it runs.
        const int fd = openat(dirFd, e->d_name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0) {
          stale = flock(fd, LOCK_EX | LOCK_NB) == 0;
          close(fd);
        }
      }
      if (stale && unlinkat(dirFd, e->d_name, 0) == 0) ++removed;
    }
    closedir(dir);
  }
  close(dirFd);
  return removed;
}

bool ScratchFile::Write(const std::string& path, const std::string& text) {
  Delete();
  const auto slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
  const std::string temp = folder + "/" + PartPrefix() + std::to_string(reinterpret_cast<std::uintptr_t>(this) % 100000) + ".tmp";
  PartFiles::Add(AT_FDCWD, temp);
  const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    PartFiles::Remove(AT_FDCWD, temp);
    return false;
  }
  flock(fd, LOCK_SH);
  bool ok = true;
  std::size_t done = 0;
  while (ok && done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      ok = false;
    else
      done += static_cast<std::size_t>(n);
  }
  // Listed under its final name before the rename, so that no moment leaves it unlisted.
  if (ok) PartFiles::Add(AT_FDCWD, path);
  if (ok && rename(temp.c_str(), path.c_str()) != 0) {
    PartFiles::Remove(AT_FDCWD, path);
    ok = false;
  }
  PartFiles::Remove(AT_FDCWD, temp);
  if (!ok) {
    unlink(temp.c_str());
    close(fd);
    return false;
  }
  fd_ = fd;
  path_ = path;
  return true;
}

bool ScratchFile::Delete() {
  if (path_.empty()) return true;
  const bool gone = unlink(path_.c_str()) == 0 || errno == ENOENT;
  Release();
  return gone;
}

void ScratchFile::Release() {
  if (!path_.empty()) PartFiles::Remove(AT_FDCWD, path_);
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  path_.clear();
}

}  // namespace tarvik
