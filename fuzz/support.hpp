#pragma once
// Shared pieces of the fuzz targets: a silent Ui, and a scratch tree per process:
//   BASE/sandbox/in    the input file
//   BASE/sandbox/data  the app's data folder
//   BASE/sandbox/tmp   the app's temporary folder
//   BASE/sandbox/out   the extraction folder
// Anything else that appears under BASE was written where it must not be.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "shell/app.hpp"

namespace tarvik::fuzz {

class SilentUi : public Ui {
 public:
  int MsgBox(const std::string&, int style, const std::string&) override {
    return (style & 7) == msg::YesNo ? msg::Yes : msg::Ok;
  }
  std::optional<std::string> ChooseOpenFile(const std::string&, const std::string&) override { return openAnswer; }
  std::optional<std::string> ChooseSaveFile(const std::string&, const std::string&, const std::string&) override {
    return saveAnswer;
  }
  std::optional<std::string> ChooseFolder(const std::string&) override { return folderAnswer; }
  void ShowBanner(const std::string&) override {}
  void HideBanner() override {}
  void SetTitle(const std::string&) override {}
  void SetText(const std::string& t) override { text = t; }
  std::string Text() const override { return text; }

  std::optional<std::string> openAnswer, saveAnswer, folderAnswer;
  std::string text;
};

struct Sandbox {
  std::string base, in, data, tmp, out;
};
// The process's scratch tree, created on first use.
const Sandbox& Scratch();
// Empties the input and extraction folders.
void ResetScratch();
// Writes the bytes as in/`name` and returns the path.
std::string WriteInput(const std::string& name, const std::uint8_t* data, std::size_t size);
// An app whose folders are the sandbox's.
Platform SandboxPlatform();
// Writes the bytes as in/`name`, then opens them through the Open command of a fresh app
// whose folders are the sandbox's.
std::unique_ptr<App> OpenInput(SilentUi& ui, const std::string& name, const std::uint8_t* data, std::size_t size);
// False when anything exists under BASE outside the sandbox's four folders.
bool NothingWrittenOutside();

}  // namespace tarvik::fuzz
