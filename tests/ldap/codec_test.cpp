// BER codec, filter translation, response decoding and the result model.
#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "hex.h"
#include "ldap/base64.h"
#include "ldap/ber.h"
#include "ldap/filter.h"
#include "ldap/response.h"
#include "ldap/results.h"
#include "ldap/session.h"

using quorvel::test::Hex;
using quorvel::test::ToHex;

TEST(LdapBer, EncodeLengthAndInteger) {
  const std::vector<std::pair<int32_t, const char*>> lengths = {{0, "00"},
                                                                {127, "7F"},
                                                                {128, "81 80"},
                                                                {255, "81 FF"},
                                                                {256, "82 01 00"},
                                                                {65536, "83 01 00 00"},
                                                                {INT32_MAX, "84 7F FF FF FF"}};
  for (const auto& [n, hex] : lengths) EXPECT_EQ(ToHex(EncodeLength(n)), hex) << n;

  const std::vector<std::pair<int32_t, const char*>> ints = {{0, "00"},
                                                             {3, "03"},
                                                             {127, "7F"},
                                                             {128, "00 80"},
                                                             {255, "00 FF"},
                                                             {256, "01 00"},
                                                             {60000, "00 EA 60"},
                                                             {-1, "FF FF FF FF"},
                                                             {-129, "FF FF FF 7F"},
                                                             {INT32_MIN, "80 00 00 00"}};
  for (const auto& [v, hex] : ints) EXPECT_EQ(ToHex(EncodeInteger(v)), hex) << v;

  EXPECT_EQ(ToHex(EncodeObject("cn", 0x04)), "04 02 63 6E");
  EXPECT_EQ(EncodeObject(std::string(300, 'x'), 0x04).substr(0, 4), Hex("04 82 01 2C"));
}

TEST(LdapBer, DecodeLengthNeverReadsPastTheBuffer) {
  struct Case {
    const char* hex;
    int32_t length;
    std::size_t cursor;
  } cases[] = {
      {"84 00 00 01 00", 256, 5},
      {"80", 0, 1},
      {"7F", 127, 1},
      {"82 01", -1, 2},              // long form cut short: cursor at the end
      {"85 00 00 00 00 05", 5, 6},   // leading zero octets are fine
      {"85 01 00 00 00 00", -1, 6},  // does not fit 31 bits
      {"84 80 00 00 00", -1, 5},     // negative as 32 bits
      {"", -1, 0},
  };
  for (const auto& c : cases) {
    const std::string data = Hex(c.hex);
    std::size_t cursor = 0;
    EXPECT_EQ(DecodeLength(data, cursor), c.length) << c.hex;
    EXPECT_EQ(cursor, c.cursor) << c.hex;
  }
}

TEST(LdapBer, ReadItemWalksNestedItems) {
  const std::string data = Hex("30 03 02 01 05");
  std::size_t cursor = 0;
  int tag = 0;
  EXPECT_EQ(ReadItem(data, cursor, tag), Hex("02 01 05"));
  EXPECT_EQ(tag, 0x30);
  EXPECT_EQ(cursor, 2u);
  EXPECT_EQ(ReadItem(data, cursor, tag), "5");
  EXPECT_EQ(tag, 0x02);
  EXPECT_EQ(cursor, data.size());
  // Nothing left: NULL tag, cursor unchanged.
  EXPECT_EQ(ReadItem(data, cursor, tag), "");
  EXPECT_EQ(tag, 0x05);
  EXPECT_EQ(cursor, data.size());
}

