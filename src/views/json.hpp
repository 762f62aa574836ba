#pragma once
// The machine-readable view of a package: one JSON document with every fact of the model
// (frame or header words, package information, languages, names, dependencies, options,
// condition trees, condition nodes (each condition written once), files naming the innermost
// condition node they are installed under, embedded packages, signers, problems).
// docs/json-schema.json describes the document; kFactsVersion is the version of that
// description and is written in every document.

#include <cstdint>
#include <span>
#include <string>

#include <nlohmann/json.hpp>

#include "model/package.hpp"
#include "views/views.hpp"

namespace tarvik::views {

inline constexpr int kFactsVersion = 2;
using Json = nlohmann::ordered_json;

// The document for `pkg`, read from `file` (the whole package file) found at `path`, with
// `view` = Describe(pkg, ...) for the extraction paths of its files.
Json FactsDocument(const model::Package& pkg, std::span<const std::uint8_t> file, const PackageView& view,
                   const std::string& path);

// The document as one line of text (no line break inside), UTF-8; bytes that are not
// UTF-8 are replaced rather than failing the whole document.
std::string FactsLine(const Json& facts);

// FactsLine(FactsDocument(...)), made without holding the objects of every file at once: each
// file's object is written out as soon as it is filled. This is what `info --json` prints.
// `fileSha1`: the SHA-1 of `file` when known already (FileSha1Hex of a file with holes).
std::string FactsDocumentLine(const model::Package& pkg, std::span<const std::uint8_t> file, const PackageView& view,
                              const std::string& path, std::string fileSha1 = {});

}  // namespace tarvik::views
