#pragma once
// A built package taken apart for re-signing: its controller inflated, its data section as
// stored.

#include <string>

#include "writer/fields.hpp"

namespace tarvik::writer::detail {

struct PackageParts {
  bool stub = false;
  std::uint32_t uid = 0;
  std::uint32_t controllerAlgorithm = 1;
  Bytes members;     // the controller field's value: SISInfo ... SISDataIndex
  Bytes dataField;   // the whole SISData field (absent for a stub)
  Bytes dataChecksumField;  // as stored, or empty
  // Member positions in `members`.
  std::size_t dataIndexAt = 0;  // where the data index field begins
  std::size_t lastChainAt = 0, lastChainEnd = 0;  // the last signature chain (when chains > 0)
  int chains = 0;
};

// Empty on success, else why the package cannot be taken apart.
std::string SplitPackage(const Bytes& file, PackageParts& parts);
// The package file (or stub) made of `parts` (the controller deflated as before).
Bytes JoinPackage(const PackageParts& parts, std::string& error);
// Writes `bytes` to `path` through a temporary file; empty on success.
std::string WriteWhole(const std::string& path, const Bytes& bytes, unsigned mode = 0644);
Bytes ReadFileBytes(const std::string& path, std::string& error);

}  // namespace tarvik::writer::detail
