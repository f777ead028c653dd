#include "ldap/valueranges.h"

namespace quorvel {

bool HasRangedValues(const TLDAPResult& entry) {
  bool ranged = false;
  entry.ForEachAttribute([&](const TLDAPAttributeView& a) {
    // A description without options (most) names no range.
    const std::string_view name = a.AttributeName();
    if (!ranged && name.find(';') != std::string_view::npos && ParseValueRange(name)) ranged = true;
  });
  return ranged;
}

}  // namespace quorvel
