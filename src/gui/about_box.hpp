#pragma once
// The About box: the program's text, the version, licence and libraries, its picture and a
// link to the program's README. Clicking the link or the picture closes the box and then
// opens the README.

#include <QDialog>
#include <QLabel>

#include <functional>

namespace tarvik::gui {

inline constexpr const char* kAboutTitle = "About Tarvik";
inline constexpr const char* kAboutText =
    "Tarvik v3.0, smart tool for view and extract Symbian SIS file\r\n\r\n"
    "This supports all version of sis file including UIQ, Series60 1st, 2nd and Series60 3rd Edition\r\n\r\n"
    "Please send your feedback, suggestions and bug reports to the Tarvik developers, where you got Tarvik\r\n\r\n"
    "This software implements functions included in standard SIS Editor tool 'Brimond'\r\n\r\n"
    "Copyright (C) 2026 The Tarvik developers";
inline constexpr const char* kVisitText = "Visit us... ---->";


// A picture that reports a click of the left button.
class ClickableLabel : public QLabel {
  Q_OBJECT
 public:
  using QLabel::QLabel;
 signals:
  void clicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
};

class AboutBox : public QDialog {
  Q_OBJECT
 public:
  // `openPage` is called with `page` (by default the README, see help.hpp) after the box
  // has closed.
  AboutBox(QWidget* parent, std::function<void(const QUrl&)> openPage, QUrl page = {});

  QLabel* Label() const { return label_; }
  ClickableLabel* Picture() const { return picture_; }
  QLabel* Link() const { return link_; }
  QLabel* Details() const { return details_; }
  const QUrl& Page() const { return page_; }

 public slots:
  // Closes the box, then opens the maker's home page.
  void Visit();

 private:
  std::function<void(const QUrl&)> openPage_;
  QUrl page_;
  QLabel* label_;
  QLabel* details_;
  ClickableLabel* picture_;
  QLabel* link_;
};

}  // namespace tarvik::gui
