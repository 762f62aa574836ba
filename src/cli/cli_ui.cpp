#include "cli/cli_ui.hpp"

#include <unistd.h>

#include <iostream>

#include "platform/terminal.hpp"

namespace tarvik::cli {

int CliUi::MsgBox(const std::string& t, int style, const std::string& title) {
  FinishProgress();
  if ((style & 0x70) == msg::Critical) sawCritical = true;
  std::cerr << ForStream(STDERR_FILENO, title + ": " + t) << '\n';
  return AnsweringUi::MsgBox(t, style, title);
}

void CliUi::Progress(std::size_t done, std::size_t total) {
  AnsweringUi::Progress(done, total);
  if (!showProgress || total == 0) return;
  const int percent = static_cast<int>(done >= total ? 100 : done * 100 / total);
  if (percent == lastPercent_) return;
  lastPercent_ = percent;
  constexpr int kWidth = 40;
  const int filled = percent * kWidth / 100;
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(kWidth - filled), '.');
  std::cerr << "\r[" << bar << "] " << percent << "%" << std::flush;
  progressDrawn_ = true;
}

void CliUi::FinishProgress() {
  if (progressDrawn_) std::cerr << '\n';
  progressDrawn_ = false;
  lastPercent_ = -1;
}

void CliUi::ShowExtractResult(const std::string& t, const std::string& folder) {
  FinishProgress();
  AnsweringUi::ShowExtractResult(t, folder);
}

}  // namespace tarvik::cli
