// The 9.x parser on its own: bytes in, typed model out.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "bytes/inflate.hpp"
#include "parse/parse.hpp"
#include "sis9/parser.hpp"
#include "support/mutate.hpp"
#include "support/sis9_writer.hpp"

namespace tarvik::test {
namespace {

namespace w = sis9w;
using model::ExprOp;
using model::Expression;
using model::Problem;

TEST(Sis9Parser, PackageInformationIsTyped) {
  w::Controller c;
  c.uid = 0xE0001234;
  c.vendorUnique = "Unique";
  c.names = {"Name", "Nom"};
  c.vendors = {"V", "V fr"};
  c.languages = {1, 2};
  c.version = {2, -1, 17};
  c.year = 2009, c.month0 = 11, c.day = 31, c.hour = 23, c.minute = 59, c.second = 58;
  c.type = 3;
  c.flags = 0x0B;
  c.options = {{"One", "Un"}, {}};
  c.targets = {w::Dependency{0x101F7961, {5, 0, 0}, {}, {"S60"}}};
  c.dependencies = {w::Dependency{0x10200BE1, {1, 0, 0}, w::Version{-1, -1, -1}, {"Lib"}}};
  c.properties = {{1, 2}, {-3, 4}};
  w::File logo = w::TextFile("", "GIF89a");
  logo.mime = "image/gif";
  c.logo = logo;
  const model::Package p = sis9::ParsePackage(w::Build(c), "some/folder/pkg.sis");

  EXPECT_EQ(p.name, "pkg.sis");
  EXPECT_EQ(p.generation, model::Generation::Sis9);
  EXPECT_FALSE(p.stub);
  EXPECT_TRUE(p.problems.empty());
  ASSERT_TRUE(p.frame);
  EXPECT_EQ(p.frame->uid1, 0x10201A7Au);
  EXPECT_TRUE(p.frame->controllerChecksum && p.frame->dataChecksum);
  EXPECT_TRUE(p.frame->hasCompressedController);
  EXPECT_EQ(p.frame->controllerAlgorithm, 1u);
  Bytes controller;
  const Bytes file = w::Build(c);
  ASSERT_EQ(sis9::ReadControllerBytes(file, *p.frame, [&](const std::uint8_t* d, std::size_t n) {
              controller.insert(controller.end(), d, d + n);
              return true;
            }),
            zstatus::Ok);
  EXPECT_EQ(p.frame->controllerUncompressedSize, controller.size());
  ASSERT_GE(controller.size(), 4u);
  EXPECT_EQ(controller[0], 0x0D);  // the inflated controller, its own field first

  EXPECT_TRUE(p.controllerRead && p.ended);
  EXPECT_EQ(p.uid, 0xE0001234u);
  EXPECT_EQ(p.vendorUniqueName, "Unique");
  EXPECT_EQ(p.names, (std::vector<std::string>{"Name", "Nom"}));
  EXPECT_EQ(p.vendorNames, (std::vector<std::string>{"V", "V fr"}));
  EXPECT_EQ(p.version.major, 2);
  EXPECT_EQ(p.version.minor, -1);
  EXPECT_EQ(p.version.build, 17);
  EXPECT_EQ(p.created.year, 2009);
  EXPECT_EQ(p.created.month0, 11);
  EXPECT_EQ(p.created.day, 31);
  EXPECT_EQ(p.created.hour, 23);
  EXPECT_EQ(p.created.second, 58);
  EXPECT_EQ(p.installType, 3);
  EXPECT_EQ(p.installFlags, 0x0B);
  EXPECT_EQ(p.languages, (std::vector<std::uint32_t>{1, 2}));
  ASSERT_EQ(p.options.size(), 2u);
  EXPECT_EQ(p.options[0], (std::vector<std::string>{"One", "Un"}));
  EXPECT_TRUE(p.options[1].empty());
  ASSERT_EQ(p.targetDevices.size(), 1u);
  EXPECT_EQ(p.targetDevices[0].uid, 0x101F7961u);
  ASSERT_TRUE(p.targetDevices[0].versions);
  EXPECT_EQ(p.targetDevices[0].versions->from.major, 5);
  EXPECT_FALSE(p.targetDevices[0].versions->to);
  ASSERT_EQ(p.dependencies.size(), 1u);
  ASSERT_TRUE(p.dependencies[0].versions && p.dependencies[0].versions->to);
  EXPECT_EQ(p.dependencies[0].versions->to->build, -1);
  EXPECT_EQ(p.dependencies[0].names, (std::vector<std::string>{"Lib"}));
  ASSERT_EQ(p.properties.size(), 2u);
  EXPECT_EQ(p.properties[1].key, -3);
  EXPECT_EQ(p.properties[1].value, 4);
  ASSERT_TRUE(p.logo);
  EXPECT_EQ(p.logo->mime, "image/gif");
  EXPECT_TRUE(p.logo->complete);
}

// Expression trees as read, including what is kept of a damaged one.
TEST(Sis9Parser, ConditionsBecomeExpressionTrees) {
  auto node = [](ExprOp op, std::uint32_t value = 0, std::vector<Expression> operands = {}, std::string text = {}) {
    Expression e;
    e.op = op;
    e.value = value;
    e.operands = std::move(operands);
    e.text = std::move(text);
    return e;
  };
  Expression unknown;
  unknown.unknownOp = 99;
  w::Expr bad;
  bad.raw = w::FieldBytes(0x1D, Bytes{99, 0, 0, 0, 0, 0, 0, 0});
  w::Expr truncated;
  truncated.raw = w::FieldBytes(0x1D, Bytes{1, 0, 0, 0});  // shorter than operator + value
  struct Case {
    const char* name;
    w::Expr stored;
    Expression expected;
    bool damaged;
  };
  const Case cases[] = {
      {"language test", w::Eq(w::Lang(), w::Num(2)),
       node(ExprOp::Equal, 0, {node(ExprOp::Variable, 0x1000), node(ExprOp::Number, 2)}), false},
      {"nested", w::And(w::Or(w::Option(1), w::Exists("c:\\x")), w::Not(w::Package(0x10200BE1))),
       node(ExprOp::And, 0,
            {node(ExprOp::Or, 0, {node(ExprOp::Option, 1), node(ExprOp::Exists, 0, {}, "c:\\x")}),
             node(ExprOp::Not, 0, {node(ExprOp::Package, 0, {node(ExprOp::Number, 0x10200BE1)})})}),
       false},
      {"app property", w::AppProp(0x10200BE1, 7),
       node(ExprOp::AppProperty, 0, {node(ExprOp::Number, 0x10200BE1), node(ExprOp::Number, 7)}), false},
      {"unknown operator kept, reading ends", w::Or(w::Num(1), bad),
       node(ExprOp::Or, 0, {node(ExprOp::Number, 1), unknown}), true},
      {"short operand dropped", w::And(w::Num(1), truncated), node(ExprOp::And, 0, {node(ExprOp::Number, 1)}), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    w::Controller ctl;
    ctl.ifs.push_back(w::If{});
    ctl.ifs.back().cond = c.stored;
    const model::Package p = sis9::ParsePackage(w::Build(ctl, {.deflateController = false, .stub = true}), "x.sis");
    ASSERT_EQ(p.body.ifs.size(), 1u);
    const std::function<void(const Expression&, const Expression&)> same = [&](const Expression& a,
                                                                               const Expression& b) {
      EXPECT_EQ(a.op, b.op);
      EXPECT_EQ(a.value, b.value);
      EXPECT_EQ(a.text, b.text);
      EXPECT_EQ(a.unknownOp, b.unknownOp);
      ASSERT_EQ(a.operands.size(), b.operands.size());
      for (std::size_t i = 0; i < a.operands.size(); ++i) same(a.operands[i], b.operands[i]);
    };
    same(p.body.ifs[0].branch.condition, c.expected);
    const bool damaged = !p.problems.empty() && p.problems[0].what == "condition";
    EXPECT_EQ(damaged, c.damaged);
  }
}

// A signature field: its signatures, and its chain blob split into DER certificates.
TEST(Sis9Parser, SignatureChainsSplitIntoCertificates) {
  auto element = [](const Bytes& v) {
    Bytes out;
    out.resize(4);
    Put32(out, 0, static_cast<std::uint32_t>(v.size()));
    out.insert(out.end(), v.begin(), v.end());
    while (out.size() % 4) out.push_back(0);
    return out;
  };
  Bytes first = {0x30, 0x03, 1, 2, 3};
  Bytes second = {0x30, 0x81, 0x80};
  second.resize(3 + 0x80, 0xAB);
  Bytes blob = first;
  blob.insert(blob.end(), second.begin(), second.end());
  const Bytes tail = {0x30, 0x82, 0x01};  // a header that runs past the blob: not split
  blob.insert(blob.end(), tail.begin(), tail.end());

  std::string oid = "1.2.3";
  Bytes oid16;
  for (char ch : oid) oid16.insert(oid16.end(), {static_cast<std::uint8_t>(ch), 0});
  Bytes signature = w::FieldBytes(0x26, w::FieldBytes(0x01, oid16));
  const Bytes sigBytes = {9, 8, 7};
  const Bytes sigBlob = w::FieldBytes(0x25, sigBytes);
  signature.insert(signature.end(), sigBlob.begin(), sigBlob.end());
  Bytes array = {0x24, 0, 0, 0};
  const Bytes e = element(signature);
  array.insert(array.end(), e.begin(), e.end());
  Bytes value = w::FieldBytes(0x02, array);
  const Bytes chain = w::FieldBytes(0x16, w::FieldBytes(0x25, blob));
  value.insert(value.end(), chain.begin(), chain.end());
  const Bytes field = w::FieldBytes(0x27, value);

  w::Controller c;
  Bytes stub = w::Build(c, {.deflateController = false, .stub = true});
  // The field goes before the data index, the controller's last 12 bytes.
  stub.insert(stub.end() - 12, field.begin(), field.end());
  Put32(stub, 4, static_cast<std::uint32_t>(stub.size() - 8));

  const model::Package p = sis9::ParsePackage(stub, "signed.sis");
  EXPECT_TRUE(p.problems.empty());
  ASSERT_EQ(p.signatures.size(), 1u);
  ASSERT_EQ(p.signatures[0].signatures.size(), 1u);
  EXPECT_EQ(p.signatures[0].signatures[0].algorithm, "1.2.3");
  EXPECT_EQ(p.signatures[0].signatures[0].signature, sigBytes);
  ASSERT_EQ(p.signatures[0].certificates.size(), 2u);
  EXPECT_EQ(p.signatures[0].certificates[0], first);
  EXPECT_EQ(p.signatures[0].certificates[1], second);
}

// Each carried file finds its stored bytes in the data unit of its package.
TEST(Sis9Parser, DataOffsetsPointAtTheStoredBytes) {
  w::Controller child;
  child.uid = 0xE0000002;
  child.files = {w::TextFile("!:\\child.txt", "child bytes", true)};
  w::Controller c;
  w::File null;
  null.target = "c:\\log.txt";
  null.op = 8;
  c.files = {w::TextFile("!:\\a.txt", "stored bytes"), w::TextFile("!:\\b.txt", std::string(300, 'z'), true), null};
  c.embedded = {child};
  const Bytes bytes = w::Build(c);
  const model::Package p = sis9::ParsePackage(bytes, "d.sis");
  ASSERT_TRUE(p.problems.empty());
  ASSERT_EQ(p.data.size(), 2u);
  auto content = [&](const model::FileEntry& f, std::uint32_t expectedUnit, std::uint32_t unit) {
    EXPECT_EQ(unit, expectedUnit);
    if (!f.dataOffset) return std::string("(none)");
    const std::uint8_t* at = bytes.data() + *f.dataOffset;
    if (f.compression == 0) return std::string(at, at + f.uncompressedSize);
    Bytes out;
    EXPECT_EQ(Uncompress(at, f.compressedSize, f.uncompressedSize, out), zstatus::Ok);
    return std::string(out.begin(), out.end());
  };
  ASSERT_EQ(p.body.files.size(), 3u);
  EXPECT_EQ(content(p.body.files[0], 1, p.dataUnit), "stored bytes");
  EXPECT_EQ(p.body.files[1].compression, 1u);
  EXPECT_EQ(content(p.body.files[1], 1, p.dataUnit), std::string(300, 'z'));
  EXPECT_FALSE(p.body.files[2].dataOffset);  // a null entry carries nothing
  ASSERT_EQ(p.body.embedded.size(), 1u);
  const model::Package& e = p.body.embedded[0];
  EXPECT_EQ(e.ordinal, 2);
  EXPECT_EQ(e.dataIndex, 1u);
  EXPECT_EQ(content(e.body.files[0], 2, e.dataUnit), "child bytes");
}

// What could not be read, where, in reading order.
TEST(Sis9Parser, ProblemsSayWhatAndWhere) {
  w::Controller c;
  c.files = {w::TextFile("!:\\a.txt", "a")};
  const Bytes whole = w::Build(c);
  const Bytes stub = w::Build(c, {.deflateController = false, .stub = true});
  Bytes noEnd = stub;
  Put32(noEnd, noEnd.size() - 12, 0x99);  // the data index becomes a field of unknown type
  Bytes badStream = whole;
  badStream[72] ^= 0xFF;  // inside the deflated controller
  struct Case {
    const char* name;
    Bytes bytes;
    std::vector<std::pair<Problem::Kind, std::string>> expected;  // kind, "what at where"
  };
  const std::string end = std::to_string(stub.size());
  const Case cases[] = {
      {"whole", whole, {}},
      {"not a package", Bytes(40, 0x11), {{Problem::Kind::NotAPackage, "package at 0"}}},
      {"end missing", noEnd, {{Problem::Kind::Damaged, "end of package at " + end}}},
      {"damaged stream", badStream, {{Problem::Kind::Inflate, "controller at 48"}}},
      {"frame only", Bytes(whole.begin(), whole.begin() + 48), {{Problem::Kind::Damaged, "controller at 48"}}},
  };
  for (const Case& c2 : cases) {
    SCOPED_TRACE(c2.name);
    const model::Package p = sis9::ParsePackage(c2.bytes, "p.sis");
    std::vector<std::pair<Problem::Kind, std::string>> got;
    for (const Problem& q : p.problems) got.emplace_back(q.kind, q.what + " at " + std::to_string(q.where));
    EXPECT_EQ(got, c2.expected);
  }
}

}  // namespace
}  // namespace tarvik::test
