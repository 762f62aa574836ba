#pragma once
// The facts of packages, gathered once from the model and written by every output: the
// `info` lists, the JSON document, the window's Facts and the catalogue rows. Beside the
// gathered facts, the names of the model's numbers that those outputs share: generations,
// install types and flags, file operations and options, platforms named by their
// target-device UIDs, problems, signature verdicts and chain trust.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "e32/image_header.hpp"
#include "model/package.hpp"
#include "signers/signers.hpp"

namespace tarvik::views {

// "9.x", "pre-9.x" or "unknown".
const char* GenerationName(model::Generation generation);

// A language number with its two-letter code (empty when the tables do not know the
// number) and its long name as the lists show it ("Language 260" for an unknown number).
struct LanguageFacts {
  std::uint32_t number = 0;
  std::string code;
  std::string name;
};
LanguageFacts Language(std::uint32_t number);

// 9.x: "SA", "SP", "PU", "PA", "PP"; pre-9.x: "SISAPP" ... "SISUPGRADE"; empty when unknown.
std::string InstallTypeName(const model::Package& pkg);
// 9.x: SH, NR, RU, H; pre-9.x header options: IUNICODE, DISTRIBUTABLE, NOCOMPRESS, SHUTDOWNAPPS.
std::vector<std::string> InstallFlagNames(const model::Package& pkg);
// The install flags word: 9.x install flags, pre-9.x header options.
std::uint32_t InstallFlagBits(const model::Package& pkg);

// The operation of a file: 9.x "install", "run", "text", "null"; pre-9.x "FILE",
// "FILETEXT", "EMBEDDED SIS", "FILERUN", "FILENULL", "FILEMIME"; empty when unknown.
std::string OperationName(model::Generation generation, std::uint32_t operation);
// The option words of a file's options (9.x) or details word (pre-9.x).
std::vector<std::string> OptionNames(model::Generation generation, std::uint32_t operation, std::uint32_t options);
// An option word in words ("RI": "runs when installed"); the word itself when it has none.
std::string OptionWords(const std::string& name);
// A file's operation and options in words, for a person: "install", "run: runs when
// installed, waits until it ends (RI, RW)".
std::string FileOperationText(model::Generation generation, const model::FileEntry& file);

// A platform a package can name by UID: the 9.x platforms as target devices, the older ones
// as the requisites of pre-9.x packages.
struct Platform {
  std::uint32_t uid = 0;
  const char* name = "";       // "S60 5th Edition"
  const char* shortName = "";  // "s60v5": what a person types
  bool pre9 = false;           // a platform of pre-9.x packages
  // Devices of one family run the packages made for the earlier members of that family
  // (a lower level): an S60 5th Edition device also counts as an S60 3rd Edition one.
  int family = 0;
  int level = 0;
};
// Every platform known by UID, oldest first within each family.
const std::vector<Platform>& Platforms();
// The platform of a UID; nothing for any other UID.
const Platform* PlatformByUid(std::uint32_t uid);
// The platform a person names: its name or short name (case ignored), or its UID ("0x...").
const Platform* PlatformByName(const std::string& text);
// Whether a device of platform `device` runs packages that name `target` as a target device.
bool DeviceRuns(const Platform& device, std::uint32_t target);

// The 9.x platform a target-device UID stands for ("S60 5th Edition" ...), when it is one.
std::optional<std::string> PlatformName(std::uint32_t uid);

// "not a package", "unknown version", "unreadable", "inflate", "damaged".
const char* ProblemKindName(model::Problem::Kind kind);
// One line about a problem: "could not read package UID at 24", ...
std::string ProblemText(const model::Problem& problem);
// Whether the package could be read at all (its information and, for 9.x, its controller):
// false when the first problem is one that ended the reading.
bool Readable(const model::Package& pkg);

// "verified", "failed", "not checked".
const char* VerdictName(signers::Verdict verdict);
// "self-signed", "chained in package", "issuer not carried", "broken".
const char* TrustName(signers::Trust trust);
// The verdict of a whole chain: "failed" when a signature failed, "verified" when every
// signature (at least one) verified, "not checked" otherwise.
const char* ChainVerdictName(const signers::Chain& chain);

// "0x" and 8 upper-case hexadecimal digits.
std::string UidText(std::uint32_t uid);
// "major.minor.build" (a word of all ones as "*").
std::string VersionText(const model::Version& version);
// "YYYY-MM-DD<between>HH:MM:SS" of a date (month counted from 1).
std::string DateText(const model::DateTime& date, char between);

// A text given per language: the language at the same position of the package's list,
// when the list has one.
struct LanguageText {
  std::optional<LanguageFacts> language;
  std::string text;
};

// A dependency or a target device.
struct DependencyFacts {
  std::uint32_t uid = 0;
  std::optional<std::string> platform;  // target devices: the platform the UID stands for
  std::optional<model::Version> from, to;
  std::vector<LanguageText> names;
};

// What one package (the main one or an embedded one) says about itself, typed. Members a
// damaged package information left unread are empty.
struct PackageFacts {
  const model::Package* package = nullptr;
  std::int32_t ordinal = 0;
  bool embedded = false;
  model::Generation generation = model::Generation::Unknown;
  bool stub = false;
  // The package information could be read (9.x: the controller; pre-9.x: the header).
  bool hasInfo = false;
  std::uint32_t uid = 0;
  std::optional<model::Version> version;
  std::vector<LanguageText> names, vendorNames;
  std::string vendorUniqueName;  // 9.x
  std::vector<LanguageFacts> languages;
  std::optional<std::uint32_t> installTypeCode;
  std::string installType;  // InstallTypeName
  std::uint32_t flagBits = 0;
  std::vector<std::string> flags;
  std::optional<model::DateTime> created;  // 9.x
  std::vector<DependencyFacts> targetDevices, dependencies;
  std::vector<model::Property> properties;  // pre-9.x: its capabilities
  std::vector<std::vector<LanguageText>> options;  // per option, its names

