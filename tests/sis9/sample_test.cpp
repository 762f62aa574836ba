// The demo package in samples/: the committed file is the one the writer builds, and it
// opens as a small but complete 9.x package.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "sis9_fixture.hpp"

namespace tarvik::test {
namespace {

const std::string kSample = std::string(TARVIK_SOURCE_DIR) + "/samples/demo.sisx";

TEST(DemoSample, CommittedFileIsWhatTheWriterBuilds) {
  const Bytes built = w::MakeDemoPackage();
  if (std::getenv("TARVIK_UPDATE_SAMPLE")) {
    std::ofstream(kSample, std::ios::binary)
        .write(reinterpret_cast<const char*>(built.data()), static_cast<std::streamsize>(built.size()));
  }
  EXPECT_EQ(ReadBytes(kSample), built);
}

using DemoOpen = Sis9Fixture;

TEST_F(DemoOpen, OpensWithEveryPart) {
  OpenThroughMenu(app, ui, kSample);
  EXPECT_TRUE(ui.messages.empty());
  const std::string expected =
      ";<---Main SIS File PKG--->\r\n\r\n"
      ";Date 17-5-2008\r\n"
      ";Time 10:30:15\r\n"
      "&EN, FR\r\n"
      "#{\"Tarvik Demo\",\"Démo Tarvik\"}, (0xE0DE0001),1, 2, 3, IU,TYPE=SA\r\n"
      ":\"Tarvik Samples\"\r\n"
      "%{\"Tarvik Samples\",\"Exemples Tarvik\"}\r\n"
      "[0x101F7961], 0, 0, 0, {\"Series60ProductID\", \"Series60ProductID\"}\r\n"
      "\"\\bin\\demo\\data\\demo\\readme.txt\"-\"!:\\data\\demo\\readme.txt\", FF\r\n"
      "\"\\bin\\demo\\data\\demo\\settings.ini\"-\"!:\\data\\demo\\settings.ini\", FF\r\n"
      "\"\\bin\\demo\\TextFileIndex12.txt\"-\"\", FT, TS\r\n\r\n"
      "@\"\\bin\\demo\\Embedded Components\\Demo Helper.sis\", (0xE0DE0002)\r\n"
      "If  Language = 0x00000001;British English Language\r\n"
      "\"\\bin\\demo\\data\\demo\\hello.txt\"-\"!:\\data\\demo\\hello.txt\", FF\r\n"
      "ElseIf  NOT 0x00000000\r\n"
      "\"\\bin\\demo\\data\\demo\\hello (2).txt\"-\"!:\\data\\demo\\hello.txt\", FF\r\n"
      "EndIf \r\n"
      "  \r\n"
      "\r\n;<---Embedded SIS File Index 1 PKG--->\r\n"
      "\r\n;Date 17-5-2008\r\n"
      ";Time 10:30:0\r\n"
      "&EN, FR\r\n"
      "#{\"Demo Helper\",\"Aide de démo\"}, (0xE0DE0002),1, 1, 0,TYPE=SA\r\n"
      ":\"Tarvik Samples\"\r\n"
      "%{\"Tarvik Samples\",\"Exemples Tarvik\"}\r\n"
      "\"\\bin\\demo\\Embedded Components\\Demo Helper\\data\\demo\\helper.txt\"-\"!:\\data\\demo\\helper.txt\", FF  \r\n";
  EXPECT_EQ(ui.text, expected);
  ASSERT_EQ(Files().size(), 6u);
  for (const views::FileRow& r : Files()) EXPECT_TRUE(r.hasData) << r.target;
  EXPECT_TRUE(app.mnFile_Click().extract);
}

}  // namespace
}  // namespace tarvik::test
