#include "gui/tray/tray_pictures.h"

#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QtMath>
#include <algorithm>

#include "notify/tray_icon.h"

namespace kelvrin::gui {

namespace {

// Every picture is drawn on a 100 x 100 canvas and scaled to the box. The
// shapes are bold and the outlines thick, so that a 16-pixel picture still
// reads: an outline of 7 units is a pixel there.
constexpr qreal kCanvas = 100.0;

const QColor kOutline(0x20, 0x2a, 0x36);
const QColor kBlue(0x3d, 0x6f, 0xb6);
const QColor kGreen(0x2e, 0x9e, 0x44);
const QColor kAmber(0xe8, 0xa3, 0x17);
const QColor kRed(0xd2, 0x3a, 0x2a);
const QColor kGrey(0x8a, 0x8a, 0x8a);
const QColor kPaper(0xf4, 0xf4, 0xf0);

// The second picture of a blinking state: the same envelope, washed out.
QColor washed(const QColor& c) {
  return QColor::fromRgbF(c.redF() * 0.35 + 0.65, c.greenF() * 0.35 + 0.65,
                          c.blueF() * 0.35 + 0.65);
}

QPen outlinePen(qreal width = 6.0) {
  QPen pen(kOutline, width);
  pen.setJoinStyle(Qt::RoundJoin);
  pen.setCapStyle(Qt::RoundCap);
  return pen;
}

void envelope(QPainter& p, const QColor& body) {
  const QRectF r(6, 20, 88, 60);
  p.setPen(outlinePen());
  p.setBrush(body);
  p.drawRoundedRect(r, 8, 8);
  // The flap: a V from the top corners to the middle.
  QPen flap(body.lightness() > 160 ? kOutline : kPaper, 7);
  flap.setJoinStyle(Qt::RoundJoin);
  flap.setCapStyle(Qt::RoundCap);
  p.setPen(flap);
  p.setBrush(Qt::NoBrush);
  p.drawPolyline(QPolygonF{QPointF(14, 28), QPointF(50, 56), QPointF(86, 28)});
}

void strike(QPainter& p, QPointF from, QPointF to, qreal width) {
  QPen pen(kRed, width);
  pen.setCapStyle(Qt::RoundCap);
  p.setPen(pen);
  p.drawLine(from, to);
}

void smallClock(QPainter& p, QPointF centre, qreal radius) {
  p.setPen(outlinePen(5));
  p.setBrush(kPaper);
  p.drawEllipse(centre, radius, radius);
  p.drawLine(centre, centre + QPointF(0, -radius * 0.65));
  p.drawLine(centre, centre + QPointF(radius * 0.5, 0));
}

void idle(QPainter& p, int index) {
  switch (index) {
    case notify::kIdleOnline:
      envelope(p, kBlue);
      break;
    case notify::kIdleOffline:
      envelope(p, kGrey);
      strike(p, QPointF(12, 90), QPointF(88, 10), 12);
      break;
    case notify::kIdleTimedChecksOff:
      envelope(p, kBlue);
      smallClock(p, QPointF(70, 68), 24);
      strike(p, QPointF(50, 90), QPointF(92, 46), 8);
      break;
    default:
      break;
  }
}

// A ring with a bright arc that goes once round in `steps` pictures.
void spinner(QPainter& p, int index, int steps) {
  const QRectF ring(14, 14, 72, 72);
  QPen track(washed(kBlue), 16);
  p.setPen(track);
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(ring);
  QPen arc(kBlue, 16);
  arc.setCapStyle(Qt::RoundCap);
  p.setPen(arc);
  // Clockwise from twelve o'clock; Qt's angles are in 1/16 degree, counter-clockwise.
  const int start = 90 * 16 - index * (360 * 16 / steps);
  p.drawArc(ring, start, -100 * 16);
  p.setPen(Qt::NoPen);
  p.setBrush(kOutline);
  p.drawEllipse(QPointF(50, 50), 8, 8);
}

void blinking(QPainter& p, const QColor& colour, int index) {
  envelope(p, index == 0 ? colour : washed(colour));
}

// Suspect and spam: the two colours take turns as envelope and badge, so
// the first picture already differs from the suspect-only state.
void suspectAndSpam(QPainter& p, int index) {
  const QColor body = index == 0 ? kAmber : index == 1 ? kRed : washed(kRed);
  const QColor badge = index == 1 ? kAmber : kRed;
  envelope(p, body);
  p.setPen(outlinePen(5));
  p.setBrush(badge);
  p.drawEllipse(QPointF(78, 24), 17, 17);
}

void handset(QPainter& p, int index) {
  QPainterPath path;
  path.moveTo(18, 30);
  path.cubicTo(18, 62, 38, 82, 70, 82);
  path.lineTo(80, 70);
  path.lineTo(64, 58);
  path.lineTo(56, 66);
  path.cubicTo(46, 62, 38, 54, 34, 44);
  path.lineTo(42, 36);
  path.lineTo(30, 20);
  path.closeSubpath();
  p.setPen(outlinePen(5));
  p.setBrush(index == 0 ? kGreen : washed(kGreen));
  p.drawPath(path);
  if (index == 0) {
    // The signal going out.
    QPen wave(kOutline, 6);
    wave.setCapStyle(Qt::RoundCap);
    p.setPen(wave);
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(44, 4, 52, 52), 0, 90 * 16);
    p.drawArc(QRectF(56, 16, 28, 28), 0, 90 * 16);
  }
}

// A clock face whose dial fills a quarter more with each picture.
void countdown(QPainter& p, int index, int pictures) {
  const QRectF face(8, 8, 84, 84);
  p.setPen(outlinePen(6));
  p.setBrush(kPaper);
  p.drawEllipse(face);
  p.setPen(Qt::NoPen);
  p.setBrush(kBlue);
  const int span = 360 * 16 * (index + 1) / pictures;
  p.drawPie(face.adjusted(8, 8, -8, -8), 90 * 16, -span);
  p.setPen(outlinePen(5));
  for (int h = 0; h < 4; ++h) {
    const qreal a = qDegreesToRadians(90.0 * h);
    p.drawLine(QPointF(50 + 36 * qCos(a), 50 - 36 * qSin(a)),
               QPointF(50 + 42 * qCos(a), 50 - 42 * qSin(a)));
  }
}

// A bin that fills with each picture.
void bin(QPainter& p, int index, int pictures) {
  const QPolygonF body{QPointF(22, 30), QPointF(78, 30), QPointF(72, 92), QPointF(28, 92)};
  p.setPen(Qt::NoPen);
  p.setBrush(kPaper);
  p.drawPolygon(body);
  // The filling, clipped to the body.
  const qreal level = 92 - 62.0 * index / (pictures - 1);
  QPainterPath inside;
  inside.addPolygon(body);
  p.save();
  p.setClipPath(inside);
  p.setBrush(kRed);
  p.drawRect(QRectF(0, level, kCanvas, kCanvas - level));
  p.restore();
  p.setPen(outlinePen(6));
  p.setBrush(Qt::NoBrush);
  p.drawPolygon(body);
  p.setBrush(kGrey);
  p.drawRoundedRect(QRectF(14, 18, 72, 10), 3, 3);
  p.drawLine(QPointF(42, 12), QPointF(58, 12));
}

class TrayPictureEngine : public QIconEngine {
 public:
  TrayPictureEngine(int state, int index) : state_(state), index_(index) {}

