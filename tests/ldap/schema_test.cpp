// Schema descriptions, the schema's look-ups and the filter checker.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ldap/filter.h"
#include "ldap/schema.h"

using quorvel::TAttributeType;
using quorvel::TObjectClass;
using quorvel::TSchema;

namespace {

// The descriptions of a slapd schema file: each "attributetype" or
// "objectclass" statement with its continuation lines, keyword removed.
void ReadSchemaFile(const std::string& path, std::vector<std::string>& types,
                    std::vector<std::string>& classes) {
  std::ifstream in(path);
  std::string line, current;
  std::vector<std::string>* target = nullptr;
  auto flush = [&] {
    if (target && !current.empty()) target->push_back(current);
    current.clear();
    target = nullptr;
  };
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') {
      flush();
      continue;
    }
    if (line[0] == ' ' || line[0] == '\t') {
      current += " " + line;
      continue;
    }
    flush();
    const std::size_t blank = line.find_first_of(" \t");
    const std::string keyword = line.substr(0, blank);
    if (keyword == "attributetype") target = &types;
    if (keyword == "objectclass") target = &classes;
    if (target) current = line.substr(blank + 1);
  }
  flush();
}

TSchema SmallSchema() {
  return TSchema::Parse(
      {"( 2.5.4.41 NAME 'name' DESC 'RFC4519: common supertype of name attributes' EQUALITY "
       "caseIgnoreMatch SUBSTR caseIgnoreSubstringsMatch SYNTAX "
       "1.3.6.1.4.1.1466.115.121.1.15{32768} )",
       "( 2.5.4.3 NAME ( 'cn' 'commonName' ) DESC 'RFC4519: common name(s) for which the entity "
       "is known by' SUP name )",
       "( 2.5.4.4 NAME ( 'sn' 'surname' ) SUP name )",
       "( 2.5.4.42 NAME ( 'givenName' 'gn' ) SUP name )",
       "( 0.9.2342.19200300.100.1.3 NAME ( 'mail' 'rfc822Mailbox' ) EQUALITY caseIgnoreIA5Match "
       "SYNTAX 1.3.6.1.4.1.1466.115.121.1.26{256} )",
       "( 2.5.4.0 NAME 'objectClass' SYNTAX 1.3.6.1.4.1.1466.115.121.1.38 )",
       "( 1.2.840.113556.1.4.221 NAME 'sAMAccountName' SYNTAX '1.3.6.1.4.1.1466.115.121.1.15' "
       "SINGLE-VALUE )",
       "( 9.9.1 NAME 'loopA' SUP loopB )", "( 9.9.2 NAME 'loopB' SUP loopA )", "not a description"},
      {"( 2.5.6.0 NAME 'top' ABSTRACT MUST objectClass )",
       "( 2.5.6.6 NAME 'person' DESC 'RFC2256: a person' SUP top STRUCTURAL MUST ( sn $ cn ) MAY "
       "( userPassword $ mail ) )",
       "( 9.9.3 NAME 'employee' SUP person STRUCTURAL MUST cn MAY (givenName$gn$mail) )",
       "( 9.9.4 NAME 'selfish' SUP selfish MAY sn )"});
}

}  // namespace

