#pragma once
// The controller's bytes from the package model: every member in file order, one function
// per record.

#include <vector>

#include "model/package.hpp"
#include "writer/fields.hpp"

namespace tarvik::writer::detail {

class ControllerWriter {
 public:
  // `children`: the embedded packages' controller values (with their data indexes set), in
  // the order the package's install blocks meet them.
  explicit ControllerWriter(const std::vector<Bytes>& children) : children_(children) {}
  // The value of the main controller field (SISInfo ... SISDataIndex).
  Bytes Value(const model::Package& p);

 private:
  void Info(Bytes& out, const model::Package& p) const;
  void Prerequisites(Bytes& out, const model::Package& p) const;
  void Block(Bytes& out, const model::InstallBlock& b);
  void Description(Bytes& out, const model::FileEntry& f) const;
  void Expr(Bytes& out, const model::Expression& e, std::size_t from) const;

  const std::vector<Bytes>& children_;
  std::size_t nextChild_ = 0;
};

}  // namespace tarvik::writer::detail
