#include "support/test_env.hpp"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <iterator>
#include <stdexcept>

#include <sys/wait.h>

#include <cstdio>

#include "support/fake_ui.hpp"

namespace fs = std::filesystem;

namespace tarvik::test {

TempDir::TempDir() {
  std::string tmpl = (fs::temp_directory_path() / "tarvik-test-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string TempDir::operator/(std::string_view name) const { return (fs::path(path_) / name).string(); }

std::string TempDir::Write(std::string_view name, std::string_view bytes) const {
  fs::path p = fs::path(path_) / name;
  fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return p.string();
}

std::string TempDir::Write(std::string_view name, const Bytes& bytes) const {
  return Write(name, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

Platform TestPlatform(const TempDir& dir) { return Platform(dir / "data", dir / "tmp"); }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes ReadBytes(const std::string& path) {
  std::string s = ReadFile(path);
  return Bytes(s.begin(), s.end());
}

std::optional<std::string> SharedDir() {
  std::error_code ec;
  fs::path p = fs::path(TARVIK_SHARED_DIR);
  if (fs::is_directory(p / "corpus", ec)) return fs::canonical(p, ec).string();
  return std::nullopt;
}

std::vector<ManifestRow> CorpusManifest() {
  std::vector<ManifestRow> out;
  const auto shared = SharedDir();
  if (!shared) return out;
  std::istringstream in(ReadFile(*shared + "/corpus/MANIFEST.tsv"));
  auto split = [](std::string line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> cells;
    std::size_t start = 0;
    for (std::size_t at; (at = line.find('\t', start)) != std::string::npos; start = at + 1)
      cells.push_back(line.substr(start, at - start));
    cells.push_back(line.substr(start));
    return cells;
  };
  std::string line;
  if (!std::getline(in, line)) return out;
  const std::vector<std::string> names = split(line);
  while (std::getline(in, line)) {
    const auto cells = split(line);
    ManifestRow row;
    for (std::size_t i = 0; i < names.size(); ++i) row[names[i]] = i < cells.size() ? cells[i] : std::string();
    out.push_back(std::move(row));
  }
  return out;
}

CliResult RunCli(const std::string& args, const TempDir& dir) {
  const std::string errPath = dir / "cli-stderr.txt";
  const std::string cmd = "XDG_DATA_HOME='" + (dir / "data") + "' TMPDIR='" + (dir / "tmp") + "' '" +
                          TARVIK_CLI_PATH + "' " + args + " 2>'" + errPath + "'";
  CliResult r;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  r.err = ReadFile(errPath);
  return r;
}

const views::PackageView& ViewOf(const window::Commands& app) {
  static const views::PackageView kNone;
  return app.State().item ? app.State().item->view : kNone;
}
std::shared_ptr<const model::Package> PackageOf(const window::Commands& app) {
  return app.State().item ? app.State().item->package : nullptr;
}
int FileCountOf(const window::Commands& app) {
  return app.State().item ? static_cast<int>(app.State().item->FileCount()) : 0;
}
std::string TextOf(const window::Commands& app) { return app.State().item ? app.State().item->text : std::string(); }
model::Generation KindOf(const window::Commands& app) {
  return app.State().item ? app.State().item->generation : model::Generation::Unknown;
}
bool IsStubOf(const window::Commands& app) { return app.State().item && app.State().item->IsStub(); }
Bytes BytesOf(const window::Commands& app) {
  if (!app.State().item || !app.State().item->bytes) return {};
  const FileBytes& bytes = *app.State().item->bytes;
  return Bytes(bytes.begin(), bytes.end());
}
std::string CarriedOf(const window::Commands& app) {
  return app.State().item ? app.State().item->carriedText : std::string();
}

Extraction ExtractThroughMenu(window::Commands& app, FakeUi& ui, const std::string& folder, bool rebuildScripts) {
  extract::QuietReporter quiet;
  ui.folderAnswers.push_back(folder);
  Extraction x;
  x.job = app.PrepareExtraction(std::nullopt, rebuildScripts);
  x.report = ops::RunExtraction(x.job, quiet);
  for (const ops::Message& m : x.report.messages) ui.Tell(m);
  x.text = ops::ResultText(x.job, x.report);
  return x;
}

void OpenThroughMenu(window::Commands& app, FakeUi& ui, const std::string& path) {
  ui.openAnswers.push_back(path);
  app.mnOpen_Click();
}

}  // namespace tarvik::test
