#include "shell/app.hpp"
#include "sis9/sis9.hpp"

namespace tarvik::sis_old {

std::string OpenSISFile2(App& app) {
  return sis9::OpenSISFile3(app, app.state.currentFile);
}

}  // namespace tarvik::sis_old
