#include "gui/extract_result_dialog.hpp"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLocale>
#include <QVBoxLayout>

#include "gui/window_rules.hpp"
#include "operations/conversation.hpp"

namespace tarvik::gui {

namespace {

QString Utf8(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

QString CheckText(extract::HashCheck c) {
  switch (c) {
    case extract::HashCheck::Match: return QObject::tr("matches");
    case extract::HashCheck::Mismatch: return QObject::tr("DOES NOT MATCH");
    case extract::HashCheck::None: break;
  }
  return QObject::tr("not given");
}

QTreeWidget* MakeList(QWidget* parent, const QStringList& headings, const char* name) {
  auto* list = new QTreeWidget(parent);
  list->setObjectName(QString::fromLatin1(name));
  list->setRootIsDecorated(false);
  list->setUniformRowHeights(true);
  list->setHeaderLabels(headings);
  list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list->header()->setStretchLastSection(false);
  list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  // Long paths lose their middle, not their file name; the tooltip has them whole.
  list->setTextElideMode(Qt::ElideMiddle);
  return list;
}

}  // namespace

ExtractResultDialog::ExtractResultDialog(QWidget* parent, const ExtractReport& report, const std::string& viewFolder,
                                         std::function<void(const std::string&)> openFolder)
    : QDialog(parent), folder_(viewFolder), openFolder_(std::move(openFolder)) {
  setObjectName(QStringLiteral("frmResult"));
  setWindowTitle(QString::fromLatin1(ops::kProgramName));
  setModal(true);
  auto* layout = new QVBoxLayout(this);
  const QLocale locale;

  auto* head = new QLabel(this);
  head->setTextFormat(Qt::PlainText);
  head->setWordWrap(true);
  head->setText((report.written.empty() ? tr("No file was extracted to ") : QString::fromLatin1(extract::kResultHead)) +
                Utf8(report.folder));
  layout->addWidget(head);

  QStringList counts;
  const std::size_t n = report.written.size();
  counts << (n == 1 ? tr("1 file written") : tr("%1 files written").arg(n));
  if (!report.failures.empty()) counts << tr("%1 could not be written").arg(report.failures.size());
  std::size_t mismatches = 0;
  for (const auto& w : report.written) mismatches += w.check == extract::HashCheck::Mismatch;
  if (mismatches)
    counts << (mismatches == 1 ? tr("1 does not match the SHA-1 the package gives")
                               : tr("%1 do not match the SHA-1 the package gives").arg(mismatches));
  if (report.cancelled) counts << tr("cancelled: the rest was not extracted, and no file was left half-written");
  if (!report.error.empty()) counts << tr("ended by an unexpected error: %1").arg(Utf8(report.error));
  summary_ = new QLabel(counts.join(QStringLiteral("; ")) + QLatin1Char('.'), this);
  summary_->setObjectName(QStringLiteral("Summary"));
  summary_->setWordWrap(true);
  layout->addWidget(summary_);

  written_ = MakeList(this, {tr("File"), tr("Size"), tr("SHA-1")}, "WrittenList");
  for (const auto& w : report.written) {
    auto* item = new QTreeWidgetItem(written_, {Utf8(w.path), locale.formattedDataSize(static_cast<qint64>(w.size), 1,
                                                                                      QLocale::DataSizeIecFormat),
                                               CheckText(w.check)});
    item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    item->setToolTip(0, Utf8(w.path));
    item->setToolTip(1, tr("%1 bytes").arg(w.size));
  }
  layout->addWidget(written_, 3);

  if (!report.failures.empty()) {
    layout->addWidget(new QLabel(tr("Not written:"), this));
    failures_ = MakeList(this, {tr("File"), tr("Reason")}, "FailureList");
    failures_->header()->setSectionResizeMode(0, QHeaderView::Interactive);
    failures_->header()->setStretchLastSection(true);
    for (const auto& f : report.failures) {
      auto* item = new QTreeWidgetItem(failures_, {Utf8(f.path), Utf8(f.reason)});
      item->setToolTip(0, Utf8(f.path));
      item->setToolTip(1, Utf8(f.reason));
    }
    failures_->resizeColumnToContents(0);
    layout->addWidget(failures_, 2);
  }
  written_->resizeColumnToContents(1);
  AddButtons(layout);
  resize(620, 420);
}

void ExtractResultDialog::AddButtons(QVBoxLayout* layout) {
  close_ = new QPushButton(tr("Close"), this);
  close_->setObjectName(QStringLiteral("cmdClose"));
  close_->setDefault(true);
  view_ = new QPushButton(tr("View File"), this);
  view_->setObjectName(QStringLiteral("cmdView"));

  connect(close_, &QPushButton::clicked, this, &QDialog::accept);
  connect(view_, &QPushButton::clicked, this, [this] {
    if (openFolder_) openFolder_(folder_);
  });

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(view_);
  buttons->addWidget(close_);
  layout->addLayout(buttons);
}

}  // namespace tarvik::gui
