// The executables a package carries, as their own headers say: in the facts and in each
// file's "executable" member of the JSON document, for both generations, stored or deflated,
// in condition blocks and embedded packages.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "parse/parse.hpp"
#include "support/e32_images.hpp"
#include "support/sis9_writer.hpp"
#include "support/sis_old_writer.hpp"
#include "views/facts.hpp"
#include "views/json.hpp"
#include "views/views.hpp"

namespace tarvik {
namespace {

using views::Json;
namespace w = test::sis9w;

w::File Exe(const std::string& target, const test::ImageFields& f, bool deflate, std::size_t body = 64) {
  w::File file;
  file.target = target;
  file.data = test::E32Image(f, body);
  file.deflate = deflate;
  file.caps = static_cast<std::uint32_t>(f.caps);
  return file;
}

// Every file object of the document, embedded packages' ones included, by target.
void FilesByTarget(const Json& package, std::map<std::string, Json>& out) {
  for (const Json& f : package["files"]) out[f["target"].get<std::string>()] = f;
  for (const Json& e : package["embeddedPackages"]) FilesByTarget(e, out);
}

TEST(Executables, EveryCarriedImageIsReadFromItsOwnHeader) {
  test::ImageFields exe{.uid3 = 0xE0000010, .sid = 0xE0000010, .vid = 0x70000001, .caps = 0x0001E000};
  test::ImageFields dll{.uid1 = 0x10000079, .uid3 = 0xE0000011, .sid = 0xE0000011, .caps = 0x00000020,
                        .compression = 0x102822AA};
  test::ImageFields child{.uid3 = 0xE0000012, .sid = 0xE0000013, .vid = 0, .caps = 0, .compression = 0};
  w::Controller main;
  main.files.push_back(w::TextFile("!:\\private\\e0000010\\readme.txt", "not an image"));
  // Large and deflated: only its start is inflated to read the header.
  main.files.push_back(Exe("!:\\sys\\bin\\app.exe", exe, true, 1 << 20));
  w::If branch;
  branch.cond = w::Eq(w::Lang(), w::Num(1));
  branch.files.push_back(Exe("!:\\sys\\bin\\lib.dll", dll, false));
  w::File emulator;
  emulator.target = "!:\\sys\\bin\\emu.exe";
  emulator.data = test::EmulatorBuild(exe);
  emulator.deflate = true;
  branch.files.push_back(emulator);
  main.ifs.push_back(branch);
  w::Controller embedded;
  embedded.uid = 0xE0000012;
  embedded.files.push_back(Exe("!:\\sys\\bin\\child.exe", child, true));
  main.embedded.push_back(embedded);
  const Bytes bytes = w::Build(main);
  const model::Package pkg = Parse(bytes, "x.sis");

  const auto executables = views::ExecutablesOf(pkg, bytes);
  ASSERT_EQ(executables.size(), 4u);
  std::map<std::string, Json> files;
  FilesByTarget(views::FactsDocument(pkg, bytes, views::Describe(pkg, {}), "x.sis")["package"], files);
  EXPECT_TRUE(files.at("!:\\private\\e0000010\\readme.txt")["executable"].is_null());

  struct Expected {
    const char* target;
    const char* kind;
    std::uint32_t uid3;
    std::uint32_t sid;
    std::uint64_t caps;
    const char* format;
    const char* compression;
  };
  const Expected expected[] = {
      {"!:\\sys\\bin\\app.exe", "EXE", 0xE0000010, 0xE0000010, 0x0001E000, "EKA2", "deflate"},
      {"!:\\sys\\bin\\lib.dll", "DLL", 0xE0000011, 0xE0000011, 0x20, "EKA2", "bytepair"},
      {"!:\\sys\\bin\\emu.exe", "EXE", 0xE0000010, 0xE0000010, 0x0001E000, "emulator (WINSCW)", nullptr},
      {"!:\\sys\\bin\\child.exe", "EXE", 0xE0000012, 0xE0000013, 0, "EKA2", "none"},
  };
  for (const Expected& e : expected) {
    SCOPED_TRACE(e.target);
    const Json& x = files.at(e.target)["executable"];
    ASSERT_TRUE(x.is_object());
    EXPECT_EQ(x["kind"], e.kind);
    EXPECT_EQ(x["uid3"], e.uid3);
    EXPECT_EQ(x["secureId"], e.sid);
    EXPECT_EQ(x["capabilities"]["bits"], e.caps);
    EXPECT_EQ(x["format"], e.format);
    EXPECT_EQ(x["emulator"], e.compression == nullptr);
    if (e.compression) {
      EXPECT_EQ(x["compression"], e.compression);
    }
  }
  EXPECT_EQ(files.at("!:\\sys\\bin\\app.exe")["executable"]["capabilities"]["names"],
            Json({"NetworkServices", "LocalServices", "ReadUserData", "WriteUserData"}));
  // Positions count the files of the packages in tree order, each package's own files.
  EXPECT_EQ(executables.back().position, 4u);
  EXPECT_EQ(executables.back().package->uid, 0xE0000012u);
}

TEST(Executables, PreNineImagesHaveUidsButNoSecureFields) {
  test::OldPackage old;
  const Bytes image = test::E32Image({.uid1 = 0x10000079, .uid3 = 0x10001234, .headerFormat = 0});
  old.records.push_back(test::OldFile("app.app", "!:\\system\\apps\\app\\app.app", std::string(image.begin(), image.end())));
  old.records.push_back(test::OldFile("readme.txt", "!:\\system\\apps\\app\\readme.txt", "hello"));
  const Bytes bytes = test::BuildOldSis(old);
  const model::Package pkg = Parse(bytes, "old.sis");
  const auto executables = views::ExecutablesOf(pkg, bytes);
  ASSERT_EQ(executables.size(), 1u);
  EXPECT_EQ(executables[0].entry->target, "!:\\system\\apps\\app\\app.app");
  EXPECT_EQ(executables[0].FormatText(), "EKA1");
  EXPECT_EQ(executables[0].image.header.uid3, 0x10001234u);
  EXPECT_FALSE(executables[0].image.header.secureId);
  EXPECT_TRUE(executables[0].CapabilityNames().empty());
}

TEST(Executables, FarSectionsOfEmulatorBuildsAreReadWithinOneBudget) {
  // Deflated emulator builds whose Symbian section lies 15 MiB in: each would have its
  // 15 MiB inflated; together they get 64 MiB, the rest are still told emulator builds.
  w::Controller c;
  for (int i = 0; i < 6; ++i) {
    w::File f;
    f.target = "!:\\sys\\bin\\emu" + std::to_string(i) + ".dll";
    f.data = test::EmulatorBuild({.uid3 = 0xE0000100u + static_cast<std::uint32_t>(i)}, ".SYMBIAN", 15u << 20);
    f.deflate = true;
    c.files.push_back(std::move(f));
  }
  const Bytes bytes = w::Build(c);
  const model::Package pkg = Parse(bytes, "x.sis");
  const auto executables = views::ExecutablesOf(pkg, bytes);
  ASSERT_EQ(executables.size(), 6u);
  std::size_t read = 0;
  for (const auto& x : executables) {
    EXPECT_TRUE(x.image.emulator);
    if (x.image.symbianSection) {
      ++read;
      EXPECT_EQ(x.image.header.uid3, 0xE0000100u + x.position);
    }
  }
  EXPECT_EQ(read, 4u);
}

}  // namespace
}  // namespace tarvik
