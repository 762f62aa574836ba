#pragma once
// The command-line face of the Ui: the answering Ui, with message boxes echoed to stderr as
// "TITLE: TEXT" and a progress bar on a terminal.

#include <string>

#include "shell/answering_ui.hpp"

namespace tarvik::cli {

class CliUi : public AnsweringUi {
 public:
  CliUi() { recordProgress = false; }
  int MsgBox(const std::string& text, int style, const std::string& title) override;
  void Progress(std::size_t done, std::size_t total) override;
  void ShowExtractResult(const std::string& t, const std::string& folder) override;

  // Ends a progress line, if one is drawn.
  void FinishProgress();

  bool showProgress = false;   // draw a progress bar on stderr
  bool sawCritical = false;    // a critical message was shown

 private:
  bool progressDrawn_ = false;
  int lastPercent_ = -1;
};

}  // namespace tarvik::cli
