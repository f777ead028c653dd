#include "app/icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <array>

namespace quorvel {
namespace {

constexpr int kSize = 16;

void Server(QPainter& p, const QColor& body) {
  p.setPen(QColor(40, 40, 40));
  p.setBrush(body);
  p.drawRect(3, 1, 10, 14);
  p.setBrush(QColor(30, 30, 30));
  p.drawRect(5, 3, 6, 1);
  p.drawRect(5, 6, 6, 1);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0, 200, 0));
  p.drawRect(5, 11, 2, 2);
}

void Sheet(QPainter& p, const QColor& fill) {
  p.setPen(QColor(60, 60, 60));
  p.setBrush(fill);
  QPolygon poly;
  poly << QPoint(3, 1) << QPoint(10, 1) << QPoint(13, 4) << QPoint(13, 15) << QPoint(3, 15);
  p.drawPolygon(poly);
  p.setPen(QColor(120, 120, 160));
  for (int y = 6; y <= 12; y += 2) p.drawLine(5, y, 11, y);
}

void Folder(QPainter& p, const QColor& fill, bool open) {
  p.setPen(QColor(120, 90, 20));
  p.setBrush(fill);
  QPolygon back;
  back << QPoint(1, 3) << QPoint(6, 3) << QPoint(7, 5) << QPoint(14, 5) << QPoint(14, 13)
       << QPoint(1, 13);
  p.drawPolygon(back);
  if (open) {
    p.setBrush(fill.lighter(120));
    QPolygon front;
    front << QPoint(3, 7) << QPoint(15, 7) << QPoint(13, 13) << QPoint(1, 13);
    p.drawPolygon(front);
  }
}

void Person(QPainter& p, const QColor& c) {
  p.setPen(QColor(40, 40, 40));
  p.setBrush(QColor(250, 210, 170));
  p.drawEllipse(5, 1, 6, 6);
  p.setBrush(c);
  p.drawChord(2, 8, 12, 12, 0, 180 * 16);
}

void Round(QPainter& p, const QColor& c) {
  p.setPen(c.darker(150));
  p.setBrush(c);
  p.drawEllipse(1, 1, 14, 14);
}

void Glyph(QPainter& p, const QString& text, const QColor& c, int pt = 9) {
  QFont f = p.font();
  f.setBold(true);
  f.setPixelSize(pt + 2);
  p.setFont(f);
  p.setPen(c);
  p.drawText(QRect(0, 0, kSize, kSize), Qt::AlignCenter, text);
}

void Cross(QPainter& p) {
  p.setPen(QPen(QColor(210, 20, 20), 2));
  p.drawLine(9, 9, 15, 15);
  p.drawLine(15, 9, 9, 15);
}

void Pencil(QPainter& p) {
  p.setPen(QColor(60, 60, 60));
  p.setBrush(QColor(240, 200, 40));
  QPolygon body;
  body << QPoint(3, 11) << QPoint(11, 3) << QPoint(13, 5) << QPoint(5, 13);
  p.drawPolygon(body);
  p.setBrush(QColor(60, 60, 60));
  QPolygon tip;
  tip << QPoint(3, 11) << QPoint(5, 13) << QPoint(1, 15);
  p.drawPolygon(tip);
}

void Play(QPainter& p) {
  p.setPen(QColor(0, 90, 0));
  p.setBrush(QColor(40, 170, 40));
  QPolygon tri;
  tri << QPoint(4, 2) << QPoint(14, 8) << QPoint(4, 14);
  p.drawPolygon(tri);
}

void Disk(QPainter& p) {
  p.setPen(QColor(20, 20, 80));
  p.setBrush(QColor(50, 80, 170));
  p.drawRect(1, 1, 14, 14);
  p.setBrush(QColor(235, 235, 235));
  p.drawRect(4, 1, 8, 5);
  p.setBrush(QColor(200, 200, 200));
  p.drawRect(4, 9, 8, 6);
}

void Plug(QPainter& p) {
  p.setPen(QPen(QColor(60, 60, 60), 2));
  p.drawLine(1, 8, 5, 8);
  p.drawLine(11, 8, 15, 8);
  p.setPen(QColor(40, 40, 40));
  p.setBrush(QColor(230, 170, 30));
  p.drawRect(5, 4, 3, 8);
  p.setBrush(QColor(90, 140, 220));
  p.drawRect(8, 4, 3, 8);
}

void Door(QPainter& p) {
  p.setPen(QColor(70, 40, 10));
  p.setBrush(QColor(160, 100, 50));
  p.drawRect(3, 1, 9, 14);
  p.setBrush(QColor(240, 220, 60));
  p.drawEllipse(9, 8, 2, 2);
  p.setPen(QPen(QColor(200, 0, 0), 2));
  p.drawLine(12, 8, 15, 8);
}

