#include "operations/conversation.hpp"

#include <algorithm>

namespace tarvik::ops {

bool Recorder::Has(const std::string& text) const {
  return std::any_of(messages.begin(), messages.end(), [&](const Message& m) { return m.text == text; });
}

bool Recorder::HasSeverity(Severity severity) const {
  return std::any_of(messages.begin(), messages.end(), [&](const Message& m) { return m.severity == severity; });
}

}  // namespace tarvik::ops
