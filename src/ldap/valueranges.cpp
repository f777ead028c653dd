#include "ldap/valueranges.h"

namespace quorvel {

bool HasRangedValues(const TLDAPResult& entry) {
  bool ranged = false;
  entry.ForEachAttribute([&](const TLDAPAttributeView& a) {
    if (!ranged && ParseValueRange(a.AttributeName())) ranged = true;
  });
  return ranged;
}

}  // namespace quorvel
