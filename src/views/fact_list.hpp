#pragma once
// Facts as texts a person reads: the key and value list of one package (the main one or an
// embedded one) that the window's Facts tab shows and copies, and the signer lines of `info`.

#include <string>
#include <utility>
#include <vector>

#include "signers/signers.hpp"
#include "views/facts.hpp"
#include "views/views.hpp"

namespace tarvik::views {

using Fact = std::pair<std::string, std::string>;

// The facts of `package` (one of FactsOfTree), with the file totals of `files` (the file
// table of the whole view: the main package counts every file, an embedded one its own) and
// the signers of `signers` (the report of the whole file; may be null).
std::vector<Fact> FactList(const PackageFacts& package, const std::vector<FileRow>& files,
                           const signers::Report* signers);

// The "Signers" and "Capabilities" sections of `info` for the file whose main package is
// `pkg`, as plain lines.
std::vector<std::string> SignerLines(const model::Package& pkg, const signers::Report& report,
                                     const signers::Capabilities& capabilities);

// The "Executables" section of `info`: a heading with their number, a line of column names,
// then one tab-separated line per executable (target, kind, UID1-3, SID, VID,
// capabilities, format, compression). Nothing when there are none.
std::vector<std::string> ExecutableLines(const std::vector<ExecutableFacts>& executables);

}  // namespace tarvik::views