TEST(LdapBer, ReadItemValuesAndFailures) {
  struct Case {
    const char* hex;
    std::string value;
    int tag;
    std::size_t cursor;
  } cases[] = {
      {"04 05 61 62", "", 0x04, 2},  // content cut short: cursor after the length
      {"02 05 01", "", 0x02, 2},     // a cut-short integer is empty, not 0
      {"0A 02 01", "", 0x0A, 2},
      {"04", "", 0x05, 0},  // no room for tag and length
      {"0A 01 20", "32", 0x0A, 3},
      {"01 01 FF", "-1", 0x01, 3},
      {"01 01 00", "0", 0x01, 3},
      {"02 02 FF FE", "-2", 0x02, 4},
      {"02 02 00 FF", "255", 0x02, 4},
      {"02 04 80 00 00 00", "-2147483648", 0x02, 6},
      {"02 05 01 00 00 00 07", "7", 0x02, 7},  // only the last four octets count
      {"02 00", "0", 0x02, 2},
      {"05 00", "", 0x05, 2},
      {"06 03 55 04 03", "2.5.4.3", 0x06, 5},
      {"40 04 0A 00 00 01", "10.0.0.1", 0x40, 6},
      {"41 04 FF FF FF FF", "-1", 0x41, 6},
      {"42 01 80", "128", 0x42, 3},
      {"44 02 61 62", "ab", 0x44, 4},
      {"80 03 61 00 62", std::string("a\0b", 3), 0x80, 5},
      {"04 84 00 00", "", 0x04, 4},  // length octets run past the end
      {"30 85 01 00 00 00 00", "", 0x30, 7},
  };
  for (const auto& c : cases) {
    const std::string data = Hex(c.hex);
    std::size_t cursor = 0;
    int tag = -7;
    const std::string value = ReadItem(data, cursor, tag);
    EXPECT_EQ(value, c.value) << c.hex;
    EXPECT_EQ(tag, c.tag) << c.hex;
    EXPECT_EQ(cursor, c.cursor) << c.hex;
  }
}

TEST(LdapBer, ObjectIdentifiers) {
  EXPECT_EQ(OidToText(Hex("55 04 03")), "2.5.4.3");
  EXPECT_EQ(OidToText(Hex("2B 06 01")), "1.3.6.1");
  EXPECT_EQ(OidToText(Hex("2B 06 01 04 01")), "1.3.6.1.4.1");
  EXPECT_EQ(OidToText(Hex("88 37 01")), "2.999.1");
  EXPECT_EQ(OidToText(Hex("27")), "0.39");
  EXPECT_EQ(OidToText(Hex("")), "");
  // A subidentifier cut short ends at the buffer's end.
  std::string data = Hex("86 F7");
  std::size_t cursor = 0;
  EXPECT_EQ(DecodeOidItem(data, cursor), (6u * 128 + 0x77) * 1);
  EXPECT_EQ(cursor, 2u);
}

TEST(LdapFilter, WorkedEncodings) {
  const std::vector<std::pair<const char*, const char*>> table = {
      {"(objectclass=*)", "87 0B 6F 62 6A 65 63 74 63 6C 61 73 73"},
      {"(cn=Jo*n)", "A4 0D 04 02 63 6E 30 07 80 02 4A 6F 82 01 6E"},
      {"(cn=*a*b*)", "A4 0C 04 02 63 6E 30 06 81 01 61 81 01 62"},
      {"(cn= a * b )", "A4 0C 04 02 63 6E 30 06 80 01 61 82 01 62"},
      {"(cn=a\\2ab)", "A3 09 04 02 63 6E 04 03 61 2A 62"},
      {"(!(cn=x))", "A2 09 A3 07 04 02 63 6E 04 01 78"},
      {"(age>=30)", "A5 09 04 03 61 67 65 04 02 33 30"},
      {"(age<=30)", "A6 09 04 03 61 67 65 04 02 33 30"},
      {"(cn~=Jon)", "A8 09 04 02 63 6E 04 03 4A 6F 6E"},
      {"(cn:dn:=Fred)", "A9 0D 82 02 63 6E 83 04 46 72 65 64 84 01 FF"},
      {"(cn:=x)", "A9 0A 82 02 63 6E 83 01 78 84 01 00"},
      {"(cn:caseExactMatch:=x)",
       "A9 1A 81 0E 63 61 73 65 45 78 61 63 74 4D 61 74 63 68 82 02 63 6E 83 01 78 84 01 00"},
      {"(:dn:2.5.13.5:=x)", "A9 10 81 08 32 2E 35 2E 31 33 2E 35 83 01 78 84 01 FF"},
      {"(&(objectclass=person)(|(cn=a)(sn=b)))",
       "A0 2B A3 15 04 0B 6F 62 6A 65 63 74 63 6C 61 73 73 04 06 70 65 72 73 6F 6E A1 12 A3 07 "
       "04 02 63 6E 04 01 61 A3 07 04 02 73 6E 04 01 62"},
      {"(cn=a**b)", "A4 0E 04 02 63 6E 30 08 80 01 61 81 00 82 01 62"},
      {"(cn=*)", "87 02 63 6E"},
      {"(cn=\\2a)", "A3 07 04 02 63 6E 04 01 2A"},
      {"(cn=ab\\)", "A3 08 04 02 63 6E 04 02 61 62"},
      {"(cn=a\\zb)", "A3 0A 04 02 63 6E 04 04 61 5C 7A 62"},
      {"(cn=a\\\r\nb)", "A3 08 04 02 63 6E 04 02 61 62"},
      {"(cn=\\c3\\BCx)", "A3 09 04 02 63 6E 04 03 C3 BC 78"},
  };
  for (const auto& [text, hex] : table) EXPECT_EQ(ToHex(EncodeFilter(text)), hex) << text;
  EXPECT_EQ(EncodeFilter("cn=x"), EncodeFilter("(cn=x)"));
}

