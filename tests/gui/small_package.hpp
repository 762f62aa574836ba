#pragma once
// The package the window's suites open: five files of different sizes, one deflated, one
// under a language condition (French), and one in an embedded package ("Helper").

#include <string>

#include "support/sis9_writer.hpp"

namespace tarvik::test {

inline sis9w::File File(std::string target, std::string data, bool deflate = false) {
  sis9w::File f;
  f.target = std::move(target);
  f.data = Bytes(data.begin(), data.end());
  f.deflate = deflate;
  return f;
}

inline Bytes SmallPackage(const std::string& name) {
  namespace w = sis9w;
  w::Controller child;
  child.uid = 0xE0000002;
  child.names = {"Helper"};
  child.version = {2, 1, 0};
  child.files = {File("!:\\data\\helper.txt", "helper file")};
  w::Controller main;
  main.names = {name};
  main.version = {1, 2, 3};
  main.languages = {1, 2};
  main.files = {File("!:\\sys\\bin\\alpha.exe", std::string(3000, 'a'), true), File("!:\\data\\beta.txt", "b"),
                File("!:\\data\\gamma.ini", std::string(700, 'g'))};
  main.ifs = {w::If{w::Eq(w::Lang(), w::Num(2)), {File("!:\\data\\fr.txt", "bonjour")}, {}, {}, {}}};
  main.embedded = {child};
  return w::Build(main);
}

}  // namespace tarvik::test
