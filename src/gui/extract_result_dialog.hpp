#pragma once
// The list of extracted files, with "Close" and "View File" (which opens the folder in the
// system's file browser and leaves the dialog open).

#include <QDialog>
#include <QPlainTextEdit>
#include <QPushButton>

#include <functional>
#include <string>

namespace tarvik::gui {

class ExtractResultDialog : public QDialog {
  Q_OBJECT
 public:
  ExtractResultDialog(QWidget* parent, const std::string& text, const std::string& folder,
                      std::function<void(const std::string&)> openFolder);

  QPlainTextEdit* TextBox() const { return text_; }
  QPushButton* CloseButton() const { return close_; }
  QPushButton* ViewButton() const { return view_; }

 private:
  std::string folder_;
  std::function<void(const std::string&)> openFolder_;
  QPlainTextEdit* text_;
  QPushButton* close_;
  QPushButton* view_;
};

}  // namespace tarvik::gui
