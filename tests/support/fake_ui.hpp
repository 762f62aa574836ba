#pragma once
// The tests' window: it records what the window's commands show and answers their dialogs
// and questions from queues the test fills.

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "window/window_ui.hpp"

namespace tarvik::test {

class FakeUi : public window::WindowUi {
 public:
  void Tell(const ops::Message& message) override { messages.push_back(message); }
  bool Ask(const ops::Question& question) override;
  ops::ExistingAnswer AskExisting(const ops::ExistingQuestion& question) override {
    existingQuestions.push_back(question);
    if (existingAnswers.empty()) return existingDefault;
    const ops::ExistingAnswer a = existingAnswers.front();
    existingAnswers.pop_front();
    return a;
  }
  void Pulse() override { ++pulses; }
  std::optional<std::string> ChooseOpenFile(const std::string& filter, const std::string& title) override;
  std::optional<std::string> ChooseSaveFile(const std::string& filter, const std::string& title,
                                            const std::string& proposedName) override;
  std::optional<std::string> ChooseFolder(const std::string& title, window::FolderPurpose purpose) override;
  void ShowBanner(const std::string& t) override;
  void HideBanner() override { bannerVisible = false; }
  void SetTitle(const std::string& t) override { title = t; }
  void SetText(const std::string& t) override { text = t; }
  std::string Text() const override { return text; }

  // Texts of the messages told, in order.
  std::vector<std::string> MessageTexts() const;
  bool HasMessage(const std::string& text) const;

  // Answers: each Choose* call takes the next queued answer (nothing = cancel when empty);
  // a question takes the next queued answer, or `answerDefault` when none is queued.
  std::deque<std::optional<std::string>> openAnswers, saveAnswers, folderAnswers;
  std::deque<bool> answers;
  bool answerDefault = false;
  // Answers about files that stand where an extraction writes; by default nothing is touched.
  std::deque<ops::ExistingAnswer> existingAnswers;
  ops::ExistingAnswer existingDefault;

  // What was shown.
  std::vector<ops::Message> messages;
  std::vector<ops::Question> questions;
  std::vector<ops::ExistingQuestion> existingQuestions;
  std::vector<std::string> dialogTitles;   // titles of every file/folder dialog, in order
  std::vector<std::string> dialogFilters;  // filters of file dialogs, in order
  std::vector<std::string> proposedNames;
  std::vector<std::string> banners;        // every banner text shown
  bool bannerVisible = false;
  std::string title;
  std::string text;
  int pulses = 0;
};

}  // namespace tarvik::test
