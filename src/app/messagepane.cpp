#include "app/messagepane.h"

#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>

#include "dialogs/uiseam.h"

namespace quorvel {

namespace {
constexpr int kMargin = 3;
}

TMessagePane::TMessagePane(QWidget* parent) : QAbstractScrollArea(parent) {
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setAutoFillBackground(true);
}

int TMessagePane::LineHeight() const {
  return fontMetrics().lineSpacing();
}

void TMessagePane::AppendLines(const QStringList& lines) {
  if (lines.isEmpty()) return;
  const QFontMetrics fm = fontMetrics();
  lines_.reserve(lines_.size() + static_cast<std::size_t>(lines.size()));
  for (const QString& l : lines) lines_.push_back(l);
  // Measuring every line of a long burst costs more than it tells; the first
  // and last few of each burst keep the horizontal range honest.
  const qsizetype n = lines.size();
  for (qsizetype i = 0; i < n; ++i) {
    if (i >= 8 && i < n - 8) i = n - 8;
    widest_ = std::max(widest_, fm.horizontalAdvance(lines[i]));
  }
  UpdateScrollBars();
  verticalScrollBar()->setValue(verticalScrollBar()->maximum());
  viewport()->update();
}

QStringList TMessagePane::Lines() const {
  QStringList out;
  out.reserve(static_cast<qsizetype>(lines_.size()));
  for (const QString& l : lines_) out.append(l);
  return out;
}

QString TMessagePane::Text() const {
  return Lines().join('\n');
}

void TMessagePane::UpdateScrollBars() {
  const int h = LineHeight();
  const int visible = std::max(1, (viewport()->height() - 2 * kMargin) / h);
  verticalScrollBar()->setRange(0, std::max(0, LineCount() - visible));
  verticalScrollBar()->setPageStep(visible);
  verticalScrollBar()->setSingleStep(1);
  horizontalScrollBar()->setRange(0, std::max(0, widest_ + 2 * kMargin - viewport()->width()));
  horizontalScrollBar()->setPageStep(viewport()->width());
  horizontalScrollBar()->setSingleStep(fontMetrics().averageCharWidth() * 2);
}

void TMessagePane::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollBars();
}

void TMessagePane::paintEvent(QPaintEvent*) {
  QPainter p(viewport());
  p.setFont(font());
  p.setPen(palette().color(QPalette::Text));
  const int h = LineHeight();
  const int ascent = fontMetrics().ascent();
  const int first = verticalScrollBar()->value();
  const int x = kMargin - horizontalScrollBar()->value();
  int y = kMargin;
  for (int i = first; i < LineCount() && y < viewport()->height(); ++i, y += h)
    p.drawText(x, y + ascent, lines_[static_cast<std::size_t>(i)]);
}

void TMessagePane::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Copy) || event->matches(QKeySequence::SelectAll)) {
    UiSeam().SetClipboardText(Text());
    return;
  }
  QAbstractScrollArea::keyPressEvent(event);
}

void TMessagePane::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  QAction* copy = menu.addAction("Copy All");
  if (menu.exec(event->globalPos()) == copy) UiSeam().SetClipboardText(Text());
}

}  // namespace quorvel
