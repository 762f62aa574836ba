// Bytes opened as a package and extracted into the sandbox's folder; nothing may be written
// anywhere else.
#include <cstdio>
#include <cstdlib>

#include "support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvik;
  fuzz::SilentUi ui;
  auto app = fuzz::OpenInput(ui, "input.sis", data, size);
  if (app->mnFile_Click().extract) {
    ui.folderAnswer = fuzz::Scratch().out;
    app->mnExtr_Click();
  }
  if (!fuzz::NothingWrittenOutside()) {
    std::fprintf(stderr, "extraction wrote outside its folder\n");
    std::abort();
  }
  return 0;
}
