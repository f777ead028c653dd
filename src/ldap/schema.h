// A directory's schema as its subschema subentry publishes it: the attribute
// type and object class descriptions of RFC 4512 (values of attributeTypes
// and objectClasses), parsed, with the look-ups the profile checks need.
//
// The descriptions come from the server and are untrusted: the parser reads
// any octets without reading past them, never throws, and gives false for a
// description it cannot use (the schema then leaves that one out). It is
// lenient where directories differ from the grammar: OIDs in quotes (one
// widespread directory writes SYNTAX '1.3.6...'), no blank before ")" or
// around "$", unknown keywords (X-ORIGIN, ...) skipped with their value, a
// length suffix ({32768}) cut from the syntax. Only \27 (') and \5C (\) are
// decoded in quoted strings, as the grammar defines.
//
// Names and OIDs compare without regard to ASCII letter case. Look-ups that
// follow SUP (a type's syntax, a class's superclasses) stop at a cycle and at
// kMaxSupDepth steps, so a hostile schema cannot make them loop.
//
// Typical use:
//   TSchema schema = TSchema::Parse(attributeTypeValues, objectClassValues);
//   if (const TAttributeType* t = schema.FindAttribute("commonName"))
//     ... t->names[0] ("cn"), schema.Syntax(*t), t->singleValue ...
//   schema.Complete("given");   // {"givenName"}
//   schema.Nearest("mial");     // "mail"
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

struct TAttributeType {
  std::string oid;
  std::vector<std::string> names;  // NAME, in the order given (may be empty)
  std::string desc;
  std::string sup;     // the supertype's name or OID, empty when none
  std::string syntax;  // its own SYNTAX OID without a length, empty when none
  bool singleValue = false;
  bool obsolete = false;
  // The first name, or the OID for a type without one.
  const std::string& Name() const { return names.empty() ? oid : names.front(); }
};

struct TObjectClass {
  std::string oid;
  std::vector<std::string> names;
  std::string desc;
  std::vector<std::string> sup;  // superclasses
  std::string kind;              // "ABSTRACT", "STRUCTURAL", "AUXILIARY" or empty
  std::vector<std::string> must, may;
  bool obsolete = false;
  const std::string& Name() const { return names.empty() ? oid : names.front(); }
};

// One description; false (and `out` unspecified) when it is not one.
bool ParseAttributeType(std::string_view text, TAttributeType& out);
bool ParseObjectClass(std::string_view text, TObjectClass& out);

// The attributes an object class allows, its superclasses' included, as the
// first names of their types (or as written when the schema lacks the type),
// each once, in the order met: the class's own first, then each superclass's.
struct TClassAttributes {
  std::vector<std::string> must, may;
};

class TSchema {
 public:
  static constexpr int kMaxSupDepth = 64;

  // Descriptions that do not parse are left out; the first of two types or
  // classes claiming one name keeps it.
  static TSchema Parse(const std::vector<std::string>& attributeTypes,
                       const std::vector<std::string>& objectClasses);

  bool Empty() const { return types_.empty(); }
  const std::vector<TAttributeType>& AttributeTypes() const { return types_; }
  const std::vector<TObjectClass>& ObjectClasses() const { return classes_; }

  // By any of its names or its OID, case-blind; nullptr when unknown.
  const TAttributeType* FindAttribute(std::string_view nameOrOid) const;
  const TObjectClass* FindClass(std::string_view nameOrOid) const;
  // The type's SYNTAX, or the first one met going up its SUP chain; empty
  // when none is found.
  std::string Syntax(const TAttributeType& type) const;
  // Every attribute type name (aliases included) that starts with prefix,
  // case-blind, sorted case-blind. An empty prefix gives every name.
  std::vector<std::string> Complete(std::string_view prefix) const;
  // The known name (any alias) closest to name by edits (insert, delete,
  // replace, swap of two neighbours; case-blind), when it is close enough to
  // be a likely misspelling; empty otherwise. Ties go to the first name in
  // case-blind order.
  std::string Nearest(std::string_view name) const;
  TClassAttributes ClassAttributes(std::string_view cls) const;
  // The class names, first names only, sorted case-blind.
  std::vector<std::string> ClassNames() const;

 private:
  std::vector<TAttributeType> types_;
  std::vector<TObjectClass> classes_;
  std::map<std::string, std::size_t> typeIndex_, classIndex_;  // lower-cased names and OIDs
};

// ASCII lower case (names and OIDs are ASCII; other octets stay).
std::string LowerAscii(std::string_view text);
// a < b without regard to ASCII case, then by octets.
bool LessNoCase(std::string_view a, std::string_view b);

}  // namespace quorvel
