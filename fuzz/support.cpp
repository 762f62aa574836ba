#include "support.hpp"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

namespace fs = std::filesystem;

namespace tarvik::fuzz {

namespace {

// Where the scratch tree goes: memory-backed /dev/shm when it can be written (every run
// creates and removes files, which costs far more on a disk's file system), otherwise the
// temporary folder. TARVIK_FUZZ_DIR chooses another place.
fs::path ScratchRoot() {
  if (const char* chosen = std::getenv("TARVIK_FUZZ_DIR"); chosen && *chosen) return chosen;
  std::error_code ec;
  if (fs::is_directory("/dev/shm", ec) && access("/dev/shm", W_OK | X_OK) == 0) return "/dev/shm";
  return fs::temp_directory_path();
}

std::string scratchBase;  // removed when the process ends normally

void RemoveScratch() {
  std::error_code ec;
  if (!scratchBase.empty()) fs::remove_all(scratchBase, ec);
}

}  // namespace

const Sandbox& Scratch() {
  static const Sandbox box = [] {
    std::string tmpl = (ScratchRoot() / "tarvik-fuzz-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) std::abort();
    scratchBase = tmpl;
    std::atexit(RemoveScratch);
    Sandbox b;
    b.base = tmpl;
    const fs::path s = fs::path(tmpl) / "sandbox";
    b.data = (s / "data").string();
    b.tmp = (s / "tmp").string();
    b.out = (s / "out").string();
    for (const auto& d : {b.data, b.tmp, b.out}) fs::create_directories(d);
    return b;
  }();
  return box;
}

void ResetScratch() {
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(Scratch().out, ec)) fs::remove_all(e.path(), ec);
}


std::shared_ptr<const ops::Opened> OpenInput(ops::Recorder& talk, const std::string& name, const std::uint8_t* data,
                                             std::size_t size) {
  return ops::OpenBytes(name, Bytes(data, data + size), {}, talk);
}

bool NothingWrittenOutside() {
  std::error_code ec;
  const std::set<std::string> expected = {"sandbox"};
  const std::set<std::string> inner = {"data", "tmp", "out"};
  for (const auto& e : fs::directory_iterator(Scratch().base, ec))
    if (!expected.count(e.path().filename().string())) return false;
  for (const auto& e : fs::directory_iterator(fs::path(Scratch().base) / "sandbox", ec))
    if (!inner.count(e.path().filename().string())) return false;
  return true;
}

}  // namespace tarvik::fuzz
