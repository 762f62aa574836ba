#include "gui/logo.hpp"

#include <QPainter>
#include <QPainterPath>

namespace tarvik::gui {

QPixmap DrawLogo(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 64.0, size / 64.0);

  // Backdrop.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x1f, 0x4e, 0x79));
  p.drawRoundedRect(QRectF(2, 2, 60, 60), 10, 10);

  // The page of script rising out of the box.
  p.setBrush(QColor(0xfa, 0xfa, 0xf2));
  p.setPen(QPen(QColor(0x22, 0x22, 0x22), 1.2));
  p.drawRect(QRectF(20, 8, 24, 30));
  p.setPen(QPen(QColor(0x1f, 0x4e, 0x79), 2));
  for (int i = 0; i < 4; ++i) p.drawLine(QPointF(24, 15 + i * 6), QPointF(i % 2 ? 36 : 40, 15 + i * 6));

  // The open box.
  QPainterPath front;
  front.moveTo(10, 32);
  front.lineTo(54, 32);
  front.lineTo(50, 56);
  front.lineTo(14, 56);
  front.closeSubpath();
  p.setPen(QPen(QColor(0x5a, 0x3a, 0x12), 1.5));
  p.setBrush(QColor(0xe0, 0xa4, 0x4a));
  p.drawPath(front);
  p.setBrush(QColor(0xc9, 0x8a, 0x32));
  p.drawPolygon(QPolygonF({QPointF(10, 32), QPointF(4, 24), QPointF(20, 24), QPointF(24, 32)}));
  p.drawPolygon(QPolygonF({QPointF(54, 32), QPointF(60, 24), QPointF(44, 24), QPointF(40, 32)}));
  return pixmap;
}

QIcon ProgramIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128}) icon.addPixmap(DrawLogo(size));
  return icon;
}

}  // namespace tarvik::gui
