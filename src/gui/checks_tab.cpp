// The Checks tab: will the shown package install, and why not. The checks run when a
// package is shown and again when another device is chosen; each finding is one row with
// its severity, the check's name, the reason and the fact it rests on.

#include <QComboBox>
#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QVBoxLayout>

#include "checks/checks.hpp"
#include "gui/main_window.hpp"

namespace tarvik::gui {

namespace {
QString Utf8(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
}  // namespace

void MainWindow::BuildChecksTab() {
  checksTab_ = new QWidget(tabs_);
  checksTab_->setObjectName(QStringLiteral("checksTab"));
  device_ = new QComboBox(checksTab_);
  device_->setObjectName(QStringLiteral("checkDevice"));
  device_->addItem(tr("Any device"), QVariant());
  for (const views::Platform& p : views::Platforms())
    if (!p.pre9) device_->addItem(QString::fromLatin1(p.name), QVariant::fromValue<qulonglong>(p.uid));
  connect(device_, &QComboBox::currentIndexChanged, this, [this] { ShowChecks(); });
  checks_ = new QTableWidget(0, 5, checksTab_);
  checks_->setObjectName(QStringLiteral("checksTable"));
  checks_->setHorizontalHeaderLabels({tr("Severity"), tr("Check"), tr("Reason"), tr("Fact"), tr("File")});
  checks_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  checks_->setSelectionBehavior(QAbstractItemView::SelectRows);
  checks_->verticalHeader()->hide();
  checks_->horizontalHeader()->setStretchLastSection(true);
  checks_->setWordWrap(false);
  checks_->setTabKeyNavigation(false);
  const int widths[] = {70, 190, 330, 260};
  for (int c = 0; c < 4; ++c) checks_->setColumnWidth(c, widths[c]);
  checksSummary_ = new QLabel(checksTab_);
  checksSummary_->setObjectName(QStringLiteral("checksSummary"));
  checksSummary_->setWordWrap(true);
  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel(tr("Device:"), checksTab_));
  top->addWidget(device_);
  top->addWidget(checksSummary_, 1);
  auto* layout = new QVBoxLayout(checksTab_);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addLayout(top);
  layout->addWidget(checks_, 1);
}

void MainWindow::ShowChecks() {
  checks_->setRowCount(0);
  if (!shown_ || shown_->generation == model::Generation::Unknown || !shownItem_ || !shownItem_->bytes) {
    checksSummary_->setText(tr("Open a package to check whether it will install."));
    return;
  }
  checks::Options options;
  options.date = QDateTime::currentSecsSinceEpoch();
  if (device_->currentData().isValid()) {
    const auto uid = static_cast<std::uint32_t>(device_->currentData().toULongLong());
    options.device = checks::Device{uid, device_->currentText().toStdString()};
  }
  const std::vector<checks::Finding> findings = checks::Check(*shown_, shownItem_->bytes->Span(), options);
  checks_->setRowCount(static_cast<int>(findings.size()));
  int errors = 0, warnings = 0;
  for (int i = 0; i < static_cast<int>(findings.size()); ++i) {
    const checks::Finding& f = findings[static_cast<std::size_t>(i)];
    errors += f.severity == checks::Severity::Error;
    warnings += f.severity == checks::Severity::Warning;
    const QString cells[] = {QString::fromLatin1(checks::SeverityName(f.severity)), Utf8(f.check), Utf8(f.reason),
                             Utf8(f.fact), Utf8(f.target)};
    for (int c = 0; c < 5; ++c) {
      auto* item = new QTableWidgetItem(cells[c]);
      item->setToolTip(cells[c]);
      checks_->setItem(i, c, item);
    }
  }
  checksSummary_->setText(errors ? tr("It will not install: %1 error(s), %2 warning(s).").arg(errors).arg(warnings)
                          : warnings ? tr("It may install but not work: %1 warning(s).").arg(warnings)
                                     : tr("No check found a reason why it would not install."));
}

}  // namespace tarvik::gui
