#pragma once
// Builds 9.x packages byte for byte from a small description, for tests, benchmarks and the
// demo sample.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bytes/file_buffer.hpp"

namespace tarvik::test::sis9w {

// Expression operators of the format.
enum Op : std::uint32_t {
  EQ = 1, NE, GT, LT, GE, LE, AND, OR, NOT, EXISTS, APPPROP, PACKAGE, STRING, OPTION, VARIABLE, NUMBER,
};

struct Expr {
  std::uint32_t op = NUMBER;
  std::int32_t value = 0;
  std::optional<std::string> text;  // the string member (EXISTS, STRING)
  std::vector<Expr> operands;
  // Raw bytes written instead of the record (to build damaged expressions).
  std::optional<Bytes> raw;
};

Expr Num(std::int32_t v);
Expr Var(std::int32_t attribute);
Expr Lang();  // the Language variable
Expr Option(std::int32_t n);
Expr Exists(const std::string& path);
Expr Str(const std::string& s);
Expr Package(std::uint32_t uid);
Expr AppProp(std::uint32_t uid, std::int32_t key);
Expr Not(Expr a);
Expr Bin(std::uint32_t op, Expr a, Expr b);
Expr And(Expr a, Expr b);
Expr Or(Expr a, Expr b);
Expr Eq(Expr a, Expr b);
Expr Else();  // how the builder stores ELSE: NOT(NUMBER 0)

struct File {
  std::string target;
  std::string mime;
  std::optional<std::uint32_t> caps;
  std::uint32_t hashAlgorithm = 1;
  std::optional<Bytes> hash;  // default: SHA-1 of the data (empty for null entries)
  std::uint32_t op = 1;
  std::uint32_t options = 0;
  Bytes data;
  bool deflate = false;
  // Null entries (op 8) carry no data; their index is 0 unless given.
  std::optional<std::uint32_t> fileIndex;  // default: next index of the controller

  // Filled by Build: the stored bytes (deflated or not) and the index used.
  Bytes stored;
  std::uint32_t index = 0;
};

struct Controller;
struct ElseIf;

struct If {
  Expr cond;
  std::vector<File> files;
  std::vector<Controller> embedded;
  std::vector<If> ifs;
  std::vector<ElseIf> elseIfs;
};

struct ElseIf {
  Expr cond;
  std::vector<File> files;
  std::vector<Controller> embedded;
  std::vector<If> ifs;
};

struct Version {
  std::int32_t major = 1, minor = 0, build = 0;
};

struct Dependency {
  std::uint32_t uid = 0;
  Version from;
  std::optional<Version> to;
  std::vector<std::string> names;
};

// A signature chain written as given: one signature (algorithm OID and bytes), then the
// certificates' bytes one after another in the chain's blob.
struct Chain {
  std::string oid = "1.2.840.113549.1.1.5";
  Bytes signature;
  std::vector<Bytes> certificates;
  // A length word written for the signature blob instead of its true length.
  std::optional<std::uint32_t> signatureLength;
};

struct Controller {
  std::uint32_t uid = 0xE0000001;
  std::string vendorUnique = "Vendor";
  std::vector<std::string> names = {"Package"};
  std::vector<std::string> vendors = {"Vendor"};
  Version version;
  int year = 2007, month0 = 2, day = 5;
  int hour = 9, minute = 5, second = 0;
  std::uint8_t type = 0;
  std::optional<std::uint8_t> flags = 0;  // absent in early packages
  std::vector<std::vector<std::string>> options;
  std::vector<std::uint32_t> languages = {1};
  std::vector<Dependency> targets, dependencies;
  std::vector<std::pair<std::int32_t, std::int32_t>> properties;
  std::optional<File> logo;
  std::vector<File> files;
  std::vector<Controller> embedded;
  std::vector<If> ifs;
  int signatureChains = 0;
  std::vector<Chain> chains;  // written after the `signatureChains` made-up ones
  // Files and embedded packages of a second install block written after the chains.
  std::vector<File> filesAfterChains;
  std::vector<Controller> embeddedAfterChains;
  // Data index written for this controller; by default the builder's (relative) number.
  std::optional<std::uint32_t> dataIndex;
};

struct PackageOptions {
  bool deflateController = true;
  bool stub = false;  // a bare controller, no header and no data
  bool noData = false;  // SISData holds no unit, as in a pre-installed (PA, PP) package
};

// A controller stream that is not what its fields make.
struct ControllerStream {
  // Zero bytes put after the controller field inside the stream (a controller that inflates
  // to far more than its field needs).
  std::size_t zeros = 0;
  // Written as the controller's uncompressed size instead of the true one.
  std::optional<std::uint64_t> declaredSize;
};

// A file entry that installs `content` at `target`, stored or deflated.
File TextFile(const std::string& target, const std::string& content, bool deflate = false);

// The whole package file.
Bytes Build(const Controller& main, const PackageOptions& options = {});
// The same with the controller stream shaped by `stream`.
Bytes Build(const Controller& main, const ControllerStream& stream);
Bytes Build(const Controller& main, const PackageOptions& options, const ControllerStream& stream);

// The bytes of one field: type, length, value and padding.
Bytes FieldBytes(std::uint32_t type, const Bytes& value);

// The demo package committed as samples/demo.sisx.
Bytes MakeDemoPackage();

// A package of `count` small files (for benchmarks); `fileSize` bytes each.
Bytes MakeManyFiles(std::size_t count, std::size_t fileSize, bool deflate);

}  // namespace tarvik::test::sis9w
