#include "support/fake_ui.hpp"

#include <algorithm>

namespace tarvik::test {

namespace {
std::optional<std::string> Take(std::deque<std::optional<std::string>>& q) {
  if (q.empty()) return std::nullopt;
  auto v = std::move(q.front());
  q.pop_front();
  return v;
}
}  // namespace

bool FakeUi::Ask(const ops::Question& question) {
  questions.push_back(question);
  if (answers.empty()) return answerDefault;
  const bool a = answers.front();
  answers.pop_front();
  return a;
}

std::optional<std::string> FakeUi::ChooseOpenFile(const std::string& filter, const std::string& ttl) {
  dialogFilters.push_back(filter);
  dialogTitles.push_back(ttl);
  return Take(openAnswers);
}

std::optional<std::string> FakeUi::ChooseSaveFile(const std::string& filter, const std::string& ttl,
                                                  const std::string& proposedName) {
  dialogFilters.push_back(filter);
  dialogTitles.push_back(ttl);
  proposedNames.push_back(proposedName);
  return Take(saveAnswers);
}

std::optional<std::string> FakeUi::ChooseFolder(const std::string& ttl, window::FolderPurpose) {
  dialogTitles.push_back(ttl);
  return Take(folderAnswers);
}

void FakeUi::ShowBanner(const std::string& t) {
  banners.push_back(t);
  bannerVisible = true;
}

std::vector<std::string> FakeUi::MessageTexts() const {
  std::vector<std::string> out;
  out.reserve(messages.size());
  for (const auto& m : messages) out.push_back(m.text);
  return out;
}

bool FakeUi::HasMessage(const std::string& t) const {
  return std::any_of(messages.begin(), messages.end(), [&](const ops::Message& m) { return m.text == t; });
}

}  // namespace tarvik::test
