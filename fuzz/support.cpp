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
    b.in = (s / "in").string();
    b.data = (s / "data").string();
    b.tmp = (s / "tmp").string();
    b.out = (s / "out").string();
    for (const auto& d : {b.in, b.data, b.tmp, b.out}) fs::create_directories(d);
    return b;
  }();
  return box;
}

void ResetScratch() {
  std::error_code ec;
  for (const auto& dir : {Scratch().in, Scratch().out})
    for (const auto& e : fs::directory_iterator(dir, ec)) fs::remove_all(e.path(), ec);
}

std::string WriteInput(const std::string& name, const std::uint8_t* data, std::size_t size) {
  const std::string path = (fs::path(Scratch().in) / name).string();
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  return path;
}

Platform SandboxPlatform() { return Platform(Scratch().data, Scratch().tmp); }

std::unique_ptr<App> OpenInput(SilentUi& ui, const std::string& name, const std::uint8_t* data, std::size_t size) {
  ResetScratch();
  const std::string path = WriteInput(name, data, size);
  auto app = std::make_unique<App>(ui, SandboxPlatform());
  app->Form_Load();
  ui.openAnswer = path;
  app->mnOpen_Click();
  return app;
}

bool NothingWrittenOutside() {
  std::error_code ec;
  const std::set<std::string> expected = {"sandbox"};
  const std::set<std::string> inner = {"in", "data", "tmp", "out"};
  for (const auto& e : fs::directory_iterator(Scratch().base, ec))
    if (!expected.count(e.path().filename().string())) return false;
  for (const auto& e : fs::directory_iterator(fs::path(Scratch().base) / "sandbox", ec))
    if (!inner.count(e.path().filename().string())) return false;
  return true;
}

}  // namespace tarvik::fuzz
