#include "gui/files_model.hpp"

#include <QLocale>
#include <QMimeData>
#include <QUrl>

#include <algorithm>

namespace tarvik::gui {

namespace {

QString Utf8(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

std::string_view BareName(const std::string& path) {
  const auto cut = path.find_last_of("\\/");
  return cut == std::string::npos ? std::string_view(path) : std::string_view(path).substr(cut + 1);
}

// Lower case of ASCII letters; other bytes (UTF-8 sequences) are left as they are.
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool Contains(std::string_view hay, const std::string& needle) {
  if (needle.empty()) return true;
  return std::search(hay.begin(), hay.end(), needle.begin(), needle.end(),
                     [](char a, char b) { return Lower(a) == b; }) != hay.end();
}

int CompareText(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const char x = Lower(a[i]), y = Lower(b[i]);
    if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y) ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

}  // namespace

FilesModel::FilesModel(QObject* parent) : QAbstractTableModel(parent) {}

void FilesModel::SetRows(const std::vector<views::FileRow>* rows) {
  beginResetModel();
  rows_ = rows && !rows->empty() ? rows : nullptr;
  states_.assign(rows_ ? rows_->size() : 0, State::NotExtracted);
  endResetModel();
}

void FilesModel::SetStates(const std::vector<std::size_t>& rows, const extract::Result& result) {
  if (!rows_) return;
  auto set = [&](std::size_t at, State s) {
    if (at < rows.size() && rows[at] < states_.size()) states_[rows[at]] = s;
  };
  for (const extract::WrittenFile& w : result.written)
    set(w.row, w.check == extract::HashCheck::Match      ? State::Match
               : w.check == extract::HashCheck::Mismatch ? State::Mismatch
                                                         : State::Written);
  for (const extract::FailedFile& f : result.failures) set(f.row, State::Failed);
  emit dataChanged(index(0, Sha1), index(rowCount() - 1, Sha1));
}

void FilesModel::SetTested(const std::vector<std::size_t>& rows, const std::vector<extract::Integrity>& outcomes) {
  if (!rows_) return;
  for (std::size_t i = 0; i < outcomes.size() && i < rows.size(); ++i) {
    if (rows[i] >= states_.size()) continue;
    State s = State::NotExtracted;
    switch (outcomes[i]) {
      case extract::Integrity::Match: s = State::Match; break;
      case extract::Integrity::Sound: s = State::Sound; break;
      case extract::Integrity::Mismatch: s = State::Mismatch; break;
      case extract::Integrity::Damaged: s = State::Damaged; break;
      case extract::Integrity::NoData: s = State::NoData; break;
    }
    states_[rows[i]] = s;
  }
  emit dataChanged(index(0, Sha1), index(rowCount() - 1, Sha1));
}

void FilesModel::SetExecutables(const std::vector<views::ExecutableFacts>* executables) {
  executables_.clear();
  if (executables)
    for (const views::ExecutableFacts& e : *executables) executables_[e.entry] = &e;
  if (rowCount() > 0) emit dataChanged(index(0, Executable), index(rowCount() - 1, Executable));
}

const views::ExecutableFacts* FilesModel::ExecutableOf(int row) const {
  if (!rows_ || executables_.empty()) return nullptr;
  const auto found = executables_.find(Row(row).entry);
  return found == executables_.end() ? nullptr : found->second;
}

QString FilesModel::ExecutableText(const views::ExecutableFacts& e) {
  QStringList parts;
  if (*e.KindName()) parts << QString::fromLatin1(e.KindName());
  parts << Utf8(e.FormatText());
  if (e.image.header.secureId) parts << QStringLiteral("SID ") + Utf8(views::UidText(*e.image.header.secureId));
  if (e.image.header.capabilities) {
    const std::size_t n = e.CapabilityNames().size();
    parts << (n == 1 ? tr("1 capability") : tr("%1 capabilities").arg(n));
  }
  return parts.join(QStringLiteral(", "));
}

int FilesModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() || !rows_ ? 0 : static_cast<int>(rows_->size());
}

int FilesModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QString FilesModel::NameOf(const views::FileRow& row) {
  const std::string_view name = BareName(row.extractPath);
  return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
}

QString FilesModel::CompressionOf(const views::FileRow& row) {
  if (!row.hasData) return tr("no data");
  return row.deflated ? QStringLiteral("deflate") : QStringLiteral("stored");
}

QString FilesModel::PackageName(const model::Package* package) {
  if (!package) return {};
  return package->names.empty() ? tr("(no name)") : Utf8(package->names.front());
}

QString FilesModel::Sha1Text(int row) const {
  const views::FileRow& r = Row(row);
  switch (StateOf(row)) {
    case State::Match: return tr("matches");
    case State::Mismatch: return tr("does not match");
    case State::Failed: return tr("not written");
    case State::Written: return r.sha1 ? tr("not checked") : tr("none given");
    case State::Sound: return tr("readable, none given");
    case State::Damaged: return tr("damaged");
    case State::NoData: return tr("no data");
    case State::NotExtracted: break;
  }
  return r.sha1 ? tr("given, not checked yet") : tr("none given");
}

QVariant FilesModel::data(const QModelIndex& index, int role) const {
  if (!rows_ || !index.isValid() || index.row() >= rowCount()) return {};
  const views::FileRow& r = Row(index.row());
  if (role == ExtractPathRole) return Utf8(r.extractPath);
  // A cell's tooltip is its own text, whole: columns cut long texts.
  if (role == Qt::ToolTipRole) return data(index, Qt::DisplayRole);
  if (role == Qt::TextAlignmentRole)
    return index.column() == Size || index.column() == Packed ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
  if (role == SortRole) {
    switch (index.column()) {
      case Size: return QVariant::fromValue<qulonglong>(r.uncompressedSize);
      case Packed: return QVariant::fromValue<qulonglong>(r.compressedSize);
      default: break;
    }
  }
  if (role != Qt::DisplayRole && role != SortRole) return {};
  const QLocale locale;
  switch (index.column()) {
    case Name: return NameOf(r);
    case Target: return Utf8(r.target);
    case Size: return locale.formattedDataSize(static_cast<qint64>(r.uncompressedSize), 1, QLocale::DataSizeIecFormat);
    case Packed:
      return r.hasData ? locale.formattedDataSize(static_cast<qint64>(r.compressedSize), 1, QLocale::DataSizeIecFormat)
                       : QStringLiteral("\u2014");
    case Compression: return CompressionOf(r);
    case Condition: return Utf8(r.condition);
    case Sha1: return Sha1Text(index.row());
    case Package: return PackageName(r.package);
    case Executable: {
      const views::ExecutableFacts* e = ExecutableOf(index.row());
      return e ? ExecutableText(*e) : QString();
    }
    default: return {};
  }
}

QVariant FilesModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  switch (section) {
    case Name: return tr("Name");
    case Target: return tr("Target path");
    case Size: return tr("Size");
    case Packed: return tr("Packed size");
    case Compression: return tr("Compression");
    case Condition: return tr("Installed when");
    case Sha1: return tr("SHA-1");
    case Package: return tr("Package");
    case Executable: return tr("Executable");
    default: return {};
  }
}

