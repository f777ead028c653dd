#include "common/scripted_directory.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>

#include "ldap/ber.h"
#include "ldap/pagingcodec.h"

namespace quorvel::test {

namespace {

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// Decodes what the directory needs of a request.
ScriptedDirectory::Request Decode(const std::string& m) {
  ScriptedDirectory::Request r;
  std::size_t at = 0;
  int tag = 0;
  ReadItemView(m, at, tag);  // the envelope: descend
  r.id = std::atoi(ReadItem(m, at, tag).c_str());
  const std::string_view op = ReadItemView(m, at, tag);
  r.tag = tag;
  if (tag & 0x20) at += op.size();
  if (at + 2 <= m.size()) {
    r.controls = m.substr(at);
    std::string cookie;
    // The controls as a done message would carry them: the same decoder.
    if (DecodePagedResultsCookie(r.controls, cookie)) {
      r.paged = true;
      r.cookie = cookie;
      // [0] { SEQUENCE { oid, criticality?, value } }: the page size is the
      // INTEGER that opens the value.
      std::size_t c = 0;
      int t = 0;
      ReadItemView(r.controls, c, t);
      ReadItemView(r.controls, c, t);
      ReadItem(r.controls, c, t);
      std::string value = ReadItem(r.controls, c, t);
      if (t == ASN1_BOOL) value = ReadItem(r.controls, c, t);
      std::size_t v = 0;
      ReadItemView(value, v, t);
      r.pageSize = std::atoi(ReadItem(value, v, t).c_str());
    }
  }
  if (r.tag == 0x50) r.abandoned = DecodeSignedContent(op);
  if (r.tag != 0x63) return r;
  std::size_t c = 0;
  r.base = ReadItem(op, c, tag);
  r.scope = std::atoi(ReadItem(op, c, tag).c_str());
  for (int i = 0; i < 4; ++i) ReadItem(op, c, tag);  // aliases, limits, types only
  const std::string_view filter = ReadItemView(op, c, tag);
  if (tag & 0x20) c += filter.size();
  const std::string_view names = ReadItemView(op, c, tag);
  std::size_t n = 0;
  while (n + 2 <= names.size()) r.attributes.push_back(ReadItem(names, n, tag));
  return r;
}

}  // namespace

std::vector<std::string> Members(int n) {
  std::vector<std::string> m;
  for (int i = 0; i < n; ++i) m.push_back("uid=m" + std::to_string(i) + ",o=x");
  return m;
}

std::string LdapMessage(int id, const std::string& operation, const std::string& controls) {
  return EncodeObject(EncodeObject(EncodeInteger(id), ASN1_INT) + operation + controls, ASN1_SEQ);
}

std::string LdapResult(int tag, int code, const std::string& text) {
  return EncodeObject(
      EncodeObject(EncodeInteger(code), ASN1_ENUM) + EncodeObject("", 4) + EncodeObject(text, 4),
      tag);
}

void ScriptedDirectory::Add(std::string dn, std::vector<Attribute> attributes) {
  entries_.push_back({std::move(dn), std::move(attributes)});
}

void ScriptedDirectory::ServeOn(FakeServer& srv) {
  srv.Serve(
      [this](const std::string& request, std::string& reply) { return Answer(request, reply); });
}

std::vector<ScriptedDirectory::Request> ScriptedDirectory::Requests() const {
  std::lock_guard<std::mutex> lock(mu_);
  return requests_;
}

std::string ScriptedDirectory::EntryMessage(int id, const Entry& e,
                                            const std::vector<std::string>& wanted,
                                            bool& failed_range) {
  std::string attrs;
  auto put = [&](const std::string& name, const std::vector<std::string>& values, std::size_t lo,
                 std::size_t hi) {
    std::string set;
    for (std::size_t i = lo; i < hi && i < values.size(); ++i) set += EncodeObject(values[i], 4);
    attrs += EncodeObject(EncodeObject(name, 4) + EncodeObject(set, ASN1_SETOF), ASN1_SEQ);
  };
  const std::size_t max = MaxValues > 0 ? static_cast<std::size_t>(MaxValues) : SIZE_MAX;
  auto ranged = [&](const std::string& name, std::size_t lo, std::size_t count) {
    return name + ";" + RangeOption + "=" + std::to_string(lo) + "-" +
           (lo + max >= count ? std::string("*") : std::to_string(lo + max - 1));
  };
  bool followUp = false;
  for (const auto& [name, values] : e.attributes) {
    bool all = wanted.empty();
    std::optional<TValueRange> asked;
    for (const auto& w : wanted) {
      if (w == "*" || Lower(w) == Lower(name)) all = true;
      auto r = ParseValueRange(w);
      if (r && Lower(r->Name) == Lower(name)) asked = r;
    }
    if (asked) {
      if (FailRangeRequest == rangeRequests_++) failed_range = true;
      followUp = true;
      const std::size_t lo = static_cast<std::size_t>(asked->Low);
      if (EndlessRanges || OneValueRanges) {
        const std::string n = std::to_string(lo);
        const std::vector<std::string> one = {"uid=v" + n + ",o=x"};
        put(name + ";" + RangeOption + "=" + n + "-" + n, one, 0, OneValueRanges ? 1 : 0);
        continue;
      }
      put(ranged(name, lo, values.size()), values, lo, lo + max);
    } else if (all) {
      if (values.size() > max)
        put(ranged(name, 0, values.size()), values, 0, max);
      else
        put(name, values, 0, values.size());
    }
  }
  const std::string& dn = followUp && !RangeAnswerDn.empty() ? RangeAnswerDn : e.dn;
  return LdapMessage(id, EncodeObject(EncodeObject(dn, 4) + EncodeObject(attrs, ASN1_SEQ), 0x64));
}

bool ScriptedDirectory::Answer(const std::string& message, std::string& reply) {
  const Request r = Decode(message);
  {
    std::lock_guard<std::mutex> lock(mu_);
    requests_.push_back(r);
  }
  if (r.tag == 0x60) {
    reply = LdapMessage(r.id, LdapResult(0x61, 0));
    return true;
  }
  if (r.tag != 0x63) return true;  // unbind and the rest: no answer
  const std::string done_tag_ok = LdapResult(0x65, 0);
  const bool stall = searches_++ == StallSearch;
  // Sends the first StallAfter entries of a stalled search's reply, then nothing.
  auto stalled = [&](std::string& out) {
    std::size_t at = 0;
    for (int i = 0; i < StallAfter && at < out.size(); ++i) {
      std::size_t item = 0;
      int tag = 0;
      const std::string_view message = ReadItemView(std::string_view(out).substr(at), item, tag);
      at += item + message.size();  // the envelope's header, then its content
    }
    out.resize(std::min(at, out.size()));
    return true;
  };
  if (r.base.empty() && r.scope == 0) {
    std::vector<std::string> controls = {"1.3.6.1.1.12"};
    if (ListsPaging) controls.push_back(kPagedResultsOid);
    std::string set;
    for (const auto& c : controls) set += EncodeObject(c, 4);
    const std::string attr =
        EncodeObject(EncodeObject("supportedControl", 4) + EncodeObject(set, ASN1_SETOF), ASN1_SEQ);
    reply =
        LdapMessage(r.id, EncodeObject(EncodeObject("", 4) + EncodeObject(attr, ASN1_SEQ), 0x64));
    reply += LdapMessage(r.id, done_tag_ok);
    return stall ? stalled(reply) : true;
  }
  std::vector<const Entry*> found;
  for (const auto& e : entries_) {
    if (r.scope == 0 ? Lower(e.dn) == Lower(r.base)
                     : (r.base.empty() || EndsWith(Lower(e.dn), Lower(r.base))))
      found.push_back(&e);
  }
  if (r.paged) {
    if (RefusePagingWith != 0) {
      reply = LdapMessage(r.id, LdapResult(0x65, RefusePagingWith));
      return true;
    }
    if (r.pageSize == 0) {  // the client lets go of the paged search
      reply = LdapMessage(r.id, done_tag_ok, EncodePagedResultsControl(0, ""));
      return true;
    }
    const int page = pages_++;
    std::size_t from = 0;
    if (Paging == pfOneCookieMoving) {
      from = moving_;
    } else if (Paging == pfNone && !r.cookie.empty()) {
      from = std::strtoul(r.cookie.c_str(), nullptr, 10);
    }
    std::size_t to = std::min(found.size(), from + static_cast<std::size_t>(r.pageSize));
    if (Paging == pfEmptyPages) to = from;
    bool fault = page == FailPage;
    const std::size_t end = fault ? from + (to - from) / 2 : to;
    bool failed_range = false;
    for (std::size_t i = from; i < end; ++i)
      reply += EntryMessage(r.id, *found[i], r.attributes, failed_range);
    if (fault) {
      if (FailPageWith == 0) return false;
      reply += LdapMessage(r.id, LdapResult(0x65, FailPageWith, "page failed"));
      return true;
    }
    std::string cookie = to < found.size() ? std::to_string(to) : std::string();
    switch (Paging) {
      case pfConstantCookie:
        cookie = "c";
        break;
      case pfEmptyPages:
        cookie = "e" + std::to_string(page);
        break;
      case pfAlternating:
        cookie = page % 2 ? "B" : "A";
        break;
      case pfOneCookieMoving:
        moving_ = to;
        if (!cookie.empty()) cookie = "0";
        break;
      case pfNone:
        break;
    }
    // The done message carries the control back: same shape as a request's.
    reply += LdapMessage(r.id, done_tag_ok, EncodePagedResultsControl(0, cookie));
    return stall ? stalled(reply) : true;
  }
  const std::size_t limit = SizeLimit > 0 ? static_cast<std::size_t>(SizeLimit) : SIZE_MAX;
  bool failed_range = false;
  for (std::size_t i = 0; i < found.size() && i < limit; ++i)
    reply += EntryMessage(r.id, *found[i], r.attributes, failed_range);
  if (failed_range) {
    if (FailRangeWith == 0) {
      reply.clear();
      return false;
    }
    reply = LdapMessage(r.id, LdapResult(0x65, FailRangeWith, "range failed"));
    return true;
  }
  reply += LdapMessage(r.id, found.size() > limit ? LdapResult(0x65, 4) : done_tag_ok);
  return stall ? stalled(reply) : true;
}

}  // namespace quorvel::test