TEST(Schema, ParsesDescriptions) {
  struct Case {
    const char* text;
    bool ok;
    const char* oid;
    std::vector<std::string> names;
    const char* desc;
    const char* sup;
    const char* syntax;
    bool single;
  };
  const std::vector<Case> cases = {
      {"( 2.5.4.3 NAME ( 'cn' 'commonName' ) DESC 'x' SUP name )",
       true,
       "2.5.4.3",
       {"cn", "commonName"},
       "x",
       "name",
       "",
       false},
      // No blanks at the parentheses, a length, an unknown extension with a list.
      {"(1.2.3 NAME 'a' SYNTAX 1.3.6.1.4.1.1466.115.121.1.15{64} X-ORIGIN ('RFC 1' 'b') "
       "SINGLE-VALUE)",
       true,
       "1.2.3",
       {"a"},
       "",
       "",
       "1.3.6.1.4.1.1466.115.121.1.15",
       true},
      // A quoted syntax; escapes in the description; keywords in any case.
      {"( 1.2.4 name 'b' desc 'it\\27s a \\5C' syntax '1.3.6.1.4.1.1466.115.121.1.40' )",
       true,
       "1.2.4",
       {"b"},
       "it's a \\",
       "",
       "1.3.6.1.4.1.1466.115.121.1.40",
       false},
      {"( 1.2.5 NAME 'c' X-FLAGLESS SINGLE-VALUE )", true, "1.2.5", {"c"}, "", "", "", true},
      {"", false, "", {}, "", "", "", false},
      {"( 1.2.6 NAME 'unterminated )", false, "", {}, "", "", "", false},
      {"( 1.2.7 NAME ( 'a' ( 'b' ) ) )", false, "", {}, "", "", "", false},
      {"( 1.2.8 NAME 'a' ) trailing", false, "", {}, "", "", "", false},
      {"( 1.2.9 NAME 'a'", false, "", {}, "", "", "", false},
      {"1.2.10 NAME 'a' )", false, "", {}, "", "", "", false},
  };
  for (const Case& c : cases) {
    TAttributeType t;
    ASSERT_EQ(quorvel::ParseAttributeType(c.text, t), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(t.oid, c.oid) << c.text;
    EXPECT_EQ(t.names, c.names) << c.text;
    EXPECT_EQ(t.desc, c.desc) << c.text;
    EXPECT_EQ(t.sup, c.sup) << c.text;
    EXPECT_EQ(t.syntax, c.syntax) << c.text;
    EXPECT_EQ(t.singleValue, c.single) << c.text;
  }

  TObjectClass oc;
  ASSERT_TRUE(quorvel::ParseObjectClass(
      "( 2.5.6.7 NAME 'organizationalPerson' SUP person STRUCTURAL MAY ( title $ x121Address$ "
      "ou ) )",
      oc));
  EXPECT_EQ(oc.sup, std::vector<std::string>({"person"}));
  EXPECT_EQ(oc.kind, "STRUCTURAL");
  EXPECT_EQ(oc.may, std::vector<std::string>({"title", "x121Address", "ou"}));
}

TEST(Schema, LookUps) {
  const TSchema s = SmallSchema();
  ASSERT_EQ(s.AttributeTypes().size(), 9u);  // the line that is no description is left out

  // Names, aliases and OIDs, case-blind.
  ASSERT_NE(s.FindAttribute("COMMONNAME"), nullptr);
  EXPECT_EQ(s.FindAttribute("commonName")->Name(), "cn");
  EXPECT_EQ(s.FindAttribute("2.5.4.3")->Name(), "cn");
  EXPECT_EQ(s.FindAttribute("mial"), nullptr);

  // Syntax of its own, through SUP, and none for a SUP cycle.
  EXPECT_EQ(s.Syntax(*s.FindAttribute("cn")), "1.3.6.1.4.1.1466.115.121.1.15");
  EXPECT_EQ(s.Syntax(*s.FindAttribute("mail")), "1.3.6.1.4.1.1466.115.121.1.26");
  EXPECT_EQ(s.Syntax(*s.FindAttribute("loopA")), "");

  // Completion: prefix without regard to case, aliases included, sorted case-blind.
  EXPECT_EQ(s.Complete("C"), std::vector<std::string>({"cn", "commonName"}));
  EXPECT_EQ(s.Complete("g"), std::vector<std::string>({"givenName", "gn"}));
  EXPECT_EQ(s.Complete("SAM"), std::vector<std::string>({"sAMAccountName"}));
  EXPECT_TRUE(s.Complete("zz").empty());
  EXPECT_EQ(s.Complete("").size(), 13u);

  // Near names: a swap, a missing letter; nothing for a name far from all.
  EXPECT_EQ(s.Nearest("mial"), "mail");
  EXPECT_EQ(s.Nearest("givnName"), "givenName");
  EXPECT_EQ(s.Nearest("SURNAM"), "surname");
  EXPECT_EQ(s.Nearest("department"), "");

  // Class attributes with superclasses; a class that is its own superclass ends.
  const quorvel::TClassAttributes e = s.ClassAttributes("EMPLOYEE");
  EXPECT_EQ(e.must, std::vector<std::string>({"cn", "sn", "objectClass"}));
  EXPECT_EQ(e.may, std::vector<std::string>({"givenName", "mail", "userPassword"}));
  EXPECT_EQ(s.ClassAttributes("selfish").may, std::vector<std::string>({"sn"}));
  EXPECT_TRUE(s.ClassAttributes("nothing").must.empty());
  EXPECT_EQ(s.ClassNames(), std::vector<std::string>({"employee", "person", "selfish", "top"}));
}

TEST(Schema, ReadsTheDomainValuesSchemaFile) {
  std::vector<std::string> types, classes;
  ReadSchemaFile(std::string(QUORVEL_SOURCE_DIR) + "/scripts/ad-values.schema", types, classes);
  ASSERT_EQ(types.size(), 31u);
  const TSchema s = TSchema::Parse(types, classes);
  ASSERT_EQ(s.AttributeTypes().size(), 31u);
  const TAttributeType* sid = s.FindAttribute("objectsid");
  ASSERT_NE(sid, nullptr);
  EXPECT_TRUE(sid->singleValue);
  EXPECT_EQ(s.Syntax(*sid), "1.3.6.1.4.1.1466.115.121.1.40");
  EXPECT_FALSE(s.FindAttribute("sIDHistory")->singleValue);
  EXPECT_EQ(s.ClassAttributes("quorvelDomainAccount").may.size(), 31u);
  EXPECT_EQ(s.Nearest("samaccountnme"), "sAMAccountName");
}

TEST(FilterCheck, AcceptsWhatTheTranslationReadsAlike) {
  const char* const good[] = {
      "(objectClass=*)",
      "(&(objectclass=person)(|(cn=J*)(sn=J*)))",
      "cn=x",
      "  (cn=x)  ",
      "(& (cn=a) (sn=b))",
      "(!(cn=x))",
      "(cn=Smith \\28Admin\\29)",
      "(cn=a**b)",
      "(cn;lang-en=x)",
      "(2.5.4.3=x)",
      "(age>=30)",
      "(age<=30)",
      "(cn~=smyth)",
      "(cn:dn:=Fred)",
      "(cn:=x)",
      "(userAccountControl:1.2.840.113556.1.4.803:=2)",
      "(:dn:2.5.13.5:=x)",
      "(cn=)",
      "(cn=a=b)",
      "(cn=Jérôme)",
  };
  for (const char* f : good) {
    EXPECT_EQ(quorvel::CheckFilter(f), std::nullopt) << f;
    EXPECT_FALSE(EncodeFilter(f).empty()) << f;
  }
  std::vector<std::string> names;
  EXPECT_EQ(quorvel::CheckFilter("(&(cn;lang-de=a)(|(mail=*)(CN=b))(x:dn:1.2.3:=c))", &names),
            std::nullopt);
  EXPECT_EQ(names, std::vector<std::string>({"cn", "mail", "CN", "x"}));
}

TEST(FilterCheck, SaysWhereAndWhy) {
  struct Case {
    const char* filter;
    std::size_t position;
    const char* reason;  // the start of the reason
  };
  const std::vector<Case> cases = {
      {"(cn=Smith (Admin))", 11, "unescaped \"(\" in a value"},
      {"(cn=Jérôme (x))", 12, "unescaped \"(\""},  // characters, not octets
      {"", 1, "the filter is empty"},
      {"()", 2, "empty parentheses"},
      {"(=x)", 2, "no attribute name"},
      {"(cn)", 4, "no \"=\""},
      {"(cn=x", 6, "missing \")\" for the \"(\" at position 1"},
      {"(&(cn=a)(sn=b)", 15, "missing \")\""},
      {"(&)", 3, "\"&\" needs at least one filter"},
      {"(|cn=a)", 3, "the parts of \"|\""},
      {"(!)", 3, "\"!\" needs one filter"},
      {"(!(a=b)(c=d))", 8, "\"!\" takes only one filter"},
      {"(cn=a)(sn=b)", 7, "text after the end of the filter"},
      {"(cn=a))", 7, "text after the end"},
      {"(cn=a\\)", 6, "\"\\\" must be followed by two hexadecimal digits"},
      {"(cn=a\\zz)", 6, "\"\\\" must be followed"},
      {"(age>30)", 5, "\">\" must be followed by \"=\""},
      {"(age>=3*)", 8, "\"*\" is only for substrings"},
      {"(c n=x)", 3, "unexpected \" \""},
      {"(_cn=x)", 2, "an attribute name starts with"},
      {"(cn;=x)", 5, "empty attribute option"},
      {"(1..2=x)", 4, "unexpected \".\""},
      {"(cn:foo:bar:=x)", 9, "more than one matching rule"},
      {"(:=x)", 2, "an extensible match needs"},
      {"(cn:x)", 6, "an extensible match is written"},
      {"cn=a)", 5, "unescaped \")\""},
  };
  for (const Case& c : cases) {
    const auto p = quorvel::CheckFilter(c.filter);
    ASSERT_TRUE(p.has_value()) << c.filter;
    EXPECT_EQ(p->position, c.position) << c.filter << ": " << p->reason;
    EXPECT_EQ(p->reason.rfind(c.reason, 0), 0u) << c.filter << ": " << p->reason;
  }
  // Deep nesting ends with a problem, as the translation gives up there.
  std::string deep;
  for (int i = 0; i < 300; ++i) deep += "(!";
  deep += "(cn=x)";
  for (int i = 0; i < 300; ++i) deep += ")";
  const auto p = quorvel::CheckFilter(deep);
  ASSERT_TRUE(p.has_value());
  EXPECT_EQ(p->reason, "the filter is nested too deeply");
  EXPECT_EQ(quorvel::FilterProblemText({11, "unescaped"}), "Position 11: unescaped");
}
