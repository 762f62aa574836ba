// Bytes opened as a session file (.qsd), then saved again as a session and as text.
#include "operations/save.hpp"
#include "support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvik;
  fuzz::ResetScratch();  // each run saves into an empty folder
  ops::Recorder talk(true);
  const auto item = fuzz::OpenInput(talk, "input.qsd", data, size);
  ops::Save(*item, item->text, fuzz::Scratch().out + "/again.qsd", talk);
  ops::Save(*item, item->text, fuzz::Scratch().out + "/again.pkg", talk);
  return 0;
}
