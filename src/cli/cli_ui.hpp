#pragma once
// The command-line face of the Ui: answers come from the command's arguments, message
// boxes go to stderr as "TITLE: TEXT", the text area goes to stdout.

#include <cstdio>
#include <optional>
#include <string>

#include "shell/ui.hpp"

namespace tarvik::cli {

class CliUi : public Ui {
 public:
  int MsgBox(const std::string& text, int style, const std::string& title) override;
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
  void Progress(std::size_t done, std::size_t total) override;
  void ShowExtractResult(const std::string& t, const std::string& folder) override;

  // Ends a progress line, if one is drawn.
  void FinishProgress();

  std::optional<std::string> openAnswer, saveAnswer, folderAnswer;
  bool answerYes = false;      // the answer to Yes/No questions
  bool showProgress = false;   // draw a progress bar on stderr
  bool sawCritical = false;    // a critical message was shown
  std::string text;
  std::string resultText;

 private:
  bool progressDrawn_ = false;
  int lastPercent_ = -1;
};

}  // namespace tarvik::cli
