#include "ldap/valueranges.h"

namespace quorvel {

bool HasRangedValues(const TLDAPResult& entry) {
  const TLDAPAttributeList attrs = entry.Attributes();
  for (int k = 0; k < attrs.Count(); ++k)
    if (ParseValueRange(attrs.Items(k).AttributeName())) return true;
  return false;
}

}  // namespace quorvel
