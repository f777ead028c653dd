#include "app/messagepane.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <algorithm>
#include <limits>
#include <utility>

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

void TMessageLines::StorePlain(std::string_view utf8) {
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
  if (pieces_.empty() || pieces_.back().numbered) {
    TPiece piece;
    piece.first = count_;
    piece.stored = index_.size() - 1;
    pieces_.push_back(std::move(piece));
  }
  ++pieces_.back().count;
  ++count_;
}

namespace {

// The decimal number at the start of `text` as written by std::to_string
// (no sign, no leading zero), with the count of its digits; 0 digits when
// there is none.
std::pair<std::uint64_t, std::size_t> NumberAt(std::string_view text) {
  std::size_t n = 0;
  std::uint64_t value = 0;
  while (n < text.size() && n < 18 && text[n] >= '0' && text[n] <= '9')
    value = value * 10 + static_cast<std::uint64_t>(text[n++] - '0');
  if (n == 0 || (n > 1 && text[0] == '0') || (n < text.size() && text[n] >= '0' && text[n] <= '9'))
    return {0, 0};
  return {value, n};
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

bool TMessageLines::ExtendRun(std::string_view utf8) {
  if (pieces_.empty() || !pieces_.back().numbered) return false;
  TPiece& run = pieces_.back();
  const std::string_view prefix = run.prefix, suffix = run.suffix;
  if (utf8.size() < prefix.size() + suffix.size() || utf8.substr(0, prefix.size()) != prefix ||
      utf8.substr(utf8.size() - suffix.size()) != suffix)
    return false;
  const std::string_view middle =
      utf8.substr(prefix.size(), utf8.size() - prefix.size() - suffix.size());
  const auto [value, digits] = NumberAt(middle);
  if (digits == 0 || digits != middle.size() || value != run.number + run.count) return false;
  ++run.count;
  ++count_;
  return true;
}

bool TMessageLines::StartRun(std::string_view utf8) {
  // Against the line before, when it is a stored line at the end of its block.
  if (pieces_.empty() || pieces_.back().numbered) return false;
  const std::string_view before = Stored(index_.size() - 1);
  std::size_t at = 0;
  while (at < before.size() && at < utf8.size() && before[at] == utf8[at]) ++at;
  while (at > 0 && IsDigit(before[at - 1])) --at;
  const auto [was, wasDigits] = NumberAt(before.substr(at));
  const auto [now, nowDigits] = NumberAt(utf8.substr(at));
  if (wasDigits == 0 || nowDigits == 0 || now != was + 1 ||
      before.substr(at + wasDigits) != utf8.substr(at + nowDigits))
    return false;
  TPiece run;
  run.first = count_ - 1;
  run.count = 2;
  run.numbered = true;
  run.number = was;
  run.prefix.assign(utf8.substr(0, at));
  run.suffix.assign(utf8.substr(at + nowDigits));
  // The line before leaves the stored ones: it is the run's first.
  blocks_[index_.back().block].resize(index_.back().offset);
  index_.pop_back();
  if (--pieces_.back().count == 0) pieces_.pop_back();
  pieces_.push_back(std::move(run));
  ++count_;
  return true;
}

void TMessageLines::Store(std::string_view utf8) {
  if (!ExtendRun(utf8) && !StartRun(utf8)) StorePlain(utf8);
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

void TMessageLines::AppendNumbered(std::string_view prefix, std::uint64_t first, std::size_t count,
                                   std::string_view suffix) {
  if (count == 0) return;
  const int at = Count();
  beginInsertRows(QModelIndex(), at, at + static_cast<int>(count) - 1);
  auto line = [&](std::uint64_t n) {
    return std::string(prefix) + std::to_string(n) + std::string(suffix);
  };
  std::size_t done = 0;
  // The first two lines go as any do (they continue a run or start one);
  // the rest only lengthen it when it is theirs.
  for (; done < count && done < 2; ++done) Store(line(first + done));
  if (done < count && !pieces_.empty() && pieces_.back().numbered) {
    TPiece& run = pieces_.back();
    if (run.prefix == prefix && run.suffix == suffix && run.number + run.count == first + done) {
      run.count += count - done;
      count_ += count - done;
      done = count;
    }
  }
  for (; done < count; ++done) Store(line(first + done));
  endInsertRows();
}

std::string_view TMessageLines::Stored(std::size_t k) const {
  const TSpan s = index_[k];
  const std::string& block = blocks_[s.block];
  std::size_t end = block.size();
  if (k + 1 < index_.size()) {
    const TSpan next = index_[k + 1];
    if (next.block == s.block) end = next.offset;
  }
  return std::string_view(block).substr(s.offset, end - s.offset);
}

std::string_view TMessageLines::Utf8(int i) const {
  if (i < 0 || static_cast<std::size_t>(i) >= count_) return {};
  const std::size_t line = static_cast<std::size_t>(i);
  // The last piece that starts at or before the line.
  const auto after = std::upper_bound(pieces_.begin(), pieces_.end(), line,
                                      [](std::size_t l, const TPiece& p) { return l < p.first; });
  const TPiece& piece = *(after - 1);
  const std::size_t k = line - piece.first;
  if (!piece.numbered) return Stored(piece.stored + k);
  line_ = piece.prefix + std::to_string(piece.number + k) + piece.suffix;
  return line_;
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

void TMessagePane::AppendNumbered(const QString& prefix, std::uint64_t first, std::uint64_t last,
                                  const QString& suffix) {
  if (last < first) return;
  const QFontMetrics fm = fontMetrics();
  for (std::uint64_t n : {first, last})
    widest_ =
        std::min(kWidestShown,
                 std::max(widest_, fm.horizontalAdvance(prefix + QString::number(n) + suffix)));
  const QByteArray p = prefix.toUtf8(), s = suffix.toUtf8();
  lines_->AppendNumbered(std::string_view(p.constData(), static_cast<std::size_t>(p.size())), first,
                         static_cast<std::size_t>(last - first + 1),
                         std::string_view(s.constData(), static_cast<std::size_t>(s.size())));
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
