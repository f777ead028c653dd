// The message pane: a read-only list of text lines that only grows at the
// end. Lines are kept as plain strings and only the visible ones are painted,
// so a run that posts a hundred thousand progress lines stays fast.
#pragma once

#include <QAbstractScrollArea>
#include <QStringList>
#include <vector>

namespace quorvel {

class TMessagePane : public QAbstractScrollArea {
  Q_OBJECT
 public:
  explicit TMessagePane(QWidget* parent = nullptr);
  // Appends lines and scrolls to the last one.
  void AppendLines(const QStringList& lines);
  int LineCount() const { return static_cast<int>(lines_.size()); }
  const QString& Line(int i) const { return lines_[static_cast<std::size_t>(i)]; }
  QStringList Lines() const;
  // Every line, joined by line breaks.
  QString Text() const;

 protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void UpdateScrollBars();
  int LineHeight() const;
  std::vector<QString> lines_;
  int widest_ = 0;  // widest line measured so far, in pixels
};

}  // namespace quorvel
