#pragma once
// The result of an extraction, with "Close" and "View File" (which opens the folder in the
// system's file browser and leaves the dialog open). The window shows one such dialog per
// extraction: the files written (paths relative to the chosen folder, sizes, the SHA-1
// check) and the files that failed with the reason, with their counts.

#include <QDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <functional>
#include <string>
#include <vector>

#include "extract/extract.hpp"

namespace tarvik::gui {

// What one extraction did.
struct ExtractReport {
  std::string folder;  // the chosen folder, ending in a separator
  std::vector<extract::WrittenFile> written;
  std::vector<extract::FailedFile> failures;
  bool cancelled = false;
  std::string error;   // an unexpected failure that ended it
};

class ExtractResultDialog : public QDialog {
  Q_OBJECT
 public:
  // The window's report; "View File" opens `viewFolder`.
  ExtractResultDialog(QWidget* parent, const ExtractReport& report, const std::string& viewFolder,
                      std::function<void(const std::string&)> openFolder);

  QLabel* Summary() const { return summary_; }
  QTreeWidget* WrittenList() const { return written_; }
  QTreeWidget* FailureList() const { return failures_; }
  QPushButton* CloseButton() const { return close_; }
  QPushButton* ViewButton() const { return view_; }

 private:
  void AddButtons(QVBoxLayout* layout);

  std::string folder_;
  std::function<void(const std::string&)> openFolder_;
  QLabel* summary_ = nullptr;
  QTreeWidget* written_ = nullptr;
  QTreeWidget* failures_ = nullptr;
  QPushButton* close_ = nullptr;
  QPushButton* view_ = nullptr;
};

}  // namespace tarvik::gui
