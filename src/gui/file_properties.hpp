#pragma once
// The Properties of a carried file: what the package says of it, in words, in a dialog of
// two columns whose text can be selected and copied.

#include <QDialog>
#include <QString>

#include <utility>
#include <vector>

#include "model/package.hpp"
#include "views/facts.hpp"
#include "views/views.hpp"

namespace tarvik::gui {

using Property = std::pair<QString, QString>;

// The properties of `row`: name, target, package, operation and options in words, MIME type,
// sizes, compression, offset, SHA-1, capabilities, the condition it installs under and
// `state` (what extraction or a test found).
// `executable`: what the file's own header says, when it is an executable.
std::vector<Property> FileProperties(const views::FileRow& row, model::Generation generation, const QString& state,
                                     const views::ExecutableFacts* executable = nullptr);

class PropertiesDialog : public QDialog {
  Q_OBJECT
 public:
  PropertiesDialog(QWidget* parent, const QString& title, const std::vector<Property>& properties);
};

}  // namespace tarvik::gui
