#include "gui/help.hpp"

#include <openssl/crypto.h>
#include <zlib.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QtGlobal>

namespace tarvik::gui {

QString ReadmePath() {
  QStringList candidates;
  const QString bin = QCoreApplication::applicationDirPath();
  if (!bin.isEmpty()) candidates << QDir(bin).filePath(QStringLiteral("../share/doc/tarvik/README.md"));
#ifdef TARVIK_SOURCE_README
  candidates << QStringLiteral(TARVIK_SOURCE_README);
#endif
  for (const QString& c : candidates)
    if (QFileInfo(c).isFile()) return QFileInfo(c).canonicalFilePath();
  return {};
}

QString BuildDetails() {
  return QStringLiteral(
             "Version %1\n"
             "Licence: none published yet; all rights reserved by the Tarvik developers (see the README).\n"
             "Libraries: Qt %2 (LGPL 3), zlib %3 (zlib licence), OpenSSL %4 (Apache 2.0).")
      .arg(QStringLiteral(TARVIK_VERSION), QString::fromLatin1(qVersion()), QString::fromLatin1(zlibVersion()),
           QString::fromLatin1(OpenSSL_version(OPENSSL_VERSION_STRING)));
}

}  // namespace tarvik::gui
