#pragma once
// The facts of a package as `info --json` reports them, without what differs between two
// builds of the same package: dates, checksums, signatures, compressed sizes and where
// things lie in the file.

#include <string>
#include <vector>

#include "bytes/file_buffer.hpp"
#include "views/json.hpp"

namespace tarvik::test {

// The facts of the package `bytes`, with those left out; without the controller's size too
// when `controllerSize` is false (a signed package's controller is longer by its chains).
views::Json ComparableFacts(const Bytes& bytes, bool controllerSize = true);
// Whether the package `bytes` or one embedded in it carries a signature chain.
bool IsSigned(const Bytes& bytes);

// The paths at which two fact documents differ ("" for none), at most `limit` of them.
std::vector<std::string> FactDifferences(const views::Json& a, const views::Json& b, std::size_t limit = 10);

}  // namespace tarvik::test
