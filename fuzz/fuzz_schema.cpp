// Parses arbitrary text as a schema: each line an attribute type description,
// or an object class description when it starts with "C". Every look-up must
// end (SUP cycles, classes that are their own superclasses) without a fault.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ldap/schema.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> types, classes;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.front() == 'C')
      classes.emplace_back(line.substr(1));
    else
      types.emplace_back(line);
    start = end + 1;
  }
  const quorvel::TSchema schema = quorvel::TSchema::Parse(types, classes);
  for (const quorvel::TAttributeType& t : schema.AttributeTypes()) {
    (void)schema.Syntax(t);
    if (schema.FindAttribute(t.oid) == nullptr) __builtin_trap();
    (void)schema.Complete(t.Name().substr(0, 2));
    (void)schema.Nearest(t.Name() + "x");
  }
  for (const quorvel::TObjectClass& c : schema.ObjectClasses()) (void)schema.ClassAttributes(c.oid);
  return 0;
}
