// The text/binary rule and the readable forms of directory values, as tables
// of inputs and the exact texts expected.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ldap/base64.h"
#include "ldap/valueforms.h"

using namespace quorvel;

namespace {
std::string B(const char* s, std::size_t n) {
  return std::string(s, n);
}

// The domain Administrator: S-1-5-21-3623811015-3361044348-30300820-500.
const std::string kAdminSid =
    B("\x01\x05\x00\x00\x00\x00\x00\x05\x15\x00\x00\x00\xC7\xF7\xFE\xD7\x7C\x77\x55\xC8\x94\x5A"
      "\xCE\x01\xF4\x01\x00\x00",
      28);
}  // namespace

TEST(ValueForms, TextOrBinary) {
  struct Case {
    std::string value;
    bool text;
  } cases[] = {
      {"", true},
      {"plain", true},
      {"tab\there, CR LF\r\n", true},
      {"J\xC3\xBCrgen \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80", true},  // 2, 3 and 4 bytes
      {"\xC2\x80 C1 control", true},
      {B("nul\0byte", 8), false},
      {"bell\x07", false},
      {"escape\x1B[0m", false},
      {"delete\x7F", false},
      {"latin-1 \xE9t\xE9", false},          // not UTF-8
      {"\xC0\xAF overlong", false},          // overlong "/"
      {"\xE0\x80\xAF overlong", false},      // overlong in three bytes
      {"\xF0\x80\x80\xAF overlong", false},  // overlong in four bytes
      {"\xED\xA0\x80 surrogate", false},     // U+D800
      {"\xF4\x90\x80\x80 too high", false},  // U+110000
      {"\xF5\x80\x80\x80", false},
      {"cut \xE6\x97", false},  // sequence cut at the end
      {"\x80 lone continuation", false},
      {"\xFF\xD8\xFF\xE0 photo", false},
      {kAdminSid, false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsTextValue(c.value), c.text) << EncodeBase64(c.value);
}

// The text rule is the same for every octet wherever it falls among the
// eight-octet steps the check takes over plain ASCII: each odd octet or
// sequence is put at every position of values of up to 40 octets.
TEST(ValueForms, TextOrBinaryAtEveryPosition) {
  struct Case {
    std::string piece;
    bool text;
  } cases[] = {
      {B("\0", 1), false}, {"\x1F", false},     {"\x7F", false},        {"\x80", false},
      {"\xFF", false},     {"\t", true},        {"\r\n", true},         {" ", true},
      {"~", true},         {"\xC3\xBC", true},  {"\xE6\x97\xA5", true}, {"\xF0\x9F\x98\x80", true},
      {"\xE6\x97", false}, {"\xC0\xAF", false},
  };
  for (const Case& c : cases) {
    for (std::size_t length = c.piece.size(); length <= 40; ++length) {
      for (std::size_t at = 0; at + c.piece.size() <= length; ++at) {
        std::string value(length, 'a');
        value.replace(at, c.piece.size(), c.piece);
        EXPECT_EQ(IsTextValue(value), c.text) << EncodeBase64(value) << " at " << at;
      }
    }
  }
}

TEST(ValueForms, FormsByAttributeName) {
  struct Case {
    const char* name;
    TValueForm form;
  } cases[] = {
      {"objectSid", vfSid},
      {"OBJECTSID", vfSid},
      {" sIDHistory ", vfSid},
      {"tokenGroupsGlobalAndUniversal", vfSid},
      {"mS-DS-CreatorSID", vfSid},
      {"objectGUID", vfGuid},
      {"objectguid;binary", vfGuid},
      {"msExchMailboxGuid", vfGuid},
      {"mS-DS-ConsistencyGuid", vfGuid},
      {"pwdLastSet", vfFileTime},
      {"msDS-UserPasswordExpiryTimeComputed", vfFileTime},
      {"lastlogontimestamp", vfFileTime},
      {"whenCreated", vfGeneralizedTime},
      {"modifyTimestamp", vfGeneralizedTime},
      {"dSCorePropagationData", vfGeneralizedTime},
      {"cn", vfPlain},
      {"objectSidX", vfPlain},
      {"", vfPlain},
  };
  for (const Case& c : cases) EXPECT_EQ(ReadableForm(c.name), c.form) << c.name;
  EXPECT_TRUE(IsTimeForm(vfFileTime));
  EXPECT_TRUE(IsTimeForm(vfGeneralizedTime));
  EXPECT_FALSE(IsTimeForm(vfSid));
}

TEST(ValueForms, Conversions) {
  struct Case {
    TValueForm form;
    std::string raw;
    const char* expected;  // nullptr: no conversion
  } cases[] = {
      {vfSid, kAdminSid, "S-1-5-21-3623811015-3361044348-30300820-500"},
      {vfSid, B("\x01\x01\x00\x00\x00\x00\x00\x05\x12\x00\x00\x00", 12), "S-1-5-18"},
      {vfSid, B("\x01\x00\x00\x00\x00\x00\x00\x01", 8), "S-1-1"},
      // The whole 48-bit authority, and the largest sub-authority.
      {vfSid, B("\x01\x01\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 12),
       "S-1-281474976710655-4294967295"},
      {vfSid, kAdminSid.substr(0, 27), nullptr},       // one byte short
      {vfSid, kAdminSid + "x", nullptr},               // one byte more
      {vfSid, "\x02" + kAdminSid.substr(1), nullptr},  // revision 2
      {vfSid, B("\x01\x10\x00\x00\x00\x00\x00\x05", 8) + std::string(64, '\x01'), nullptr},
      {vfSid, "", nullptr},
      {vfGuid, DecodeBase64("Hrz/HqNKnU+lCNTYHx9Ycw=="), "1effbc1e-4aa3-4f9d-a508-d4d81f1f5873"},
      {vfGuid, std::string(16, '\0'), "00000000-0000-0000-0000-000000000000"},
      {vfGuid, DecodeBase64("Hrz/HqNKnU+lCNTYHx9Ycw==").substr(0, 15), nullptr},
      {vfGuid, std::string(17, 'a'), nullptr},
      {vfFileTime, "134412250436290510", "2026-12-08 17:37:23"},
      {vfFileTime, "134412250570500960", "2026-12-08 17:37:37"},
      {vfFileTime, "1", "1601-01-01 00:00:00"},
      {vfFileTime, "116444736000000000", "1970-01-01 00:00:00"},
      {vfFileTime, "116444735999999999", "1969-12-31 23:59:59"},
      {vfFileTime, "2650467743999999999", "9999-12-31 23:59:59"},
      {vfFileTime, "2650467744000000000", nullptr},  // the year 10000
      {vfFileTime, "0", nullptr},
      {vfFileTime, "9223372036854775807", nullptr},
      {vfFileTime, "9223372036854775808", nullptr},
      {vfFileTime, "99999999999999999999", nullptr},
      {vfFileTime, "-1", nullptr},
      {vfFileTime, " 134412250436290510", nullptr},
      {vfFileTime, "1344122504x6290510", nullptr},
      {vfFileTime, "", nullptr},
      {vfGeneralizedTime, "20261208173723.0Z", "2026-12-08 17:37:23"},
      {vfGeneralizedTime, "20261208173723Z", "2026-12-08 17:37:23"},
      {vfGeneralizedTime, "20261208173723,987Z", "2026-12-08 17:37:23"},
      {vfGeneralizedTime, "20261208173723+0200", "2026-12-08 15:37:23"},
      {vfGeneralizedTime, "20260101003000+0100", "2025-12-31 23:30:00"},
      {vfGeneralizedTime, "20261231233000-0130", "2027-01-01 01:00:00"},
      {vfGeneralizedTime, "20240229120000Z", "2024-02-29 12:00:00"},
      {vfGeneralizedTime, "16010101000000.0Z", "1601-01-01 00:00:00"},
      {vfGeneralizedTime, "20230229120000Z", nullptr},  // no 29 February in 2023
      {vfGeneralizedTime, "20261308173723Z", nullptr},
      {vfGeneralizedTime, "20261208243723Z", nullptr},
      {vfGeneralizedTime, "20261208173760Z", nullptr},
      {vfGeneralizedTime, "20261208173723", nullptr},  // no zone
      {vfGeneralizedTime, "20261208173723.Z", nullptr},
      {vfGeneralizedTime, "202612081737Z", nullptr},  // no seconds
      {vfGeneralizedTime, "20261208173723+02", "2026-12-08 15:37:23"},
      {vfGeneralizedTime, "20261208173723+020", nullptr},
      {vfGeneralizedTime, "20261208173723+2400", nullptr},
      {vfGeneralizedTime, "20261208173723Zjunk", nullptr},
      {vfGeneralizedTime, "99991231233000-0100", nullptr},  // after the year 9999 in UTC
      {vfGeneralizedTime, "2026-12-08 17:37:23", nullptr},
      {vfPlain, "20261208173723Z", nullptr},
  };
  for (const Case& c : cases) {
    std::string out = "untouched";
    const bool converted = ReadableText(c.form, c.raw, out);
    if (c.expected) {
      EXPECT_TRUE(converted) << c.form << " " << EncodeBase64(c.raw);
      EXPECT_EQ(out, c.expected) << c.form << " " << EncodeBase64(c.raw);
    } else {
      EXPECT_FALSE(converted) << c.form << " " << EncodeBase64(c.raw) << " gave " << out;
      EXPECT_EQ(out, "untouched");
    }
  }
}

TEST(ValueForms, ReadableTimesParseBack) {
  TCivilTime t;
  ASSERT_TRUE(ParseReadableTime("2026-12-08 17:37:23", t));
  EXPECT_EQ(std::vector<int>({t.year, t.month, t.day, t.hour, t.minute, t.second}),
            std::vector<int>({2026, 12, 8, 17, 37, 23}));
  for (const char* bad :
       {"2026-12-08 17:37:2", "2026-12-08T17:37:23", "2026-02-30 00:00:00", "2026-12-08 24:00:00",
        "2026-12-08 17:37:23 ", "[2026-12-08 17:37:23]", "134412250436290510", ""})
    EXPECT_FALSE(ParseReadableTime(bad, t)) << bad;
}
