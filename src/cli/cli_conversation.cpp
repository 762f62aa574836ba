#include "cli/cli_conversation.hpp"

#include <unistd.h>

#include <iostream>

#include "platform/terminal.hpp"

namespace tarvik::cli {

void CliConversation::Tell(const ops::Message& message) {
  FinishProgress();
  if (message.severity == ops::Severity::Error) sawError = true;
  std::cerr << ForStream(STDERR_FILENO, message.title + ": " + message.text) << '\n';
}

bool CliConversation::Ask(const ops::Question& question) {
  FinishProgress();
  std::cerr << ForStream(STDERR_FILENO, question.title + ": " + question.text) << '\n';
  return answer_;
}

void CliConversation::Progress(std::uint64_t done, std::uint64_t total) {
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

void CliConversation::FinishProgress() {
  if (progressDrawn_) std::cerr << '\n';
  progressDrawn_ = false;
  lastPercent_ = -1;
}

}  // namespace tarvik::cli
