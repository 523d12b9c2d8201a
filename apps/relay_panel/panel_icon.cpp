#include "relay_panel/panel_icon.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

QIcon two_cogs_icon() {
  QSvgRenderer renderer(QStringLiteral(":/icons/two_cogs.svg"));
  QIcon icon;
  for (const int size : {16, 32, 48, 64}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}
