#include "store/schemacheck.h"

#include <set>

#include "ldap/filter.h"
#include "store/connect.h"

namespace quorvel {
namespace {

bool IsSelector(const std::string& name) {
  return name.empty() || name == "*" || name == "+" || name == "1.1" || name.front() == '@';
}

}  // namespace

std::vector<std::string> UnknownNames(const TSchema& schema,
                                      const std::vector<std::string>& names) {
  std::vector<std::string> out;
  std::set<std::string> seen;
  for (const std::string& n : names) {
    if (IsSelector(n) || schema.FindAttribute(n)) continue;
    if (seen.insert(LowerAscii(n)).second) out.push_back(n);
  }
  return out;
}

std::string UnknownNameText(const TSchema& schema, const std::string& name,
                            const std::string& serverName) {
  const std::string nearest = schema.Nearest(name);
  std::string text = name + ": not in the schema of " + serverName;
  return nearest.empty() ? text + "." : text + "; did you mean " + nearest + "?";
}

std::string FilterFinding(const std::string& filter) {
  const auto problem = CheckFilter(filter);
  return problem ? "Filter: " + FilterProblemText(*problem) : std::string();
}

std::vector<std::string> ProfileFindings(const TSchema& schema, const std::string& serverName,
                                         const std::string& filter, const std::string& att) {
  std::vector<std::string> out;
  std::vector<std::string> filterNames;
  if (auto problem = CheckFilter(filter, &filterNames))
    out.push_back("Filter: " + FilterProblemText(*problem));
  std::vector<std::string> names = RequestedAttributeNames(att);
  names.insert(names.end(), filterNames.begin(), filterNames.end());
  for (const std::string& n : UnknownNames(schema, names))
    out.push_back(UnknownNameText(schema, n, serverName));
  return out;
}

}  // namespace quorvel
