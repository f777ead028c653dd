// The in-memory form of what a search returns: a list of entries, each with its
// DN and its attributes, each attribute with its name and values.
//
//   TLDAPResultList  owns its TLDAPResult objects (Items() gives stable pointers).
//   TLDAPResult      one entry: ObjectName() and Attributes().
//   TLDAPAttributeList, TLDAPAttribute
//                    light handles onto the attributes stored inside their entry.
//                    A handle is valid while its entry lives; it is "none" (tests
//                    false) when Items() was asked for an index out of range.
//                    Both also work with "->" so that Items(i)->Count() reads
//                    like the pointer it stands for. A handle finds its
//                    attribute by counting through the ones before it.
//   TLDAPAttributeView what TLDAPResult::ForEachAttribute shows of each
//                    attribute in turn: the same answers, each read at once;
//                    the way to read many attributes of many entries.
//
// Order is the order of arrival; nothing is sorted, merged or de-duplicated.
// Values are octet strings stored exactly as the server sent them, also for
// attributes flagged IsBinary (callers encode those as Base64 for display).
//
// An entry keeps its DN, attribute names, values and their offsets in one
// buffer, so a search of many entries costs little more memory than the data
// itself. The search builds each entry in one go (quorvel::TResultBuilder);
// every change through the list and attribute operations rebuilds the entry's
// buffer, which is fine for the few changes callers make. string_views handed
// out stay valid until that entry is changed.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class TLDAPResult;
namespace quorvel {
class TResultBuilder;

// Attribute descriptions and their options compare without regard to ASCII
// letter case ("supportedControl" and "SUPPORTEDCONTROL" name one attribute).
bool EqualsNoCaseAscii(std::string_view a, std::string_view b);
}  // namespace quorvel

// One attribute: its description as received (cn, userCertificate;binary, ...)
// and its values.
class TLDAPAttribute {
 public:
  TLDAPAttribute() = default;  // none
  explicit operator bool() const { return owner_ != nullptr; }
  TLDAPAttribute* operator->() { return this; }
  const TLDAPAttribute* operator->() const { return this; }

  std::string_view AttributeName() const;
  void SetAttributeName(std::string_view name);
  // True when the name, with its ASCII letters lower-cased, contains ";binary".
  bool IsBinary() const;
  // Number of values.
  int Count() const;
  // Value i as stored; empty when i is out of range.
  std::string_view Value(int i) const;
  std::string Strings(int i) const { return std::string(Value(i)); }
  // Replaces value i (ignored when out of range).
  void SetStrings(int i, std::string_view value);
  // Appends a value and returns its index.
  int Add(std::string_view value);
  // Renames the attribute and appends values, rebuilding the entry once (the
  // values of a description read in ranges join the first ones).
  void RenameAndAppend(std::string_view name, const std::vector<std::string>& values);

 private:
  friend class TLDAPAttributeList;
  TLDAPAttribute(TLDAPResult* owner, int index) : owner_(owner), index_(index) {}
  TLDAPResult* owner_ = nullptr;
  int index_ = 0;
};

// A look at one attribute met in a walk of its entry (TLDAPResult::
// ForEachAttribute): the answers of a TLDAPAttribute handle, each read straight
// from the entry's index rather than found by counting through the attributes
// before it. Valid while its entry lives unchanged.
class TLDAPAttributeView {
 public:
  int Index() const { return index_; }  // position within the entry, from 0
  std::string_view AttributeName() const;
  bool IsBinary() const;
  int Count() const;
  // Value i as stored; empty when i is out of range.
  std::string_view Value(int i) const;

 private:
  friend class TLDAPResult;
  const TLDAPResult* owner_ = nullptr;
  std::size_t pos_ = 0;      // index word of the attribute's record
  uint32_t name_begin_ = 0;  // where its name starts
  int index_ = 0;
};

// The attributes of one entry.
class TLDAPAttributeList {
 public:
  explicit operator bool() const { return owner_ != nullptr; }
  TLDAPAttributeList* operator->() { return this; }
  const TLDAPAttributeList* operator->() const { return this; }

  int Count() const;
  // The attribute at a zero-based index; none when the index is negative or at
  // or beyond Count().
  TLDAPAttribute Items(int index) const;
  TLDAPAttribute operator[](int index) const { return Items(index); }
  // Appends a new attribute with no name and no values and returns it.
  TLDAPAttribute Add();
  // Removes every attribute.
  void Clear();

 private:
  friend class TLDAPResult;
  explicit TLDAPAttributeList(TLDAPResult* owner) : owner_(owner) {}
  TLDAPResult* owner_ = nullptr;
};

// One entry.
class TLDAPResult {
 public:
  TLDAPResult();
  ~TLDAPResult();
  TLDAPResult(const TLDAPResult&) = delete;
  TLDAPResult& operator=(const TLDAPResult&) = delete;

  // Entries that exist in the process right now. A search whose entries go
  // straight to rows keeps this near 0 however many entries it reads, which
  // is how that is checked.
  static long Alive();