Qt::ItemFlags FilesModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = QAbstractTableModel::flags(index);
  if (index.isValid() && dragFiles) f |= Qt::ItemIsDragEnabled;
  return f;
}

QStringList FilesModel::mimeTypes() const { return {QStringLiteral("text/uri-list")}; }

QMimeData* FilesModel::mimeData(const QModelIndexList& indexes) const {
  if (!dragFiles || !rows_) return nullptr;
  std::vector<std::size_t> rows;
  for (const QModelIndex& i : indexes)
    if (i.isValid()) rows.push_back(static_cast<std::size_t>(i.row()));
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  const QList<QUrl> urls = dragFiles(rows);
  if (urls.isEmpty()) return nullptr;
  auto* mime = new QMimeData;
  mime->setUrls(urls);
  return mime;
}

FilesProxy::FilesProxy(FilesModel* model, QObject* parent) : QSortFilterProxyModel(parent), model_(model) {
  setSourceModel(model);
  setSortRole(FilesModel::SortRole);
}

void FilesProxy::SetText(const QString& text) {
  if (text == text_) return;
  text_ = text;
  needle_.clear();
  for (char c : text.trimmed().toStdString()) needle_ += Lower(c);
  invalidateFilter();
}

void FilesProxy::SetPackages(std::set<const model::Package*> packages) {
  packages_ = std::move(packages);
  invalidateFilter();
}

void FilesProxy::SetFolder(const QString& folder) {
  std::string f;
  for (char c : folder.toStdString()) f += Lower(c);
  if (f == folder_) return;
  folder_ = std::move(f);
  invalidateFilter();
}

std::string FolderKey(const std::string& target) {
  // The folder part of a target, in lower case, with "\" after each level: "!:\sys\bin\".
  const auto cut = target.find_last_of("\\/");
  std::string key;
  if (cut == std::string::npos) return key;
  for (std::size_t i = 0; i <= cut; ++i) key += target[i] == '/' ? '\\' : Lower(target[i]);
  return key;
}

bool FilesProxy::filterAcceptsRow(int sourceRow, const QModelIndex& /*sourceParent*/) const {
  const views::FileRow& r = model_->Row(sourceRow);
  if (!packages_.empty() && !packages_.count(r.package)) return false;
  if (!folder_.empty() && FolderKey(r.target).rfind(folder_, 0) != 0) return false;
  if (needle_.empty()) return true;
  return Contains(BareName(r.extractPath), needle_) || Contains(r.target, needle_);
}

bool FilesProxy::lessThan(const QModelIndex& left, const QModelIndex& right) const {
  const views::FileRow& a = model_->Row(left.row());
  const views::FileRow& b = model_->Row(right.row());
  int c = 0;
  switch (left.column()) {
    case FilesModel::Name: c = CompareText(BareName(a.extractPath), BareName(b.extractPath)); break;
    case FilesModel::Target: c = CompareText(a.target, b.target); break;
    case FilesModel::Size: c = a.uncompressedSize < b.uncompressedSize ? -1 : a.uncompressedSize > b.uncompressedSize; break;
    case FilesModel::Packed: c = a.compressedSize < b.compressedSize ? -1 : a.compressedSize > b.compressedSize; break;
    case FilesModel::Compression:
      c = QString::compare(FilesModel::CompressionOf(a), FilesModel::CompressionOf(b));
      break;
    case FilesModel::Condition: c = CompareText(a.condition, b.condition); break;
    case FilesModel::Sha1: c = QString::compare(model_->Sha1Text(left.row()), model_->Sha1Text(right.row())); break;
    case FilesModel::Executable:
      c = QString::compare(model_->data(left, Qt::DisplayRole).toString(), model_->data(right, Qt::DisplayRole).toString());
      break;
    case FilesModel::Package:
      c = (a.package ? a.package->ordinal : 0) - (b.package ? b.package->ordinal : 0);
      break;
    default: break;
  }
  // Equal values keep the package's order.
  return c != 0 ? c < 0 : left.row() < right.row();
}

}  // namespace tarvik::gui
