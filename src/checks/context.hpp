#pragma once
// What the checks share while they run over one package file: the facts gathered once and the
// findings met so far.

#include <string>
#include <unordered_map>
#include <vector>

#include "checks/checks.hpp"
#include "signers/signers.hpp"
#include "views/facts.hpp"

namespace tarvik::checks {

struct Context {
  Context(const model::Package& main, std::span<const std::uint8_t> file, const Options& options);

  void Add(const char* check, Severity severity, std::string reason, std::string fact, std::int32_t package = 1,
           std::string target = {});
  // The package (by ordinal) carries no chain, or only chains that end in themselves: it
  // gets what a self-signed package gets.
  bool SelfSigned(std::int32_t ordinal) const;
  // The executable a file is, or null.
  const views::ExecutableFacts* ExecutableOf(const model::FileEntry* entry) const;

  const model::Package& main;
  std::span<const std::uint8_t> file;
  const Options& options;
  std::vector<views::PackageInTree> tree;
  std::vector<std::pair<const model::Package*, const model::FileEntry*>> files;
  std::vector<views::ExecutableFacts> executables;
  signers::Report signers;
  std::vector<Finding> findings;

 private:
  std::unordered_map<const model::FileEntry*, const views::ExecutableFacts*> byEntry_;
};

// Capability names joined by ", " ("none" for no bits).
std::string CapabilityList(std::uint64_t bits);
// A UID a self-signed package may use: 0xA0000000-0xAFFFFFFF, 0xE0000000-0xEFFFFFFF.
inline bool Unprotected(std::uint32_t uid) { return uid >> 28 == 0xA || uid >> 28 == 0xE; }

// The checks, each adding its findings to the context.
void CheckSignatures(Context& c);
void CheckCertificateDates(Context& c);
void CheckCapabilities(Context& c);
void CheckUids(Context& c);
void CheckExecutables(Context& c);
void CheckTargets(Context& c);
void CheckPlatforms(Context& c);
void CheckContents(Context& c);

}  // namespace tarvik::checks
