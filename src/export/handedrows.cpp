#include "export/handedrows.h"

#include <stdexcept>
#include <utility>

TkxHandedRowSource::TkxHandedRowSource(std::vector<TkxColumnInfo> columns, std::size_t batchRows,
                                       std::size_t batchesHeld)
    : columns_(std::move(columns)),
      batchRows_(batchRows > 0 ? batchRows : 1),
      batchesHeld_(batchesHeld > 0 ? batchesHeld : 1) {}

bool TkxHandedRowSource::Put(const std::vector<std::string>& cells) {
  if (filling_ == producing_.size()) producing_.emplace_back();
  std::vector<std::string>& row = producing_[filling_];
  row.resize(columns_.size());
  // assign keeps the room of the texts a used batch held before.
  for (std::size_t i = 0; i < row.size(); ++i) {
    if (i < cells.size())
      row[i].assign(cells[i]);
    else
      row[i].clear();
  }
  ++filling_;
  if (filling_ < batchRows_) {
    // Between hand-overs the producer learns of an abandonment or a closed
    // consumer at the next one.
    return true;
  }
  return Hand();
}

bool TkxHandedRowSource::Hand() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return closed_ || abandoned_ || handed_.size() < batchesHeld_; });
  if (closed_ || abandoned_) {
    filling_ = 0;
    return false;
  }
  handed_.emplace_back(std::move(producing_), filling_);
  producing_.clear();
  if (!spare_.empty()) {
    producing_ = std::move(spare_.back());
    spare_.pop_back();
  }
  filling_ = 0;
  lock.unlock();
  changed_.notify_all();
  return true;
}

void TkxHandedRowSource::End() {
  if (filling_ > 0) Hand();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
  }
  changed_.notify_all();
}

void TkxHandedRowSource::Abandon() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    abandoned_ = true;
  }
  changed_.notify_all();
}

void TkxHandedRowSource::Close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }
  changed_.notify_all();
}

bool TkxHandedRowSource::Take() const {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!consuming_.empty() || readingRows_ > 0) {
    // The batch read through goes back to the producer.
    spare_.push_back(std::move(consuming_));
    consuming_.clear();
    readingRows_ = reading_ = 0;
  }
  changed_.wait(lock, [&] { return abandoned_ || !handed_.empty() || ended_; });
  if (abandoned_) throw std::runtime_error("the rows stopped coming before the last");
  if (handed_.empty()) return false;
  consuming_ = std::move(handed_.front().first);
  readingRows_ = handed_.front().second;
  reading_ = 0;
  handed_.pop_front();
  lock.unlock();
  changed_.notify_all();
  return true;
}

bool TkxHandedRowSource::AtEnd(int) const {
  while (reading_ == readingRows_)
    if (!Take()) return true;
  return false;
}

void TkxHandedRowSource::ReadRow(TkxValues& values) {
  if (AtEnd(0)) {
    values.assign(columns_.size(), std::string());
    return;
  }
  std::vector<std::string>& row = consuming_[reading_++];
  values.resize(row.size());
  // Swapped, not copied: the batch's texts take the room of the values'
  // old ones, and so both are used again.
  for (std::size_t i = 0; i < row.size(); ++i) std::swap(values[i], row[i]);
}
