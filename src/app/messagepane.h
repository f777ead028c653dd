// The message pane: a read-only list of text lines that only grows at the end.
//
// Every line is kept, in the order written, and costs little: the text is
// stored as UTF-8 in large blocks with 8 bytes of index per line, and a
// one-column table view shows it with one fixed row height (a list view would
// lay every row out again at each append: quadratic over a long run). Lines
// that differ from the one before only by a number one greater ("Processing
// object 41 of 900...", "... 42 of 900...") are kept as one run: its text
// around the number, the first number and the count. A run that writes a
// million progress lines holds them in a few bytes; every line reads back
// exactly as written.
//
// Each line is a row of a list model, which is how assistive technology reads
// the lines (and how the arrow keys walk them). Ctrl+C and Select All copy the
// whole text, as does the context menu's "Copy All".
//
// Typical use:
//   pane->AppendLines({" MSG: Please wait..."});  // scrolls to the new last line
//   pane->Line(pane->LineCount() - 1);            // " MSG: Please wait..."
#pragma once

#include <QAbstractListModel>
#include <QTableView>
#include <QStringList>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// The lines, compactly stored, as a list model (one row per line).
class TMessageLines : public QAbstractListModel {
  Q_OBJECT
 public:
  using QAbstractListModel::QAbstractListModel;
  // Appends lines at the end, in order.
  void Append(const QStringList& lines);
  // Appends the `count` lines prefix + n + suffix for n from `first` on, in
  // UTF-8, at the cost of one line when they continue a run or start one.
  void AppendNumbered(std::string_view prefix, std::uint64_t first, std::size_t count,
                      std::string_view suffix);
  int Count() const { return static_cast<int>(count_); }
  // Line i (0 <= i < Count()) as stored, in UTF-8; the view lasts until the
  // next call.
  std::string_view Utf8(int i) const;
  QString Line(int i) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

 private:
  // Where a line starts: its block and its offset there. A line never spans
  // two blocks; it ends where the next line of its block starts, or at the
  // block's end.
  struct TSpan {
    std::uint32_t block;
    std::uint32_t offset;
  };
  // Consecutive lines: `count` stored ones from index_[stored], or, when
  // numbered, prefix + (number + k) + suffix for k below count.
  struct TPiece {
    std::size_t first = 0;  // the line number of the first
    std::size_t count = 0;
    bool numbered = false;
    std::size_t stored = 0;
    std::uint64_t number = 0;
    std::string prefix, suffix;
  };
  void Store(std::string_view utf8);
  void StorePlain(std::string_view utf8);
  bool ExtendRun(std::string_view utf8);
  bool StartRun(std::string_view utf8);
  std::string_view Stored(std::size_t k) const;
  std::vector<std::string> blocks_;
  std::deque<TSpan> index_;  // grows without moving what it holds
  std::vector<TPiece> pieces_;
  std::size_t count_ = 0;
  mutable std::string line_;  // a numbered line, as Utf8 last gave it
};

class TMessagePane : public QTableView {
  Q_OBJECT
 public:
  explicit TMessagePane(QWidget* parent = nullptr);
  // Appends lines and scrolls to the last one.
  void AppendLines(const QStringList& lines);
  // Appends prefix + n + suffix for n from first to last and scrolls to the
  // last: a million progress lines at the cost of one.
  void AppendNumbered(const QString& prefix, std::uint64_t first, std::uint64_t last,
                      const QString& suffix);
  int LineCount() const { return lines_->Count(); }
  QString Line(int i) const { return lines_->Line(i); }
  QStringList Lines() const;
  // Every line, joined by line breaks.
  QString Text() const;
  // The widest line measured so far, in pixels, at most 500,000 (the rows are
  // this wide).
  int Widest() const { return widest_; }

 protected:
  bool event(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  TMessageLines* lines_;
  int widest_ = 0;
};

}  // namespace quorvel
