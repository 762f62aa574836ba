// Assembly of the PKG script (one section per package), the finishing of the file table,
// and the data positions of the carried files.

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/platform.hpp"
#include "sis9/reader.hpp"

namespace tarvik::sis9 {

namespace {

std::string ReplaceAll(std::string text, std::string_view from, std::string_view to) {
  if (from.empty()) return text;
  std::string out;
  out.reserve(text.size());
  std::size_t start = 0;
  for (std::size_t at; (at = text.find(from, start)) != std::string::npos; start = at + from.size()) {
    out.append(text, start, at - start);
    out.append(to);
  }
  out.append(text, start, std::string::npos);
  return out;
}

// A package name as a folder and file name: characters that cannot stand in a file name on
// common systems become "_".
std::string SafeName(const std::string& name) {
  std::string out;
  out.reserve(name.size());
  for (unsigned char c : name) {
    const bool bad = c < 0x20 || c == 0x7F || c == '\\' || c == '/' || c == ':' || c == '*' || c == '?' ||
                     c == '"' || c == '<' || c == '>' || c == '|';
    out += bad ? '_' : static_cast<char>(c);
  }
  return out;
}

// The key under which two extraction paths name one file on disk: lower case, "/" and "\\"
// alike, empty components dropped (extraction treats paths the same way).
std::string PathKey(std::string_view path) {
  std::string key;
  key.reserve(path.size());
  for (char c : path) {
    if (c == '\\' || c == '/') {
      if (!key.empty() && key.back() != '\\') key += '\\';
    } else {
      key += c;
    }
  }
  if (!key.empty() && key.back() == '\\') key.pop_back();
  return ToLower(key);
}

// Where " (n)" goes in the path `text[0, end)`: before the extension of its last component,
// or at `end` when that component has none (a leading dot does not start an extension).
std::size_t SuffixAt(std::string_view text, std::size_t end) {
  const std::string_view path = text.substr(0, std::min(end, text.size()));
  const std::size_t sep = path.find_last_of("\\/");
  const std::size_t name = sep == std::string_view::npos ? 0 : sep + 1;
  const std::size_t dot = path.rfind('.');
  return dot != std::string_view::npos && dot > name ? dot : path.size();
}

std::string WithSuffix(std::string text, std::size_t end, const std::string& suffix) {
  text.insert(SuffixAt(text, end), suffix);
  return text;
}

}  // namespace

void Reader::MakeExtractPathsDistinct() {
  // Files with one target in different condition branches (per-language variants, for
  // example) would otherwise share a path, and extraction would keep only the last one.
  // The first keeps its name; each later one becomes "name (2).ext", "name (3).ext", ...
  // `taken` maps every path key in use to the last number tried for it, so that a name is
  // never handed out twice and each number is tried at most once per key.
  std::unordered_map<std::string, int> taken;
  taken.reserve(st.ListView1.Count() * 2);
  for (std::size_t i = 0; i < st.ListView1.Count(); ++i) {
    Row& r = st.ListView1.Item(i + 1);
    const std::string& path = r.Get(col9::ExtractPath);
    auto [it, fresh] = taken.try_emplace(PathKey(path), 1);
    if (fresh) continue;
    std::string suffix, renamed, key;
    for (int n = it->second + 1;; ++n) {
      suffix = " (" + std::to_string(n) + ")";
      renamed = WithSuffix(path, path.size(), suffix);
      key = PathKey(renamed);
      if (taken.find(key) == taken.end()) {
        it->second = n;
        break;
      }
    }
    taken.emplace(std::move(key), 1);
    r.Set(col9::ExtractPath, renamed);
    const std::string& source = r.Get(col9::Source);
    r.Set(col9::Source, WithSuffix(source, source.size(), suffix));
    if (fileRowLine[i] >= 1 && fileRowLine[i] <= st.ListView7.Count()) {
      Row& line = st.ListView7.Item(fileRowLine[i]);
      const std::string& text = line.Get(1);
      if (fileRowSourceEnd[i] <= text.size()) line.Set(1, WithSuffix(text, fileRowSourceEnd[i], suffix));
    }
  }
}

std::string Reader::Assemble() {
  // Absolute data units: the data index of a controller counts from its parent's unit.
  for (PackageRec& p : packages)
    p.unit = p.parent < 0 ? 1 : packages[static_cast<std::size_t>(p.parent)].unit + p.dataIndex;
  for (std::size_t i = 0; i < packages.size(); ++i)
    if (dataIndexRows[i] > 0)
      st.ListView5.Item(static_cast<std::size_t>(dataIndexRows[i])).SetText(std::to_string(packages[i].unit));

  st.ListView8.Clear();
  st.List4.Clear();
  st.TreeView1.Clear();
  st.TreeView1.Add("r0", "", "0");
  st.List4.Add("r0");
  for (std::size_t i = 1; i < packages.size(); ++i) {
    const std::string key = "r" + std::to_string(i);
    const int parent = packages[i].parent;
    st.TreeView1.Add(key, parent < 0 ? "r0" : "r" + std::to_string(parent), std::to_string(packages[i].dataIndex));
    st.List4.Add(key);
  }

  const std::string embedFolder = sourceFolder + "bin\\" + packageFolder + "\\Embedded Components\\";
  struct Open {
    int pkg;
    std::string text;
  };
  std::vector<Open> stack;
  stack.push_back({0, {}});
  std::vector<std::string> scripts(1);

  auto append = [&](const std::string& line) {
    if (stack.size() == 1) {
      stack.back().text += line;
      stack.back().text += kCrLf;
    } else {
      stack.back().text += kCrLf;
      stack.back().text += line;
    }
  };
  auto finish = [&]() {
    Open top = std::move(stack.back());
    stack.pop_back();
    PackageRec& rec = packages[static_cast<std::size_t>(top.pkg)];
    rec.slot = static_cast<int>(scripts.size());
    const std::string& name = rec.folderName;
    scripts.push_back(ReplaceAll(std::move(top.text), kTag, packageFolder + "\\Embedded Components\\" + name) + "  ");
    append("@\"" + embedFolder + name + ".sis\", (0x" + rec.uidText + ")");
    Row& row = st.ListView8.Add(name);
    row.Set(1, std::to_string(rec.endDepth));
    row.Set(2, rec.uidText);
    row.Set(3, std::to_string(rec.slot));
    row.Set(4, std::to_string(rec.unit));
  };

  const auto& rows = st.ListView7.Rows();
  std::size_t first = 0, last = rows.size();
  if (last > 0 && rowKinds[0] == RowKind::Start && rowPackages[0] == 0) first = 1;
  if (last > first && rowKinds[last - 1] == RowKind::End && rowPackages[last - 1] == 0) --last;

  // Embedded packages are named in the order their sections close (as the loop below closes
  // them), so that the file table's final paths are known before the script is put together.
  {
    std::vector<int> open{0};
    std::unordered_map<std::string, int> nameUse;
    auto name = [&](int pkg) {
      PackageRec& rec = packages[static_cast<std::size_t>(pkg)];
      std::string folder = SafeName(rec.firstName);
      const int used = ++nameUse[ToLower(folder)];
      if (used > 1) {
        folder += " (" + std::to_string(used) + ")";
        ++nameUse[ToLower(folder)];
      }
      rec.folderName = std::move(folder);
    };
    for (std::size_t i = first; i < last; ++i) {
      if (rowKinds[i] == RowKind::Start) {
        open.push_back(rowPackages[i]);
      } else if (rowKinds[i] == RowKind::End && open.size() > 1 && open.back() == rowPackages[i]) {
        name(open.back());
        open.pop_back();
      }
    }
    while (open.size() > 1) {
      name(open.back());
      open.pop_back();
    }
  }

  // The file table's paths and data units.
  for (std::size_t i = 0; i < st.ListView1.Count(); ++i) {
    Row& r = st.ListView1.Item(i + 1);
    const PackageRec& rec = packages[static_cast<std::size_t>(fileRowPackage[i])];
    r.SetText(std::to_string(rec.unit));
    const std::string tagTo = rec.parent < 0 ? std::string() : "Embedded Components\\" + rec.folderName;
    const std::string tagFrom = rec.parent < 0 ? std::string("\\") + kTag : std::string(kTag);
    r.Set(col9::Source, ReplaceAll(r.Get(col9::Source), tagFrom, tagTo));
    r.Set(col9::ExtractPath, ReplaceAll(r.Get(col9::ExtractPath), tagFrom, tagTo));
  }
  MakeExtractPathsDistinct();

  for (std::size_t i = first; i < last; ++i) {
    switch (rowKinds[i]) {
      case RowKind::Start:
        stack.push_back({rowPackages[i], {}});
        break;
      case RowKind::End:
        if (stack.size() > 1 && stack.back().pkg == rowPackages[i]) finish();
        break;
      case RowKind::Line:
        append(rows[i].Get(1));
        break;
    }
  }
  while (stack.size() > 1) finish();
  scripts[0] = ReplaceAll(std::move(stack[0].text), kTag, packageFolder) + "  ";

  std::string script = ";<---Main SIS File PKG--->";
  script += kCrLf;
  script += kCrLf;
  script += scripts[0];
  script += kCrLf;
  for (std::size_t j = 1; j < scripts.size(); ++j) {
    script += kCrLf;
    script += ";<---Embedded SIS File Index " + std::to_string(j) + " PKG--->";
    script += kCrLf;
    script += scripts[j];
    script += kCrLf;
  }
  return script;
}

void Reader::FillDataOffsets() {
  if (dataFieldPos < 0) return;
  const Pos pos = AlignUp(dataFieldPos);
  Field data = ReadField(buf, pos, buf.Size());
  if (data.type != sistype::Data) {
    Fail("file data", pos);
    return;
  }
  if (!data.ok) Fail("file data", pos);
  const Pos dataEnd = data.ok ? data.end : buf.Size();

  // Rows by (data unit, file index), so that each stored file finds its rows at once: the
  // first row of each key, then each row's next row of the same key.
  const std::size_t rowCount = st.ListView1.Count();
  auto key = [](std::uint64_t unit, std::uint64_t index) { return (unit << 32) ^ index; };
  std::unordered_map<std::uint64_t, std::size_t> firstRow;
  firstRow.reserve(rowCount);
  std::vector<std::size_t> nextRow(rowCount, SIZE_MAX);
  for (std::size_t i = rowCount; i-- > 0;) {
    const auto unit = static_cast<std::uint64_t>(packages[static_cast<std::size_t>(fileRowPackage[i])].unit);
    auto [it, fresh] = firstRow.try_emplace(key(unit, fileRowIndex[i]), i);
    if (!fresh) {
      nextRow[i] = it->second;
      it->second = i;
    }
  }

  Field units = ReadField(buf, data.index, dataEnd);
  if (units.type != sistype::Array) {
    Fail("file data", data.index);
    return;
  }
  std::uint64_t unit = 1;
  for (Pos p = units.index + 4; p < units.end; ++unit) {
    Field u = ReadElement(buf, p, units.end);
    if (!u.ok) {
      Fail("file data", p);
      break;
    }
    Field files = ReadField(buf, u.index, u.end);
    std::uint64_t fileNo = 0;
    for (Pos q = files.index + 4; files.type == sistype::Array && q < files.end; ++fileNo) {
      Field fd = ReadElement(buf, q, files.end);
      if (!fd.ok) {
        Fail("file data", q);
        break;
      }
      Field comp = ReadField(buf, fd.index, fd.end);
      if (comp.type == sistype::Compressed) {
        auto it = firstRow.find(key(unit, fileNo));
        for (std::size_t row = it == firstRow.end() ? SIZE_MAX : it->second; row != SIZE_MAX; row = nextRow[row]) {
          Row& r = st.ListView1.Item(row + 1);
          r.Set(col9::Offset, HexText(static_cast<std::uint64_t>(comp.index + 12)));
          r.Set(col9::Compression, std::to_string(Word(buf, comp.index)));
        }
      }
      q = fd.next;
    }
    p = u.next;
  }
}

}  // namespace tarvik::sis9
