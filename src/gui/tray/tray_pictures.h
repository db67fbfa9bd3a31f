#pragma once

// The pictures of the tray icon: every picture of the nine picture states,
// drawn with QPainter. Each picture is a QIcon whose engine draws it anew at
// whatever size the tray asks for, so it is crisp in a 16-pixel XEmbed slot
// and on a 2x panel alike. How many pictures a state has and its design size
// come from the tray model's image lists.

#include <QIcon>
#include <QList>
#include <QSize>
#include <vector>

class QPainter;
class QRectF;

namespace kelvrin::gui {

// Draws picture `index` of picture state `state` into `box` (a square).
// Values outside the lists draw nothing.
void drawTrayPicture(QPainter& painter, const QRectF& box, int state, int index);

// The sizes a tray picture offers to trays that pick from a list (the
// StatusNotifierItem pixmaps): the common panel sizes.
QList<QSize> trayPictureSizes();

class TrayPictures {
 public:
  TrayPictures();

  static int stateCount();
  // The number of pictures of a state (0 for a state outside 0..8).
  static int count(int state);
  // The size the state was designed at (16, or 32 for the countdown).
  static int designSize(int state);

  // Picture `index` of `state`; an index beyond the last picture gives the
  // last one, and a state outside the lists gives an empty icon.
  const QIcon& icon(int state, int index) const;

 private:
  std::vector<std::vector<QIcon>> icons_;
  QIcon none_;
};

}  // namespace kelvrin::gui