  // The entry's DN as received.
  std::string_view ObjectName() const;
  void SetObjectName(std::string_view dn);
  TLDAPAttributeList Attributes() { return TLDAPAttributeList(this); }
  // Read access from a const entry; do not change the entry through it.
  TLDAPAttributeList Attributes() const {
    return TLDAPAttributeList(const_cast<TLDAPResult*>(this));
  }
  // Calls visit(const TLDAPAttributeView&) for every attribute in order; the
  // walk costs one step per attribute. Do not change the entry meanwhile.
  template <typename Visit>
  void ForEachAttribute(Visit&& visit) const {
    TLDAPAttributeView view;
    view.owner_ = this;
    view.pos_ = 1;
    view.name_begin_ = attr_count_ > 0 ? Index(0) : 0;
    for (view.index_ = 0; view.index_ < attr_count_; ++view.index_) {
      visit(static_cast<const TLDAPAttributeView&>(view));
      view.name_begin_ = RecordEnd(view.pos_);
      view.pos_ += 2 + ValueCount(view.pos_);
    }
  }

 private:
  friend class TLDAPAttribute;
  friend class TLDAPAttributeView;
  friend class TLDAPAttributeList;
  friend class quorvel::TResultBuilder;

  // Position in the index of attribute k's record, and where its name starts.
  struct Slot {
    std::size_t pos;
    uint32_t name_begin;
  };
  Slot Locate(int k) const;
  uint32_t Index(std::size_t i) const {
    uint32_t v;
    std::memcpy(&v, data_.data() + i * sizeof v, sizeof v);
    return v;
  }
  void SetIndex(std::size_t i, uint32_t value);
  std::string_view Bytes() const {
    return std::string_view(data_).substr(index_words_ * sizeof(uint32_t));
  }
  // End of the record's octets.
  uint32_t RecordEnd(std::size_t pos) const {
    const uint32_t count = ValueCount(pos);
    return count ? Index(pos + 1 + count) : Index(pos);
  }
  uint32_t ValueCount(std::size_t pos) const { return Index(pos + 1) & kCountMask; }

  struct Unpacked {
    std::string name;
    std::vector<std::string> values;
  };
  std::vector<Unpacked> Unpack() const;
  void Repack(std::string_view dn, const std::vector<Unpacked>& attrs);

  static constexpr uint32_t kBinaryFlag = 0x80000000u;
  static constexpr uint32_t kCountMask = 0x7FFFFFFFu;

  // One buffer: first the index as index_words_ 32-bit words, then the octets
  // (the DN, then per attribute its name followed by its values).
  // Index: [end of DN], then per attribute [end of name, flags | value count,
  // end of each value ...]; ends are offsets into the octets.
  std::string data_;
  uint32_t index_words_ = 0;
  int attr_count_ = 0;
};

inline std::string_view TLDAPAttributeView::AttributeName() const {
  return owner_->Bytes().substr(name_begin_, owner_->Index(pos_) - name_begin_);
}

inline bool TLDAPAttributeView::IsBinary() const {
  return (owner_->Index(pos_ + 1) & TLDAPResult::kBinaryFlag) != 0;
}

inline int TLDAPAttributeView::Count() const {
  return static_cast<int>(owner_->ValueCount(pos_));
}

inline std::string_view TLDAPAttributeView::Value(int i) const {
  if (i < 0 || static_cast<uint32_t>(i) >= owner_->ValueCount(pos_)) return {};
  const std::size_t at = pos_ + 2 + static_cast<std::size_t>(i);
  const uint32_t begin = i == 0 ? owner_->Index(pos_) : owner_->Index(at - 1);
  return owner_->Bytes().substr(begin, owner_->Index(at) - begin);
}

namespace quorvel {
// Builds an entry in one go when the totals are known beforehand (the search
// measures each entry first): one allocation, no copy of octets but the one
// into the entry. Give exactly the announced numbers of attributes and values
// and octets (DN, names and values together), in order.
class TResultBuilder {
 public:
  TResultBuilder(TLDAPResult& entry, std::string_view dn, std::size_t attributes,
                 std::size_t values, std::size_t octets);
  void Attribute(std::string_view name);
  void Value(std::string_view value);

 private:
  bool Room(std::size_t words, std::size_t octets) const;
  void Put(std::string_view octets);
  TLDAPResult& entry_;
  std::size_t word_ = 1;       // next index word
  std::size_t octet_ = 0;      // next octet in the octet region
  std::size_t count_pos_ = 0;  // index word holding the current attribute's count
};
}  // namespace quorvel

// The entries of one search, in the order received. Owns its entries.
class TLDAPResultList {
 public:
  TLDAPResultList() = default;
  ~TLDAPResultList() { Clear(); }
  TLDAPResultList(const TLDAPResultList&) = delete;
  TLDAPResultList& operator=(const TLDAPResultList&) = delete;

  int Count() const { return static_cast<int>(items_.size()); }
  // The entry at a zero-based index; nullptr when the index is negative or at or
  // beyond Count().
  TLDAPResult* Items(int index) const;
  TLDAPResult* operator[](int index) const { return Items(index); }
  // Appends a new empty entry and returns it.
  TLDAPResult* Add();
  // Appends an entry made elsewhere (ignored when null) and returns it.
  TLDAPResult* Adopt(std::unique_ptr<TLDAPResult> entry);
  // Destroys every entry, from the last to the first.
  void Clear();
  // Exchanges the entries of the two lists.
  void Swap(TLDAPResultList& other) noexcept { items_.swap(other.items_); }

 private:
  std::vector<std::unique_ptr<TLDAPResult>> items_;
};