void Globe(QPainter& p) {
  Round(p, QColor(70, 140, 230));
  p.setPen(QColor(255, 255, 255));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(5, 1, 6, 14);
  p.drawLine(1, 8, 15, 8);
  p.drawLine(3, 4, 13, 4);
  p.drawLine(3, 12, 13, 12);
}

void Triangle(QPainter& p) {
  p.setPen(QColor(140, 100, 0));
  p.setBrush(QColor(250, 200, 0));
  QPolygon tri;
  tri << QPoint(8, 1) << QPoint(15, 15) << QPoint(1, 15);
  p.drawPolygon(tri);
  p.setPen(QPen(QColor(0, 0, 0), 2));
  p.drawLine(8, 6, 8, 10);
  p.drawPoint(8, 13);
}

void Magnifier(QPainter& p) {
  p.setPen(QPen(QColor(40, 40, 40), 2));
  p.setBrush(QColor(200, 230, 255));
  p.drawEllipse(2, 2, 8, 8);
  p.setPen(QPen(QColor(90, 60, 20), 3));
  p.drawLine(10, 10, 14, 14);
}

void Paint(int index, QPainter& p) {
  switch (index) {
    case imgRoot:
      Folder(p, QColor(250, 210, 90), true);
      break;
    case imgEdit:
      Sheet(p, Qt::white);
      Pencil(p);
      break;
    case imgExit:
      Door(p);
      break;
    case imgEntry:
      Folder(p, QColor(230, 200, 120), false);
      break;
    case imgEntrySelected:
      Folder(p, QColor(250, 220, 120), true);
      break;
    case imgServer:
      Server(p, QColor(190, 190, 200));
      break;
    case imgServerSelected:
      Server(p, QColor(150, 200, 255));
      break;
    case imgProfile:
      Sheet(p, QColor(255, 255, 230));
      break;
    case imgProfileSelected:
      Sheet(p, QColor(200, 230, 255));
      break;
    case imgTest:
      Plug(p);
      break;
    case imgRun:
      Play(p);
      break;
    case imgSave:
      Disk(p);
      break;
    case imgHelp:
      Round(p, QColor(60, 120, 210));
      Glyph(p, "?", Qt::white);
      break;
    case imgAbout:
      Round(p, QColor(60, 150, 90));
      Glyph(p, "i", Qt::white);
      break;
    case imgDeleteServer:
      Server(p, QColor(190, 190, 200));
      Cross(p);
      break;
    case imgDeleteProfile:
      Sheet(p, QColor(255, 255, 230));
      Cross(p);
      break;
    case imgBrowse:
      Magnifier(p);
      break;
    case imgUser:
      Person(p, QColor(70, 110, 180));
      break;
    case imgInfo:
      Round(p, QColor(40, 110, 220));
      Glyph(p, "i", Qt::white);
      break;
    case imgWarning:
      Triangle(p);
      break;
    case imgError:
      Round(p, QColor(210, 30, 30));
      Glyph(p, "x", Qt::white);
      break;
    case imgWebsite:
      Globe(p);
      break;
    default:
      break;
  }
}

}  // namespace

const QPixmap& ImageListPixmap(int index) {
  static std::array<QPixmap, imgCount> cache;
  static QPixmap blank;
  if (index < 0 || index >= imgCount) {
    if (blank.isNull()) {
      blank = QPixmap(kSize, kSize);
      blank.fill(Qt::transparent);
    }
    return blank;
  }
  QPixmap& pm = cache[static_cast<std::size_t>(index)];
  if (pm.isNull()) {
    pm = QPixmap(kSize, kSize);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, true);
    Paint(index, p);
  }
  return pm;
}

QIcon ImageListIcon(int index, int selectedIndex) {
  QIcon icon;
  icon.addPixmap(ImageListPixmap(index), QIcon::Normal);
  if (selectedIndex >= 0) icon.addPixmap(ImageListPixmap(selectedIndex), QIcon::Selected);
  return icon;
}

QPixmap ProgramPixmap(int size) {
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing, true);
  p.scale(size / 48.0, size / 48.0);
  // A directory tree on a report sheet.
  p.setPen(QPen(QColor(100, 30, 30), 2));
  p.setBrush(QColor(255, 252, 235));
  p.drawRoundedRect(6, 3, 36, 42, 4, 4);
  p.setPen(QPen(QColor(128, 0, 0), 2));
  p.drawLine(16, 13, 16, 36);
  p.drawLine(16, 23, 26, 23);
  p.drawLine(16, 36, 26, 36);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(128, 0, 0));
  p.drawEllipse(QPointF(16, 12), 4.5, 4.5);
  p.setBrush(QColor(40, 130, 60));
  p.drawEllipse(QPointF(30, 23), 4.5, 4.5);
  p.drawEllipse(QPointF(30, 36), 4.5, 4.5);
  return pm;
}

}  // namespace quorvel
