// The install-readiness checks: a clean self-signed package is flagged by none, and each
// crafted fault is flagged by its check with its severity; the command line's exit status,
// text and JSON.
#include <gtest/gtest.h>

#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "checks/checks.hpp"
#include "parse/parse.hpp"
#include "support/e32_images.hpp"
#include "support/sis9_writer.hpp"
#include "support/sis_old_writer.hpp"
#include "support/test_env.hpp"
#include "views/json.hpp"
#include "writer/sign.hpp"

namespace tarvik {
namespace {

namespace w = test::sis9w;
using checks::Finding;
using checks::Severity;

constexpr std::uint32_t kNetworkAndReadUserData = (1u << 13) | (1u << 15);
constexpr std::uint32_t kAllFiles = 1u << 11;

w::File Exe(const std::string& target, const test::ImageFields& f) {
  w::File file;
  file.target = target;
  file.data = test::E32Image(f);
  file.deflate = true;
  file.caps = static_cast<std::uint32_t>(f.caps);
  return file;
}

test::ImageFields AppImage() {
  return {.uid3 = 0xE0000001, .sid = 0xE0000001, .vid = 0, .caps = kNetworkAndReadUserData};
}

// A clean package: self-signed, UID 0xE0000001, an executable of the same SID asking for
// capabilities a user can grant, a resource, its private data, a registration file in the
// import folder, made now for S60 5th Edition.
w::Controller CleanPackage() {
  w::Controller c;
  c.uid = 0xE0000001;
  const std::time_t now = std::time(nullptr) + 120;
  std::tm tm{};
  gmtime_r(&now, &tm);
  c.year = tm.tm_year + 1900, c.month0 = tm.tm_mon, c.day = tm.tm_mday;
  c.hour = tm.tm_hour, c.minute = tm.tm_min, c.second = tm.tm_sec;
  c.targets.push_back({0x1028315F, {5, 0, 0}, std::nullopt, {"S60ProductID"}});
  c.files.push_back(Exe("!:\\sys\\bin\\app.exe", AppImage()));
  c.files.push_back(w::TextFile("!:\\resource\\apps\\app.rsc", "resource"));
  c.files.push_back(w::TextFile("!:\\private\\e0000001\\data.txt", "data"));
  c.files.push_back(w::TextFile("!:\\private\\10003a3f\\import\\apps\\app_reg.rsc", "registration"));
  return c;
}

// Self-signs `package` with a key made once for the whole suite.
Bytes SelfSigned(const Bytes& package) {
  static test::TempDir keys;
  static const std::string made = writer::MakeKeys(keys.Path(), "CN=Checks Test", 365, 1024);
  EXPECT_EQ(made, "");
  std::string error;
  Bytes signed_ = writer::SignPackage(package, {keys / "key.pem", keys / "cert.pem", {}, {}}, error);
  EXPECT_EQ(error, "");
  return signed_;
}

std::vector<Finding> CheckBytes(const Bytes& bytes, checks::Options options = {}) {
  if (options.date == 0) options.date = static_cast<std::int64_t>(std::time(nullptr)) + 3600;
  const model::Package pkg = Parse(bytes, "x.sis");
  return checks::Check(pkg, bytes, options);
}

std::string Listed(const std::vector<Finding>& findings) {
  std::string out;
  for (const Finding& f : findings) out += std::string(checks::SeverityName(f.severity)) + " " + f.check + ": " + f.fact + "\n";
  return out;
}

TEST(Checks, CleanSelfSignedPackageIsFlaggedByNone) {
  const auto findings = CheckBytes(SelfSigned(w::Build(CleanPackage())));
  for (const Finding& f : findings) EXPECT_EQ(f.severity, Severity::Note) << Listed(findings);
  EXPECT_FALSE(checks::HasError(findings));
  ASSERT_FALSE(findings.empty());
  EXPECT_EQ(findings.front().check, "target-devices");
  EXPECT_NE(findings.front().fact.find("S60 5th Edition (0x1028315F)"), std::string::npos);
}

struct Case {
  const char* name;
  const char* check;
  Severity severity;
  std::function<void(w::Controller&)> change;
  bool sign = true;
  std::function<void(checks::Options&)> options = {};
};

TEST(Checks, EachFaultIsFlaggedByItsCheck) {
  const Case cases[] = {
      {"capabilities beyond self-signed", "self-signed-capabilities", Severity::Error,
       [](w::Controller& c) {
         auto f = AppImage();
         f.caps |= kAllFiles;
         c.files[0] = Exe("!:\\sys\\bin\\app.exe", f);
       }},
      {"protected package UID", "protected-uid", Severity::Error, [](w::Controller& c) { c.uid = 0x20001234; }},
      {"protected SID", "protected-sid", Severity::Error,
       [](w::Controller& c) {
         auto f = AppImage();
         f.sid = 0x20001234;
         c.files[0] = Exe("!:\\sys\\bin\\app.exe", f);
       }},
      {"recorded capabilities differ", "capabilities-differ", Severity::Error,
       [](w::Controller& c) { c.files[0].caps = 1u << 13; }},
      {"another application's private folder", "private-folder", Severity::Error,
       [](w::Controller& c) { c.files.push_back(w::TextFile("!:\\private\\10001234\\x.txt", "x")); }},
      {"into \\sys\\ outside \\sys\\bin\\", "system-folder", Severity::Error,
       [](w::Controller& c) { c.files.push_back(w::TextFile("c:\\sys\\hash\\x.exe", "x")); }},
      {"a climbing target", "path-climbs", Severity::Error,
       [](w::Controller& c) { c.files.push_back(w::TextFile("!:\\data\\..\\..\\x.txt", "x")); }},
      {"expired on the date", "certificate-date", Severity::Error, [](w::Controller&) {}, true,
       [](checks::Options& o) { o.date = 4102444800; }},  // 2100-01-01
      {"not valid yet on the date", "certificate-date", Severity::Error, [](w::Controller&) {}, true,
       [](checks::Options& o) { o.date = 946684800; }},  // 2000-01-01
      {"a chain that does not verify", "signature", Severity::Error, [](w::Controller& c) { c.signatureChains = 1; },
       false},
      {"made before its certificate", "certificate-at-creation", Severity::Warning,
       [](w::Controller& c) { c.year = 2007; }},
      {"unsigned", "unsigned", Severity::Warning, [](w::Controller&) {}, false},
      {"device not targeted", "device", Severity::Warning,
       [](w::Controller& c) { c.targets = {{0x102752AE, {}, std::nullopt, {"S60ProductID"}}}; }, true,
       [](checks::Options& o) { o.device = checks::DeviceNamed("S60 3rd Edition FP1"); }},
      {"platform as a dependency", "old-platform-dependency", Severity::Warning,
       [](w::Controller& c) { c.dependencies.push_back({0x101F7961, {}, std::nullopt, {"Series60ProductID"}}); }},
      {"pre-9.x platform as target", "old-platform-dependency", Severity::Warning,
       [](w::Controller& c) { c.targets.push_back({0x101F7960, {}, std::nullopt, {"Series60ProductID"}}); }},
      {"emulator build", "emulator-build", Severity::Warning,
       [](w::Controller& c) {
         c.files[0].data = test::EmulatorBuild(AppImage());
       }},
      {"EKA1 image in a 9.x package", "executable-generation", Severity::Warning,
       [](w::Controller& c) {
         c.files.push_back(Exe("!:\\sys\\bin\\old.dll", {.uid1 = 0x10000079, .uid3 = 0xE0000001, .headerFormat = 0}));
         c.files.back().caps.reset();
       }},
      {"executable outside \\sys\\bin\\", "executable-outside-sys-bin", Severity::Warning,
       [](w::Controller& c) { c.files[0].target = "!:\\system\\programs\\app.exe"; }},
      {"SID differs where it matters", "sid-differs", Severity::Note,
       [](w::Controller& c) {
         auto f = AppImage();
         f.sid = 0xE0000002;
         c.files[0] = Exe("!:\\sys\\bin\\app.exe", f);
       }},
      {"no files", "no-files", Severity::Note, [](w::Controller& c) { c.files.clear(); }},
      {"no target device", "target-devices", Severity::Note, [](w::Controller& c) { c.targets.clear(); }},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    w::Controller c = CleanPackage();
    k.change(c);
    const Bytes built = w::Build(c);
    checks::Options options;
    if (k.options) k.options(options);
    const auto findings = CheckBytes(k.sign ? SelfSigned(built) : built, options);
    const bool flagged = std::any_of(findings.begin(), findings.end(), [&](const Finding& f) {
      return f.check == k.check && f.severity == k.severity && !f.reason.empty() && !f.fact.empty();
    });
    EXPECT_TRUE(flagged) << Listed(findings);
    EXPECT_EQ(checks::HasError(findings), k.severity == Severity::Error) << Listed(findings);
  }
}

TEST(Checks, DevicesRunPackagesForTheEarlierMembersOfTheirFamily) {
  struct DeviceCase {
    const char* device;
    std::uint32_t target;
    bool warned;
  };
  const DeviceCase cases[] = {
      {"s60v5", 0x101F7961, false},          {"Symbian^3", 0x102752AE, false}, {"0x101F7961", 0x1028315F, true},
      {"S60 3rd Edition FP2", 0x102032BE, false}, {"0x2000060B", 0x2000060B, false}, {"0x2000060B", 0x101F7961, true},
  };
  for (const DeviceCase& d : cases) {
    SCOPED_TRACE(d.device);
    w::Controller c = CleanPackage();
    c.targets = {{d.target, {}, std::nullopt, {"S60ProductID"}}};
    checks::Options options;
    options.device = checks::DeviceNamed(d.device);
    ASSERT_TRUE(options.device);
    const auto findings = CheckBytes(SelfSigned(w::Build(c)), options);
    const bool warned = std::any_of(findings.begin(), findings.end(), [](const Finding& f) { return f.check == "device"; });
    EXPECT_EQ(warned, d.warned) << Listed(findings);
  }
  EXPECT_FALSE(checks::DeviceNamed("Nokia 3310"));
}

TEST(Checks, StubsPreNinePackagesAndUnreadableFiles) {
  w::PackageOptions stub;
  stub.stub = true;
  auto findings = CheckBytes(w::Build(CleanPackage(), stub));
  EXPECT_TRUE(std::any_of(findings.begin(), findings.end(), [](const Finding& f) { return f.check == "stub"; }));
  EXPECT_FALSE(checks::HasError(findings)) << Listed(findings);

  test::OldPackage old;
  old.records.push_back(test::OldFile("a.txt", "!:\\sys\\bin\\a.txt", "a"));
  findings = CheckBytes(test::BuildOldSis(old));
  EXPECT_TRUE(std::any_of(findings.begin(), findings.end(), [](const Finding& f) {
    return f.check == "system-folder" && f.severity == Severity::Warning;
  })) << Listed(findings);

  findings = CheckBytes(Bytes(100, 0x55));
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].check, "unreadable");
  EXPECT_EQ(findings[0].severity, Severity::Error);
}

