#pragma once
// The Files table: a model over the file rows of the open package's view (no copy of
// them, no item per cell), and the proxy that sorts and filters it. The rows belong to the
// App; the window empties the model before any command that may replace them and fills it
// again afterwards.

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>

#include <functional>
#include <memory>
#include <set>
#include <unordered_map>
#include <vector>

#include "extract/extract.hpp"
#include "extract/integrity.hpp"
#include "model/package.hpp"
#include "views/facts.hpp"
#include "views/views.hpp"

namespace tarvik::gui {

class FilesModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column { Name, Target, Size, Packed, Compression, Condition, Sha1, Package, Executable, ColumnCount };
  // Roles beyond Qt's: the value a column sorts by, and the row's extraction path.
  static constexpr int SortRole = Qt::UserRole;
  static constexpr int ExtractPathRole = Qt::UserRole + 1;

  // What extraction found for a row.
  // What extraction or an integrity test found for a row.
  enum class State : std::uint8_t { NotExtracted, Written, Match, Mismatch, Failed, Sound, Damaged, NoData };

  explicit FilesModel(QObject* parent = nullptr);

  // Shows `rows` (kept by the caller, which calls Clear before changing them).
  void SetRows(const std::vector<views::FileRow>* rows);
  // The executables among the rows, as their own headers say (kept by the caller).
  void SetExecutables(const std::vector<views::ExecutableFacts>* executables);
  // The executable a row is, or null.
  const views::ExecutableFacts* ExecutableOf(int row) const;
  // "EXE, EKA2, SID 0x..., 3 capabilities"; empty for a file that is no executable.
  static QString ExecutableText(const views::ExecutableFacts& e);
  void Clear() { SetRows(nullptr); }
  const views::FileRow& Row(int row) const { return (*rows_)[static_cast<std::size_t>(row)]; }
  State StateOf(int row) const { return states_[static_cast<std::size_t>(row)]; }
  // Takes in what an extraction of `rows` (positions in this model) wrote or not.
  void SetStates(const std::vector<std::size_t>& rows, const extract::Result& result);
  // Takes in what an integrity test of `rows` (positions in this model) found.
  void SetTested(const std::vector<std::size_t>& rows, const std::vector<extract::Integrity>& outcomes);

  // Gives the files dragged out of the table: the rows extracted into a folder of their
  // own, as file addresses. Without it, nothing can be dragged.
  std::function<QList<QUrl>(const std::vector<std::size_t>&)> dragFiles;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QStringList mimeTypes() const override;
  QMimeData* mimeData(const QModelIndexList& indexes) const override;
  Qt::DropActions supportedDragActions() const override { return Qt::CopyAction; }

  // The texts of a cell, as shown.
  static QString NameOf(const views::FileRow& row);
  static QString CompressionOf(const views::FileRow& row);
  QString Sha1Text(int row) const;
  static QString PackageName(const model::Package* package);

 private:
  const std::vector<views::FileRow>* rows_ = nullptr;
  std::vector<State> states_;
  std::unordered_map<const model::FileEntry*, const views::ExecutableFacts*> executables_;
};

// Sorts by the raw values of the rows (no text is made to compare two rows) and keeps the
// rows whose name or target holds the filter text (any case), of the packages chosen.
class FilesProxy : public QSortFilterProxyModel {
  Q_OBJECT
 public:
  explicit FilesProxy(FilesModel* model, QObject* parent = nullptr);
  void SetText(const QString& text);
  // Only the files of these packages; empty: every file.
  void SetPackages(std::set<const model::Package*> packages);
  // Only the files whose target lies in this folder or below it ("!:\sys\bin\", any case);
  // empty: every folder.
  void SetFolder(const QString& folder);

 protected:
  bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
  bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

 private:
  FilesModel* model_;
  QString text_;
  std::string needle_;  // the filter text in lower case, UTF-8
  std::set<const model::Package*> packages_;
  std::string folder_;  // lower case, ends in "\\"
};

// The folder part of a target in lower case, each level ending in "\": "!:\sys\bin\" for
// "!:\sys\bin\x.exe"; empty for a bare name.
std::string FolderKey(const std::string& target);

}  // namespace tarvik::gui
