#include "sis9/sis9.hpp"

namespace tarvik::sis9 {

std::string OpenSISFile3(App& app, const std::string& fname) {
  app.state.formatMarker = 1;
  (void)fname;
  return {};
}

}  // namespace tarvik::sis9
