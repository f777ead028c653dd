#!/usr/bin/python3
"""Writes the LDIF of the benchmark directory (suffix dc=quorvel,dc=test).

Usage: gen-bench-ldif.py [-n N] [-o FILE]     (N default 100000; FILE default stdout)

Holds dc=quorvel,dc=test, ou=bench,dc=quorvel,dc=test and N people below it:
  uid=b0000001,ou=bench,dc=quorvel,dc=test ... (7-digit numbers from 1)
each an inetOrgPerson with exactly five attributes of interest:
  cn "Bench Person 0000001", sn "Person0000001", givenName "Bench",
  mail b0000001@bench.quorvel.test, telephoneNumber "+1 555 0000001".
A search of (objectClass=inetOrgPerson) with attributes cn;sn;givenName;mail;
telephoneNumber under ou=bench returns all N (load it with --sizelimit 0 or bind
as the admin, who has no size limit).
"""
import sys

B = "dc=quorvel,dc=test"


def main():
    n = 100000
    path = None
    args = sys.argv[1:]
    while args:
        if args[0] == "-n" and len(args) > 1:
            n = int(args[1])
            args = args[2:]
        elif args[0] == "-o" and len(args) > 1:
            path = args[1]
            args = args[2:]
        else:
            sys.exit("usage: gen-bench-ldif.py [-n N] [-o FILE]")
    out = open(path, "w", encoding="utf-8") if path else sys.stdout
    w = out.write
    w("dn: %s\nobjectClass: top\nobjectClass: dcObject\nobjectClass: organization\n"
      "dc: quorvel\no: Quorvel\n\n" % B)
    w("dn: ou=bench,%s\nobjectClass: top\nobjectClass: organizationalUnit\nou: bench\n\n" % B)
    for i in range(1, n + 1):
        k = "%07d" % i
        w("dn: uid=b%s,ou=bench,%s\nobjectClass: top\nobjectClass: person\n"
          "objectClass: organizationalPerson\nobjectClass: inetOrgPerson\n"
          "uid: b%s\ncn: Bench Person %s\nsn: Person%s\ngivenName: Bench\n"
          "mail: b%s@bench.quorvel.test\ntelephoneNumber: +1 555 %s\n\n"
          % (k, B, k, k, k, k, k))
    if path:
        out.close()


if __name__ == "__main__":
    main()
