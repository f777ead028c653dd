#include "app/runstop.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QToolBar>

#include "app/icons.h"

namespace quorvel {

namespace {

bool IsInput(QEvent::Type type) {
  switch (type) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::InputMethod:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
      return true;
    default:
      return false;
  }
}

bool IsEscape(QEvent* event) {
  return event->type() == QEvent::KeyPress &&
         static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape;
}

}  // namespace

TRunStop::TRunStop(QMainWindow* window, QMenu* menu, QToolBar* bar, QAction* before)
    : QObject(window), window_(window), bar_(bar) {
  // Its key (Esc) is in the window's table of keys (app/keyboard.h).
  action_ = new QAction(ImageListIcon(imgError), "&Stop", window);
  action_->setObjectName("mnu_actions_stop");
  action_->setToolTip("Stop");
  action_->setVisible(false);
  action_->setEnabled(false);
  menu->addAction(action_);
  bar->insertAction(before, action_);
  if (QWidget* button = bar->widgetForAction(action_)) button->setAccessibleName("Stop");
  connect(action_, &QAction::triggered, this, [this] { Stop(); });
}

TRunStop::~TRunStop() {
  Finish();
}

void TRunStop::Begin() {
  flag_ = false;
  action_->setEnabled(true);
  action_->setVisible(true);
  if (!active_) qApp->installEventFilter(this);
  active_ = true;
}

void TRunStop::Finish() {
  if (!active_) return;
  active_ = false;
  qApp->removeEventFilter(this);
  action_->setVisible(false);
  action_->setEnabled(false);
}

void TRunStop::Stop() {
  if (active_) flag_ = true;
}

bool TRunStop::eventFilter(QObject* watched, QEvent* event) {
  if (!active_ || !IsInput(event->type())) return false;
  if (IsEscape(event)) {
    // Esc closes an open menu as usual; anywhere else in the window it stops.
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || !qobject_cast<QMenu*>(widget->window())) {
      if (widget && widget->window() == window_) {
        Stop();
        return true;
      }
    }
  }
  return !LetThrough(watched, event);
}

bool TRunStop::LetThrough(QObject* watched, QEvent* event) const {
  if (event->type() == QEvent::Shortcut) return watched == action_;
  auto* widget = qobject_cast<QWidget*>(watched);
  if (!widget) return false;
  // A box or a question opened while the command runs takes its input.
  auto* menu = qobject_cast<QMenu*>(widget->window());
  if (!menu && widget->window() != window_) return true;
  if (widget == bar_->widgetForAction(action_)) return true;
  const QEvent::Type type = event->type();
  const bool mouse = type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease ||
                     type == QEvent::MouseMove;
  if (qobject_cast<QMenuBar*>(widget)) return mouse;
  if (!menu) return false;
  // In a menu: moving, opening and closing; choosing only Stop.
  if (type == QEvent::MouseButtonRelease) {
    QAction* at = menu->actionAt(static_cast<QMouseEvent*>(event)->position().toPoint());
    return !at || at == action_;
  }
  if (mouse) return true;
  if (type == QEvent::KeyPress || type == QEvent::KeyRelease) {
    switch (static_cast<QKeyEvent*>(event)->key()) {
      case Qt::Key_Up:
      case Qt::Key_Down:
      case Qt::Key_Left:
      case Qt::Key_Right:
      case Qt::Key_Escape:
        return true;
      case Qt::Key_Return:
      case Qt::Key_Enter:
      case Qt::Key_Space:
        return menu->activeAction() == action_;
      default:
        return false;
    }
  }
  return false;
}

}  // namespace quorvel
