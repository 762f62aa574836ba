// Bytes read as a package (.sis): both generations through the generation test, then every
// view of the model, with and without a Working Directory.
#include <span>

#include "parse/parse.hpp"
#include "views/views.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvik;
  const model::Package package = Parse(std::span<const std::uint8_t>(data, size), "input.sis");
  views::Describe(package, {});
  views::Describe(package, {"/w/"});
  return 0;
}
