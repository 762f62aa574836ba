#pragma once
// Files that exist only while the program works on them: the part files of writes in
// progress and the PKG scratch file. They are registered while they exist, so that an
// interrupted run (Ctrl+C, SIGTERM) removes them before it exits, and a run that was killed
// outright has its leftovers removed by the next start-up.

#include <string>

namespace tarvik {

namespace PartFiles {
// Registers `name`, relative to the open folder `folderFd` (AT_FDCWD for a path), as a file
// to remove when the run is interrupted. Names that do not fit the fixed table are not
// registered (they are still removed on every ordinary path).
void Add(int folderFd, const std::string& name);
void Remove(int folderFd, const std::string& name);
// Removes every registered file. Async-signal-safe.
void RemoveAll();
}  // namespace PartFiles

// Handles SIGINT and SIGTERM: removes the registered files and exits with 128 + the signal
// (130, 143).
void InstallInterruptCleanup();

// The part-file name of this process's writes: ".tarvik-<process>-" + `rest`.
std::string PartPrefix();

// Removes from `folder` the part files (".tarvik-<process>-...") of processes that no
// longer exist, and PKG scratch files (names of digits only) that no running process holds.
// Returns how many files were removed.
int RemoveStaleFiles(const std::string& folder);

// The PKG scratch file of one window: written whole, then held (a shared lock on the file)
// for as long as this object lives, so that the start-up sweep of another process leaves it
// alone; registered for removal while held.
class ScratchFile {
 public:
  ScratchFile() = default;
  ~ScratchFile() { Release(); }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  // Writes `text` as `path` (replacing the file held before, which is deleted).
  bool Write(const std::string& path, const std::string& text);
  // Deletes the held file; false when it could not be deleted.
  bool Delete();

 private:
  void Release();
  int fd_ = -1;
  std::string path_;
};

}  // namespace tarvik
