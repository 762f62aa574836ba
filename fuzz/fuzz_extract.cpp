// Bytes opened as a package and extracted into the sandbox's folder; nothing may be written
// anywhere else.
#include <cstdlib>
#include <cstdio>

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
  if (app.mnFile_Click().extract) {
    ui.folderAnswer = fuzz::Scratch().out;
    app.mnExtr_Click();
  }
  if (!fuzz::NothingWrittenOutside()) {
    std::fprintf(stderr, "extraction wrote outside its folder\n");
    std::abort();
  }
  return 0;
}
