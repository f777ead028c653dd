#!/usr/bin/python3
"""Writes the LDIF of the demo organisation (suffix dc=quorvel,dc=test).

Usage: gen-demo-ldif.py [-n PEOPLE] [-o FILE]     (PEOPLE default 4000)

The organisation (B = dc=quorvel,dc=test):
  ou=<Department>,B          eight departments (Engineering, Sales, Marketing,
                             Finance, Human Resources, Operations, Support, Legal),
                             the people of each one level below it
    uid=<login>              inetOrgPerson with UTF-8 names from many languages:
                             cn, sn, givenName, displayName, mail (some two),
                             telephoneNumber, mobile (some), title, departmentNumber,
                             employeeNumber, l (city), jpegPhoto (small binary)
                             Disabled accounts carry employeeType: Disabled
                             (about 1 in 30); the others employeeType: Active.
  ou=Groups,B                groupOfNames: one "<Department> Team" per department,
                             and project groups (Project Aurora, Project Borealis,
                             Project Cirrus, On-call Rota) with members across
                             departments
  ou=Services,B
    uid=reader,ou=Services,B the account the demo binds with, password "reader"
The output is the same for every run (a fixed random seed).
"""
import random
import sys
import unicodedata

from ldif_lines import entry, write_ldif  # a module beside this script

B = "dc=quorvel,dc=test"
DEPARTMENTS = ["Engineering", "Sales", "Marketing", "Finance", "Human Resources",
               "Operations", "Support", "Legal"]
TITLES = {
    "Engineering": ["Software Engineer", "Senior Engineer", "Architect", "QA Engineer"],
    "Sales": ["Account Manager", "Sales Representative", "Regional Director"],
    "Marketing": ["Marketing Specialist", "Content Writer", "Brand Manager"],
    "Finance": ["Accountant", "Controller", "Financial Analyst"],
    "Human Resources": ["HR Partner", "Recruiter", "Payroll Officer"],
    "Operations": ["Operations Manager", "Logistics Planner", "Facilities Officer"],
    "Support": ["Support Agent", "Support Lead", "Technical Writer"],
    "Legal": ["Counsel", "Paralegal", "Compliance Officer"],
}
# (given names, surnames, cities) per language
NAMES = [
    (["Jürgen", "Jörg", "Sören", "Käthe", "Günther", "Anneliese", "Björn", "Uwe"],
     ["Müller", "Schäfer", "Größ", "Köhler", "Weiß", "Bäcker", "Jäger", "Fuchs"],
     ["München", "Köln", "Düsseldorf"]),
    (["Łukasz", "Małgorzata", "Paweł", "Zofia", "Wojciech", "Agnieszka", "Michał"],
     ["Żółć", "Wiśniewski", "Kowalczyk", "Dąbrowska", "Łęcki", "Szymańska"],
     ["Kraków", "Łódź", "Gdańsk"]),
    (["Émile", "Hélène", "François", "Céline", "Jérôme", "Noël", "Aurélie"],
     ["Lefèvre", "Dupré", "Bérenger", "Mercier", "Gauthier", "Rousseau"],
     ["Besançon", "Orléans", "Nîmes"]),
    (["José", "María", "Ángel", "Lucía", "Íñigo", "Begoña", "Martín"],
     ["Núñez", "Ibáñez", "García", "Peña", "Muñoz", "Fernández"],
     ["Málaga", "León", "Cádiz"]),
    (["Åsa", "Øystein", "Lærke", "Sigríður", "Ásgeir", "Kristín"],
     ["Østergård", "Åberg", "Sæther", "Jónsdóttir", "Lindqvist"],
     ["Malmö", "Tromsø", "Reykjavík"]),
    (["Иван", "Ольга", "Дмитрий", "Наталья", "Сергей", "Татьяна"],
     ["Петров", "Смирнова", "Кузнецов", "Иванова", "Попов"],
     ["Москва", "Казань", "Новосибирск"]),
    (["Γιώργος", "Ελένη", "Νίκος", "Μαρία"],
     ["Παπαδόπουλος", "Οικονόμου", "Γεωργίου"],
     ["Αθήνα", "Θεσσαλονίκη"]),
    (["太郎", "花子", "健", "由美"], ["日本", "山田", "佐藤", "鈴木"], ["東京", "大阪"]),
    (["Alice", "Bob", "Charlie", "Diana", "Edward", "Fiona", "George", "Hannah"],
     ["Smith", "Johnson", "O'Brien", "Taylor", "Brown", "Wilson", "Clarke"],
     ["London", "Dublin", "Boston"]),
]
PROJECTS = ["Project Aurora", "Project Borealis", "Project Cirrus", "On-call Rota"]


