// Bytes opened as a session file (.qsd), then saved again as a session and as text.
#include "support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvik;
  fuzz::ResetScratch();  // each run saves into an empty folder
  fuzz::SilentUi ui;
  auto app = fuzz::OpenInput(ui, "input.qsd", data, size);
  ui.saveAnswers.push_back(fuzz::Scratch().out + "/again.qsd");
  app->mnSave_Click();
  ui.saveAnswers.push_back(fuzz::Scratch().out + "/again.pkg");
  app->mnSave_Click();
  return 0;
}
