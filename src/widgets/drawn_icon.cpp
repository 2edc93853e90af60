#include "widgets/drawn_icon.h"

#include <QPainter>
#include <QPixmap>

namespace modrin::widgets {

QIcon DrawnIcon(void (*draw)(QPainter&), std::initializer_list<int> sizes) {
  QIcon icon;
  for (const int size : sizes) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 16.0, size / 16.0);
    draw(painter);
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace modrin::widgets
