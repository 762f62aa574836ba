// Bytes opened as a package (.sis): both generations through the generation test.
#include "support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvik;
  fuzz::ResetScratch();
  const std::string path = fuzz::WriteInput("input.sis", data, size);
  fuzz::SilentUi ui;
  App app(ui, fuzz::SandboxPlatform());
  app.Form_Load();
  ui.openAnswer = path;
  app.mnOpen_Click();
  app.mnFile_Click();
  app.Form_Unload();
  return 0;
}