TEST(LdapFilter, UnusableTextGivesEmptyOctetsAndAlwaysEnds) {
  for (const char* text : {"", "()", "(=x)", "(", "(cn=x", "(&)", "(|)", "(!)", "(&())", "(|())",
                           "(&(cn=a)())", "&", "!", "(&&)", "(!!)", "( )"}) {
    EXPECT_EQ(EncodeFilter(text), "") << text;
  }
  // Nesting deeper than any real filter ends instead of exhausting the stack.
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "(!";
  EXPECT_EQ(EncodeFilter(deep + "(cn=x)" + std::string(200000, ')')), "");
  for (const char* text : {"(&(!", "(|(&("}) {
    std::string wide;
    for (int i = 0; i < 300; ++i) wide += text;
    EXPECT_EQ(EncodeFilter(wide + "(cn=x)" + std::string(900, ')')), "") << text;
  }
  // Components that translate to nothing leave the others in place, also under
  // a not; stray text after a component becomes an item of its own.
  EXPECT_EQ(ToHex(EncodeFilter("(&(cn=a)(=x))")), "A0 09 A3 07 04 02 63 6E 04 01 61");
  EXPECT_EQ(ToHex(EncodeFilter("(!(=x))")), "A2 00");
  EXPECT_EQ(ToHex(EncodeFilter("(!())")), "A2 00");
  EXPECT_EQ(ToHex(EncodeFilter("(&(cn=a)x)")),
            "A0 11 A3 07 04 02 63 6E 04 01 61 A3 06 04 01 78 04 01 78");
}

TEST(LdapResults, ListsAndAttributes) {
  TLDAPResultList list;
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Items(0), nullptr);
  EXPECT_EQ(list.Items(-1), nullptr);
  TLDAPResult* r = list.Add();
  ASSERT_EQ(list.Items(0), r);
  EXPECT_EQ(list.Items(1), nullptr);
  r->SetObjectName("cn=a,o=x");
  TLDAPAttributeList attrs = r->Attributes();
  EXPECT_FALSE(attrs.Items(0));

  TLDAPAttribute cn = attrs.Add();
  cn.SetAttributeName("cn");
  cn.Add("a");
  cn.Add("b");
  TLDAPAttribute cert = attrs.Add();
  cert.SetAttributeName("userCertificate;BINARY");
  EXPECT_TRUE(cert.IsBinary());
  cert.Add(std::string("\0\x01\xFF", 3));
  TLDAPAttribute empty = attrs.Add();
  empty.SetAttributeName("description");

  ASSERT_EQ(attrs.Count(), 3);
  EXPECT_EQ(r->ObjectName(), "cn=a,o=x");
  EXPECT_EQ(attrs.Items(0)->AttributeName(), "cn");
  EXPECT_EQ(attrs.Items(0)->Count(), 2);
  EXPECT_EQ(attrs.Items(0)->Value(1), "b");
  EXPECT_EQ(attrs.Items(0)->Value(2), "");
  EXPECT_EQ(attrs.Items(1)->Strings(0), std::string("\0\x01\xFF", 3));
  EXPECT_EQ(attrs.Items(2)->Count(), 0);
  EXPECT_FALSE(attrs.Items(3));

  // Changing earlier parts keeps everything else in place.
  attrs.Items(0).Add("c");
  attrs.Items(1).SetAttributeName("cn");
  EXPECT_FALSE(attrs.Items(1).IsBinary());
  attrs.Items(0).SetStrings(0, "A");
  r->SetObjectName("cn=renamed");
  EXPECT_EQ(r->ObjectName(), "cn=renamed");
  EXPECT_EQ(attrs.Items(0).Value(0), "A");
  EXPECT_EQ(attrs.Items(0).Value(2), "c");
  EXPECT_EQ(attrs.Items(1).AttributeName(), "cn");
  EXPECT_EQ(attrs.Items(1).Value(0), std::string("\0\x01\xFF", 3));
  EXPECT_EQ(attrs.Items(2).AttributeName(), "description");
  attrs.Items(2).Add("d");
  EXPECT_EQ(attrs.Items(2).Value(0), "d");

  attrs.Clear();
  EXPECT_EQ(attrs.Count(), 0);
  EXPECT_EQ(r->ObjectName(), "cn=renamed");
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Items(0), nullptr);
}

