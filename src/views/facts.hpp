#pragma once
// Names for the numbers of the package model that the machine-readable views (the JSON
// document and the catalogue) share: generations, install types and flags, file
// operations and options, platforms named by their target-device UIDs, problems.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/package.hpp"

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

// The platform a target-device UID stands for ("S60 5th Edition" ...), when it is one.
std::optional<std::string> PlatformName(std::uint32_t uid);

// "not a package", "unknown version", "unreadable", "inflate", "damaged".
const char* ProblemKindName(model::Problem::Kind kind);
// One line about a problem: "could not read package UID at 24", ...
std::string ProblemText(const model::Problem& problem);
// Whether the package could be read at all (its information and, for 9.x, its controller):
// false when the first problem is one that ended the reading.
bool Readable(const model::Package& pkg);

// "0x" and 8 upper-case hexadecimal digits.
std::string UidText(std::uint32_t uid);
// "major.minor.build" (a word of all ones as "*").
std::string VersionText(const model::Version& version);
// The name in the first language, the first vendor name (or the unique vendor name).
std::string FirstName(const model::Package& pkg);
std::string FirstVendor(const model::Package& pkg);
// "YYYY-MM-DDTHH:MM:SS" of a 9.x creation date (month counted from 1); empty for pre-9.x.
std::string CreatedText(const model::Package& pkg);

}  // namespace tarvik::views

#include <span>

namespace tarvik::views {

// Lower-case hexadecimal text of bytes, and the SHA-1 of bytes as such text.
std::string HexBytes(std::span<const std::uint8_t> bytes);
std::string Sha1Hex(std::span<const std::uint8_t> bytes);

}  // namespace tarvik::views
