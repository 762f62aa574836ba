#pragma once
// A Ui without a window: it records what the core shows and answers from queues its owner
// fills. tarvik-cli, the fuzz targets and the tests all use it.

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "shell/ui.hpp"

namespace tarvik {

class AnsweringUi : public Ui {
 public:
  struct Message {
    std::string text;
    int style = 0;
    std::string title;
  };

  int MsgBox(const std::string& text, int style, const std::string& title) override;
  std::optional<std::string> ChooseOpenFile(const std::string& filter, const std::string& title) override;
  std::optional<std::string> ChooseSaveFile(const std::string& filter, const std::string& title,
                                            const std::string& proposedName) override;
  std::optional<std::string> ChooseFolder(const std::string& title) override;
  void ShowBanner(const std::string& t) override;
  void HideBanner() override { bannerVisible = false; }
  void SetTitle(const std::string& t) override { title = t; }
  void SetText(const std::string& t) override { text = t; }
  std::string Text() const override { return text; }
  void DoEvents() override { ++doEvents; }
  void SetBusy(bool b) override { busy = b; }
  void SetExtractEnabled(bool e) override { extractEnabled = e; }
  void Progress(std::size_t done, std::size_t total) override;
  void ShowExtractResult(const std::string& t, const std::string& folder) override;
  void OpenUrl(const std::string& url) override { urls.push_back(url); }
  void OpenFolder(const std::string& path) override { openedFolders.push_back(path); }
  void Beep() override { ++beeps; }

  // Texts of the recorded messages, in order.
  std::vector<std::string> MessageTexts() const;
  bool HasMessage(const std::string& text) const;

  // Answers: each Choose* call takes the next queued answer (nothing = cancel when empty);
  // MsgBox with Yes/No buttons takes the next queued answer, or `yesNoDefault` when none
  // is queued.
  std::deque<std::optional<std::string>> openAnswers, saveAnswers, folderAnswers;
  std::deque<int> msgAnswers;
  int yesNoDefault = msg::No;
  // Keep every progress report (tests look at them); off, only the last one is kept.
  bool recordProgress = true;

  // What was shown.
  std::vector<Message> messages;
  std::vector<std::string> dialogTitles;  // titles of every file/folder dialog, in order
  std::vector<std::string> dialogFilters; // filters of file dialogs, in order
  std::vector<std::string> proposedNames;
  std::vector<std::string> banners;       // every banner text shown
  bool bannerVisible = false;
  std::string title;
  std::string text;
  int doEvents = 0;
  bool busy = false;
  bool extractEnabled = true;
  std::vector<std::pair<std::size_t, std::size_t>> progress;
  std::string resultText;
  std::string resultFolder;
  int resultShown = 0;
  std::vector<std::string> urls, openedFolders;
  int beeps = 0;
};

}  // namespace tarvik
