// Every 9.x package of the shared corpus: read and viewed, checked against the corpus
// manifest, against the .pkg source beside it, and against its own hashes.

#include <gtest/gtest.h>

#include <functional>
#include <openssl/sha.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "bytes/encoding.hpp"
#include "sis9_fixture.hpp"

namespace tarvik::test {
namespace {

namespace fs = std::filesystem;

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// Quoted strings of a line, in order.
std::vector<std::string> Quotes(const std::string& line) {
  std::vector<std::string> out;
  std::size_t at = 0;
  while ((at = line.find('"', at)) != std::string::npos) {
    const std::size_t end = line.find('"', at + 1);
    if (end == std::string::npos) break;
    out.push_back(line.substr(at + 1, end - at - 1));
    at = end + 1;
  }
  return out;
}

struct PkgFacts {
  std::string uid;                      // upper-case hexadecimal digits
  std::vector<long> version;
  std::vector<std::string> names;
  std::vector<std::string> targets;     // of the file lines (not text files)
};

PkgFacts ReadPkg(const std::string& path) {
  PkgFacts f;
  const std::string raw = ReadFile(path);
  std::istringstream in(DecodeTextFile(raw));
  std::string line;
  bool inBlock = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos) continue;
    line = line.substr(first);
    if (line[0] == ';') continue;
    if (line[0] == '#' && f.uid.empty()) {
      const auto close = line.find('}');
      f.names = Quotes(line.substr(0, close));
      const auto open = line.find("(0x", close);
      const auto end = line.find(')', open);
      if (open != std::string::npos && end != std::string::npos) {
        std::string uid = line.substr(open + 3, end - open - 3);
        std::transform(uid.begin(), uid.end(), uid.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        while (uid.size() < 8) uid.insert(uid.begin(), '0');
        f.uid = uid;
        std::istringstream vs(line.substr(end + 2));
        std::string part;
        for (int i = 0; i < 3 && std::getline(vs, part, ','); ++i) f.version.push_back(std::strtol(part.c_str(), nullptr, 0));
      }
      continue;
    }
    if (line[0] == '{') inBlock = true;
    if (line[0] == '}') {
      inBlock = false;
      auto q = Quotes(line);
      if (!q.empty()) f.targets.push_back(q.back());
      continue;
    }
    if (inBlock || line[0] != '"') continue;
    const auto q = Quotes(line);
    const std::string upper = line;
    if (q.size() >= 2 && !q[1].empty() && upper.find("FN") == std::string::npos) f.targets.push_back(q[1]);
  }
  return f;
}

std::string Sha1Hex(const std::string& data) {
  unsigned char d[SHA_DIGEST_LENGTH];
  SHA1(reinterpret_cast<const unsigned char*>(data.data()), data.size(), d);
  std::string out;
  for (unsigned char c : d) out += HexText(c, 2);
  return out;
}

struct CorpusPackage {
  std::string file;      // relative to the corpus
  ManifestRow manifest;  // empty for packages of made/
};

std::vector<CorpusPackage> NineXPackages(const std::string& corpus) {
  std::vector<CorpusPackage> out;
  for (const ManifestRow& r : CorpusManifest())
    if (r.at("generation").rfind("9.x", 0) == 0) out.push_back({r.at("file"), r});
  for (const char* dir : {"made/sis9", "made/sis9/signed"}) {
    std::error_code ec;
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(corpus + "/" + dir, ec)) {
      const std::string ext = Lower(e.path().extension().string());
      if (ext == ".sis" || ext == ".sisx") files.push_back(std::string(dir) + "/" + e.path().filename().string());
    }
    std::sort(files.begin(), files.end());
    for (auto& f : files) out.push_back({f, {}});
  }
  return out;
}

