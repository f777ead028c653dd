#include "dialogs/screenfit.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace quorvel {

namespace {
// Room for a window manager's borders and title bar before the window has
// been shown (its real frame is unknown until then).
constexpr int kFrameSides = 8;
constexpr int kFrameTopBottom = 32;
}  // namespace

void FitIntoScreen(QWidget& window) {
  QScreen* screen = window.screen();
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect area = screen->availableGeometry();
  int frameW = kFrameSides, frameH = kFrameTopBottom;
  if (window.isVisible()) {
    frameW = std::max(0, window.frameGeometry().width() - window.width());
    frameH = std::max(0, window.frameGeometry().height() - window.height());
  }
  const QSize room(std::max(1, area.width() - frameW), std::max(1, area.height() - frameH));
  QSize size = window.size();
  if (size.width() > room.width() || size.height() > room.height()) {
    size = size.boundedTo(room).expandedTo(window.minimumSize());
    window.resize(size);
  }
  const QSize outer(size.width() + frameW, size.height() + frameH);
  // move() places the frame's top left corner.
  const int x = area.left() + std::max(0, (area.width() - outer.width()) / 2);
  const int y = area.top() + std::max(0, (area.height() - outer.height()) / 2);
  window.move(x, y);
}

}  // namespace quorvel
