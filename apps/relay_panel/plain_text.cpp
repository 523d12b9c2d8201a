#include "relay_panel/plain_text.h"

#include <QTextDocument>

QString plain_tooltip(const QString& text) {
  if (!Qt::mightBeRichText(text)) return text;
  return Qt::convertFromPlainText(text, Qt::WhiteSpaceNoWrap);
}

QString plain_window_title(const QString& caption) {
  // A title of one zero-width space is not empty, so nothing falls back to the
  // program's name, and it shows as nothing.
  if (caption.isEmpty()) return QString(QChar(0x200B));
  QString title = caption;
  return title.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
}
