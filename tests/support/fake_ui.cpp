#include "support/fake_ui.hpp"

#include <algorithm>

namespace tarvik::test {

namespace {
std::optional<std::string> Take(std::deque<std::optional<std::string>>& q) {
  if (q.empty()) return std::nullopt;
  auto v = q.front();
  q.pop_front();
  return v;
}
}  // namespace

int FakeUi::MsgBox(const std::string& t, int style, const std::string& ttl) {
  messages.push_back({t, style, ttl});
  if ((style & 7) == msg::YesNo) {
    if (msgAnswers.empty()) return msg::No;
    int a = msgAnswers.front();
    msgAnswers.pop_front();
    return a;
  }
  return msg::Ok;
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

std::optional<std::string> FakeUi::ChooseFolder(const std::string& ttl) {
  dialogTitles.push_back(ttl);
  return Take(folderAnswers);
}

void FakeUi::ShowBanner(const std::string& t) {
  banners.push_back(t);
  bannerVisible = true;
}

void FakeUi::ShowExtractResult(const std::string& t, const std::string& folder) {
  resultText = t;
  resultFolder = folder;
  ++resultShown;
}

std::vector<std::string> FakeUi::MessageTexts() const {
  std::vector<std::string> out;
  for (const auto& m : messages) out.push_back(m.text);
  return out;
}

bool FakeUi::HasMessage(const std::string& t) const {
  return std::any_of(messages.begin(), messages.end(), [&](const Message& m) { return m.text == t; });
}

}  // namespace tarvik::test
