#pragma once
// Shared pieces of the fuzz targets: a silent Ui, and a scratch tree per process:
//   BASE/sandbox/data  the app's data folder
//   BASE/sandbox/tmp   the app's temporary folder
//   BASE/sandbox/out   the extraction and save folder
// Anything else that appears under BASE was written where it must not be. Inputs are read
// from memory: no target writes its input to a file.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "shell/answering_ui.hpp"
#include "shell/app.hpp"

namespace tarvik::fuzz {

// A Ui that answers Yes to every question and keeps no progress history.
class SilentUi : public AnsweringUi {
 public:
  SilentUi() {
    yesNoDefault = msg::Yes;
    recordProgress = false;
  }
};

struct Sandbox {
  std::string base, data, tmp, out;
};
// The process's scratch tree, created on first use.
const Sandbox& Scratch();
// Empties the extraction folder.
void ResetScratch();
// An app whose folders are the sandbox's.
Platform SandboxPlatform();
// Opens the bytes as the file `name` in a fresh app whose folders are the sandbox's (the
// extraction folder is left as it is: opening a script or a session writes nothing).
std::unique_ptr<App> OpenInput(SilentUi& ui, const std::string& name, const std::uint8_t* data, std::size_t size);
// False when anything exists under BASE outside the sandbox's folders.
bool NothingWrittenOutside();

}  // namespace tarvik::fuzz
