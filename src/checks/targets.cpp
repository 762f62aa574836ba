// The checks of where files go, of the executables themselves, of the platforms a package
// names and of what it carries.

#include <algorithm>
#include <cctype>
#include <set>

#include "checks/context.hpp"

namespace tarvik::checks {

namespace {

using model::Generation;

// A target as the checks compare it: lower case, "\" between folders, without its drive.
std::string Folded(const std::string& target) {
  std::string t = target;
  for (char& ch : t) ch = ch == '/' ? '\\' : static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  if (t.size() >= 2 && t[1] == ':') t.erase(0, 2);
  return t;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

bool Climbs(const std::string& folded) {
  std::size_t at = 0;
  while (at <= folded.size()) {
    const std::size_t end = std::min(folded.find('\\', at), folded.size());
    if (folded.compare(at, end - at, "..") == 0) return true;
    at = end + 1;
  }
  return false;
}

// The UID of the private folder a target lies in ("\private\<8 hex digits>\..."), unless
// it lies in that folder's "import" folder, which is there for other packages to write to.
std::optional<std::uint32_t> PrivateOwner(const std::string& folded) {
  static constexpr const char* kPrivate = "\\private\\";
  if (!StartsWith(folded, kPrivate)) return std::nullopt;
  const std::string rest = folded.substr(9);
  if (rest.size() < 9 || rest[8] != '\\' || !std::all_of(rest.begin(), rest.begin() + 8, [](char ch) { return std::isxdigit(static_cast<unsigned char>(ch)) != 0; }))
    return std::nullopt;
  if (StartsWith(rest.substr(9), "import\\")) return std::nullopt;
  return static_cast<std::uint32_t>(std::stoul(rest.substr(0, 8), nullptr, 16));
}

std::string PlatformText(std::uint32_t uid) {
  const views::Platform* p = views::PlatformByUid(uid);
  return p ? std::string(p->name) + " (" + views::UidText(uid) + ")" : views::UidText(uid);
}

bool Runs(const Device& device, std::uint32_t target) {
  const views::Platform* p = views::PlatformByUid(device.uid);
  return p ? views::DeviceRuns(*p, target) : device.uid == target;
}

bool EndsInProductId(const std::vector<views::LanguageText>& names) {
  for (const views::LanguageText& n : names) {
    std::string t = n.text;
    while (!t.empty() && t.back() == ' ') t.pop_back();
    for (char& ch : t) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (t.size() >= 9 && t.compare(t.size() - 9, 9, "productid") == 0) return true;
  }
  return false;
}

}  // namespace

void CheckExecutables(Context& c) {
  std::size_t exes = 0;
  for (const views::ExecutableFacts& x : c.executables) exes += x.image.header.uid1 == e32::kExecutableUid;
  for (const views::ExecutableFacts& x : c.executables) {
    const std::string& target = x.entry->target;
    const bool nine = x.package->generation == Generation::Sis9;
    const e32::ImageHeader& h = x.image.header;
    if (x.image.emulator) {
      c.Add("emulator-build", Severity::Warning,
            "An executable is built for the PC emulator (a Windows PE file): no device runs it.",
            target + ": " + x.FormatText(), x.package->ordinal, target);
      continue;
    }
    if (nine ? h.format == e32::Format::Eka1 : h.format == e32::Format::Eka2)
      c.Add("executable-generation", Severity::Warning,
            nine ? "An executable is an EKA1 image, made for devices before 9.x: a 9.x device does not run it."
                 : "An executable is an EKA2 image, made for 9.x devices: the devices this package is for do not run it.",
            target + ": " + x.FormatText(), x.package->ordinal, target);
    if (nine && !target.empty() && !StartsWith(Folded(target), "\\sys\\bin\\"))
      c.Add("executable-outside-sys-bin", Severity::Warning,
            "An executable is installed outside \\sys\\bin\\: a 9.x device loads executables only from there.", target,
            x.package->ordinal, target);
    const bool privateFiles = std::any_of(c.files.begin(), c.files.end(), [&](const auto& f) {
      return f.first == x.package && PrivateOwner(Folded(f.second->target)) == x.package->uid;
    });
    if (nine && h.uid1 == e32::kExecutableUid && h.secureId && *h.secureId != x.package->uid &&
        (exes == 1 || privateFiles))
      c.Add("sid-differs", Severity::Note,
            privateFiles ? "An executable's secure ID differs from the package UID: it cannot reach the files the "
                           "package puts in \\private\\<package UID>\\."
                         : "The package's only executable has a secure ID other than the package UID: its private "
                           "folder is not the one named after the package.",
            target + ": SID " + views::UidText(*h.secureId) + ", package UID " + views::UidText(x.package->uid),
            x.package->ordinal, target);
  }
}

void CheckTargets(Context& c) {
  std::set<std::uint32_t> owners;
  for (const views::PackageInTree& p : c.tree) owners.insert(p.facts.uid);
  for (const views::ExecutableFacts& x : c.executables)
    if (x.image.header.secureId) owners.insert(*x.image.header.secureId);
  for (const auto& [pkg, entry] : c.files) {
    const std::string folded = Folded(entry->target);
    if (folded.empty()) continue;
    const std::string& target = entry->target;
    if (Climbs(folded))
      c.Add("path-climbs", Severity::Error,
            "A target holds a \"..\" folder: the installer refuses paths that climb out of their folder.", target,
            pkg->ordinal, target);
    if (pkg->stub) continue;  // a stub lists what the ROM holds
    const bool nine = pkg->generation == Generation::Sis9;
    const auto owner = nine ? PrivateOwner(folded) : std::nullopt;
    if (owner && !owners.count(*owner))
      c.Add("private-folder", Severity::Error,
            "A file goes into another application's private folder: the installer writes only into the private "
            "folders of the package's own executables (and into any import folder).",
            target + ": \\private\\" + views::UidText(*owner).substr(2) + "\\ belongs to none of the package's UIDs",
            pkg->ordinal, target);
    if (nine && StartsWith(folded, "\\sys\\") && !StartsWith(folded, "\\sys\\bin\\"))
      c.Add("system-folder", Severity::Error,
            "A file goes into \\sys\\ outside \\sys\\bin\\: only the installer itself keeps files there.", target,
            pkg->ordinal, target);
    if (!nine && (StartsWith(folded, "\\sys\\") || StartsWith(folded, "\\resource\\")))
      c.Add("system-folder", Severity::Warning,
            "A pre-9.x package installs into a folder of 9.x devices (\\sys\\ or \\resource\\): the devices it "
            "installs on do not use it, and 9.x devices do not install pre-9.x packages.",
            target, pkg->ordinal, target);
  }
}

void CheckPlatforms(Context& c) {
  for (const views::PackageInTree& p : c.tree) {
    const views::PackageFacts& f = p.facts;
    if (f.generation != Generation::Sis9 || !f.hasInfo) continue;
    for (const views::DependencyFacts& d : f.dependencies) {
      const views::Platform* platform = views::PlatformByUid(d.uid);
      if (!platform && !EndsInProductId(d.names)) continue;
      c.Add("old-platform-dependency", Severity::Warning,
            "The package names a platform as a dependency, as pre-9.x packages did: a 9.x installer looks for an "
            "installed package of that UID (a platform belongs among the target devices).",
            "dependency " + PlatformText(d.uid) + (d.names.empty() ? "" : " \"" + d.names.front().text + "\""),
            f.ordinal);
    }
    for (const views::DependencyFacts& d : f.targetDevices) {
      const views::Platform* platform = views::PlatformByUid(d.uid);
      if (platform && platform->pre9)
        c.Add("old-platform-dependency", Severity::Warning,
              "The package names a platform of pre-9.x devices as a target device: no 9.x device is one.",
              "target device " + PlatformText(d.uid), f.ordinal);
    }
  }
  const views::PackageFacts& main = c.tree.front().facts;
  if (main.generation != Generation::Sis9 || main.stub) return;
  std::string named;
  bool runs = false;
  for (const views::DependencyFacts& d : main.targetDevices) {
    named += (named.empty() ? "" : ", ") + PlatformText(d.uid);
    runs = runs || (c.options.device && Runs(*c.options.device, d.uid));
  }
  if (named.empty()) {
    c.Add("target-devices", Severity::Note, "The package names no target device: the installer does not check the "
                                            "platform.", "no target device");
    return;
  }
  c.Add("target-devices", Severity::Note, "The package is made for the devices it names.", "target devices: " + named);
  if (c.options.device && !runs)
    c.Add("device", Severity::Warning,
          c.options.device->name + " is not among the package's target devices: the installer warns that the package "
                                   "may not be compatible with the device.",
          "target devices: " + named + "; device: " + c.options.device->name + " (" +
              views::UidText(c.options.device->uid) + ")");
}

void CheckContents(Context& c) {
  if (c.main.stub)
    c.Add("stub", Severity::Note,
          "A stub: a bare controller that records what a device's ROM holds; it is not installed as a package.",
          "no file frame, no file data");
  else if (c.files.empty())
    c.Add("no-files", Severity::Note, "The package carries no files: installing it adds only its record.",
          "0 files in the package and its embedded packages");
}

}  // namespace tarvik::checks
