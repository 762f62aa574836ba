#pragma once
// The facts of a package as `info --json` reports them, without what differs between two
// builds of the same package: dates, checksums, signatures, compressed sizes and where
// things lie in the file.

#include <string>
#include <vector>

#include "bytes/file_buffer.hpp"
#include "views/json.hpp"

namespace tarvik::test {

// The facts of the package `bytes` (opened as `name`), with those left out.
views::Json ComparableFacts(const Bytes& bytes, const std::string& name = "package.sis");

// The paths at which two fact documents differ ("" for none), at most `limit` of them.
std::vector<std::string> FactDifferences(const views::Json& a, const views::Json& b, std::size_t limit = 10);

}  // namespace tarvik::test
