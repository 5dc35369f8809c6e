#include "app/Icons.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include "app/MyNavigator.h"

namespace klv::app {
namespace {

QPixmap Blank(int size) {
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  return pm;
}

// A closed figure through the points, in the painter's pen and brush.
void DrawPolygon(QPainter& p, std::initializer_list<QPointF> points) {
  QPainterPath path;
  for (const QPointF& point : points) {
    if (path.elementCount() == 0)
      path.moveTo(point);
    else
      path.lineTo(point);
  }
  path.closeSubpath();
  p.drawPath(path);
}

}  // namespace

QIcon SpeedIcon(Command c) {
  QPixmap pm = Blank(20);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor ink(0x26, 0x26, 0x26);
  const QColor paper(0xFF, 0xFF, 0xF4);
  const QColor green(0x1E, 0x8C, 0x2E);
  const QColor red(0xC8, 0x22, 0x1E);
  const QColor blue(0x22, 0x55, 0xB0);
  const QColor gold(0xD9, 0xA4, 0x1A);
  QPen pen(ink, 1.2);
  auto page = [&](QRectF r) {
    p.setPen(pen);
    p.setBrush(paper);
    DrawPolygon(p, {r.topLeft(),
                    {r.right() - 4, r.top()},
                    {r.right(), r.top() + 4},
                    r.bottomRight(),
                    r.bottomLeft()});
  };
  auto coin = [&](QPointF c, double r) {
    p.setPen(QPen(gold.darker(140), 1.2));
    p.setBrush(gold);
    p.drawEllipse(c, r, r);
  };
  auto magnifier = [&](QColor glass) {
    p.setPen(QPen(ink, 2.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(12.5, 12.5), QPointF(17.5, 17.5));
    p.setPen(QPen(ink, 1.4));
    p.setBrush(glass);
    p.drawEllipse(QPointF(8.5, 8.5), 5.5, 5.5);
  };
  auto plus = [&](QPointF c, QColor col) {
    p.setPen(QPen(col, 2.4, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(c - QPointF(4, 0), c + QPointF(4, 0));
    p.drawLine(c - QPointF(0, 4), c + QPointF(0, 4));
  };
  auto arrow = [&](QPointF from, QPointF to, QColor col) {
    p.setPen(QPen(col, 2.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(from, to);
    QPointF d = to - from;
    double len = std::max(1.0, std::hypot(d.x(), d.y()));
    QPointF u = d / len, n(-u.y(), u.x());
    p.setPen(Qt::NoPen);
    p.setBrush(col);
    DrawPolygon(p, {to + u * 2, to - u * 3.5 + n * 3.5, to - u * 3.5 - n * 3.5});
  };
  switch (c) {
    case kNew:
      page(QRectF(3.5, 1.5, 11, 16));
      plus(QPointF(14, 14), green);
      break;
    case kOpen: {
      p.setPen(pen);
      p.setBrush(gold);
      DrawPolygon(p, {{1.5, 5}, {7, 5}, {8.5, 7}, {17.5, 7}, {17.5, 16.5}, {1.5, 16.5}});
      p.setBrush(gold.lighter(130));
      DrawPolygon(p, {{4, 9.5}, {19, 9.5}, {17.5, 16.5}, {1.5, 16.5}});
      break;
    }
    case kAdd:
      coin(QPointF(8, 11), 6.5);
      plus(QPointF(15, 5), green);
      break;
    case kEdit: {
      coin(QPointF(8, 11), 6.5);
      p.setPen(QPen(blue, 2.4, Qt::SolidLine, Qt::FlatCap));
      p.drawLine(QPointF(10, 16), QPointF(18, 4));
      p.setPen(QPen(ink, 1));
      p.drawLine(QPointF(9.4, 17.6), QPointF(10.4, 16.2));
      break;
    }
    case kCopy:
      coin(QPointF(7, 8), 5.5);
      coin(QPointF(12.5, 12.5), 5.5);
      break;
    case kDelete:
      coin(QPointF(8, 11), 6.5);
      p.setPen(QPen(red, 2.4, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(12, 2), QPointF(18, 8));
      p.drawLine(QPointF(18, 2), QPointF(12, 8));
      break;
    case kImport:
      page(QRectF(7.5, 1.5, 10, 16));
      arrow(QPointF(1, 9.5), QPointF(10, 9.5), green);
      break;
    case kExport:
      page(QRectF(2.5, 1.5, 10, 16));
      arrow(QPointF(9, 9.5), QPointF(17, 9.5), blue);
      break;
    case kSearch:
      magnifier(QColor(0xD8, 0xE8, 0xFF));
      break;
    case kEndSearch:
      magnifier(QColor(0xD8, 0xE8, 0xFF));
      p.setPen(QPen(red, 2.2, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(3, 17), QPointF(17, 3));
      break;
    case kLocate:
    case kLocateNext:
      p.setPen(QPen(ink, 1.4));
      p.setBrush(Qt::NoBrush);
      p.drawEllipse(QPointF(9, 10), 6.5, 6.5);
      p.drawEllipse(QPointF(9, 10), 3, 3);
      p.drawLine(QPointF(9, 1.5), QPointF(9, 5));
      p.drawLine(QPointF(9, 15), QPointF(9, 18.5));
      p.drawLine(QPointF(0.5, 10), QPointF(4, 10));
      p.drawLine(QPointF(14, 10), QPointF(17.5, 10));
      if (c == kLocateNext) arrow(QPointF(11, 17), QPointF(18, 17), green);
      break;
    case kReports:
      page(QRectF(3.5, 1.5, 13, 17));
      p.setPen(QPen(ink, 1));
      for (int i = 0; i < 5; ++i) p.drawLine(QPointF(6, 6.5 + 2.5 * i), QPointF(14, 6.5 + 2.5 * i));
      break;
    case kViewer:
      p.setPen(pen);
      p.setBrush(paper);
      p.drawRect(QRectF(1.5, 3.5, 17, 13));
      p.setBrush(QColor(0x82, 0x82, 0x82));
      p.drawRect(QRectF(1.5, 3.5, 17, 3.5));
      p.drawLine(QPointF(7.5, 3.5), QPointF(7.5, 16.5));
      p.drawLine(QPointF(13, 3.5), QPointF(13, 16.5));
      p.drawLine(QPointF(1.5, 10.5), QPointF(18.5, 10.5));
      break;
    case kSortOrder: {
      QFont f(QStringLiteral("Arial"));
      f.setPixelSize(8);
      f.setBold(true);
      p.setFont(f);
      p.setPen(ink);
      p.drawText(QRectF(0, 0, 11, 10), Qt::AlignCenter, QStringLiteral("A"));
      p.drawText(QRectF(0, 10, 11, 10), Qt::AlignCenter, QStringLiteral("Z"));
      arrow(QPointF(15, 2), QPointF(15, 16), blue);
      break;
    }
    case kColorAll: {
      p.setPen(pen);
      p.setBrush(QColor(0xF0, 0xE0, 0xC0));
      p.drawEllipse(QRectF(1.5, 2.5, 17, 15));
      const QColor dots[] = {red, green, blue, gold};
      const QPointF at[] = {{6, 7}, {11, 5.5}, {14.5, 9.5}, {7, 12.5}};
      p.setPen(Qt::NoPen);
      for (int i = 0; i < 4; ++i) {
        p.setBrush(dots[i]);
        p.drawEllipse(at[i], 2, 2);
      }
      break;
    }
    case kHelpContents: {
      p.setPen(QPen(blue.darker(120), 1.2));
      p.setBrush(blue);
      p.drawEllipse(QPointF(10, 10), 8.5, 8.5);
      QFont f(QStringLiteral("Arial"));
      f.setPixelSize(13);
      f.setBold(true);
      p.setFont(f);
      p.setPen(Qt::white);
      p.drawText(QRectF(0, 0, 20, 20), Qt::AlignCenter, QStringLiteral("?"));
      break;
    }
    default:
      break;
  }
  return QIcon(pm);
}

QIcon NavigatorIcon(int button) {
  QPixmap pm = Blank(16);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  QColor ink(0x20, 0x20, 0x20);
  p.setPen(Qt::NoPen);
  p.setBrush(ink);
  auto triangle = [&](double x0, double x1) { DrawPolygon(p, {{x0, 3}, {x1, 8}, {x0, 13}}); };
  QPen line(ink, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  switch (button) {
    case MyNavigator::kFirst:
      p.drawRect(QRectF(3, 3, 2, 10));
      triangle(12, 5);
      break;
    case MyNavigator::kPrior:
      triangle(11, 4);
      break;
    case MyNavigator::kNext:
      triangle(5, 12);
      break;
    case MyNavigator::kLast:
      triangle(4, 11);
      p.drawRect(QRectF(11, 3, 2, 10));
      break;
    case MyNavigator::kInsert:
      p.drawRect(QRectF(7, 2.5, 2, 11));
      p.drawRect(QRectF(2.5, 7, 11, 2));
      break;
    case MyNavigator::kDelete:
      p.drawRect(QRectF(2.5, 7, 11, 2));
      break;
    case MyNavigator::kEdit:
      DrawPolygon(p, {{3, 12}, {8, 4}, {13, 12}});
      break;
    case MyNavigator::kPost:
      p.setPen(line);
      p.setBrush(Qt::NoBrush);
      p.drawPolyline(QPolygonF({QPointF(3, 8.5), QPointF(6.5, 12), QPointF(13, 4)}));
      break;
    case MyNavigator::kCancel:
      p.setPen(line);
      p.drawLine(QPointF(4, 4), QPointF(12, 12));
      p.drawLine(QPointF(12, 4), QPointF(4, 12));
      break;
    case MyNavigator::kRefresh: {
      p.setPen(line);
      p.setBrush(Qt::NoBrush);
      p.drawArc(QRectF(3, 3, 10, 10), 90 * 16, 270 * 16);
      p.setPen(Qt::NoPen);
      p.setBrush(ink);
      DrawPolygon(p, {{8, 0.5}, {12, 3}, {8, 5.5}});
      break;
    }
    default:
      break;
  }
  return QIcon(pm);
}

QIcon ProgramIcon() {
  QIcon icon;
  for (int size : {16, 32, 48, 64}) {
    QPixmap pm = Blank(size);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    p.setPen(QPen(QColor(0x8A, 0x62, 0x0A), 3));
    p.setBrush(QColor(0xE3, 0xB0, 0x2C));
    p.drawEllipse(QPointF(32, 32), 29, 29);
    p.setPen(QPen(QColor(0x8A, 0x62, 0x0A), 2));
    p.setBrush(QColor(0xF2, 0xC9, 0x4C));
    p.drawEllipse(QPointF(32, 32), 22, 22);
    QFont f(QStringLiteral("DejaVu Serif"));
    f.setPixelSize(26);
    f.setBold(true);
    p.setFont(f);
    p.setPen(QColor(0x7A, 0x55, 0x05));
    p.drawText(QRectF(0, 0, 64, 64), Qt::AlignCenter, QStringLiteral("97"));
    icon.addPixmap(pm);
  }
  return icon;
}

}  // namespace klv::app
