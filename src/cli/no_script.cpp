#include "cli/no_script.hpp"

#include "bytes/inflate.hpp"

namespace tarvik::cli {

std::string NoScriptReason(const model::Package& package) {
  using Kind = model::Problem::Kind;
  // A controller that could not be inflated explains everything after it.
  for (const model::Problem& p : package.problems)
    if (p.kind == Kind::Inflate) {
      std::string why = InflateMessage(p.status, "");
      while (!why.empty() && why.back() == ' ') why.pop_back();
      return "its controller could not be inflated (" + why + ")";
    }
  for (const model::Problem& p : package.problems) {
    switch (p.kind) {
      case Kind::NotAPackage: return "it is not a package";
      case Kind::Inflate: break;
      case Kind::Unreadable: return p.what + " at " + std::to_string(p.where);
      case Kind::Damaged: return "could not read " + p.what + " at " + std::to_string(p.where);
      case Kind::UnknownVersion: break;
    }
  }
  return "the package holds no package information";
}

}  // namespace tarvik::cli