TEST(Checks, CommandLineExitStatusTextAndJson) {
  test::TempDir dir;
  const std::string clean = dir.Write("clean.sis", SelfSigned(w::Build(CleanPackage())));
  w::Controller bad = CleanPackage();
  bad.uid = 0x20001234;
  const std::string faulty = dir.Write("faulty.sis", SelfSigned(w::Build(bad)));

  auto r = test::RunCli("check " + clean, dir);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("0 errors, 0 warnings, 1 note"), std::string::npos) << r.out;

  r = test::RunCli("check " + clean + " " + faulty + " --device s60v5", dir);
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(r.out.find("==> " + faulty + " <=="), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("error: protected-uid: "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  fact: package UID 0x20001234"), std::string::npos) << r.out;

  r = test::RunCli("check --json " + faulty + " --date 2000-01-01", dir);
  EXPECT_EQ(r.status, 1);
  const views::Json doc = views::Json::parse(r.out);
  EXPECT_EQ(doc["format"], "tarvik-check");
  EXPECT_EQ(doc["file"], faulty);
  EXPECT_EQ(doc["errors"], 2);  // the UID, and the certificate not valid yet in 2000
  EXPECT_EQ(doc["findings"][0]["severity"], "error");

  for (const char* wrong : {"--date 2024-02-30", "--date tomorrow", "--device 'Nokia 3310'"}) {
    SCOPED_TRACE(wrong);
    r = test::RunCli(std::string("check ") + clean + " " + wrong, dir);
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    EXPECT_EQ(r.out, "");
  }
}

}  // namespace
}  // namespace tarvik
