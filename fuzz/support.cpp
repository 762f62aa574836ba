#include "support.hpp"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

namespace fs = std::filesystem;

namespace tarvik::fuzz {

const Sandbox& Scratch() {
  static const Sandbox box = [] {
    std::string tmpl = (fs::temp_directory_path() / "tarvik-fuzz-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) std::abort();
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

Platform SandboxPlatform() { return Platform(Scratch().data, Scratch().tmp); }

std::unique_ptr<App> OpenInput(SilentUi& ui, const std::string& name, const std::uint8_t* data, std::size_t size) {
  ResetScratch();
  auto app = std::make_unique<App>(ui, SandboxPlatform());
  app->OpenBytes(name, Bytes(data, data + size));
  return app;
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