// The walk over an entry's attributes answers as the handles do, for every
// shape of attribute, also after the entry was changed.
TEST(LdapResults, WalkAnswersAsTheHandles) {
  TLDAPResult r;
  r.SetObjectName("cn=a,o=x");
  TLDAPAttributeList attrs = r.Attributes();
  attrs.Add().SetAttributeName("");  // no name, no values
  TLDAPAttribute cn = attrs.Add();
  cn.SetAttributeName("cn");
  for (const char* v : {"a", "", "ccc"}) cn.Add(v);
  TLDAPAttribute photo = attrs.Add();
  photo.SetAttributeName("jpegPhoto;Binary");
  photo.Add(std::string("\0\xFF", 2));
  attrs.Add().SetAttributeName("description");
  const auto same = [&](const char* when) {
    int seen = 0;
    r.ForEachAttribute([&](const TLDAPAttributeView& v) {
      const TLDAPAttribute h = attrs.Items(v.Index());
      EXPECT_EQ(v.Index(), seen++) << when;
      EXPECT_EQ(v.AttributeName(), h.AttributeName()) << when << " " << v.Index();
      EXPECT_EQ(v.IsBinary(), h.IsBinary()) << when << " " << v.Index();
      ASSERT_EQ(v.Count(), h.Count()) << when << " " << v.Index();
      for (int i = -1; i <= v.Count(); ++i)
        EXPECT_EQ(v.Value(i), h.Value(i)) << when << " " << v.Index() << " value " << i;
    });
    EXPECT_EQ(seen, attrs.Count()) << when;
  };
  same("built");
  attrs.Items(1).Add("dddd");
  attrs.Items(3).Add("last");
  attrs.Items(0).SetAttributeName("sn");
  same("changed");
  attrs.Clear();
  same("cleared");
}

