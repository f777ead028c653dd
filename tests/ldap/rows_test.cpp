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

// A profile of many columns (more than are found without an allocation),
// with names asked for twice: every column gets the attribute its name
// selects, in the row and in the exact values alike.
TEST(LdapRows, ManyColumnsEachGetTheirAttribute) {
  TLDAPResult r;
  r.SetObjectName("cn=many,o=x");
  std::string att;
  std::vector<std::string> cells{"cn=many,o=x"};
  for (int i = 0; i < 20; ++i) {
    const std::string name = "attr" + std::to_string(i);
    AddAttribute(r, i % 2 ? name : " ATTR" + std::to_string(i), {"v" + std::to_string(i)});
    att += (i ? ";" : "") + name;
    cells.push_back("v" + std::to_string(i));
  }
  AddAttribute(r, "attr3", {"a", "b"});  // the last match wins
  cells[4] = "[a][b]";
  att += ";attr3;absent;attr0";
  cells.insert(cells.end(), {"[a][b]", "", "v0"});

  const std::vector<TRequestedColumn> columns = RequestedColumns(att, false);
  EXPECT_EQ(BuildExportRow(r, columns), cells);
  const TEntryValues values = BuildEntryValues(r, columns);
  ASSERT_EQ(values.Columns.size(), columns.size() + 1);
  EXPECT_EQ(values.DN, "cn=many,o=x");
  for (std::size_t c = 0; c < columns.size(); ++c) {
    const TLDAPAttribute a = FindRequestedAttribute(r, columns[c].name);
    const TEntryAttribute& got = values.Columns[c + 1];
    EXPECT_EQ(got.Name, a ? std::string(a.AttributeName()) : std::string()) << c;
    ASSERT_EQ(got.Values.size(), static_cast<std::size_t>(a ? a.Count() : 0)) << c;
    for (std::size_t i = 0; i < got.Values.size(); ++i)
      EXPECT_EQ(got.Values[i], a.Value(static_cast<int>(i))) << c;
  }
  EXPECT_EQ(values.Columns[4].Values, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(values.Columns[1].Name, " ATTR0");

  // Row and packed values in one walk: the same row, and values that
  // unpack to the same names and bytes, a name as asked for left out.
  std::vector<std::string> names{"oid"};
  for (const TRequestedColumn& c : columns) names.push_back(c.name);
  std::vector<std::string> row;
  std::string packed, separately;
  BuildExportRowAndValues(r, columns, names, row, packed);
  EXPECT_EQ(row, cells);
  PackEntryValues(values, separately, &names);
  EXPECT_EQ(packed, separately);
  TEntryValues unpacked;
  ASSERT_TRUE(UnpackEntryValues(packed, columns.size() + 1, unpacked, &names));
  EXPECT_EQ(unpacked.DN, values.DN);
  for (std::size_t c = 1; c < values.Columns.size(); ++c) {
    EXPECT_EQ(unpacked.Columns[c].Name, values.Columns[c].Name) << c;
    EXPECT_EQ(unpacked.Columns[c].Values, values.Columns[c].Values) << c;
  }
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

// A value that is not text is binary whatever its attribute is called: Base64
// of all its octets in the export cell and the property row; text values as
// before. With readable values, the forms of ldap/valueforms.h, each value of
// a multi-valued attribute on its own; what a form does not fit stays as it
// would be without them.
TEST(LdapRows, BinaryValuesAndReadableForms) {
  const std::string guid = DecodeBase64("Hrz/HqNKnU+lCNTYHx9Ycw==");
  const std::string nul("a\0b", 3);
  TLDAPResult r;
  r.SetObjectName("cn=Administrator,o=x");
  AddAttribute(r, "description", {" text ", nul, "caf\xE9", " \x01\x02 "});
  AddAttribute(r, "objectGUID", {guid});
  AddAttribute(r, "sIDHistory",
               {std::string("\x01\x01\x00\x00\x00\x00\x00\x05\x12\x00\x00\x00", 12),
                std::string("\x01\x02\x00\x00", 4)});
  AddAttribute(r, "pwdLastSet", {"134412250436290510"});
  AddAttribute(r, "accountExpires", {"9223372036854775807"});
  AddAttribute(r, "WhenCreated", {"20261208173723.0Z"});
  AddAttribute(r, "whenChanged", {"yesterday"});

  const std::string att =
      "description;objectGUID;sIDHistory;pwdLastSet;accountExpires;"
      "whenCreated;whenChanged";
  const std::string description = "[text][" + EncodeBase64(nul) + "][" + EncodeBase64("caf\xE9") +
                                  "][" + EncodeBase64(" \x01\x02 ") + "]";
  EXPECT_EQ(
      BuildExportRow(r, att, false),
      (std::vector<std::string>{
          "cn=Administrator,o=x", description, "Hrz/HqNKnU+lCNTYHx9Ycw==",
          "[" + EncodeBase64(std::string("\x01\x01\x00\x00\x00\x00\x00\x05\x12\x00\x00\x00", 12)) +
              "][AQIAAA==]",
          "134412250436290510", "9223372036854775807", "20261208173723.0Z", "yesterday"}));
  EXPECT_EQ(BuildExportRow(r, att, true),
            (std::vector<std::string>{"cn=Administrator,o=x", description,
                                      "1effbc1e-4aa3-4f9d-a508-d4d81f1f5873",
                                      "[S-1-5-18][AQIAAA==]", "2026-12-08 17:37:23",
                                      "9223372036854775807", "2026-12-08 17:37:23", "yesterday"}));
  EXPECT_EQ(RequestedCellText(r, " OBJECTGUID ", true), "1effbc1e-4aa3-4f9d-a508-d4d81f1f5873");

  // Properties: the type follows the value, the size stays the raw one.
  const auto raw = BuildPropertyRows(r, false);
  const auto readable = BuildPropertyRows(r, true);
  ASSERT_EQ(raw.size(), 11u);
  ASSERT_EQ(readable.size(), 11u);
  EXPECT_EQ(raw[0].Type, "TEXT");
  EXPECT_EQ(raw[1].Value, EncodeBase64(nul));
  EXPECT_EQ(raw[1].Type, "BINARY");
  EXPECT_EQ(raw[1].Size, "3");
  EXPECT_EQ(raw[4].Value, "Hrz/HqNKnU+lCNTYHx9Ycw==");
  EXPECT_EQ(readable[4].Value, "1effbc1e-4aa3-4f9d-a508-d4d81f1f5873");
  EXPECT_EQ(readable[4].Type, "BINARY");
  EXPECT_EQ(readable[4].Size, "16");
  EXPECT_EQ(readable[5].Value, "S-1-5-18");
  EXPECT_EQ(readable[7].Value, "2026-12-08 17:37:23");
  EXPECT_EQ(readable[7].Type, "TEXT");
  EXPECT_EQ(readable[7].Size, "18");
  EXPECT_EQ(readable[9].Value, "2026-12-08 17:37:23");
}
