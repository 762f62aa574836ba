#include "cli/check_command.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <iostream>

#include "checks/checks.hpp"
#include "parse/parse.hpp"
#include "platform/platform.hpp"
#include "platform/terminal.hpp"
#include "views/json.hpp"

namespace tarvik::cli {

namespace {

std::string Out(const std::string& text) { return ForStream(STDOUT_FILENO, text); }

// Seconds since 1970 of YYYY-MM-DD at 00:00 UTC; nothing when the text is no such date.
std::optional<std::int64_t> DateMoment(const std::string& text) {
  int y = 0, m = 0, d = 0;
  char end = 0;
  if (text.size() != 10 || std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &end) != 3) return std::nullopt;
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = m - 1;
  tm.tm_mday = d;
  const std::time_t t = timegm(&tm);
  std::tm back{};
  gmtime_r(&t, &back);
  if (back.tm_year != y - 1900 || back.tm_mon != m - 1 || back.tm_mday != d) return std::nullopt;  // 2024-02-30
  return static_cast<std::int64_t>(t);
}

std::string Counted(std::size_t n, const char* word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

void PrintText(const std::vector<checks::Finding>& findings) {
  std::size_t counts[3] = {};
  for (const checks::Finding& f : findings) {
    ++counts[static_cast<int>(f.severity)];
    std::string head = std::string(checks::SeverityName(f.severity)) + ": " + f.check;
    if (f.package != 1) head += " (embedded package " + std::to_string(f.package) + ")";
    std::cout << Out(head + ": " + f.reason) << '\n' << Out("  fact: " + f.fact) << '\n';
  }
  std::cout << Counted(counts[0], "error") << ", " << Counted(counts[1], "warning") << ", "
            << Counted(counts[2], "note") << '\n';
}

void PrintJson(const std::string& file, const std::vector<checks::Finding>& findings) {
  views::Json doc;
  doc["format"] = "tarvik-check";
  doc["version"] = 1;
  doc["file"] = file;
  std::size_t counts[3] = {};
  views::Json list = views::Json::array();
  for (const checks::Finding& f : findings) {
    ++counts[static_cast<int>(f.severity)];
    list.push_back(views::Json{{"check", f.check},
                               {"severity", checks::SeverityName(f.severity)},
                               {"reason", f.reason},
                               {"fact", f.fact},
                               {"package", f.package},
                               {"target", f.target.empty() ? views::Json() : views::Json(f.target)}});
  }
  doc["errors"] = counts[0];
  doc["warnings"] = counts[1];
  doc["notes"] = counts[2];
  doc["findings"] = std::move(list);
  std::cout << views::FactsLine(doc) << '\n';
}

}  // namespace

int RunCheck(const CheckCommand& command) {
  checks::Options options;
  options.date = static_cast<std::int64_t>(std::time(nullptr));
  if (!command.date.empty()) {
    const auto moment = DateMoment(command.date);
    if (!moment) {
      std::cerr << Out("tarvik-cli: --date " + command.date + " is not a date of the form YYYY-MM-DD") << '\n';
      return 2;
    }
    options.date = *moment;
  }
  if (!command.device.empty()) {
    options.device = checks::DeviceNamed(command.device);
    if (!options.device) {
      std::cerr << Out("tarvik-cli: unknown device " + command.device +
                       " (name a platform, such as \"S60 5th Edition\" or s60v5, or give a UID)")
                << '\n';
      return 2;
    }
  }
  int worst = 0;
  for (std::size_t i = 0; i < command.files.size(); ++i) {
    const std::string& file = command.files[i];
    FileBytes bytes;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec) || !fsys::ReadWholeFile(file, bytes)) {
      std::cerr << ForStream(STDERR_FILENO, "tarvik-cli: cannot read " + file) << '\n';
      worst = 2;
      continue;
    }
    const model::Package pkg = Parse(bytes, file);
    const std::vector<checks::Finding> findings = checks::Check(pkg, bytes, options);
    if (command.json) {
      PrintJson(file, findings);
    } else {
      if (command.files.size() > 1) std::cout << (i ? "\n" : "") << "==> " << Out(file) << " <==\n";
      PrintText(findings);
    }
    if (checks::HasError(findings)) worst = std::max(worst, 1);
  }
  std::cout << std::flush;
  return worst;
}

}  // namespace tarvik::cli
