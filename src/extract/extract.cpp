#include "shell/app.hpp"

namespace tarvik::extract {

void mnExtr_Click(App& app) { (void)app; }

}  // namespace tarvik::extract
