// Bytes opened as a PKG script.
#include "support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tarvik::fuzz::SilentUi ui;
  tarvik::fuzz::OpenInput(ui, "input.pkg", data, size);
  return 0;
}
