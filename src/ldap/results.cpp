#include "ldap/results.h"

namespace {
bool NameIsBinary(std::string_view name) {
  constexpr std::string_view kOption = ";binary";
  if (name.size() < kOption.size()) return false;
  for (std::size_t i = 0; i + kOption.size() <= name.size(); ++i) {
    std::size_t j = 0;
    while (j < kOption.size()) {
      char c = name[i + j];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (c != kOption[j]) break;
      ++j;
    }
    if (j == kOption.size()) return true;
  }
  return false;
}
}  // namespace

// --- TLDAPResult ---

TLDAPResult::TLDAPResult() : index_(1, 0) {}

std::string_view TLDAPResult::ObjectName() const {
  return std::string_view(data_).substr(0, index_[0]);
}

void TLDAPResult::SetObjectName(std::string_view dn) {
  if (attr_count_ == 0) {
    data_.assign(dn);
    index_[0] = static_cast<uint32_t>(data_.size());
    return;
  }
  Repack(dn, Unpack());
}

void TLDAPResult::Reserve(std::size_t bytes) {
  data_.reserve(data_.size() + bytes);
}

void TLDAPResult::ShrinkToFit() {
  data_.shrink_to_fit();
  index_.shrink_to_fit();
}

uint32_t TLDAPResult::RecordEnd(std::size_t pos) const {
  const uint32_t count = ValueCount(pos);
  return count ? index_[pos + 1 + count] : index_[pos];
}

TLDAPResult::Slot TLDAPResult::Locate(int k) const {
  if (k == attr_count_ - 1) return Slot{last_pos_, last_begin_};
  Slot slot{1, index_[0]};
  for (int j = 0; j < k; ++j) {
    slot.name_begin = RecordEnd(slot.pos);
    slot.pos += 2 + ValueCount(slot.pos);
  }
  return slot;
}

std::vector<TLDAPResult::Unpacked> TLDAPResult::Unpack() const {
  std::vector<Unpacked> attrs(static_cast<std::size_t>(attr_count_));
  Slot slot{1, index_[0]};
  for (auto& a : attrs) {
    const uint32_t name_end = index_[slot.pos];
    a.name = data_.substr(slot.name_begin, name_end - slot.name_begin);
    uint32_t begin = name_end;
    const uint32_t count = ValueCount(slot.pos);
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t end = index_[slot.pos + 2 + i];
      a.values.push_back(data_.substr(begin, end - begin));
      begin = end;
    }
    slot.name_begin = RecordEnd(slot.pos);
    slot.pos += 2 + count;
  }
  return attrs;
}

void TLDAPResult::Repack(std::string_view dn, const std::vector<Unpacked>& attrs) {
  std::string data(dn);
  std::vector<uint32_t> index{static_cast<uint32_t>(data.size())};
  last_pos_ = 0;
  last_begin_ = 0;
  for (const auto& a : attrs) {
    last_pos_ = static_cast<uint32_t>(index.size());
    last_begin_ = static_cast<uint32_t>(data.size());
    data += a.name;
    index.push_back(static_cast<uint32_t>(data.size()));
    index.push_back(static_cast<uint32_t>(a.values.size()) |
                    (NameIsBinary(a.name) ? kBinaryFlag : 0u));
    for (const auto& v : a.values) {
      data += v;
      index.push_back(static_cast<uint32_t>(data.size()));
    }
  }
  data_ = std::move(data);
  index_ = std::move(index);
  attr_count_ = static_cast<int>(attrs.size());
}

// --- TLDAPAttributeList ---

int TLDAPAttributeList::Count() const {
  return owner_ ? owner_->attr_count_ : 0;
}

TLDAPAttribute TLDAPAttributeList::Items(int index) const {
  if (!owner_ || index < 0 || index >= owner_->attr_count_) return TLDAPAttribute();
  return TLDAPAttribute(owner_, index);
}

