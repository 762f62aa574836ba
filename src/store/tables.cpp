#include "store/tables.hpp"

#include <stdexcept>

namespace tarvik {

namespace {
const std::string kEmpty;
}

const std::string& Row::Get(std::size_t k) const { return k < cells_.size() ? cells_[k] : kEmpty; }

void Row::Set(std::size_t k, std::string value) {
  if (k >= cells_.size()) cells_.resize(k + 1);
  cells_[k] = std::move(value);
}

Row& RecordTable::Add(std::string text) {
  rows_.emplace_back(std::move(text));
  return rows_.back();
}

void RecordTable::Remove(std::size_t index1) {
  if (index1 == 0 || index1 > rows_.size()) throw std::out_of_range("RecordTable::Remove");
  rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(index1 - 1));
}

void StringList::Remove(std::size_t index1) {
  if (index1 == 0 || index1 > lines_.size()) throw std::out_of_range("StringList::Remove");
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(index1 - 1));
}

bool Tree::Add(const std::string& key, const std::string& parent, const std::string& text) {
  if (index_.count(key) || (!parent.empty() && !index_.count(parent))) return false;
  index_.emplace(key, nodes_.size());
  nodes_.push_back({key, parent, text});
  return true;
}

const Tree::Node* Tree::Find(const std::string& key) const {
  auto it = index_.find(key);
  return it == index_.end() ? nullptr : &nodes_[it->second];
}

std::string Tree::FullPath(const std::string& key) const {
  std::vector<const Node*> chain;
  for (const Node* n = Find(key); n; n = n->parent.empty() ? nullptr : Find(n->parent)) {
    chain.push_back(n);
    if (chain.size() > nodes_.size()) break;  // a parent always precedes its child; never loops
  }
  std::string path;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if (!path.empty()) path += '\\';
    path += (*it)->text;
  }
  return path;
}

namespace {
std::vector<std::string> FileTable9Columns() {
  std::vector<std::string> c = {"SIS ControllerID", "File Data ID", "Source", "Target", "Offset", "Compression",
                                "Compress byte", "Uncompress byte", "Extract path", "MIME"};
  for (int i = 1; i <= 24; ++i) c.push_back("hash" + std::to_string(i));
  for (int i = 1; i <= 20; ++i) c.push_back("cap" + std::to_string(i));
  c.push_back("hash algorithm");
  c.push_back("byte");
  return c;
}
}  // namespace

Stores::Stores()
    : ListView6({"a", "b"}),
      ListView7({"byte", "string"}),
      ListView1(FileTable9Columns()),
      ListView5({"a", "b", "c", "UID", "date", "time"}),
      ListView8({"name", "order", "uid", "sisconid", "absolute index"}),
      ListView4({"source", "target", "type", "option", "Offset", "Uncompress/Compress", "MIME", "UID",
                 "Original Source Length"}),
      ListView2({"name", "uncompress", "compress", "offset", "length", "index"}),
      ListView3({"aa"}) {}

}  // namespace tarvik
