#pragma once
// Small rules of the window that need no widget: filter lists, the resize rule, message-box
// styles and the line breaks of texts shown in widgets.

#include <QMessageBox>
#include <QSize>
#include <QString>
#include <QStringList>

#include <string>

namespace tarvik::gui {

// A pipe-separated filter list ("SIS File|*.sis;*.sisx|PKG File|*.pkg|") as Qt name filters
// ("SIS File (*.sis *.sisx)", "PKG File (*.pkg)"). "*.*" means every file, as on the system
// the lists were written for, so it becomes "*". A trailing bar or a description without
// patterns adds nothing.
QStringList ToQtFilters(const std::string& filter);

// Twips (1440 per inch) to pixels at a logical DPI, and back.
double TwipsToPixels(double twips, double dpi);
double PixelsToTwips(double pixels, double dpi);

// The text area's size for a window of `window` pixels: the window's width less 110 twips
// and its height less 800 twips. A dimension whose subtraction would go below zero keeps
// its value from `previous`.
inline constexpr int kTextAreaWidthMargin = 110;   // twips
inline constexpr int kTextAreaHeightMargin = 800;  // twips
QSize TextAreaSize(QSize window, QSize previous, double dpiX, double dpiY);

// Where the banner sits over the text area: 40 twips right of its left edge and 48 twips
// below its top.
inline constexpr int kBannerLeftOffset = 40;  // twips
inline constexpr int kBannerTopOffset = 48;   // twips

// Message-box styles (icon + button set) to Qt, and Qt's answers back to msg::Ok/Yes/No...
QMessageBox::Icon StyleIcon(int style);
QMessageBox::StandardButtons StyleButtons(int style);
int AnswerOf(int standardButton);

// CR LF (and lone CR) to the single line feed that widgets break lines on, and back.
QString ForDisplay(const std::string& text);
std::string FromDisplay(const QString& text);

}  // namespace tarvik::gui
