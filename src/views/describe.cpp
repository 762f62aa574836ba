#include "views/views.hpp"

namespace tarvik::views {

PackageView Describe(const model::Package& package, const ScriptSettings& settings) {
  switch (package.generation) {
    case model::Generation::Pre9: return DescribeOld(package, settings);
    case model::Generation::Sis9: return DescribeSis9(package, settings);
    case model::Generation::Unknown: break;
  }
  return {};
}

std::string Script(const model::Package& package, const ScriptSettings& settings) {
  switch (package.generation) {
    case model::Generation::Pre9: return DescribeOld(package, settings).script;
    case model::Generation::Sis9: return ScriptSis9(package, settings);
    case model::Generation::Unknown: break;
  }
  return {};
}

}  // namespace tarvik::views