TEST(LdapResponse, SearchEntryAndDoneAsSent) {
  std::vector<std::string> refs;
  const std::string entry =
      Hex("30 1B 02 01 02 64 16 04 04 63 6E 3D 61 30 0E 30 0C 04 02 63 6E 31 06 04 01 61 04 01 62");
  auto r = quorvel::DecodeMessage(entry, 2, refs);
  EXPECT_EQ(r.ResponseTag, 0x64);
  EXPECT_EQ(r.ResultCode, -1);
  TLDAPResult result;
  quorvel::ParseSearchEntry(r.Rest, result);
  EXPECT_EQ(result.ObjectName(), "cn=a");
  ASSERT_EQ(result.Attributes().Count(), 1);
  EXPECT_EQ(result.Attributes()[0].AttributeName(), "cn");
  ASSERT_EQ(result.Attributes()[0].Count(), 2);
  EXPECT_EQ(result.Attributes()[0].Value(0), "a");
  EXPECT_EQ(result.Attributes()[0].Value(1), "b");

  // The wrong id is ignored.
  r = quorvel::DecodeMessage(entry, 3, refs);
  EXPECT_EQ(r.ResponseTag, -1);
  EXPECT_TRUE(r.Rest.empty());

  r = quorvel::DecodeMessage(Hex("30 0C 02 01 02 65 07 0A 01 00 04 00 04 00"), 2, refs);
  EXPECT_EQ(r.ResponseTag, 0x65);
  EXPECT_EQ(r.ResultCode, 0);
  EXPECT_EQ(r.ResultString, "Success");

  r = quorvel::DecodeMessage(Hex("30 0C 02 01 01 61 07 0A 01 31 04 00 04 00"), 1, refs);
  EXPECT_EQ(r.ResultCode, 49);
  EXPECT_EQ(r.ResultString, "Invalid credentials");
  r = quorvel::DecodeMessage(Hex("30 0F 02 01 01 61 0A 0A 01 31 04 00 04 03 42 61 64"), 1, refs);
  EXPECT_EQ(r.ResultString, "Bad");

  // Values keep their double quotes.
  const std::string quoted = std::string("\"abc\"");
  TLDAPResult q;
  quorvel::ParseSearchEntry(
      EncodeObject("cn=q", 4) +
          EncodeObject(
              EncodeObject(
                  EncodeObject("cn", 4) +
                      EncodeObject(EncodeObject(quoted, 4) + EncodeObject("\"\"\"\"", 4), 0x31),
                  0x30),
              0x30),
      q);
  EXPECT_EQ(q.Attributes()[0].Value(0), quoted);
  EXPECT_EQ(q.Attributes()[0].Value(1), "\"\"\"\"");
}

// An entry is read the same whatever its size and whatever tags its items
// carry: many values, and names and values that are not octet strings (read
// as their text).
TEST(LdapResponse, SearchEntriesOfEverySize) {
  const auto attribute = [](const std::string& name, const std::vector<std::string>& values) {
    std::string set;
    for (const auto& v : values) set += EncodeObject(v, ASN1_OCTSTR);
    return EncodeObject(EncodeObject(name, ASN1_OCTSTR) + EncodeObject(set, ASN1_SETOF), ASN1_SEQ);
  };
  for (const int count : {1, 30, 31, 32, 62, 63, 64, 65, 200}) {
    std::vector<std::string> values;
    for (int i = 0; i < count; ++i) values.push_back("v" + std::to_string(i));
    TLDAPResult e;
    quorvel::ParseSearchEntry(
        EncodeObject("cn=many", ASN1_OCTSTR) +
            EncodeObject(attribute("member", values) + attribute("cn", {"many"}), ASN1_SEQ),
        e);
    EXPECT_EQ(e.ObjectName(), "cn=many") << count;
    ASSERT_EQ(e.Attributes().Count(), 2) << count;
    const TLDAPAttribute member = e.Attributes()[0];
    ASSERT_EQ(member.Count(), count);
    for (int i = 0; i < count; ++i) EXPECT_EQ(member.Value(i), values[i]) << count;
    EXPECT_EQ(e.Attributes()[1].AttributeName(), "cn") << count;
    EXPECT_EQ(e.Attributes()[1].Value(0), "many") << count;
  }
  // A DN, a name and a value sent as INTEGERs.
  TLDAPResult odd;
  quorvel::ParseSearchEntry(
      EncodeObject(EncodeInteger(7), ASN1_INT) +
          EncodeObject(EncodeObject(EncodeObject(EncodeInteger(-2), ASN1_INT) +
                                        EncodeObject(EncodeObject("x", ASN1_OCTSTR) +
                                                         EncodeObject(EncodeInteger(300), ASN1_INT),
                                                     ASN1_SETOF),
                                    ASN1_SEQ),
                       ASN1_SEQ),
      odd);
  EXPECT_EQ(odd.ObjectName(), "7");
  ASSERT_EQ(odd.Attributes().Count(), 1);
  EXPECT_EQ(odd.Attributes()[0].AttributeName(), "-2");
  ASSERT_EQ(odd.Attributes()[0].Count(), 2);
  EXPECT_EQ(odd.Attributes()[0].Value(0), "x");
  EXPECT_EQ(odd.Attributes()[0].Value(1), "300");
}