TLDAPAttribute TLDAPAttributeList::Add() {
  if (!owner_) return TLDAPAttribute();
  TLDAPResult& r = *owner_;
  r.last_pos_ = static_cast<uint32_t>(r.index_.size());
  r.last_begin_ = static_cast<uint32_t>(r.data_.size());
  r.index_.push_back(static_cast<uint32_t>(r.data_.size()));
  r.index_.push_back(0);
  return TLDAPAttribute(owner_, r.attr_count_++);
}

void TLDAPAttributeList::Clear() {
  if (!owner_) return;
  TLDAPResult& r = *owner_;
  r.data_.resize(r.index_[0]);
  r.index_.resize(1);
  r.attr_count_ = 0;
}

// --- TLDAPAttribute ---

std::string_view TLDAPAttribute::AttributeName() const {
  if (!owner_) return {};
  const auto slot = owner_->Locate(index_);
  return std::string_view(owner_->data_)
      .substr(slot.name_begin, owner_->index_[slot.pos] - slot.name_begin);
}

void TLDAPAttribute::SetAttributeName(std::string_view name) {
  if (!owner_) return;
  TLDAPResult& r = *owner_;
  const auto slot = r.Locate(index_);
  if (r.IsLast(index_) && r.ValueCount(slot.pos) == 0) {
    r.data_.resize(slot.name_begin);
    r.data_ += name;
    r.index_[slot.pos] = static_cast<uint32_t>(r.data_.size());
    r.index_[slot.pos + 1] = NameIsBinary(name) ? TLDAPResult::kBinaryFlag : 0u;
    return;
  }
  auto attrs = r.Unpack();
  attrs[static_cast<std::size_t>(index_)].name = std::string(name);
  const std::string dn(r.ObjectName());
  r.Repack(dn, attrs);
}

bool TLDAPAttribute::IsBinary() const {
  if (!owner_) return false;
  return (owner_->index_[owner_->Locate(index_).pos + 1] & TLDAPResult::kBinaryFlag) != 0;
}

int TLDAPAttribute::Count() const {
  if (!owner_) return 0;
  return static_cast<int>(owner_->ValueCount(owner_->Locate(index_).pos));
}

std::string_view TLDAPAttribute::Value(int i) const {
  if (!owner_ || i < 0) return {};
  const TLDAPResult& r = *owner_;
  const auto slot = r.Locate(index_);
  if (static_cast<uint32_t>(i) >= r.ValueCount(slot.pos)) return {};
  const std::size_t at = slot.pos + 2 + static_cast<std::size_t>(i);
  const uint32_t begin = i == 0 ? r.index_[slot.pos] : r.index_[at - 1];
  return std::string_view(r.data_).substr(begin, r.index_[at] - begin);
}

void TLDAPAttribute::SetStrings(int i, std::string_view value) {
  if (!owner_ || i < 0 || i >= Count()) return;
  TLDAPResult& r = *owner_;
  auto attrs = r.Unpack();
  attrs[static_cast<std::size_t>(index_)].values[static_cast<std::size_t>(i)] = std::string(value);
  const std::string dn(r.ObjectName());
  r.Repack(dn, attrs);
}

int TLDAPAttribute::Add(std::string_view value) {
  if (!owner_) return -1;
  TLDAPResult& r = *owner_;
  const auto slot = r.Locate(index_);
  const uint32_t count = r.ValueCount(slot.pos);
  if (r.IsLast(index_)) {
    r.data_ += value;
    r.index_.push_back(static_cast<uint32_t>(r.data_.size()));
    ++r.index_[slot.pos + 1];
    return static_cast<int>(count);
  }
  auto attrs = r.Unpack();
  attrs[static_cast<std::size_t>(index_)].values.emplace_back(value);
  const std::string dn(r.ObjectName());
  r.Repack(dn, attrs);
  return static_cast<int>(count);
}

// --- TLDAPResultList ---

TLDAPResult* TLDAPResultList::Items(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return items_[static_cast<std::size_t>(index)].get();
}

TLDAPResult* TLDAPResultList::Add() {
  items_.push_back(std::make_unique<TLDAPResult>());
  return items_.back().get();
}

void TLDAPResultList::Clear() {
  while (!items_.empty()) items_.pop_back();
  items_.shrink_to_fit();
}
