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

// A message box that tells `message` (OK only), and one that asks `question` (Yes and No).
std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* parent, const ops::Message& message);
std::unique_ptr<QMessageBox> MakeQuestionBox(QWidget* parent, const ops::Question& question);

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
