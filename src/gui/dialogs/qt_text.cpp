#include "gui/dialogs/qt_text.h"

namespace kelvrin::gui {

QString qtText(std::string_view bytes) {
  QString text = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return text;
}

std::string coreText(const QString& text) {
  return text.toStdString();
}

}  // namespace kelvrin::gui