TEST(Sis9Corpus, EveryPackageOpens) {
  TARVIK_REQUIRE_SHARED();
  const std::string corpus = *SharedDir() + "/corpus";
  const auto packages = NineXPackages(corpus);
  ASSERT_GT(packages.size(), 50u);
  int checkedHashes = 0, checkedPkgs = 0;
  for (const CorpusPackage& p : packages) {
    SCOPED_TRACE(p.file);
    const Viewed v(ReadBytes(corpus + "/" + p.file), p.file);
    const std::vector<std::string>& header = v.view.header;
    // The script alone is the view's script, with either kind of Working Directory.
    EXPECT_EQ(views::Script(v.package, {}), v.view.script);
    EXPECT_EQ(views::Script(v.package, {"/w/"}), views::Describe(v.package, {"/w/"}).script);
    const bool malformed = p.manifest.count("problems") && !p.manifest.at("problems").empty();
    const bool corrupt = p.manifest.count("note") && p.manifest.at("note").find("malformed") != std::string::npos;
    if (malformed || corrupt) {
      EXPECT_FALSE(v.package.problems.empty()) << "a damaged package has its problems";
      continue;
    }
    EXPECT_TRUE(v.package.problems.empty());
    const bool stub = p.manifest.count("generation") ? p.manifest.at("generation") == "9.x-stub"
                                                     : p.file.find("stub") != std::string::npos;
    EXPECT_EQ(v.package.stub, stub);
    const std::string& text = v.view.script;
    ASSERT_FALSE(text.empty());

    // Rows of the main package against the manifest's count of its descriptions.
    std::size_t mainRows = 0;
    for (const views::FileRow& r : v.view.files)
      if (r.extractPath.find("\\Embedded Components\\") == std::string::npos) ++mainRows;
    if (!p.manifest.empty()) {
      const std::size_t files = std::stoul(p.manifest.at("files"));
      const std::size_t nulls = std::stoul(p.manifest.at("n_filenull"));
      // Early packages store a FN line as operation 5 of zero length: no row either.
      std::size_t created = 0;
      const std::function<void(const model::InstallBlock&)> count = [&](const model::InstallBlock& b) {
        for (const model::FileEntry& f : b.files) created += f.operation == 5 && f.uncompressedSize == 0 ? 1 : 0;
        for (const model::IfBlock& i : b.ifs) {
          if (i.branch.block) count(*i.branch.block);
          for (const model::ConditionalBlock& e : i.elseIfs)
            if (e.block) count(*e.block);
        }
      };
      count(v.package.body);
      EXPECT_EQ(mainRows, files - nulls - created);
      std::string uid = p.manifest.at("package_uid").substr(2);
      ASSERT_GT(header.size(), stub ? 0u : 9u);
      EXPECT_EQ(header[stub ? 0 : 9], "SIS UID: " + uid);
      std::string version = p.manifest.at("version");
      std::replace(version.begin(), version.end(), '.', ',');
      std::string shown;
      for (const auto& l : header)
        if (l.rfind("SIS Version: ", 0) == 0) {
          shown = l.substr(13);
          break;
        }
      shown.erase(std::remove(shown.begin(), shown.end(), ' '), shown.end());
      EXPECT_EQ(shown, version);
      EXPECT_NE(text.find("#{\"" + p.manifest.at("package_name") + "\""), std::string::npos);
    }

    // Every row's data is where the table says, and matches its SHA-1.
    if (!stub) {
      for (const views::FileRow& r : v.view.files) {
        if (!r.sha1) continue;
        if (r.uncompressedSize == 0 && !r.hasData) continue;
        const std::string data = v.Data(r);
        if (!r.hasData || data == "<outside>" || data == "<corrupt>") {
          // Pre-installed packages carry descriptions of files already on the device.
          EXPECT_NE(text.find(",TYPE=P"), std::string::npos) << r.target;
          continue;
        }
        std::string hash;
        for (std::uint8_t b : *r.sha1) hash += HexText(b, 2);
        EXPECT_EQ(Sha1Hex(data), hash) << r.target;
        ++checkedHashes;
      }
    }

    // The .pkg source: UID, version, names and every target of its file lines.
    std::string pkg;
    if (!p.manifest.empty()) {
      if (!p.manifest.at("pkg_file").empty()) pkg = corpus + "/" + p.manifest.at("pkg_file");
    } else {
      std::string base = p.file.substr(0, p.file.rfind('.'));
      if (base.find("/signed/") != std::string::npos) base.replace(base.find("/signed/"), 8, "/");
      if (fs::exists(corpus + "/" + base + ".pkg")) pkg = corpus + "/" + base + ".pkg";
    }
    // Only sources the manifest found to be the very build of the package.
    const bool sameBuild = p.manifest.empty() || (p.manifest.at("pkg_match").find("version") != std::string::npos &&
                                                  p.manifest.at("pkg_match").find("other folder") == std::string::npos);
    const bool sameNames = p.manifest.empty() || p.manifest.at("pkg_match").find("name") != std::string::npos;
    if (!pkg.empty() && sameBuild) {
      const PkgFacts f = ReadPkg(pkg);
      if (f.uid.empty()) continue;
      ++checkedPkgs;
      const std::string head = "(0x" + f.uid + "),";
      if (f.version.size() == 3) {
        const std::string v = head + std::to_string(f.version[0]) + ", " + std::to_string(f.version[1]) + ", " +
                              std::to_string(f.version[2]);
        EXPECT_NE(text.find(v), std::string::npos) << v;
      }
      std::string names = "#{";
      for (std::size_t i = 0; i < f.names.size(); ++i) names += (i ? ",\"" : "\"") + f.names[i] + "\"";
      if (sameNames) {
        EXPECT_NE(text.find(names + "}, " + head), std::string::npos) << names;
      }
      const std::string lowerText = Lower(text);
      for (const std::string& t : f.targets) EXPECT_NE(lowerText.find("\"" + Lower(t) + "\""), std::string::npos) << t;
    }
  }
  EXPECT_GT(checkedHashes, 500);
  EXPECT_GT(checkedPkgs, 30);
}

}  // namespace
}  // namespace tarvik::test
