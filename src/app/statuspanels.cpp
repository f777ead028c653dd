#include "app/statuspanels.h"

#include <QLabel>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <cmath>

namespace quorvel {

int RoundHalfEven(double x) {
  return static_cast<int>(std::nearbyint(x));
}

QString ShortenPanelText(const QString& text, int width) {
  if (static_cast<long long>(text.size()) * 6 < width) return text;
  int keep = RoundHalfEven(width / 7.0);
  if (keep < 0) keep = 0;
  return text.left(keep) + "...";
}

namespace {
// A label that paints nothing: the panel draws itself; the label carries its
// text for assistive technology.
class TPanelText : public QLabel {
 public:
  using QLabel::QLabel;

 protected:
  void paintEvent(QPaintEvent*) override {}
};
const char* const kPanelNames[3] = {"Message", "Host", "User"};
}  // namespace

TStatusPanels::TStatusPanels(DrawPanel draw, QWidget* parent)
    : QWidget(parent), draw_(std::move(draw)) {
  setObjectName("Status");
  setAccessibleName("Status");
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  for (int i = 0; i < 3; ++i) {
    auto* label = new TPanelText(this);
    label->setObjectName(QString("Status_") + kPanelNames[i]);
    label->setAccessibleDescription(kPanelNames[i]);
    label->setTextFormat(Qt::PlainText);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    texts_[static_cast<std::size_t>(i)] = label;
  }
}

void TStatusPanels::SetPanelWidth(int panel, int width) {
  widths_[static_cast<std::size_t>(panel)] = width;
  PlaceTexts();
  update();
}

void TStatusPanels::SetPanelText(int panel, const QString& text) {
  QLabel* label = texts_[static_cast<std::size_t>(panel)];
  if (label->text() != text) label->setText(text);
}

QString TStatusPanels::PanelText(int panel) const {
  return texts_[static_cast<std::size_t>(panel)]->text();
}

void TStatusPanels::PlaceTexts() {
  for (int i = 0; i < 3; ++i) texts_[static_cast<std::size_t>(i)]->setGeometry(PanelRect(i));
}

void TStatusPanels::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  PlaceTexts();
}

QRect TStatusPanels::PanelRect(int panel) const {
  int left = 0;
  for (int i = 0; i < panel; ++i) left += widths_[static_cast<std::size_t>(i)];
  int w = widths_[static_cast<std::size_t>(panel)];
  // The last panel takes what is left of the bar.
  if (panel == 2) w = std::max(w, width() - left);
  return QRect(left, 0, w - 2, height());
}

QSize TStatusPanels::sizeHint() const {
  return QSize(400, 19);
}

void TStatusPanels::paintEvent(QPaintEvent*) {
  QPainter p(this);
  for (int i = 0; i < 3; ++i) {
    QRect r = PanelRect(i);
    p.setPen(palette().color(QPalette::Mid));
    p.drawRect(r.adjusted(0, 0, -1, -1));
    p.setPen(palette().color(QPalette::WindowText));
    p.save();
    p.setClipRect(r);
    draw_(p, i, r);
    p.restore();
  }
}

}  // namespace quorvel
