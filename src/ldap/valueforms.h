// How one directory value is shown as text: whether it is text or binary, and
// the readable forms of the security identifiers, GUIDs and times that Active
// Directory keeps in encodings of its own. Every function here is pure: it
// depends only on its arguments, never fails other than by answering "no",
// and reads nothing beyond the bytes it is given.
//
// Text or binary (IsTextValue). A value is text when it is valid UTF-8
// (shortest forms only, no UTF-16 surrogates, nothing above U+10FFFF) and
// holds no byte below 0x20 other than TAB, LF and CR, and no 0x7F. Anything
// else is binary whatever the attribute is called: the rows show it as the
// Base64 of all its bytes, exactly like a value of a ";binary" attribute.
//
// Readable forms. ReadableForm says which form an attribute's values take;
// the name is compared without regard to ASCII letter case, with blanks at
// the ends and any options (";binary", ";range=...") left out.
//   vfSid   objectSid, sIDHistory, tokenGroups, tokenGroupsGlobalAndUniversal,
//           tokenGroupsNoGCAcceptable, securityIdentifier, mS-DS-CreatorSID:
//           "S-1-5-21-...": the revision, the 48-bit big-endian identifier
//           authority, then each 32-bit little-endian sub-authority, all in
//           decimal. Only a well-formed SID converts: revision 1, at most 15
//           sub-authorities, exactly 8 + 4 x count bytes.
//   vfGuid  objectGUID, schemaIDGUID, attributeSecurityGUID, invocationId,
//           msExchMailboxGuid, msExchArchiveGUID, mS-DS-ConsistencyGuid,
//           netbootGUID: exactly 16 bytes give the lower-case
//           "1effbc1e-4aa3-4f9d-a508-d4d81f1f5873" form, the first three
//           fields little-endian as the directory stores them.
//   vfFileTime  accountExpires, badPasswordTime, lastLogon, lastLogoff,
//           lastLogonTimestamp, lockoutTime, pwdLastSet,
//           msDS-UserPasswordExpiryTimeComputed,
//           msDS-LastSuccessfulInteractiveLogonTime,
//           msDS-LastFailedInteractiveLogonTime: a decimal count v of 100 ns
//           since 1601-01-01 00:00:00 UTC with 0 < v < 9223372036854775807
//           gives "YYYY-MM-DD hh:mm:ss" in UTC, the second truncated. 0 and
//           9223372036854775807 (never, not set) do not convert, nor does a
//           time after the year 9999.
//   vfGeneralizedTime  whenCreated, whenChanged, createTimestamp,
//           modifyTimestamp, pwdChangedTime, dSCorePropagationData:
//           "YYYYMMDDhhmmss[.f](Z|+hhmm|-hhmm)" (the fraction after "." or ","
//           dropped) gives "YYYY-MM-DD hh:mm:ss" in UTC.
// A value that its form does not fit gets no conversion (ReadableText answers
// false) and is shown exactly as it would be without readable values.
//
// Typical use (what the row builders do for each value):
//   const TValueForm form = readable ? ReadableForm(name) : vfPlain;
//   std::string shown;
//   if (!ReadableText(form, raw, shown))
//     shown = IsTextValue(raw) ? Trimmed(raw) : EncodeBase64(raw);
#pragma once

#include <string>
#include <string_view>

namespace quorvel {

// True when the value is text (see above), false when it is binary.
bool IsTextValue(std::string_view value);

enum TValueForm { vfPlain, vfSid, vfGuid, vfFileTime, vfGeneralizedTime };

// The readable form of an attribute's values; vfPlain for every other name.
TValueForm ReadableForm(std::string_view attributeName);
// True for the two forms that are times.
inline bool IsTimeForm(TValueForm form) {
  return form == vfFileTime || form == vfGeneralizedTime;
}

// Writes the readable text of `raw` in `form` to `out` and answers true;
// false (out untouched) when the form is vfPlain or the value does not fit it.
bool ReadableText(TValueForm form, std::string_view raw, std::string& out);

// The single conversions, each false when the value does not fit.
bool SidText(std::string_view octets, std::string& out);
bool GuidText(std::string_view octets, std::string& out);
bool FileTimeText(std::string_view text, std::string& out);
bool GeneralizedTimeText(std::string_view text, std::string& out);

// A moment in UTC as the readable times write it.
struct TCivilTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
// True when `text` is exactly "YYYY-MM-DD hh:mm:ss" naming a real moment (the
// form ReadableText gives times), which is then in `time`.
bool ParseReadableTime(std::string_view text, TCivilTime& time);

}  // namespace quorvel
