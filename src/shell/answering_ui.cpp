#include "shell/answering_ui.hpp"

#include <algorithm>

namespace tarvik {

namespace {
std::optional<std::string> Take(std::deque<std::optional<std::string>>& q) {
  if (q.empty()) return std::nullopt;
  auto v = std::move(q.front());
  q.pop_front();
  return v;
}
}  // namespace

int AnsweringUi::MsgBox(const std::string& t, int style, const std::string& ttl) {
  messages.push_back({t, style, ttl});
  if ((style & 7) != msg::YesNo) return msg::Ok;
  if (msgAnswers.empty()) return yesNoDefault;
  const int a = msgAnswers.front();
  msgAnswers.pop_front();
  return a;
}

std::optional<std::string> AnsweringUi::ChooseOpenFile(const std::string& filter, const std::string& ttl) {
  dialogFilters.push_back(filter);
  dialogTitles.push_back(ttl);
  return Take(openAnswers);
}

std::optional<std::string> AnsweringUi::ChooseSaveFile(const std::string& filter, const std::string& ttl,
                                                       const std::string& proposedName) {
  dialogFilters.push_back(filter);
  dialogTitles.push_back(ttl);
  proposedNames.push_back(proposedName);
  return Take(saveAnswers);
}

std::optional<std::string> AnsweringUi::ChooseFolder(const std::string& ttl) {
  dialogTitles.push_back(ttl);
  return Take(folderAnswers);
}

void AnsweringUi::ShowBanner(const std::string& t) {
  banners.push_back(t);
  bannerVisible = true;
}

void AnsweringUi::Progress(std::size_t done, std::size_t total) {
  if (!recordProgress) progress.clear();
  progress.emplace_back(done, total);
}

void AnsweringUi::ShowExtractResult(const std::string& t, const std::string& folder) {
  resultText = t;
  resultFolder = folder;
  ++resultShown;
}

std::vector<std::string> AnsweringUi::MessageTexts() const {
  std::vector<std::string> out;
  out.reserve(messages.size());
  for (const auto& m : messages) out.push_back(m.text);
  return out;
}

bool AnsweringUi::HasMessage(const std::string& t) const {
  return std::any_of(messages.begin(), messages.end(), [&](const Message& m) { return m.text == t; });
}

}  // namespace tarvik
