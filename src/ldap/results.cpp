#include "ldap/results.h"

#include <atomic>
#include <cstring>

namespace {
// Counted relaxed: only the total matters, read once a search has ended or
// from the thread that runs it.
std::atomic<long> alive{0};

bool NameIsBinary(std::string_view name) {
  constexpr std::string_view kOption = ";binary";
  if (name.size() < kOption.size() || name.find(';') == std::string_view::npos) return false;
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

bool quorvel::EqualsNoCaseAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// --- TLDAPResult ---

TLDAPResult::TLDAPResult() {
  alive.fetch_add(1, std::memory_order_relaxed);
}

TLDAPResult::~TLDAPResult() {
  alive.fetch_sub(1, std::memory_order_relaxed);
}

long TLDAPResult::Alive() {
  return alive.load(std::memory_order_relaxed);
}

void TLDAPResult::SetIndex(std::size_t i, uint32_t value) {
  std::memcpy(data_.data() + i * sizeof value, &value, sizeof value);
}

std::string_view TLDAPResult::ObjectName() const {
  if (index_words_ == 0) return {};
  return Bytes().substr(0, Index(0));
}

void TLDAPResult::SetObjectName(std::string_view dn) {
  Repack(dn, Unpack());
}

TLDAPResult::Slot TLDAPResult::Locate(int k) const {
  Slot slot{1, Index(0)};
  for (int j = 0; j < k; ++j) {
    slot.name_begin = RecordEnd(slot.pos);
    slot.pos += 2 + ValueCount(slot.pos);
  }
  return slot;
}

std::vector<TLDAPResult::Unpacked> TLDAPResult::Unpack() const {
  std::vector<Unpacked> attrs(static_cast<std::size_t>(attr_count_));
  if (attrs.empty()) return attrs;
  const std::string_view bytes = Bytes();
  Slot slot{1, Index(0)};
  for (auto& a : attrs) {
    const uint32_t name_end = Index(slot.pos);
    a.name = bytes.substr(slot.name_begin, name_end - slot.name_begin);
    uint32_t begin = name_end;
    const uint32_t count = ValueCount(slot.pos);
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t end = Index(slot.pos + 2 + i);
      a.values.emplace_back(bytes.substr(begin, end - begin));
      begin = end;
    }
    slot.name_begin = RecordEnd(slot.pos);
    slot.pos += 2 + count;
  }
  return attrs;
}

void TLDAPResult::Repack(std::string_view dn, const std::vector<Unpacked>& attrs) {
  std::size_t values = 0, octets = dn.size();
  for (const auto& a : attrs) {
    values += a.values.size();
    octets += a.name.size();
    for (const auto& v : a.values) octets += v.size();
  }
  const std::string keep(dn);  // dn may point into the buffer being replaced
  quorvel::TResultBuilder build(*this, keep, attrs.size(), values, octets);
  for (const auto& a : attrs) {
    build.Attribute(a.name);
    for (const auto& v : a.values) build.Value(v);
  }
}

// --- TResultBuilder ---

namespace quorvel {

TResultBuilder::TResultBuilder(TLDAPResult& entry, std::string_view dn, std::size_t attributes,
                               std::size_t values, std::size_t octets)
    : entry_(entry) {
  const std::size_t words = 1 + 2 * attributes + values;
  std::string data(words * sizeof(uint32_t) + octets, '\0');
  entry_.data_ = std::move(data);
  entry_.index_words_ = static_cast<uint32_t>(words);
  entry_.attr_count_ = 0;
  Put(dn.substr(0, octets));
  entry_.SetIndex(0, static_cast<uint32_t>(octet_));
}

bool TResultBuilder::Room(std::size_t words, std::size_t octets) const {
  return word_ + words <= entry_.index_words_ &&
         octets <= entry_.data_.size() - entry_.index_words_ * sizeof(uint32_t) - octet_;
}

void TResultBuilder::Put(std::string_view octets) {
  if (octets.empty()) return;
  std::memcpy(entry_.data_.data() + entry_.index_words_ * sizeof(uint32_t) + octet_, octets.data(),
              octets.size());
  octet_ += octets.size();
}

void TResultBuilder::Attribute(std::string_view name) {
  if (!Room(2, name.size())) return;
  Put(name);
  entry_.SetIndex(word_, static_cast<uint32_t>(octet_));
  count_pos_ = word_ + 1;
  entry_.SetIndex(count_pos_, NameIsBinary(name) ? TLDAPResult::kBinaryFlag : 0u);
  word_ += 2;
  ++entry_.attr_count_;
}

void TResultBuilder::Value(std::string_view value) {
  if (count_pos_ == 0 || !Room(1, value.size())) return;
  Put(value);
  entry_.SetIndex(word_++, static_cast<uint32_t>(octet_));
  entry_.SetIndex(count_pos_, entry_.Index(count_pos_) + 1);
}

}  // namespace quorvel

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
  auto attrs = r.Unpack();
  attrs.emplace_back();
  r.Repack(r.ObjectName(), attrs);
  return TLDAPAttribute(owner_, r.attr_count_ - 1);
}

