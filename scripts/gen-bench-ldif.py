#!/usr/bin/python3
"""Writes the LDIF of the benchmark directory (suffix dc=quorvel,dc=test).

Usage: gen-bench-ldif.py [-n N] [-o FILE] [--ad]
       (N default 100000; FILE default stdout)

Holds dc=quorvel,dc=test, ou=bench,dc=quorvel,dc=test and N people below it:
  uid=b0000001,ou=bench,dc=quorvel,dc=test ... (7-digit numbers from 1)
each an inetOrgPerson with exactly five attributes of interest:
  cn "Bench Person 0000001", sn "Person0000001", givenName "Bench",
  mail b0000001@bench.quorvel.test, telephoneNumber "+1 555 0000001".
A search of (objectClass=inetOrgPerson) with attributes cn;sn;givenName;mail;
telephoneNumber under ou=bench returns all N (load it with --sizelimit 0 or bind
as the admin, who has no size limit).
With --ad every person also holds the values of a Windows domain account
(objectClass quorvelDomainAccount, scripts/ad-values.schema): objectSid
S-1-5-21-1004336348-1177238915-682003330-<1000+i>, an objectGUID of 16 bytes,
whenCreated, pwdLastSet, lastLogonTimestamp and accountExpires, all different
from person to person.
"""
import base64
import struct
import sys

B = "dc=quorvel,dc=test"


def ad_values(i):
    """The LDIF lines of a domain account's values for person i."""
    sid = bytes([1, 5]) + (5).to_bytes(6, "big") + struct.pack(
        "<5I", 21, 1004336348, 1177238915, 682003330, 1000 + i)
    guid = struct.pack("<IHH", 0x1EFFBC1E + i, i & 0xFFFF, 0x4F9D) + bytes(
        [0xA5, 0x08, i & 0xFF, (i >> 8) & 0xFF, 0x1F, 0x1F, 0x58, 0x73])
    filetime = 134412250436290510 + i * 10000000
    return ("objectSid:: %s\nobjectGUID:: %s\n"
            "whenCreated: 2026%02d%02d1737%02d.0Z\npwdLastSet: %d\n"
            "lastLogonTimestamp: %d\naccountExpires: %s\n"
            % (base64.b64encode(sid).decode(), base64.b64encode(guid).decode(),
               1 + i % 12, 1 + i % 28, i % 60, filetime, filetime + 864000000000,
               "9223372036854775807" if i % 2 else str(filetime + 315360000000000)))


def main():
    n = 100000
    path = None
    ad = False
    args = sys.argv[1:]
    while args:
        if args[0] == "-n" and len(args) > 1:
            n = int(args[1])
            args = args[2:]
        elif args[0] == "-o" and len(args) > 1:
            path = args[1]
            args = args[2:]
        elif args[0] == "--ad":
            ad = True
            args = args[1:]
        else:
            sys.exit("usage: gen-bench-ldif.py [-n N] [-o FILE] [--ad]")
    out = open(path, "w", encoding="utf-8") if path else sys.stdout
    w = out.write
    w("dn: %s\nobjectClass: top\nobjectClass: dcObject\nobjectClass: organization\n"
      "dc: quorvel\no: Quorvel\n\n" % B)
    w("dn: ou=bench,%s\nobjectClass: top\nobjectClass: organizationalUnit\nou: bench\n\n" % B)
    for i in range(1, n + 1):
        k = "%07d" % i
        w("dn: uid=b%s,ou=bench,%s\nobjectClass: top\nobjectClass: person\n"
          "objectClass: organizationalPerson\nobjectClass: inetOrgPerson\n%s"
          "uid: b%s\ncn: Bench Person %s\nsn: Person%s\ngivenName: Bench\n"
          "mail: b%s@bench.quorvel.test\ntelephoneNumber: +1 555 %s\n%s\n"
          % (k, B, "objectClass: quorvelDomainAccount\n" if ad else "", k, k, k, k, k,
             ad_values(i) if ad else ""))
    if path:
        out.close()


if __name__ == "__main__":
    main()
