#pragma once
// The facts of one package (the main one or an embedded one) as key and value texts in the
// order a person reads them: what the window's Facts tab shows and copies.

#include <string>
#include <utility>
#include <vector>

#include "model/package.hpp"
#include "signers/signers.hpp"
#include "views/views.hpp"

namespace tarvik::views {

using Fact = std::pair<std::string, std::string>;

// `main` is the package the file holds, `package` the one shown (main or embedded),
// `files` the file table of the whole view; `signers` the signature report of the file
// (may be null).
std::vector<Fact> FactList(const model::Package& main, const model::Package& package, const std::vector<FileRow>& files,
                           const signers::Report* signers);

// Every package of `main` (itself first, then the embedded ones in the order met), with
// its parent's position in the list (-1 for the main package).
std::vector<std::pair<const model::Package*, int>> PackageTree(const model::Package& main);

}  // namespace tarvik::views