void TLDAPAttributeList::Clear() {
  if (!owner_) return;
  owner_->Repack(owner_->ObjectName(), {});
}

// --- TLDAPAttribute ---

std::string_view TLDAPAttribute::AttributeName() const {
  if (!owner_) return {};
  const auto slot = owner_->Locate(index_);
  return owner_->Bytes().substr(slot.name_begin, owner_->Index(slot.pos) - slot.name_begin);
}

void TLDAPAttribute::SetAttributeName(std::string_view name) {
  if (!owner_) return;
  TLDAPResult& r = *owner_;
  auto attrs = r.Unpack();
  attrs[static_cast<std::size_t>(index_)].name = std::string(name);
  r.Repack(r.ObjectName(), attrs);
}

bool TLDAPAttribute::IsBinary() const {
  if (!owner_) return false;
  return (owner_->Index(owner_->Locate(index_).pos + 1) & TLDAPResult::kBinaryFlag) != 0;
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
  const uint32_t begin = i == 0 ? r.Index(slot.pos) : r.Index(at - 1);
  return r.Bytes().substr(begin, r.Index(at) - begin);
}

void TLDAPAttribute::SetStrings(int i, std::string_view value) {
  if (!owner_ || i < 0 || i >= Count()) return;
  TLDAPResult& r = *owner_;
  auto attrs = r.Unpack();
  attrs[static_cast<std::size_t>(index_)].values[static_cast<std::size_t>(i)] = std::string(value);
  r.Repack(r.ObjectName(), attrs);
}

int TLDAPAttribute::Add(std::string_view value) {
  if (!owner_) return -1;
  TLDAPResult& r = *owner_;
  auto attrs = r.Unpack();
  auto& values = attrs[static_cast<std::size_t>(index_)].values;
  values.emplace_back(value);
  r.Repack(r.ObjectName(), attrs);
  return static_cast<int>(values.size()) - 1;
}

void TLDAPAttribute::RenameAndAppend(std::string_view name,
                                     const std::vector<std::string>& values) {
  if (!owner_) return;
  TLDAPResult& r = *owner_;
  auto attrs = r.Unpack();
  auto& a = attrs[static_cast<std::size_t>(index_)];
  a.name = std::string(name);
  a.values.insert(a.values.end(), values.begin(), values.end());
  r.Repack(r.ObjectName(), attrs);
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

TLDAPResult* TLDAPResultList::Adopt(std::unique_ptr<TLDAPResult> entry) {
  if (!entry) return nullptr;
  items_.push_back(std::move(entry));
  return items_.back().get();
}

void TLDAPResultList::Clear() {
  while (!items_.empty()) items_.pop_back();
  items_.shrink_to_fit();
}
