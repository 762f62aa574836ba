// Bytes opened as a PKG script.
#include "support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tarvik::ops::Recorder talk(true);
  tarvik::fuzz::OpenInput(talk, "input.pkg", data, size);
  return 0;
}
