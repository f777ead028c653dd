#!/usr/bin/python3
"""Writes the LDIF of the test directory (suffix dc=quorvel,dc=test).

Usage: gen-test-ldif.py [-o FILE]      (default: standard output)

What the directory holds (DNs the tests can rely on; B = dc=quorvel,dc=test):
  B                                  dcObject/organization, o: Quorvel
  ou=people,B                        3,006 people one level below it (Smith included):
    uid=user0001 .. uid=user3000     inetOrgPerson: cn "User 0001", sn "0001",
                                     givenName "User", mail user0001@quorvel.test,
                                     telephoneNumber "+1 555 0001", employeeNumber 1..3000;
                                     every 10th (user0010, user0020, ...) has a second
                                     mail value user00N0@alt.quorvel.test
    uid=tuser                        the normal user: password "tuser-secret",
                                     cn "Test User", givenName "Test", sn "User",
                                     mail tuser@quorvel.test AND test.user@quorvel.test,
                                     telephoneNumber "+1 555 1000" AND "+1 555 1001",
                                     userCertificate;binary (a DER certificate,
                                     CN=tuser) and jpegPhoto (binary, starts FF D8 FF)
    uid=juergen                      cn "Jürgen Müller", sn "Müller", givenName "Jürgen"
    uid=lukasz                       cn "Łukasz Żółć", sn "Żółć"
    cn=Иван Петров                   a UTF-8 RDN: uid ivan, sn "Петров", givenName "Иван"
    uid=nihon                        cn "日本 太郎", sn "日本"
  cn=Smith\, John,ou=people,B        an escaped comma in the RDN (uid smithj), and values:
                                     description: 6" pipe | "Quoted" | Smith, John |
                                     " leading blank" (one leading space) |
                                     "trailing blank " (one trailing space)
  ou=groups,B
    cn=big,ou=groups,B               groupOfNames with 3,000 member values
                                     (uid=user0001..user3000,ou=people,B)
    cn=admins,ou=groups,B            groupOfNames: members tuser, juergen, lukasz
  ou=tree,B                          a small tree for browsing and scopes:
    ou=a,ou=tree,B                   with cn=leaf1 and cn=leaf2 (organizationalRole)
    ou=b,ou=tree,B                   with cn=leaf3
  ou=empty,B                         an organizationalUnit without children
  ou=elsewhere,B                     a referral (objectClass referral + extensibleObject),
                                     ref: ldap://127.0.0.1:1/ou=elsewhere,dc=other,dc=test
  ou=ad,B                            values of a Windows domain (scripts/ad-values.schema),
                                     organizationalRole + quorvelDomainAccount:
    cn=Administrator                 sAMAccountName Administrator, objectSid
                                     S-1-5-21-3623811015-3361044348-30300820-500, objectGUID
                                     base64 Hrz/HqNKnU+lCNTYHx9Ycw== (1effbc1e-4aa3-4f9d-
                                     a508-d4d81f1f5873), whenCreated 20261208173723.0Z,
                                     pwdLastSet 134412250436290510, lastLogonTimestamp
                                     134412250570500960, accountExpires 9223372036854775807,
                                     sIDHistory S-1-5-21-1-2-3-1106 AND S-1-5-32-544
    cn=Guest                         sAMAccountName Guest, a malformed objectSid (27 bytes),
                                     a 15-byte objectGUID, accountExpires 0, pwdLastSet 0,
                                     whenChanged 20261208173723+0200 (an offset)
    cn=nul                           sAMAccountName nul, userParameters "a", NUL, "b",
                                     description "line one", LF, "line two"
    cn=latin1                        sAMAccountName latin1, userParameters "caf" E9 (not UTF-8)
Entries in total: 3,024 (more than 1,000: a size limit of 1,000 answers result 4).
The admin (rootdn) is cn=admin,B; see scripts/slapd-harness.sh for the passwords.
"""
import base64
import os
import subprocess
import sys
import tempfile

from ldif_lines import entry, write_ldif  # a module beside this script

B = "dc=quorvel,dc=test"
PEOPLE = "ou=people," + B
BULK = 3000


