#pragma once
// The standard dialogs of the window, built ready to run: message boxes that tell messages
// and ask questions, and the Open, Save As and folder dialogs from the pipe-separated filter
// lists.

#include <QFileDialog>
#include <QMessageBox>

#include <memory>
#include <optional>
#include <string>

#include "operations/conversation.hpp"

namespace tarvik::gui {

// A message box with the title, the text (shown as plain text), the icon and the buttons.
std::unique_ptr<QMessageBox> MakeBox(QWidget* parent, const std::string& title, const std::string& text,
                                     QMessageBox::Icon icon, QMessageBox::StandardButtons buttons);
// A message box that tells `message` (OK only), and one that asks `question` (Yes and No).
std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* parent, const ops::Message& message);
std::unique_ptr<QMessageBox> MakeQuestionBox(QWidget* parent, const ops::Question& question);
// The question about a file that stands where an extraction would write: Overwrite (Yes),
// Skip (No, the default), Rename (Apply) and Cancel, with "Apply to all" while more follow.
std::unique_ptr<QMessageBox> MakeExistingBox(QWidget* parent, const ops::ExistingQuestion& question);
// The answer given in that box, from the result of running it.
ops::ExistingAnswer ExistingAnswerOf(const QMessageBox& box, int result);

// The Open dialog: an existing file, the filters with the first one selected.
std::unique_ptr<QFileDialog> MakeOpenDialog(QWidget* parent, const std::string& filter,
                                            const std::string& title, const QString& folder);
// The Save As dialog. It never asks about replacing a file: the program asks that itself.
std::unique_ptr<QFileDialog> MakeSaveDialog(QWidget* parent, const std::string& filter,
                                            const std::string& title, const std::string& proposedName,
                                            const QString& folder);
// The folder picker.
std::unique_ptr<QFileDialog> MakeFolderDialog(QWidget* parent, const std::string& title,
                                              const QString& folder);

// The path chosen in an accepted file dialog, in native form; nothing when there is none.
std::optional<std::string> ChosenPath(const QFileDialog& dialog);

}  // namespace tarvik::gui
