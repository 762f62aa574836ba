#pragma once
// Shared pieces of the fuzz targets: opening from memory, and a scratch tree per process:
//   BASE/sandbox/data  the app's data folder
//   BASE/sandbox/tmp   the app's temporary folder
//   BASE/sandbox/out   the extraction and save folder
// Anything else that appears under BASE was written where it must not be. Inputs are read
// from memory: no target writes its input to a file.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "operations/open.hpp"
#include "platform/platform.hpp"

namespace tarvik::fuzz {

struct Sandbox {
  std::string base, data, tmp, out;
};
// The process's scratch tree, created on first use.
const Sandbox& Scratch();
// Empties the extraction folder.
void ResetScratch();
// Opens the bytes as the file `name` through the open operation, every question answered
// yes (opening writes nothing).
std::shared_ptr<const ops::Opened> OpenInput(ops::Recorder& talk, const std::string& name, const std::uint8_t* data,
                                             std::size_t size);
// False when anything exists under BASE outside the sandbox's folders.
bool NothingWrittenOutside();

}  // namespace tarvik::fuzz
