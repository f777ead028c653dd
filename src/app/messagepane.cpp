#include "app/messagepane.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <limits>

#include "dialogs/uiseam.h"

namespace quorvel {

namespace {

constexpr int kMargin = 3;
// The rows are never made wider than this (the view's column widths are
// limited); the end of a longer line is cut off on screen, not in the text.
constexpr int kWidestShown = 500000;
// Lines are stored in blocks of this size (a longer line gets a block of its own).
constexpr std::size_t kBlockSize = std::size_t{1} << 20;

bool IsCopy(const QKeyEvent& e) {
  return e.matches(QKeySequence::Copy) || e.matches(QKeySequence::SelectAll);
}

// Draws a line as plain text, as wide as the widest line and one line high.
class TLineDelegate : public QStyledItemDelegate {
 public:
  explicit TLineDelegate(TMessagePane& pane) : QStyledItemDelegate(&pane), pane_(pane) {}

  void paint(QPainter* p, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    const bool selected = option.state & QStyle::State_Selected;
    if (selected) p->fillRect(option.rect, option.palette.highlight());
    p->save();
    p->setPen(option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    p->drawText(option.rect.adjusted(kMargin, 0, 0, 0),
                Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine,
                index.data(Qt::DisplayRole).toString());
    p->restore();
  }
  QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override {
    return QSize(pane_.Widest() + 2 * kMargin, pane_.fontMetrics().lineSpacing());
  }

 private:
  TMessagePane& pane_;
};

}  // namespace

// ---------------------------------------------------------------- the lines

void TMessageLines::Store(std::string_view utf8) {
  if (blocks_.empty() || blocks_.back().capacity() - blocks_.back().size() < utf8.size()) {
    // A new block; the index's 32-bit block numbers and offsets cannot run out
    // before the memory does, and a line too long for them is cut.
    if (blocks_.size() >= std::numeric_limits<std::uint32_t>::max()) return;
    utf8 = utf8.substr(
        0, std::min<std::size_t>(utf8.size(), std::numeric_limits<std::uint32_t>::max()));
    blocks_.emplace_back();
    blocks_.back().reserve(std::max(kBlockSize, utf8.size()));
  }
  std::string& block = blocks_.back();
  index_.push_back(
      {static_cast<std::uint32_t>(blocks_.size() - 1), static_cast<std::uint32_t>(block.size())});
  block.append(utf8);
}

void TMessageLines::Append(const QStringList& lines) {
  if (lines.isEmpty()) return;
  const int first = Count();
  beginInsertRows(QModelIndex(), first, first + static_cast<int>(lines.size()) - 1);
  for (const QString& l : lines) {
    const QByteArray utf8 = l.toUtf8();
    Store(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
  }
  endInsertRows();
}

std::string_view TMessageLines::Utf8(int i) const {
  const std::size_t n = index_.size();
  if (i < 0 || static_cast<std::size_t>(i) >= n) return {};
  const TSpan s = index_[static_cast<std::size_t>(i)];
  const std::string& block = blocks_[s.block];
  std::size_t end = block.size();
  if (static_cast<std::size_t>(i) + 1 < n) {
    const TSpan next = index_[static_cast<std::size_t>(i) + 1];
    if (next.block == s.block) end = next.offset;
  }
  return std::string_view(block).substr(s.offset, end - s.offset);
}

QString TMessageLines::Line(int i) const {
  const std::string_view v = Utf8(i);
  return QString::fromUtf8(v.data(), static_cast<qsizetype>(v.size()));
}

int TMessageLines::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : Count();
}

QVariant TMessageLines::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.column() != 0) return {};
  if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) return Line(index.row());
  return {};
}

// ---------------------------------------------------------------- the view

TMessagePane::TMessagePane(QWidget* parent) : QTableView(parent), lines_(new TMessageLines(this)) {
  setModel(lines_);
  setItemDelegate(new TLineDelegate(*this));
  // One fixed height for every row: nothing is measured or laid out per line.
  horizontalHeader()->hide();
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(fontMetrics().lineSpacing());
  horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  setShowGrid(false);
  setTabKeyNavigation(false);
  setWordWrap(false);
  setTextElideMode(Qt::ElideNone);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setAutoFillBackground(true);
}

void TMessagePane::AppendLines(const QStringList& lines) {
  if (lines.isEmpty()) return;
  // Measuring every line of a long burst costs more than it tells; the first
  // and last few of each burst keep the horizontal range honest.
  const QFontMetrics fm = fontMetrics();
  const qsizetype n = lines.size();
  for (qsizetype i = 0; i < n; ++i) {
    if (i >= 8 && i < n - 8) i = n - 8;
    widest_ = std::min(kWidestShown, std::max(widest_, fm.horizontalAdvance(lines[i])));
  }
  lines_->Append(lines);
  const int width = widest_ + 2 * kMargin;
  if (columnWidth(0) != width) setColumnWidth(0, width);
  scrollToBottom();
}

QStringList TMessagePane::Lines() const {
  QStringList out;
  out.reserve(LineCount());
  for (int i = 0; i < LineCount(); ++i) out.append(Line(i));
  return out;
}

QString TMessagePane::Text() const {
  return Lines().join('\n');
}

bool TMessagePane::event(QEvent* event) {
  // Copy here copies the pane's text, not the results (the window's Ctrl+C).
  if (event->type() == QEvent::ShortcutOverride && IsCopy(*static_cast<QKeyEvent*>(event))) {
    event->accept();
    return true;
  }
  if (event->type() == QEvent::FontChange)
    verticalHeader()->setDefaultSectionSize(fontMetrics().lineSpacing());
  return QTableView::event(event);
}

void TMessagePane::keyPressEvent(QKeyEvent* event) {
  if (IsCopy(*event)) {
    UiSeam().SetClipboardText(Text());
    return;
  }
  QTableView::keyPressEvent(event);
}

void TMessagePane::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  QAction* copy = menu.addAction("Copy &All");
  if (menu.exec(event->globalPos()) == copy) UiSeam().SetClipboardText(Text());
}

}  // namespace quorvel
