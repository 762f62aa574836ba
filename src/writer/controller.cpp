// The controller's bytes from the package model.

#include "writer/controller.hpp"

#include "bytes/field_reader.hpp"

namespace tarvik::writer::detail {

namespace {

using model::Expression;
using model::ExprOp;

std::uint32_t OperatorCode(const Expression& e) {
  switch (e.op) {
    case ExprOp::Equal: return 1;
    case ExprOp::NotEqual: return 2;
    case ExprOp::Greater: return 3;
    case ExprOp::Less: return 4;
    case ExprOp::GreaterOrEqual: return 5;
    case ExprOp::LessOrEqual: return 6;
    case ExprOp::And: return 7;
    case ExprOp::Or: return 8;
    case ExprOp::Not: return 9;
    case ExprOp::Exists: return 10;
    case ExprOp::AppProperty: return 11;
    case ExprOp::Package: return 12;
    case ExprOp::String: return 13;
    case ExprOp::Option: return 14;
    case ExprOp::Variable: return 15;
    case ExprOp::Number: return 16;
    default: return e.unknownOp;
  }
}

void PutVersion(Bytes& out, const model::Version& v) {
  PutFieldHeader(out, sistype::Version, 12);
  PutU32(out, static_cast<std::uint32_t>(v.major));
  PutU32(out, static_cast<std::uint32_t>(v.minor));
  PutU32(out, static_cast<std::uint32_t>(v.build));
}

void PutDateTime(Bytes& out, const model::DateTime& d) {
  PutFieldHeader(out, sistype::DateTime, 24);
  PutFieldHeader(out, sistype::Date, 4);
  PutU16(out, d.year);
  PutU8(out, d.month0);
  PutU8(out, d.day);
  PutFieldHeader(out, sistype::Time, 3);
  PutU8(out, d.hour);
  PutU8(out, d.minute);
  PutU8(out, d.second);
  PutPadding(out);
}

}  // namespace

void ControllerWriter::Expr(Bytes& out, const Expression& e, std::size_t from) const {
  // A chain of AND or OR held in one node is stored right-nested: a AND (b AND c).
  const bool chain = (e.op == ExprOp::And || e.op == ExprOp::Or) && e.operands.size() > from + 2;
  Bytes v;
  PutU32(v, OperatorCode(e));
  const bool valued = e.op == ExprOp::Option || e.op == ExprOp::Variable || e.op == ExprOp::Number;
  PutU32(v, valued ? e.value : 0);
  if (e.op == ExprOp::Exists || e.op == ExprOp::String) PutString(v, e.text);
  if (chain) {
    Expr(v, e.operands[from], 0);
    Expr(v, e, from + 1);
  } else {
    for (std::size_t i = from; i < e.operands.size(); ++i) Expr(v, e.operands[i], 0);
  }
  PutField(out, sistype::Expression, v);
}

void ControllerWriter::Description(Bytes& out, const model::FileEntry& f) const {
  PutString(out, f.target);
  PutString(out, f.mime);
  if (f.capabilities) PutU32Field(out, sistype::Capabilities, *f.capabilities);
  // The hash field: algorithm, then the digest in a blob (fields here start 4-aligned).
  const std::uint64_t digest = f.hash.size();
  PutFieldHeader(out, sistype::Hash, 4 + FieldSize(digest));
  PutU32(out, f.hashAlgorithm ? f.hashAlgorithm : 1);
  PutFieldHeader(out, sistype::Blob, digest);
  out.insert(out.end(), f.hash.begin(), f.hash.end());
  PutPadding(out);
  PutU32(out, f.operation);
  PutU32(out, f.options);
  PutU64(out, f.compressedSize);
  PutU64(out, f.uncompressedSize);
  PutU32(out, f.index);
}

void ControllerWriter::Block(Bytes& out, const model::InstallBlock& b) {
  std::vector<Bytes> descriptions, controllers, ifs;
  descriptions.reserve(b.files.size());
  for (const model::FileEntry& f : b.files) {
    // Room for the fixed members and the texts in UTF-16, so that a description grows once.
    descriptions.emplace_back().reserve(96 + 2 * (f.target.size() + f.mime.size()) + f.hash.size());
    Description(descriptions.back(), f);
  }
  for (std::size_t i = 0; i < b.embedded.size() && nextChild_ < children_.size(); ++i)
    controllers.push_back(children_[nextChild_++]);
  for (const model::IfBlock& branch : b.ifs) {
    Bytes v;
    Expr(v, branch.branch.condition, 0);
    Block(v, branch.branch.block ? *branch.branch.block : model::InstallBlock{});
    std::vector<Bytes> elseIfs;
    for (const model::ConditionalBlock& e : branch.elseIfs) {
      Bytes ev;
      Expr(ev, e.condition, 0);
      Block(ev, e.block ? *e.block : model::InstallBlock{});
      elseIfs.push_back(std::move(ev));
    }
    PutArray(v, sistype::ElseIf, elseIfs);
    ifs.push_back(std::move(v));
  }
  Bytes v;
  PutArray(v, sistype::FileDescription, descriptions);
  PutArray(v, sistype::Controller, controllers);
  PutArray(v, sistype::If, ifs);
  PutField(out, sistype::InstallBlock, v);
}

void ControllerWriter::Info(Bytes& out, const model::Package& p) const {
  Bytes info;
  PutU32Field(info, sistype::Uid, p.uid);
  PutString(info, p.vendorUniqueName);
  PutStringArray(info, p.names);
  PutStringArray(info, p.vendorNames);
  PutVersion(info, p.version);
  PutDateTime(info, p.created);
  PutU8(info, p.installType);
  PutU8(info, p.installFlags);
  PutField(out, sistype::Info, info);
}

void ControllerWriter::Prerequisites(Bytes& out, const model::Package& p) const {
  Bytes v;
  for (const auto* list : {&p.targetDevices, &p.dependencies}) {
    std::vector<Bytes> elements;
    for (const model::Dependency& d : *list) {
      Bytes e;
      PutU32Field(e, sistype::Uid, d.uid);
      Bytes range;
      const model::VersionRange r = d.versions.value_or(model::VersionRange{});
      PutVersion(range, r.from);
      if (r.to) PutVersion(range, *r.to);
      PutField(e, sistype::VersionRange, range);
      PutStringArray(e, d.names);
      elements.push_back(std::move(e));
    }
    PutArray(v, sistype::Dependency, elements);
  }
  PutField(out, sistype::Prerequisites, v);
}

Bytes ControllerWriter::Value(const model::Package& p) {
  Bytes out;
  Info(out, p);
  std::vector<Bytes> options;
  for (const auto& names : p.options) {
    options.emplace_back();
    PutStringArray(options.back(), names);
  }
  Bytes field;
  PutArray(field, sistype::SupportedOption, options);
  PutField(out, sistype::SupportedOptions, field);
  std::vector<Bytes> languages;
  for (std::uint32_t l : p.languages) {
    languages.emplace_back();
    PutU32(languages.back(), l);
  }
  field.clear();
  PutArray(field, sistype::Language, languages);
  PutField(out, sistype::SupportedLanguages, field);
  Prerequisites(out, p);
  std::vector<Bytes> properties;
  for (const model::Property& pr : p.properties) {
    properties.emplace_back();
    PutU32(properties.back(), static_cast<std::uint32_t>(pr.key));
    PutU32(properties.back(), static_cast<std::uint32_t>(pr.value));
  }
  field.clear();
  PutArray(field, sistype::Property, properties);
  PutField(out, sistype::Properties, field);
  if (p.logo) {
    Bytes d;
    Description(d, *p.logo);
    Bytes logo;
    PutField(logo, sistype::FileDescription, d);
    PutField(out, sistype::Logo, logo);
  }
  Block(out, p.body);
  PutU32Field(out, sistype::DataIndex, 0);
  return out;
}

}  // namespace tarvik::writer::detail
