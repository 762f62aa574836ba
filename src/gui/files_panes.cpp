// The panes beside the Files table: the folders the files install to (choosing one shows
// the files in it and below it) and a preview of the current file's text or image.

#include <QBuffer>
#include <QHeaderView>
#include <QImage>
#include <QImageReader>
#include <QPixmap>
#include <QStackedWidget>

#include <map>

#include "extract/integrity.hpp"
#include "gui/main_window.hpp"

namespace tarvik::gui {

namespace {

constexpr std::size_t kTextPreview = 64 * 1024;         // bytes of a text shown
constexpr std::size_t kImagePreview = 16 * 1024 * 1024;  // an image larger than this is not shown

// Text: no NUL byte among the first bytes, and valid UTF-8 or Latin-1 with few controls.
bool LooksLikeText(const Bytes& b) {
  std::size_t controls = 0;
  for (std::uint8_t c : b) {
    if (c == 0) return false;
    if (c < 0x20 && c != '\n' && c != '\r' && c != '\t') ++controls;
  }
  return controls * 20 <= b.size();
}

}  // namespace

void MainWindow::BuildFilePanes() {
  folders_ = new QTreeWidget(filesTab_);
  folders_->setObjectName(QStringLiteral("folderTree"));
  folders_->setHeaderLabel(tr("Folders"));
  folders_->setMinimumWidth(120);
  folders_->hide();
  connect(folders_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
    filesProxy_->SetFolder(item ? item->data(0, Qt::UserRole).toString() : QString());
  });
  preview_ = new QStackedWidget(filesTab_);
  preview_->setObjectName(QStringLiteral("preview"));
  previewText_ = new QPlainTextEdit(preview_);
  previewText_->setObjectName(QStringLiteral("previewText"));
  previewText_->setReadOnly(true);
  previewText_->setLineWrapMode(QPlainTextEdit::NoWrap);
  previewImage_ = new QLabel(preview_);
  previewImage_->setObjectName(QStringLiteral("previewImage"));
  previewImage_->setAlignment(Qt::AlignCenter);
  previewImage_->setWordWrap(true);
  preview_->addWidget(previewText_);
  preview_->addWidget(previewImage_);
  preview_->setMinimumWidth(160);
  preview_->hide();
  showFolders_ = new QToolButton(filesTab_);
  showFolders_->setObjectName(QStringLiteral("showFolders"));
  showFolders_->setText(tr("F&olders"));
  showFolders_->setCheckable(true);
  showFolders_->setToolTip(tr("Show the folders the files install to"));
  connect(showFolders_, &QToolButton::toggled, this, [this](bool on) {
    folders_->setVisible(on);
    if (!on) folders_->setCurrentItem(nullptr);
    if (on) FillFolders();
  });
  showPreview_ = new QToolButton(filesTab_);
  showPreview_->setObjectName(QStringLiteral("showPreview"));
  showPreview_->setText(tr("&Preview"));
  showPreview_->setCheckable(true);
  showPreview_->setToolTip(tr("Show the text or image of the current file"));
  connect(showPreview_, &QToolButton::toggled, this, [this](bool on) {
    preview_->setVisible(on);
    ShowPreview();
  });
  connect(filesView_->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] { ShowPreview(); });
}

void MainWindow::FillFolders() {
  folders_->clear();
  if (!folders_->isVisible() || filesModel_->rowCount() == 0) return;
  auto* all = new QTreeWidgetItem(folders_, {tr("All files")});
  all->setData(0, Qt::UserRole, QString());
  // One item per folder level, the first spelling met of each.
  std::map<std::string, QTreeWidgetItem*> made;
  for (int i = 0; i < filesModel_->rowCount(); ++i) {
    const std::string& target = filesModel_->Row(i).target;
    const std::string key = FolderKey(target);
    QTreeWidgetItem* parent = all;
    for (std::size_t at = key.find('\\'); at != std::string::npos; at = key.find('\\', at + 1)) {
      const std::string level = key.substr(0, at + 1);
      auto found = made.find(level);
      if (found == made.end()) {
        const std::size_t from = level.size() >= 2 ? level.rfind('\\', level.size() - 2) : std::string::npos;
        const std::size_t start = from == std::string::npos ? 0 : from + 1;
        auto* item = new QTreeWidgetItem(parent, {QString::fromUtf8(target.substr(start, at - start))});
        item->setData(0, Qt::UserRole, QString::fromUtf8(level));
        found = made.emplace(level, item).first;
      }
      parent = found->second;
    }
  }
  folders_->sortItems(0, Qt::AscendingOrder);
  folders_->expandToDepth(1);
  folders_->setCurrentItem(all);
}

void MainWindow::ShowPreview() {
  if (!preview_->isVisible()) return;
  const QModelIndex current = filesView_->currentIndex();
  const int row = current.isValid() ? filesProxy_->mapToSource(current).row() : -1;
  if (row < 0 || !shownItem_ || !shownItem_->bytes) {
    previewImage_->setText(tr("Choose a file to see it here."));
    preview_->setCurrentWidget(previewImage_);
    return;
  }
  const views::FileRow& r = filesModel_->Row(row);
  const std::size_t limit = r.uncompressedSize <= kImagePreview ? static_cast<std::size_t>(r.uncompressedSize) : kTextPreview;
  const std::optional<Bytes> data = extract::FileStart(*shownItem_->bytes, r, limit);
  if (!data) {
    previewImage_->setText(tr("No preview: the package carries no sound data for this file."));
    preview_->setCurrentWidget(previewImage_);
    return;
  }
  QByteArray bytes(reinterpret_cast<const char*>(data->data()), static_cast<qsizetype>(data->size()));
  QBuffer buffer(&bytes);
  QImageReader reader(&buffer);
  QImage image;
  if (reader.canRead() && reader.read(&image) && !image.isNull()) {
    const QSize room = preview_->size() - QSize(8, 8);
    QPixmap pixmap = QPixmap::fromImage(image);
    if (pixmap.width() > room.width() || pixmap.height() > room.height())
      pixmap = pixmap.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    previewImage_->setPixmap(pixmap);
    preview_->setCurrentWidget(previewImage_);
    return;
  }
  const Bytes head(data->begin(), data->begin() + static_cast<std::ptrdiff_t>(std::min(data->size(), kTextPreview)));
  if (LooksLikeText(head)) {
    previewText_->setPlainText(QString::fromUtf8(reinterpret_cast<const char*>(head.data()), static_cast<qsizetype>(head.size())));
    preview_->setCurrentWidget(previewText_);
    return;
  }
  previewImage_->setText(tr("No preview: %1 is neither text nor an image this program can show.").arg(FilesModel::NameOf(r)));
  preview_->setCurrentWidget(previewImage_);
}

}  // namespace tarvik::gui
