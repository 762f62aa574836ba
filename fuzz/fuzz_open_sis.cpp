// Bytes opened as a package (.sis): both generations through the generation test.
#include "support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tarvik::fuzz::SilentUi ui;
  auto app = tarvik::fuzz::OpenInput(ui, "input.sis", data, size);
  app->mnFile_Click();
  app->Form_Unload();
  return 0;
}