  // The name in the first language; the first vendor name (or the unique vendor name).
  std::string Name() const;
  std::string Vendor() const;
};

// The facts of `pkg` alone (not of the packages it embeds).
PackageFacts FactsOf(const model::Package& pkg, bool embedded);

// `main` and every package embedded in it, main first, then the embedded ones in the order
// met (depth first), each with its parent's position (-1 for the main one).
std::vector<std::pair<const model::Package*, int>> PackageTree(const model::Package& main);

// The facts of the packages of PackageTree(main), in its order.
struct PackageInTree {
  PackageFacts facts;
  int parent = -1;
};
std::vector<PackageInTree> FactsOfTree(const model::Package& main);

// An executable a package carries, as its own header says (not as the package records it).
struct ExecutableFacts {
  const model::Package* package = nullptr;    // the package that carries it, main or embedded
  const model::FileEntry* entry = nullptr;    // its file
  // The file's position among every file of the package file: the packages of PackageTree
  // in order, each with its own files in stored order (logo first), as the catalogue counts.
  std::size_t position = 0;
  e32::Executable image;

  // "EXE", "DLL" or "" by UID1.
  const char* KindName() const;
  // "EKA1", "EKA2", "later"; "emulator (WINSCW)" or "emulator (WINS)" for emulator builds.
  std::string FormatText() const;
  // "none", "deflate", "bytepair" or the value as UidText.
  std::string CompressionText() const;
  // The image's capabilities by name; empty when it states none (EKA1 images).
  std::vector<std::string> CapabilityNames() const;
};

// Every executable that the package file `file` (whose main package is `main`) carries: each
// file whose bytes the package holds is looked at, and only the start of it is read (the
// header; a deflated file is inflated no further than that). Stubs and pre-installed
// packages carry no bytes, so no executables.
std::vector<ExecutableFacts> ExecutablesOf(const model::Package& main, std::span<const std::uint8_t> file);

// Each file of PackageTree(main)'s packages with the package that carries it, in the order
// ExecutableFacts::position counts them.
std::vector<std::pair<const model::Package*, const model::FileEntry*>> OwnFiles(const model::Package& main);

}  // namespace tarvik::views

#include <span>

namespace tarvik::views {

// Lower-case hexadecimal text of bytes, and the SHA-1 of bytes as such text.
std::string HexBytes(std::span<const std::uint8_t> bytes);
std::string Sha1Hex(std::span<const std::uint8_t> bytes);

}  // namespace tarvik::views
