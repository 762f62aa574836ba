#pragma once
// Small rules of the window that need no widget: filter lists, the icons of messages and
// questions, and the line breaks of texts shown in widgets.

#include <QMessageBox>
#include <QSize>
#include <QString>
#include <QStringList>

#include <string>

#include "operations/conversation.hpp"

namespace tarvik::gui {

// A pipe-separated filter list ("SIS File|*.sis;*.sisx|PKG File|*.pkg|") as Qt name filters
// ("SIS File (*.sis *.sisx)", "PKG File (*.pkg)"). "*.*" means every file, as on the system
// the lists were written for, so it becomes "*". A trailing bar or a description without
// patterns adds nothing.
QStringList ToQtFilters(const std::string& filter);

// Where the banner sits over the text area's top left corner, in logical pixels.
inline constexpr int kBannerLeftOffset = 3;
inline constexpr int kBannerTopOffset = 3;

// The icon of a message box that tells a message, and of one that asks a question.
QMessageBox::Icon SeverityIcon(ops::Severity severity);
QMessageBox::Icon QuestionIcon(ops::QuestionKind kind);

// CR LF (and lone CR) to the single line feed that widgets break lines on, and back.
QString ForDisplay(const std::string& text);
std::string FromDisplay(const QString& text);

}  // namespace tarvik::gui
