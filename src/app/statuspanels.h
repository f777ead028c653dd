// The main window's status bar: three owner-drawn panels side by side.
#pragma once

#include <QString>
#include <QWidget>
#include <array>
#include <functional>

class QLabel;
class QPainter;

namespace quorvel {

// The text a panel of `width` pixels draws: whole when length * 6 < width,
// otherwise its first width / 7 characters (halves rounded to even) and "...".
QString ShortenPanelText(const QString& text, int width);
// x * factor rounded to the nearest integer, halves to even.
int RoundHalfEven(double x);

class TStatusPanels : public QWidget {
  Q_OBJECT
 public:
  using DrawPanel = std::function<void(QPainter&, int panel, const QRect&)>;
  TStatusPanels(DrawPanel draw, QWidget* parent = nullptr);
  void SetPanelWidth(int panel, int width);
  int PanelWidth(int panel) const { return widths_[static_cast<std::size_t>(panel)]; }
  QRect PanelRect(int panel) const;
  QSize sizeHint() const override;
  // The text assistive technology reads for a panel: the panel's whole text,
  // whatever the painted one is shortened to.
  void SetPanelText(int panel, const QString& text);
  QString PanelText(int panel) const;

 protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;

 private:
  void PlaceTexts();
  DrawPanel draw_;
  std::array<int, 3> widths_{0, 0, 0};
  // One unpainted label per panel, where the panel is: what a screen reader
  // finds there.
  std::array<QLabel*, 3> texts_{};
};

}  // namespace quorvel
