#pragma once
// What the window's commands need of a window: the conversation (messages and yes/no
// questions), the file and folder dialogs, the banner, the title and the text area. The Qt
// window implements it; the tests answer it from queues.

#include <cstddef>
#include <optional>
#include <string>

#include "operations/conversation.hpp"

namespace tarvik::window {

enum class FolderPurpose { Extract, WorkingDirectory };

class WindowUi : public ops::Conversation {
 public:
  // File and folder choices; nothing when the person cancels. `filter` is the pipe-separated
  // list of description and patterns ("SIS File|*.sis;*.sisx|...|"), first pair selected.
  virtual std::optional<std::string> ChooseOpenFile(const std::string& filter, const std::string& title) = 0;
  virtual std::optional<std::string> ChooseSaveFile(const std::string& filter, const std::string& title,
                                                    const std::string& proposedName) = 0;
  virtual std::optional<std::string> ChooseFolder(const std::string& title, FolderPurpose purpose) = 0;

  // The "please wait" banner.
  virtual void ShowBanner(const std::string& text) = 0;
  virtual void HideBanner() = 0;

  // The window's title and its text area.
  virtual void SetTitle(const std::string& title) = 0;
  virtual void SetText(const std::string& text) = 0;
  virtual std::string Text() const = 0;
};

}  // namespace tarvik::window
