#pragma once
// A built package taken apart for re-signing: its controller inflated, its data section as
// stored.

#include <functional>
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

// The frame of a 9.x package file or stub as a writer needs it.
struct PackageFrame {
  bool stub = false;
  std::uint32_t uid = 0;  // the package UID its information gives
  std::uint32_t controllerAlgorithm = 1;
  Bytes controller;         // the whole controller field, inflated
  Bytes dataField;          // the whole SISData field (empty for a stub)
  std::size_t dataFieldAt = 0;  // where it lies in the file
  Bytes dataChecksumField;  // as stored, or empty
};
// Reads the frame of `file`; empty on success, else why it cannot be read.
std::string ReadFrame(const Bytes& file, PackageFrame& frame);

// Empty on success, else why the package cannot be taken apart.
std::string SplitPackage(const Bytes& file, PackageParts& parts);
// The package file (or stub) made of `parts` (the controller deflated as before).
Bytes JoinPackage(const PackageParts& parts, std::string& error);
// Writes `bytes` to `path` through a temporary file; empty on success.
std::string WriteWhole(const std::string& path, const Bytes& bytes, unsigned mode = 0644,
                       const std::function<void(const std::string& path, bool made)>& tempFile = {});
Bytes ReadFileBytes(const std::string& path, std::string& error);

}  // namespace tarvik::writer::detail
