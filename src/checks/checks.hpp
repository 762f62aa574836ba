#pragma once
// Will a package install, and will it work: named checks over a package and its bytes, each
// finding with a severity, the reason in words and the fact it rests on. A function of the
// model, the package bytes, a date and an optional device; plain structs out, for the
// command line and the window alike.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "model/package.hpp"

namespace tarvik::checks {

enum class Severity : std::uint8_t {
  Error,    // the package will not install
  Warning,  // it may install but not work
  Note,     // worth knowing
};
// "error", "warning", "note".
const char* SeverityName(Severity severity);

struct Finding {
  std::string check;  // the check's name ("self-signed-capabilities" ...)
  Severity severity = Severity::Note;
  std::string reason;  // in words
  std::string fact;    // the fact it rests on ("!:\sys\bin\a.exe asks for AllFiles")
  std::int32_t package = 1;  // the package it is about (1 the main one, 2 ... embedded ones)
  std::string target;        // the file it is about, when it is about one
};

// The device a package is checked for: a platform of the table (views' Platforms), or any
// other UID a device stands for.
struct Device {
  std::uint32_t uid = 0;
  std::string name;  // the platform's name, or the UID as text
};

struct Options {
  // The moment certificates must be valid at, in seconds since 1970 (UTC).
  std::int64_t date = 0;
  std::optional<Device> device;
};

// The device a person names ("S60 5th Edition", "s60v5", "0x1028315F", any UID); nothing
// when the text is neither a known platform nor a number.
std::optional<Device> DeviceNamed(const std::string& text);

// Every finding for the package `pkg` read from `file`, errors first, then warnings, then
// notes, each in the order met.
std::vector<Finding> Check(const model::Package& pkg, std::span<const std::uint8_t> file, const Options& options);

// Whether any finding is an error.
bool HasError(const std::vector<Finding>& findings);

}  // namespace tarvik::checks
