#include "cli/cli_conversation.hpp"

#include <unistd.h>

#include <iostream>
#include <string>

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

ops::ExistingAnswer CliConversation::AskExisting(const ops::ExistingQuestion& question) {
  FinishProgress();
  if (!interactive) return {answer_ ? ops::ExistingChoice::Overwrite : ops::ExistingChoice::Cancel, true};
  const std::string left = question.count - question.index > 1
                               ? " (" + std::to_string(question.count - question.index) + " files stand there)"
                               : "";
  for (;;) {
    std::cerr << ForStream(STDERR_FILENO, question.path + " already exists" + left) << '\n'
              << "[o]verwrite, [s]kip, [r]ename, or O, S, R for this and every later one; [c]ancel: " << std::flush;
    std::string line;
    if (!std::getline(std::cin, line)) return {};
    const char c = line.empty() ? '\0' : line.front();
    switch (c) {
      case 'o': return {ops::ExistingChoice::Overwrite, false};
      case 'O': return {ops::ExistingChoice::Overwrite, true};
      case 's': return {ops::ExistingChoice::Skip, false};
      case 'S': return {ops::ExistingChoice::Skip, true};
      case 'r': return {ops::ExistingChoice::Rename, false};
      case 'R': return {ops::ExistingChoice::Rename, true};
      case 'c':
      case 'C': return {};
      default: break;
    }
  }
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
