// Row building for the export and property tables.
#include <gtest/gtest.h>

#include "ldap/results.h"
#include "store/connect.h"
#include "store/rows.h"

using namespace quorvel;

namespace {
void AddAttribute(TLDAPResult& r, std::string_view name, std::vector<std::string> values) {
  TLDAPAttribute a = r.Attributes().Add();
  a.SetAttributeName(name);
  for (const auto& v : values) a.Add(v);
}
}  // namespace

TEST(LdapRows, ExportRowMatchingAndCells) {
  TLDAPResult r;
  r.SetObjectName("cn=Ann,o=Org");
  AddAttribute(r, "cn", {"Ann"});
  AddAttribute(r, "ou", {"Sales", "Staff"});
  AddAttribute(r, "givenName", {"  Ann\t"});
  AddAttribute(r, "description", {"6\" pipe", "\"Quoted\""});
  AddAttribute(r, "jpegPhoto;binary", {std::string("\xFF\xD8\xFF ", 4)});
  AddAttribute(r, "seeAlso", {});
  AddAttribute(r, "mail", {"first@x"});
  AddAttribute(r, " MAIL ", {"last@x"});

  EXPECT_EQ(BuildExportRow(r, "cn;ou"),
            (std::vector<std::string>{"cn=Ann,o=Org", "Ann", "[Sales][Staff]"}));
  // Names match ignoring case and blanks; the last match wins; values are
  // trimmed and keep their double quotes; binary values are Base64 of the raw
  // octets, untrimmed.
  EXPECT_EQ(BuildExportRow(r, "givenname; mail;description;jpegPhoto;BINARY;seeAlso;absent"),
            (std::vector<std::string>{"cn=Ann,o=Org", "Ann", "last@x", "[6\" pipe][\"Quoted\"]", "",
                                      "", "", ""}));
  EXPECT_EQ(RequestedCellText(r, "jpegphoto;binary"), "/9j/IA==");
  EXPECT_EQ(BuildExportRow(r, "").size(), 2u);

  TLDAPResult bare;
  bare.SetObjectName("o=x");
  EXPECT_EQ(BuildExportRow(bare, "cn;mail"), (std::vector<std::string>{"o=x", "", ""}));
}

TEST(LdapRows, AttributeListsSplitAndTrim) {
  EXPECT_EQ(SplitAttributeList("cn; mail ;"), (std::vector<std::string>{"cn", " mail ", ""}));
  EXPECT_EQ(SplitAttributeList(""), (std::vector<std::string>{""}));
  // What is sent to the server: every piece, trimmed.
  EXPECT_EQ(RequestedAttributeNames("cn; mail ;;*;+"),
            (std::vector<std::string>{"cn", "mail", "", "*", "+"}));
  EXPECT_EQ(RequestedAttributeNames(""), (std::vector<std::string>{""}));
  EXPECT_EQ(TrimControl("\x01 a b\r\n"), "a b");
}

TEST(LdapRows, PropertyRows) {
  TLDAPResult r;
  r.SetObjectName("uid=t");
  AddAttribute(r, "mail", {" a@x ", "b@x"});
  AddAttribute(r, "userCertificate;binary", {std::string("\x20\x30\x82\x20", 4)});
  const auto rows = BuildPropertyRows(r);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].Icon, "0");
  EXPECT_EQ(rows[0].Name, "mail");
  EXPECT_EQ(rows[0].Value, "a@x");
  EXPECT_EQ(rows[0].Type, "TEXT");
  EXPECT_EQ(rows[0].Size, "5");
  EXPECT_EQ(rows[1].Name, "mail");
  EXPECT_EQ(rows[1].Value, "b@x");
  // Binary: Base64 of every octet (blank bytes at the ends are data too), and
  // the size of the raw octets.
  EXPECT_EQ(rows[2].Value, EncodeBase64(std::string("\x20\x30\x82\x20", 4)));
  EXPECT_EQ(DecodeBase64(rows[2].Value), std::string("\x20\x30\x82\x20", 4));
  EXPECT_EQ(rows[2].Type, "BINARY");
  EXPECT_EQ(rows[2].Size, "4");
}