  void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
    painter->save();
    if (mode == QIcon::Disabled) painter->setOpacity(0.4);
    drawTrayPicture(*painter, QRectF(rect), state_, index_);
    painter->restore();
  }

  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    paint(&painter, QRect(QPoint(0, 0), size), mode, state);
    return pixmap;
  }

  QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override { return trayPictureSizes(); }

  QIconEngine* clone() const override { return new TrayPictureEngine(*this); }
  QString key() const override { return QStringLiteral("KelvrinTrayPicture"); }

 private:
  int state_;
  int index_;
};

}  // namespace

QList<QSize> trayPictureSizes() {
  QList<QSize> sizes;
  for (int s : {16, 22, 24, 32, 48, 64})
    sizes.append(QSize(s, s));
  return sizes;
}

void drawTrayPicture(QPainter& p, const QRectF& box, int state, int index) {
  const int pictures = TrayPictures::count(state);
  if (pictures == 0 || index < 0 || index >= pictures) return;
  const qreal side = std::min(box.width(), box.height());
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  p.translate(box.center().x() - side / 2, box.center().y() - side / 2);
  p.scale(side / kCanvas, side / kCanvas);
  switch (state) {
    case notify::kTrayIdle:
      idle(p, index);
      break;
    case notify::kTrayChecking:
      spinner(p, index, pictures);
      break;
    case notify::kTrayNewMail:
      blinking(p, kGreen, index);
      break;
    case notify::kTraySuspect:
      blinking(p, kAmber, index);
      break;
    case notify::kTraySuspectAndSpam:
      suspectAndSpam(p, index);
      break;
    case notify::kTraySpamOnly:
      blinking(p, kGrey, index);
      break;
    case notify::kTrayDialling:
      handset(p, index);
      break;
    case notify::kTrayCountdown:
      countdown(p, index, pictures);
      break;
    case notify::kTrayDeleting:
      bin(p, index, pictures);
      break;
    default:
      break;
  }
  p.restore();
}

int TrayPictures::stateCount() {
  return static_cast<int>(notify::kImageLists.size());
}

int TrayPictures::count(int state) {
  if (state < 0 || state >= stateCount()) return 0;
  return notify::kImageLists[static_cast<std::size_t>(state)].Pictures;
}

int TrayPictures::designSize(int state) {
  if (state < 0 || state >= stateCount()) return 0;
  return notify::kImageLists[static_cast<std::size_t>(state)].Size;
}

TrayPictures::TrayPictures() {
  icons_.resize(static_cast<std::size_t>(stateCount()));
  for (int s = 0; s < stateCount(); ++s) {
    for (int i = 0; i < count(s); ++i) {
      icons_[static_cast<std::size_t>(s)].push_back(QIcon(new TrayPictureEngine(s, i)));
    }
  }
}

const QIcon& TrayPictures::icon(int state, int index) const {
  if (state < 0 || state >= stateCount()) return none_;
  const auto& list = icons_[static_cast<std::size_t>(state)];
  return list[static_cast<std::size_t>(std::clamp(index, 0, static_cast<int>(list.size()) - 1))];
}

}  // namespace kelvrin::gui
