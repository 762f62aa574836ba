#include "shell/app.hpp"

namespace tarvik::project {

std::string OpenProject(App& app, std::int64_t fileLength, const std::string& path) {
  (void)app;
  (void)fileLength;
  (void)path;
  return {};
}

void mnSave_Click(App& app) { (void)app; }

}  // namespace tarvik::project
