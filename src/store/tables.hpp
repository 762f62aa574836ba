#pragma once
// Record tables, string lists and the tree in which the readers keep what they decode.

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

namespace tarvik {

// A row of text columns: the row text (column 0) and sub-items numbered from 1. A sub-item
// beyond the declared columns is stored like any other; one never written reads as empty.
class Row {
 public:
  Row() = default;
  explicit Row(std::string text) { cells_.push_back(std::move(text)); }

  const std::string& Text() const { return Get(0); }
  void SetText(std::string text) { Set(0, std::move(text)); }
  // Sub-item k (k >= 1); Get(0) is the row text.
  const std::string& Get(std::size_t k) const;
  void Set(std::size_t k, std::string value);
  std::size_t CellCount() const { return cells_.size(); }

 private:
  std::vector<std::string> cells_;
};

// An ordered table of rows with named columns (labels only).
class RecordTable {
 public:
  explicit RecordTable(std::vector<std::string> columns = {}) : columns_(std::move(columns)) {}

  const std::vector<std::string>& Columns() const { return columns_; }
  // Appends a row and returns it (the reference lasts until the next Add or Remove).
  Row& Add(std::string text = {});
  std::size_t Count() const { return rows_.size(); }
  bool Empty() const { return rows_.empty(); }
  // Rows by 1-based index, as the readers count them.
  Row& Item(std::size_t index1) { return rows_.at(index1 - 1); }
  const Row& Item(std::size_t index1) const { return rows_.at(index1 - 1); }
  void Remove(std::size_t index1);
  void Clear() { rows_.clear(); }
  void Reserve(std::size_t n) { rows_.reserve(n); }

  std::vector<Row>& Rows() { return rows_; }
  const std::vector<Row>& Rows() const { return rows_; }
  auto begin() { return rows_.begin(); }
  auto end() { return rows_.end(); }
  auto begin() const { return rows_.begin(); }
  auto end() const { return rows_.end(); }

 private:
  std::vector<std::string> columns_;
  std::vector<Row> rows_;
};

// An ordered list of text lines.
class StringList {
 public:
  void Add(std::string line) { lines_.push_back(std::move(line)); }
  std::size_t Count() const { return lines_.size(); }
  bool Empty() const { return lines_.empty(); }
  const std::string& Item(std::size_t index1) const { return lines_.at(index1 - 1); }
  void Remove(std::size_t index1);
  void Clear() { lines_.clear(); }
  const std::vector<std::string>& Lines() const { return lines_; }
  auto begin() const { return lines_.begin(); }
  auto end() const { return lines_.end(); }

 private:
  std::vector<std::string> lines_;
};

// Nodes with a key, a parent key (empty for a root) and a text.
class Tree {
 public:
  struct Node {
    std::string key;
    std::string parent;
    std::string text;
  };
  // Adds a node; false when the key is already taken or the parent does not exist.
  bool Add(const std::string& key, const std::string& parent, const std::string& text);
  bool Contains(const std::string& key) const { return index_.count(key) != 0; }
  const Node* Find(const std::string& key) const;
  // Texts from the root down to the node, joined by "\".
  std::string FullPath(const std::string& key) const;
  std::size_t Count() const { return nodes_.size(); }
  const std::vector<Node>& Nodes() const { return nodes_; }
  void Clear() {
    nodes_.clear();
    index_.clear();
  }

 private:
  std::vector<Node> nodes_;
  std::unordered_map<std::string, std::size_t> index_;
};

// Every named store of the two readers, with its columns in order.
struct Stores {
  Stores();

  // 9.x reader.
  StringList List1;      // header list
  StringList List2;      // statement list
  StringList List4;      // the package tree as a list
  RecordTable ListView6; // work list, then the open-condition table ("a", "b" and a third value)
  RecordTable ListView7; // PKG line table: "byte", "string"
  RecordTable ListView1; // 9.x file table (56 columns)
  RecordTable ListView5; // data-index table
  RecordTable ListView8; // embedded-package index
  Tree TreeView1;        // package tree

  // Pre-9.x reader.
  RecordTable ListView4; // record table
  RecordTable ListView2; // file table
  RecordTable ListView3; // body line list
};

// Column numbers (sub-item indexes) of the 9.x file table.
namespace col9 {
enum : std::size_t {
  ControllerId = 0, FileDataId = 1, Source = 2, Target = 3, Offset = 4, Compression = 5,
  CompressByte = 6, UncompressByte = 7, ExtractPath = 8, Mime = 9, Hash1 = 10, Cap1 = 34,
  HashAlgorithm = 54, Byte = 55,
};
}
// Column numbers of the pre-9.x file table.
namespace col2 {
enum : std::size_t { Name = 0, Uncompress = 1, Compress = 2, Offset = 3, Length = 4, Index = 5 };
}

}  // namespace tarvik
