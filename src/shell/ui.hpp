#pragma once
// The only way the core talks to a person. The Qt window, the command-line program and the
// tests each implement it.

#include <cstddef>
#include <optional>
#include <string>

namespace tarvik {

// Message-box styles: an icon plus a button set, added together (52 = exclamation + Yes/No).
namespace msg {
enum : int {
  Plain = 0,
  YesNo = 4,
  Critical = 16,
  Question = 32,
  Exclamation = 48,
  Information = 64,
};
// Answers of MsgBox.
enum : int { Ok = 1, Yes = 6, No = 7 };
}  // namespace msg

class Ui {
 public:
  virtual ~Ui() = default;

  // A modal message box; returns the button pressed (msg::Ok, msg::Yes or msg::No).
  virtual int MsgBox(const std::string& text, int style, const std::string& title) = 0;

  // File and folder choices; nothing when the person cancels. `filter` is the pipe-separated
  // list of description and patterns ("SIS File|*.sis;*.sisx|...|"), first pair selected.
  virtual std::optional<std::string> ChooseOpenFile(const std::string& filter, const std::string& title) = 0;
  virtual std::optional<std::string> ChooseSaveFile(const std::string& filter, const std::string& title,
                                                    const std::string& proposedName) = 0;
  virtual std::optional<std::string> ChooseFolder(const std::string& title) = 0;

  // The "please wait" banner.
  virtual void ShowBanner(const std::string& text) = 0;
  virtual void HideBanner() = 0;

  // The window's title and its text area.
  virtual void SetTitle(const std::string& title) = 0;
  virtual void SetText(const std::string& text) = 0;
  virtual std::string Text() const = 0;

  // Lets the window handle pending events (long loops call it now and then).
  virtual void DoEvents() {}
  // Hourglass pointer on or off.
  virtual void SetBusy(bool /*busy*/) {}
  // Enables or disables the Extract command while an extraction runs.
  virtual void SetExtractEnabled(bool /*enabled*/) {}
  // Progress of a long operation: `done` of `total` units.
  virtual void Progress(std::size_t /*done*/, std::size_t /*total*/) {}
  // Shows the list of extracted files; `folder` is what "View File" opens.
  virtual void ShowExtractResult(const std::string& /*text*/, const std::string& /*folder*/) {}
  // Opens a web page in the default browser, or a folder in the file browser.
  virtual void OpenUrl(const std::string& /*url*/) {}
  virtual void OpenFolder(const std::string& /*path*/) {}
  virtual void Beep() {}
};

}  // namespace tarvik
