#include "gui/file_properties.hpp"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLocale>
#include <QTableWidget>
#include <QVBoxLayout>

#include "signers/signers.hpp"
#include "views/facts.hpp"

namespace tarvik::gui {

namespace {

QString Utf8(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

QString Bytes(std::uint64_t n) {
  const QLocale locale;
  return QStringLiteral("%1 (%2 bytes)")
      .arg(locale.formattedDataSize(static_cast<qint64>(n), 1, QLocale::DataSizeIecFormat), locale.toString(static_cast<qulonglong>(n)));
}

QString Hex(const views::Sha1Digest& d) {
  return QByteArray(reinterpret_cast<const char*>(d.data()), static_cast<qsizetype>(d.size())).toHex();
}

}  // namespace

namespace {

// What an executable's own header says.
void ExecutableProperties(const views::ExecutableFacts& e, std::vector<Property>& p) {
  const e32::ImageHeader& h = e.image.header;
  QString kind = QString::fromLatin1(e.KindName());
  p.emplace_back(QObject::tr("Executable"), (kind.isEmpty() ? QString() : kind + QStringLiteral(", ")) +
                                                Utf8(e.FormatText()) + QObject::tr(", compression ") +
                                                Utf8(e.CompressionText()));
  p.emplace_back(QObject::tr("UIDs in the header"), Utf8(views::UidText(h.uid1) + " " + views::UidText(h.uid2) + " " +
                                                        views::UidText(h.uid3)));
  if (h.secureId) p.emplace_back(QObject::tr("Secure ID"), Utf8(views::UidText(*h.secureId)));
  if (h.vendorId) p.emplace_back(QObject::tr("Vendor ID"), Utf8(views::UidText(*h.vendorId)));
  if (h.capabilities) {
    QString caps;
    for (const std::string& c : e.CapabilityNames()) caps += (caps.isEmpty() ? QString() : QStringLiteral(", ")) + Utf8(c);
    p.emplace_back(QObject::tr("Capabilities in the header"), caps.isEmpty() ? QObject::tr("none") : caps);
  }
}

}  // namespace

std::vector<Property> FileProperties(const views::FileRow& row, model::Generation generation, const QString& state,
                                     const views::ExecutableFacts* executable) {
  std::vector<Property> p;
  const QString path = Utf8(row.extractPath);
  p.emplace_back(QObject::tr("Name"), path.mid(path.lastIndexOf(QLatin1Char('\\')) + 1));
  p.emplace_back(QObject::tr("Target path"), Utf8(row.target));
  if (row.package && !row.package->names.empty()) p.emplace_back(QObject::tr("Package"), Utf8(row.package->names.front()));
  p.emplace_back(QObject::tr("Extracted to"), path);
  const model::FileEntry* e = row.entry;
  if (e) {
    p.emplace_back(QObject::tr("Operation"), Utf8(views::FileOperationText(generation, *e)));
    if (!e->mime.empty()) p.emplace_back(QObject::tr("MIME type"), Utf8(e->mime));
  }
  p.emplace_back(QObject::tr("Size"), Bytes(row.uncompressedSize));
  if (row.hasData) {
    p.emplace_back(QObject::tr("Stored"), Bytes(row.compressedSize) + (row.deflated ? QObject::tr(", deflated") : QObject::tr(", as it is")));
    p.emplace_back(QObject::tr("Offset in the package"), QLocale().toString(static_cast<qlonglong>(row.offset)));
  } else {
    p.emplace_back(QObject::tr("Stored"), QObject::tr("no data in the package"));
  }
  p.emplace_back(QObject::tr("SHA-1"), row.sha1 ? Hex(*row.sha1) : QObject::tr("none given"));
  if (!state.isEmpty()) p.emplace_back(QObject::tr("Checked"), state);
  if (e && e->capabilities) {
    QString caps;
    for (const std::string& c : signers::CapabilityNames(*e->capabilities))
      caps += (caps.isEmpty() ? QString() : QStringLiteral(", ")) + Utf8(c);
    p.emplace_back(QObject::tr("Capabilities recorded"), caps.isEmpty() ? QObject::tr("none") : caps);
  }
  p.emplace_back(QObject::tr("Installed when"), row.condition.empty() ? QObject::tr("always") : Utf8(row.condition));
  if (executable) ExecutableProperties(*executable, p);
  return p;
}

PropertiesDialog::PropertiesDialog(QWidget* parent, const QString& title, const std::vector<Property>& properties)
    : QDialog(parent) {
  setObjectName(QStringLiteral("propertiesDialog"));
  setWindowTitle(title);
  auto* table = new QTableWidget(static_cast<int>(properties.size()), 2, this);
  table->setObjectName(QStringLiteral("propertiesTable"));
  table->setHorizontalHeaderLabels({tr("Property"), tr("Value")});
  table->verticalHeader()->hide();
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->horizontalHeader()->setStretchLastSection(true);
  table->setWordWrap(true);
  for (int i = 0; i < static_cast<int>(properties.size()); ++i) {
    const Property& pr = properties[static_cast<std::size_t>(i)];
    table->setItem(i, 0, new QTableWidgetItem(pr.first));
    auto* value = new QTableWidgetItem(pr.second);
    value->setToolTip(pr.second);
    table->setItem(i, 1, value);
  }
  table->resizeColumnToContents(0);
  table->resizeRowsToContents();
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(table);
  layout->addWidget(buttons);
  resize(640, 420);
}

}  // namespace tarvik::gui