def der_certificate(cn):
    """A real DER certificate (the server checks the syntax)."""
    with tempfile.TemporaryDirectory() as tmp:
        key = os.path.join(tmp, "k.pem")
        der = os.path.join(tmp, "c.der")
        subprocess.run(
            ["openssl", "req", "-x509", "-newkey", "rsa:1024", "-nodes", "-days", "3650",
             "-subj", "/O=Quorvel Test/CN=" + cn, "-keyout", key, "-outform", "DER",
             "-out", der],
            check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(der, "rb") as f:
            return f.read()


def photo(seed):
    """Small binary bytes with a JPEG header."""
    body = bytes((seed * 31 + i * 7) & 0xFF for i in range(200))
    return b"\xff\xd8\xff\xe0\x00\x10JFIF\x00" + body + b"\xff\xd9"


def person(uid, cn, sn, given=None, extra=()):
    attrs = [("objectClass", ["top", "person", "organizationalPerson", "inetOrgPerson"]),
             ("uid", uid), ("cn", cn), ("sn", sn)]
    if given:
        attrs.append(("givenName", given))
    attrs.extend(extra)
    return attrs


def sid(authority, *subs):
    return bytes([1, len(subs)]) + authority.to_bytes(6, "big") + b"".join(
        s.to_bytes(4, "little") for s in subs)


def ad_values(out):
    """The entries below ou=ad: values with known readable forms."""
    ad = "ou=ad," + B
    entry(out, ad, [("objectClass", ["top", "organizationalUnit"]), ("ou", "ad")])
    account = ["top", "organizationalRole", "quorvelDomainAccount"]
    guid = base64.b64decode("Hrz/HqNKnU+lCNTYHx9Ycw==")
    entry(out, "cn=Administrator," + ad,
          [("objectClass", account), ("cn", "Administrator"),
           ("sAMAccountName", "Administrator"),
           ("objectSid", sid(5, 21, 3623811015, 3361044348, 30300820, 500)),
           ("objectGUID", guid), ("whenCreated", "20261208173723.0Z"),
           ("pwdLastSet", "134412250436290510"), ("lastLogonTimestamp", "134412250570500960"),
           ("accountExpires", "9223372036854775807"),
           ("sIDHistory", [sid(5, 21, 1, 2, 3, 1106), sid(5, 32, 544)])])
    entry(out, "cn=Guest," + ad,
          [("objectClass", account), ("cn", "Guest"), ("sAMAccountName", "Guest"),
           ("objectSid", sid(5, 21, 3623811015, 3361044348, 30300820, 501)[:27]),
           ("objectGUID", guid[:15]), ("accountExpires", "0"), ("pwdLastSet", "0"),
           ("whenChanged", "20261208173723+0200")])
    entry(out, "cn=nul," + ad,
          [("objectClass", account), ("cn", "nul"), ("sAMAccountName", "nul"),
           ("userParameters", b"a\x00b"), ("description", "line one\nline two")])
    entry(out, "cn=latin1," + ad,
          [("objectClass", account), ("cn", "latin1"), ("sAMAccountName", "latin1"),
           ("userParameters", b"caf\xe9")])


def main():
    path = None
    if len(sys.argv) == 3 and sys.argv[1] == "-o":
        path = sys.argv[2]
    elif len(sys.argv) != 1:
        sys.exit("usage: gen-test-ldif.py [-o FILE]")

    out = []
    entry(out, B, [("objectClass", ["top", "dcObject", "organization"]),
                   ("dc", "quorvel"), ("o", "Quorvel")])
    for ou in ("people", "groups", "tree", "empty"):
        entry(out, "ou=%s,%s" % (ou, B),
              [("objectClass", ["top", "organizationalUnit"]), ("ou", ou)])

    for i in range(1, BULK + 1):
        n = "%04d" % i
        mails = ["user%s@quorvel.test" % n]
        if i % 10 == 0:
            mails.append("user%s@alt.quorvel.test" % n)
        entry(out, "uid=user%s,%s" % (n, PEOPLE),
              person("user" + n, "User " + n, n, "User",
                     [("mail", mails), ("telephoneNumber", "+1 555 " + n),
                      ("employeeNumber", str(i))]))

    entry(out, "uid=tuser," + PEOPLE,
          person("tuser", "Test User", "User", "Test",
                 [("mail", ["tuser@quorvel.test", "test.user@quorvel.test"]),
                  ("telephoneNumber", ["+1 555 1000", "+1 555 1001"]),
                  ("userPassword", "tuser-secret"),
                  ("userCertificate;binary", der_certificate("tuser")),
                  ("jpegPhoto", photo(1))]))
    entry(out, "uid=juergen," + PEOPLE,
          person("juergen", "Jürgen Müller", "Müller", "Jürgen",
                 [("mail", "juergen@quorvel.test")]))
    entry(out, "uid=lukasz," + PEOPLE,
          person("lukasz", "Łukasz Żółć", "Żółć", "Łukasz", [("mail", "lukasz@quorvel.test")]))
    entry(out, "cn=Иван Петров," + PEOPLE,
          person("ivan", "Иван Петров", "Петров", "Иван", [("mail", "ivan@quorvel.test")]))
    entry(out, "uid=nihon," + PEOPLE, person("nihon", "日本 太郎", "日本", "太郎"))
    entry(out, "cn=Smith\\, John," + PEOPLE,
          person("smithj", "Smith, John", "Smith", "John",
                 [("description", ['6" pipe', '"Quoted"', "Smith, John", " leading blank",
                                   "trailing blank "])]))

    entry(out, "cn=big,ou=groups," + B,
          [("objectClass", ["top", "groupOfNames"]), ("cn", "big"),
           ("member", ["uid=user%04d,%s" % (i, PEOPLE) for i in range(1, BULK + 1)])])
    entry(out, "cn=admins,ou=groups," + B,
          [("objectClass", ["top", "groupOfNames"]), ("cn", "admins"),
           ("member", ["uid=%s,%s" % (u, PEOPLE) for u in ("tuser", "juergen", "lukasz")])])

    for ou, leaves in (("a", ["leaf1", "leaf2"]), ("b", ["leaf3"])):
        entry(out, "ou=%s,ou=tree,%s" % (ou, B),
              [("objectClass", ["top", "organizationalUnit"]), ("ou", ou)])
        for leaf in leaves:
            entry(out, "cn=%s,ou=%s,ou=tree,%s" % (leaf, ou, B),
                  [("objectClass", ["top", "organizationalRole"]), ("cn", leaf)])

    entry(out, "ou=elsewhere," + B,
          [("objectClass", ["top", "referral", "extensibleObject"]), ("ou", "elsewhere"),
           ("ref", "ldap://127.0.0.1:1/ou=elsewhere,dc=other,dc=test")])

    ad_values(out)
    write_ldif(out, path)


if __name__ == "__main__":
    main()