TEST(LdapResponse, ReferralsAndOddShapes) {
  std::vector<std::string> refs;
  const std::string done = EncodeObject(
      EncodeObject(EncodeInteger(4), 2) +
          EncodeObject(
              EncodeObject(EncodeInteger(10), 0x0A) + EncodeObject("", 4) + EncodeObject("", 4) +
                  EncodeObject(EncodeObject("ldap://h1/o=x", 4) + EncodeObject("ldap://h2/o=x", 4),
                               0xA3),
              0x65),
      0x30);
  auto r = quorvel::DecodeMessage(done, 4, refs);
  EXPECT_EQ(r.ResultCode, 10);
  EXPECT_EQ(r.ResultString, "Referal");
  EXPECT_EQ(refs, (std::vector<std::string>{"ldap://h1/o=x", "ldap://h2/o=x"}));

  refs.clear();
  quorvel::ParseSearchReference(EncodeObject("ldap://a", 4) + EncodeObject("ldap://b", 4), refs);
  EXPECT_EQ(refs.size(), 2u);

  // An attribute sent with an empty value set remains, with no values; items of
  // other kinds are passed over; a set running past the end stops cleanly.
  TLDAPResult e;
  quorvel::ParseSearchEntry(Hex("04 01 78 30 0D 30 04 04 02 63 6E 02 01 05 30 04 04 01 61 31"), e);
  EXPECT_EQ(e.ObjectName(), "x");
  ASSERT_GE(e.Attributes().Count(), 1);
  EXPECT_EQ(e.Attributes()[0].AttributeName(), "cn");
  EXPECT_EQ(e.Attributes()[0].Count(), 0);

  // Garbage and truncation never fail loudly.
  for (const char* hex : {"", "30", "30 80", "30 05 02 01", "30 03 02 01 01", "31 00",
                          "30 06 02 01 01 61 01 0A", "30 07 02 01 01 61 02 0A 05"}) {
    r = quorvel::DecodeMessage(Hex(hex), 1, refs);
    EXPECT_EQ(r.ResultCode, -1) << hex;
  }
}

TEST(LdapResponse, ResultCodeTexts) {
  EXPECT_EQ(TLDAPSend::ResultCodeText(0), "Success");
  EXPECT_EQ(TLDAPSend::ResultCodeText(4), "Size limit Exceeded");
  EXPECT_EQ(TLDAPSend::ResultCodeText(13), "Confidentality required");
  EXPECT_EQ(TLDAPSend::ResultCodeText(49), "Invalid credentials");
  EXPECT_EQ(TLDAPSend::ResultCodeText(80), "Other");
  for (int code : {15, 81, -1, 35, 70}) EXPECT_EQ(TLDAPSend::ResultCodeText(code), "--unknown--");
}

TEST(LdapBase64, RoundTripsAndSkipsForeignCharacters) {
  EXPECT_EQ(quorvel::EncodeBase64(""), "");
  EXPECT_EQ(quorvel::EncodeBase64("f"), "Zg==");
  EXPECT_EQ(quorvel::EncodeBase64("fo"), "Zm8=");
  EXPECT_EQ(quorvel::EncodeBase64("foo"), "Zm9v");
  EXPECT_EQ(quorvel::EncodeBase64(Hex("FF D8 FF FB")), "/9j/+w==");
  EXPECT_EQ(quorvel::DecodeBase64("Zm9v\r\nYmE="), "fooba");
  EXPECT_EQ(quorvel::DecodeBase64("Zm9vYg"), "foob");
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  EXPECT_EQ(quorvel::DecodeBase64(quorvel::EncodeBase64(all)), all);
}

TEST(LdapSession, RequestsAreBuiltByteExact) {
  TLDAPSend ldap;
  EXPECT_EQ(
      ToHex(ldap.WrapMessage(EncodeObject(
          EncodeObject(EncodeInteger(3), 2) + EncodeObject("", 4) + EncodeObject("", 0x80), 0x60))),
      "30 0C 02 01 01 60 07 02 01 03 04 00 80 00");
  EXPECT_EQ(ldap.Seq(), 1);
  EXPECT_EQ(ToHex(ldap.WrapMessage(EncodeObject("", 0x42))), "30 05 02 01 02 42 00");
}