def ascii_fold(text):
    folded = unicodedata.normalize("NFKD", text).encode("ascii", "ignore").decode("ascii")
    return "".join(c for c in folded.lower() if c.isalnum())


def photo(rng):
    body = bytes(rng.randrange(256) for _ in range(rng.randrange(300, 900)))
    return b"\xff\xd8\xff\xe0\x00\x10JFIF\x00\x01\x01" + body + b"\xff\xd9"


def main():
    n = 4000
    path = None
    args = sys.argv[1:]
    while args:
        if args[0] == "-n" and len(args) > 1:
            n, args = int(args[1]), args[2:]
        elif args[0] == "-o" and len(args) > 1:
            path, args = args[1], args[2:]
        else:
            sys.exit("usage: gen-demo-ldif.py [-n PEOPLE] [-o FILE]")
    rng = random.Random(20261208)
    out = []
    entry(out, B, [("objectClass", ["top", "dcObject", "organization"]), ("dc", "quorvel"),
                   ("o", "Quorvel Demo Ltd")])
    for ou in DEPARTMENTS + ["Groups", "Services"]:
        entry(out, "ou=%s,%s" % (ou, B), [("objectClass", ["top", "organizationalUnit"]),
                                          ("ou", ou), ("description", "The %s unit" % ou)])
    entry(out, "uid=reader,ou=Services," + B,
          [("objectClass", ["top", "account", "simpleSecurityObject"]), ("uid", "reader"),
           ("userPassword", "reader"), ("description", "Read-only account of the demo")])

    used = set()
    members = {d: [] for d in DEPARTMENTS}
    everyone = []
    for i in range(1, n + 1):
        given_list, sur_list, cities = rng.choice(NAMES)
        given, sur = rng.choice(given_list), rng.choice(sur_list)
        base_uid = (ascii_fold(given)[:1] + ascii_fold(sur)) or "user"
        uid = base_uid
        k = 2
        while uid in used or len(uid) < 3:
            uid = "%s%d" % (base_uid, k)
            k += 1
        used.add(uid)
        dept = DEPARTMENTS[rng.randrange(len(DEPARTMENTS))]
        dn = "uid=%s,ou=%s,%s" % (uid, dept, B)
        mails = ["%s@quorvel.test" % uid]
        if rng.random() < 0.1:
            mails.append("%s@alumni.quorvel.test" % uid)
        attrs = [("objectClass", ["top", "person", "organizationalPerson", "inetOrgPerson"]),
                 ("uid", uid), ("cn", "%s %s" % (given, sur)), ("sn", sur),
                 ("givenName", given), ("displayName", "%s, %s" % (sur, given)),
                 ("title", rng.choice(TITLES[dept])), ("departmentNumber", dept),
                 ("employeeNumber", str(10000 + i)), ("l", rng.choice(cities))]
        if rng.random() < 0.92:
            attrs.append(("mail", mails))
        if rng.random() < 0.85:
            attrs.append(("telephoneNumber", "+1 555 %04d" % (i % 10000)))
        if rng.random() < 0.3:
            attrs.append(("mobile", "+1 777 %04d" % rng.randrange(10000)))
        attrs.append(("employeeType", "Disabled" if rng.random() < 1 / 30 else "Active"))
        if rng.random() < 0.5:
            attrs.append(("jpegPhoto", photo(rng)))
        entry(out, dn, attrs)
        members[dept].append(dn)
        everyone.append(dn)

    for dept in DEPARTMENTS:
        entry(out, "cn=%s Team,ou=Groups,%s" % (dept, B),
              [("objectClass", ["top", "groupOfNames"]), ("cn", "%s Team" % dept),
               ("description", "Everyone in %s" % dept),
               ("member", members[dept] or ["uid=reader,ou=Services," + B])])
    for project in PROJECTS:
        entry(out, "cn=%s,ou=Groups,%s" % (project, B),
              [("objectClass", ["top", "groupOfNames"]), ("cn", project),
               ("member", rng.sample(everyone, min(len(everyone), rng.randrange(12, 60))))])

    write_ldif(out, path)


if __name__ == "__main__":
    main()
