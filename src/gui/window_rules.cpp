#include "gui/window_rules.hpp"

#include <cmath>


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

QMessageBox::Icon SeverityIcon(ops::Severity severity) {
  switch (severity) {
    case ops::Severity::Error: return QMessageBox::Critical;
    case ops::Severity::Warning: return QMessageBox::Warning;
    case ops::Severity::Note: return QMessageBox::Information;
    case ops::Severity::Plain: break;
  }
  return QMessageBox::NoIcon;
}

QMessageBox::Icon QuestionIcon(ops::QuestionKind kind) {
  switch (kind) {
    case ops::QuestionKind::ReadAsPackage:
    case ops::QuestionKind::StopExtraction: return QMessageBox::Question;
    case ops::QuestionKind::ReplaceFile:
    case ops::QuestionKind::WriteBeyondBudget:
    case ops::QuestionKind::DropEdits: break;
  }
  return QMessageBox::Warning;
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
