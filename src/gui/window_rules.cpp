#include "gui/window_rules.hpp"

#include <cmath>

#include "shell/ui.hpp"

namespace tarvik::gui {

QStringList ToQtFilters(const std::string& filter) {
  const QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
  QStringList out;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QString description = parts[i].trimmed();
    QStringList patterns;
    for (const QString& p : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
      const QString pattern = p.trimmed();
      if (pattern.isEmpty()) continue;
      patterns << (pattern == QLatin1String("*.*") ? QStringLiteral("*") : pattern);
    }
    if (patterns.isEmpty()) continue;
    out << QStringLiteral("%1 (%2)").arg(description, patterns.join(QLatin1Char(' ')));
  }
  return out;
}

double TwipsToPixels(double twips, double dpi) { return twips * dpi / 1440.0; }
double PixelsToTwips(double pixels, double dpi) { return pixels * 1440.0 / dpi; }

namespace {
// One dimension of the resize rule, worked in twips (the margins are whole twips, so the
// rounding is the same at every screen resolution).
int Shrink(int windowPx, int previousPx, int marginTwips, double dpi) {
  if (!(dpi > 0)) return previousPx;
  const double rest = PixelsToTwips(windowPx, dpi) - marginTwips;
  if (rest < 0) return previousPx;
  return static_cast<int>(std::lround(TwipsToPixels(rest, dpi)));
}
}  // namespace

QSize TextAreaSize(QSize window, QSize previous, double dpiX, double dpiY) {
  return {Shrink(window.width(), previous.width(), kTextAreaWidthMargin, dpiX),
          Shrink(window.height(), previous.height(), kTextAreaHeightMargin, dpiY)};
}

QMessageBox::Icon StyleIcon(int style) {
  switch (style & 0x70) {
    case msg::Critical: return QMessageBox::Critical;
    case msg::Question: return QMessageBox::Question;
    case msg::Exclamation: return QMessageBox::Warning;
    case msg::Information: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
  }
}

QMessageBox::StandardButtons StyleButtons(int style) {
  switch (style & 0x0F) {
    case 1: return QMessageBox::Ok | QMessageBox::Cancel;
    case 2: return QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
    case 3: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case msg::YesNo: return QMessageBox::Yes | QMessageBox::No;
    case 5: return QMessageBox::Retry | QMessageBox::Cancel;
    default: return QMessageBox::Ok;
  }
}

int AnswerOf(int standardButton) {
  switch (standardButton) {
    case QMessageBox::Ok: return msg::Ok;
    case QMessageBox::Cancel: return 2;
    case QMessageBox::Abort: return 3;
    case QMessageBox::Retry: return 4;
    case QMessageBox::Ignore: return 5;
    case QMessageBox::Yes: return msg::Yes;
    case QMessageBox::No: return msg::No;
    default: return 2;  // closed without a button: as Cancel
  }
}

QString ForDisplay(const std::string& text) {
  QString s = QString::fromStdString(text);
  s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return s;
}

std::string FromDisplay(const QString& text) {
  QString s = text;
  s.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
  return s.toStdString();
}

}  // namespace tarvik::gui
