#pragma once
// The command line's side of the operations: messages go to stderr as "TITLE: TEXT",
// questions are shown the same way and answered with the one answer the command was given
// (yes with --force), and the progress of an extraction is a bar on a terminal.

#include <string>

#include "extract/extract.hpp"
#include "operations/conversation.hpp"

namespace tarvik::cli {

class CliConversation : public ops::Conversation, public extract::Reporter {
 public:
  explicit CliConversation(bool answerYes = false) : answer_(answerYes) {}

  void Tell(const ops::Message& message) override;
  bool Ask(const ops::Question& question) override;
  // On a terminal (stdin and stderr), asks on stderr and reads the answer from stdin;
  // otherwise it answers as Ask does: replace all with --force, else extract nothing.
  ops::ExistingAnswer AskExisting(const ops::ExistingQuestion& question) override;

  // extract::Reporter: the progress bar; failures arrive in the extraction's report.
  void Failed(const std::string&) override {}
  void Warning(const std::string&) override {}
  void Progress(std::uint64_t done, std::uint64_t total) override;
  // Ends a progress line, if one is drawn.
  void FinishProgress();

  bool showProgress = false;  // draw a progress bar on stderr
  bool sawError = false;      // an error was told
  bool interactive = false;   // questions about files that stand there may be asked

 private:
  bool answer_;
  bool progressDrawn_ = false;
  int lastPercent_ = -1;
};

}  // namespace tarvik::cli
