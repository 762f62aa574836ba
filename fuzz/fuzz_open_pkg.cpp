// Bytes opened as a PKG script.
#include "support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvik;
  fuzz::ResetScratch();
  const std::string path = fuzz::WriteInput("input.pkg", data, size);
  fuzz::SilentUi ui;
  App app(ui, fuzz::SandboxPlatform());
  app.Form_Load();
  ui.openAnswer = path;
  app.mnOpen_Click();
  return 0;
}
