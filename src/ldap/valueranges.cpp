// Follow-up searches for attributes sent in ranges (see ldap/valueranges.h).
#include "ldap/valueranges.h"

#include <vector>

#include "ldap/results.h"

namespace quorvel {

class TValueRanges {
 public:
  static bool Run(TLDAPSend& s, TLDAPResultList& entries, TRangeFailure* failure) {
    const int32_t code = s.FResultCode;
    const std::string text = s.FResultString;
    const std::vector<std::string> referrals = s.FReferals;
    for (int i = 0; i < entries.Count(); ++i) {
      TLDAPResult& entry = *entries.Items(i);
      const TLDAPAttributeList attrs = entry.Attributes();
      for (int k = 0; k < attrs.Count(); ++k) {
        TLDAPAttribute attr = attrs.Items(k);
        const std::optional<TValueRange> range = ParseValueRange(attr.AttributeName());
        if (!range) continue;
        std::vector<std::string> rest;
        if (!range->ToEnd && !ReadRest(s, std::string(entry.ObjectName()), *range, rest)) {
          if (failure) {
            failure->DN = std::string(entry.ObjectName());
            failure->Attribute = range->Name;
          }
          return false;
        }
        attr.RenameAndAppend(range->Name, rest);
      }
    }
    s.FResultCode = code;
    s.FResultString = text;
    s.FReferals = referrals;
    return true;
  }

 private:
  // Appends the values after `first` to `out`, one follow-up search per part.
  static bool ReadRest(TLDAPSend& s, const std::string& dn, const TValueRange& first,
                       std::vector<std::string>& out) {
    uint64_t next = first.High + 1;
    for (;;) {
      const std::string op =
          s.SearchOperation(SS_BaseObject, dn, false, "(objectClass=*)",
                            {first.Name + ";range=" + std::to_string(next) + "-*"});
      TLDAPResultList answer;
      if (!s.ExchangeSearch(op, {}, answer, false, nullptr)) return false;
      if (answer.Count() == 0) return Fail(s, kRangeEntryMissing);
      const TLDAPAttributeList attrs = answer.Items(0)->Attributes();
      std::optional<TValueRange> got;
      TLDAPAttribute values;
      for (int k = 0; k < attrs.Count() && !got; ++k) {
        got = ParseValueRange(attrs.Items(k).AttributeName());
        if (got && EqualsNoCaseAscii(got->Name, first.Name)) {
          values = attrs.Items(k);
        } else {
          got.reset();
        }
      }
      if (!got) return true;  // no further values
      if (got->Low != next) return Fail(s, kRangeNotAdvancing);
      for (int v = 0; v < values.Count(); ++v) out.emplace_back(values.Value(v));
      if (got->ToEnd) return true;
      next = got->High + 1;
    }
  }

  static bool Fail(TLDAPSend& s, const char* text) {
    s.FResultCode = -1;
    s.FResultString = text;
    return false;
  }
};

bool ReadRangedValues(TLDAPSend& session, TLDAPResultList& entries, TRangeFailure* failure) {
  return TValueRanges::Run(session, entries, failure);
}

bool HasRangedValues(const TLDAPResult& entry) {
  const TLDAPAttributeList attrs = entry.Attributes();
  for (int k = 0; k < attrs.Count(); ++k)
    if (ParseValueRange(attrs.Items(k).AttributeName())) return true;
  return false;
}

}  // namespace quorvel
