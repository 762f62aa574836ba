#include "cli/write_commands.hpp"

#include <fcntl.h>

#include <CLI/CLI.hpp>
#include <iostream>

#include "platform/part_files.hpp"
#include "writer/pkg_build.hpp"
#include "writer/sign.hpp"

namespace tarvik::cli {

namespace {

// Ctrl+C or SIGTERM while a package is written removes it.
void RemovedOnInterrupt(const std::string& path, bool made) {
  if (made)
    PartFiles::Add(AT_FDCWD, path);
  else
    PartFiles::Remove(AT_FDCWD, path);
}

}  // namespace

WriteCommands::WriteCommands(CLI::App& app, const ChosenCommand& chosen) {
  build_ = chosen.Add(app, "build", "Build a Symbian 9.x package OUT.sis from the PKG file FILE.pkg");
  if (chosen.Is("build")) {
    build_->add_option("FILE.pkg", input_, "PKG file (UTF-8 or UTF-16 with a byte-order mark)")->required();
    build_->add_option("OUT.sis", output_, "package to write")->required();
    build_->add_flag("--as-written", asWritten_,
                     "store every file's options exactly as the PKG file writes them (no VR added on \\sys\\ and "
                     "\\resource\\ targets, TC kept)");
    build_->add_flag("--stub", stub_, "write a stub: the bare controller, no file data");
    build_->add_option("--search", search_, "also look for sources in DIR (relative to the PKG file's folder)")
        ->type_name("DIR");
  }

  sign_ = chosen.Add(app, "sign", "Append a signature chain to the package IN and write it as OUT");
  if (chosen.Is("sign")) {
    sign_->add_option("IN", input_, "package to sign")->required();
    sign_->add_option("OUT", output_, "signed package to write")->required();
    sign_->add_option("--key", key_, "private key (PEM: RSA or DSA)")->required();
    sign_->add_option("--cert", cert_, "the key's certificate (PEM)")->required();
    sign_->add_option("--chain", chain_, "a further certificate of the chain (PEM), signer's issuer first");
    sign_->add_option("--passphrase", passphrase_, "pass phrase of an encrypted key");
  }

  unsign_ = chosen.Add(app, "unsign", "Remove the last signature chain of the package IN and write it as OUT");
  if (chosen.Is("unsign")) {
    unsign_->add_option("IN", input_, "signed package")->required();
    unsign_->add_option("OUT", output_, "package to write")->required();
  }

  keys_ = chosen.Add(app, "keys", "Make a self-signed RSA key and certificate in DIR (key.pem, cert.pem)");
  if (chosen.Is("keys")) {
    keys_->add_option("DIR", folder_, "folder to write them in (made when missing)")->required();
    keys_->add_option("--subject", subject_, "the certificate's subject, e.g. \"CN=Me,O=My Company,C=FI\"")
        ->required();
    keys_->add_option("--days", days_, "days the certificate is valid (default 3650)");
    keys_->add_option("--bits", bits_, "RSA key size (default 2048)");
  }
}

bool WriteCommands::Chosen() const { return Ran(build_) || Ran(sign_) || Ran(unsign_) || Ran(keys_); }

int WriteCommands::Run() const {
  if (Ran(build_)) return Build();
  if (Ran(sign_)) return Sign();
  if (Ran(unsign_)) return Unsign();
  return Keys();
}

int WriteCommands::Build() const {
  writer::PkgBuildOptions options;
  options.mode = asWritten_ ? pkgscript::Mode::AsWritten : pkgscript::Mode::Builder;
  options.stub = stub_;
  options.searchDirs = search_;
  options.tempFile = RemovedOnInterrupt;
  const writer::PkgBuildResult result = writer::BuildFromPkg(input_, output_, options);
  for (const std::string& e : result.errors) std::cerr << e << '\n';
  if (!result.ok()) {
    std::cerr << "tarvik-cli: nothing written\n";
    return 1;
  }
  for (const std::string& built : result.built) std::cout << built << '\n';
  return 0;
}

int WriteCommands::Sign() const {
  writer::SignRequest request;
  request.keyPem = key_;
  request.certPem = cert_;
  request.chainPems = chain_;
  request.passphrase = passphrase_;
  const std::string error = writer::SignFile(input_, output_, request, RemovedOnInterrupt);
  if (!error.empty()) {
    std::cerr << "tarvik-cli: " << error << "; nothing written\n";
    return 1;
  }
  return 0;
}

int WriteCommands::Unsign() const {
  const std::string error = writer::UnsignFile(input_, output_, RemovedOnInterrupt);
  if (!error.empty()) {
    std::cerr << "tarvik-cli: " << error << "; nothing written\n";
    return 1;
  }
  return 0;
}

int WriteCommands::Keys() const {
  const std::string error = writer::MakeKeys(folder_, subject_, days_, bits_);
  if (!error.empty()) {
    std::cerr << "tarvik-cli: " << error << '\n';
    return 1;
  }
  std::cout << folder_ << "/key.pem\n" << folder_ << "/cert.pem\n";
  return 0;
}

}  // namespace tarvik::cli
