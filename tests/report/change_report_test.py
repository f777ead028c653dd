#!/usr/bin/python3
"""Change reports of quorvel-report --changes against a private directory
server, read back as CSV (Python's csv) and as a workbook (openpyxl).

Usage: change_report_test.py BUILD_DIR SOURCE_DIR

A first run (a change report, or a plain report) keeps each profile's
snapshot; ldapmodify then adds three people,
deletes two, changes one's mail, adds and removes members of a group of
3,000, renames one (modrdn) and moves one to another branch. The change
report must hold exactly the expected rows, in order: matched by DN, and
matched by entryUUID (where the rename and the move are "renamed"). A third
run finds nothing (header only, status 0); a changed filter is not compared
and that run is kept; a failed run keeps the snapshot before it. The server
is stopped at the end, whatever happens.
"""
import csv
import io
import os
import re
import shutil
import sqlite3
import subprocess
import sys
import tempfile

BUILD, SOURCE = sys.argv[1], sys.argv[2]
HARNESS = os.path.join(SOURCE, "scripts", "slapd-harness.sh")
REPORT = os.path.join(BUILD, "quorvel-report")
BASE = "dc=quorvel,dc=test"
PEOPLE = "ou=people," + BASE
GROUP = "cn=big,ou=groups," + BASE
FILTER = "(|(objectClass=inetOrgPerson)(objectClass=groupOfNames))"
HEADER = ["change", "dn", "attribute", "old", "new"]
TIMEOUT = 240


def run(args, **kw):
    return subprocess.run(args, timeout=TIMEOUT, capture_output=True, **kw)


def person(cn, ou="people"):
    return ("dn: cn=%s,ou=%s,%s\nobjectClass: inetOrgPerson\ncn: %s\nsn: %s\n"
            "mail: %s@quorvel.test\n\n" % (cn, ou, BASE, cn, cn, cn))


def member(i):
    return "uid=m%04d,ou=members,%s" % (i, BASE)


def directory():
    ldif = ("dn: %s\nobjectClass: dcObject\nobjectClass: organization\ndc: quorvel\no: Q\n\n" %
            BASE)
    for ou in ("people", "moved", "groups"):
        ldif += "dn: ou=%s,%s\nobjectClass: organizationalUnit\nou: %s\n\n" % (ou, BASE, ou)
    ldif += "".join(person("p%02d" % i) for i in range(1, 21))
    ldif += "dn: %s\nobjectClass: groupOfNames\ncn: big\n" % GROUP
    ldif += "".join("member: %s\n" % member(i) for i in range(3000)) + "\n"
    return ldif


MODIFY = (
    "".join("dn: cn=new%d,%s\nchangetype: add\nobjectClass: inetOrgPerson\ncn: new%d\n"
            "sn: new%d\nmail: new%d@quorvel.test\n\n" % (i, PEOPLE, i, i, i) for i in (1, 2, 3)) +
    "dn: cn=p05,%s\nchangetype: delete\n\n" % PEOPLE +
    "dn: cn=p06,%s\nchangetype: delete\n\n" % PEOPLE +
    "dn: cn=p07,%s\nchangetype: modify\nreplace: mail\nmail: seven@quorvel.test\n-\n\n" % PEOPLE +
    "dn: %s\nchangetype: modify\nadd: member\nmember: %s\nmember: %s\n-\n"
    "delete: member\nmember: %s\nmember: %s\n-\n\n" % (GROUP, member(3000), member(3001),
                                                     member(1), member(2)) +
    "dn: cn=p08,%s\nchangetype: modrdn\nnewrdn: cn=p08x\ndeleteoldrdn: 1\n\n" % PEOPLE +
    "dn: cn=p09,%s\nchangetype: modrdn\nnewrdn: cn=p09\ndeleteoldrdn: 1\n"
    "newsuperior: ou=moved,%s\n\n" % (PEOPLE, BASE))


def env_of(folder):
    env = {}
    with open(os.path.join(folder, "env")) as f:
        for line in f:
            if "=" in line:
                k, v = line.strip().split("=", 1)
                env[k] = v.strip("'\"")
    return env


def ldapmodify(env, ldif):
    out = run(["ldapmodify", "-x", "-H", "ldap://127.0.0.1:" + env["QUORVEL_LDAP_PORT"], "-D",
               env["QUORVEL_LDAP_ADMIN_DN"], "-w", env["QUORVEL_LDAP_ADMIN_PW"]],
              input=ldif.encode())
    assert out.returncode == 0, out.stderr.decode(errors="replace")


def uuids(env):
    """dn (lower case) -> entryUUID, as ldapsearch prints them."""
    out = run(["ldapsearch", "-x", "-LLL", "-o", "ldif-wrap=no", "-H",
               "ldap://127.0.0.1:" + env["QUORVEL_LDAP_PORT"], "-D", env["QUORVEL_LDAP_ADMIN_DN"],
               "-w", env["QUORVEL_LDAP_ADMIN_PW"], "-b", BASE, FILTER, "entryUUID"])
    assert out.returncode == 0, out.stderr.decode(errors="replace")
    found = {}
    for block in out.stdout.decode().split("\n\n"):
        lines = dict(l.split(": ", 1) for l in block.splitlines() if ": " in l)
        if "dn" in lines:
            found[lines["dn"].lower()] = lines["entryUUID"]
    return found


def catalogue(folder, env):
    path = os.path.join(folder, "lib", "quorvel.db")
    os.makedirs(os.path.dirname(path))
    db = sqlite3.connect(path)
    with open(os.path.join(SOURCE, "src", "store", "catalogue.sql")) as f:
        db.executescript(f.read())
    db.execute("INSERT INTO servers (name,server,port,ssl,uid,pwd,basedn) VALUES "
               "('A','127.0.0.1',?,'N',?,?,?)",
               (int(env["QUORVEL_LDAP_PORT"]), env["QUORVEL_LDAP_ADMIN_DN"],
                env["QUORVEL_LDAP_ADMIN_PW"], BASE))
    for name, att in (("bydn", "cn;mail;member"), ("byuuid", "entryUUID;cn;mail;member")):
        db.execute("INSERT INTO profiles (name,serverid,basedn,scope,att,filter,readable) VALUES "
                   "(?,1,?,2,?,?,0)", (name, BASE, att, FILTER))
    db.commit()
    db.close()
    return path


def sql(cat, statement, args=()):
    db = sqlite3.connect(cat)
    rows = db.execute(statement, args).fetchall()
    db.commit()
    db.close()
    return rows


def changes(cat, profile, fmt, output):
    out = run([REPORT, "--catalogue", cat, "--profile", profile, "--changes", "--format", fmt,
               "--output", output])
    return out.returncode, out.stderr.decode(errors="replace")


def read_csv(path):
    with open(path, encoding="utf-8-sig", newline="") as f:
        return list(csv.reader(f))


def read_xlsx(path):
    import openpyxl
    sheet = openpyxl.load_workbook(path).worksheets[0]
    return [["" if v is None else str(v) for v in row] for row in sheet.iter_rows(values_only=True)]


def ordered(rows, columns):
    """The report's order: DN, then the attribute in the profile's order, then the value."""
    rank = {name: k + 1 for k, name in enumerate(columns)}
    rank["dn"] = 0
    return sorted(rows, key=lambda r: (r[1].encode(), rank.get(r[2], 0),
                                       (r[3] or r[4]).encode()))


def entry_rows(kind, dn, attrs):
    side = (lambda v: [v, ""]) if kind == "removed" else (lambda v: ["", v])
    return [[kind, dn, name] + side(v) for name, values in attrs for v in values]


def expected_by_dn():
    rows = []
    for cn in ("new1", "new2", "new3"):
        rows += entry_rows("added", "cn=%s,%s" % (cn, PEOPLE),
                           [("cn", [cn]), ("mail", [cn + "@quorvel.test"])])
    for cn in ("p05", "p06", "p08", "p09"):
        rows += entry_rows("removed", "cn=%s,%s" % (cn, PEOPLE),
                           [("cn", [cn]), ("mail", [cn + "@quorvel.test"])])
    rows += entry_rows("added", "cn=p08x," + PEOPLE, [("cn", ["p08x"]),
                                                      ("mail", ["p08@quorvel.test"])])
    rows += entry_rows("added", "cn=p09,ou=moved," + BASE, [("cn", ["p09"]),
                                                            ("mail", ["p09@quorvel.test"])])
    rows.append(["changed", "cn=p07," + PEOPLE, "mail", "p07@quorvel.test", "seven@quorvel.test"])
    rows += [["changed", GROUP, "member", member(i), ""] for i in (1, 2)]
    rows += [["changed", GROUP, "member", "", member(i)] for i in (3000, 3001)]
    return ordered(rows, ["cn", "mail", "member"])


def expected_by_uuid(before, after):
    rows = []
    for cn in ("new1", "new2", "new3"):
        dn = "cn=%s,%s" % (cn, PEOPLE)
        rows += entry_rows("added", dn, [("entryUUID", [after[dn]]), ("cn", [cn]),
                                         ("mail", [cn + "@quorvel.test"])])
    for cn in ("p05", "p06"):
        dn = "cn=%s,%s" % (cn, PEOPLE)
        rows += entry_rows("removed", dn, [("entryUUID", [before[dn]]), ("cn", [cn]),
                                           ("mail", [cn + "@quorvel.test"])])
    rows.append(["renamed", "cn=p08x," + PEOPLE, "dn", "cn=p08," + PEOPLE, "cn=p08x," + PEOPLE])
    rows.append(["changed", "cn=p08x," + PEOPLE, "cn", "p08", "p08x"])
    rows.append(["renamed", "cn=p09,ou=moved," + BASE, "dn", "cn=p09," + PEOPLE,
                 "cn=p09,ou=moved," + BASE])
    rows.append(["changed", "cn=p07," + PEOPLE, "mail", "p07@quorvel.test", "seven@quorvel.test"])
    rows += [["changed", GROUP, "member", member(i), ""] for i in (1, 2)]
    rows += [["changed", GROUP, "member", "", member(i)] for i in (3000, 3001)]
    return ordered(rows, ["entryUUID", "cn", "mail", "member"])


def check_report(cat, work, profile, expected, counts):
    for fmt, reader in (("csv", read_csv), ("xlsx", read_xlsx)):
        path = os.path.join(work, "%s.%s" % (profile, fmt))
        # Each format's run compares with the same snapshot: the history is
        # put back as it was before the second.
        status, err = changes(cat, profile, fmt, path)
        assert status == 6, (profile, fmt, status, err)
        assert re.search(r"Since \d{4}-\d\d-\d\d \d\d:\d\d:\d\d UTC: " + re.escape(counts), err), err
        got = reader(path)
        assert got[0] == HEADER, got[0]
        assert got[1:] == expected, "%s %s:\n%s\nexpected\n%s" % (
            profile, fmt, "\n".join(map(str, got[1:])), "\n".join(map(str, expected)))
        if fmt == "csv":
            # Put the snapshot back as it was for the workbook's run.
            shutil.copy(os.path.join(work, "history-before.db"), os.path.join(work, "lib",
                                                                            "history.db"))


def main():
    work = tempfile.mkdtemp(prefix="quorvel-changes.")
    folder = os.path.join(work, "slapd")
    try:
        ldif = os.path.join(work, "dir.ldif")
        with open(ldif, "w") as f:
            f.write(directory())
        out = run(["bash", HARNESS, "start", folder, "--ldif", ldif, "--no-tls"])
        assert out.returncode == 0, out.stdout.decode(errors="replace") + out.stderr.decode(
            errors="replace")
        env = env_of(folder)
        cat = catalogue(work, env)
        history = os.path.join(work, "lib", "history.db")
        first = os.path.join(work, "first.csv")
        status, err = changes(cat, "bydn", "csv", first)
        assert status == 0 and "There is no snapshot of this profile yet" in err, (status, err)
        assert read_csv(first) == [HEADER]
        # A plain report keeps its run too.
        out = run([REPORT, "--catalogue", cat, "--profile", "byuuid", "--format", "csv",
                   "--output", first])
        assert out.returncode == 0 and not out.stderr, out
        assert len(read_csv(first)) == 22, read_csv(first)
        assert os.stat(history).st_mode & 0o777 == 0o600, oct(os.stat(history).st_mode)
        before = uuids(env)
        ldapmodify(env, MODIFY)
        after = uuids(env)
        shutil.copy(history, os.path.join(work, "history-before.db"))
        check_report(cat, work, "bydn", expected_by_dn(),
                     "5 entries added, 4 removed, 0 renamed, 2 changed.")
        shutil.copy(os.path.join(work, "history-before.db"), history)
        check_report(cat, work, "byuuid", expected_by_uuid(before, after),
                     "3 entries added, 2 removed, 2 renamed, 3 changed.")

        # Nothing changed since: the header only, and status 0.
        status, err = changes(cat, "byuuid", "csv", first)
        assert status == 0 and "0 entries added, 0 removed, 0 renamed, 0 changed" in err, err
        assert read_csv(first) == [HEADER]

        # A failed run (the bind is refused) keeps the snapshot before it.
        taken = sql(history, "SELECT taken FROM snapshots ORDER BY profile")
        ldapmodify(env, "dn: cn=p10,%s\nchangetype: modify\nreplace: mail\nmail: ten@q\n-\n\n" %
                   PEOPLE)
        sql(cat, "UPDATE servers SET pwd = 'wrong'")
        status, err = changes(cat, "byuuid", "csv", first)
        assert status == 2, (status, err)
        assert sql(history, "SELECT taken FROM snapshots ORDER BY profile") == taken
        sql(cat, "UPDATE servers SET pwd = ?", (env["QUORVEL_LDAP_ADMIN_PW"],))
        status, err = changes(cat, "byuuid", "csv", first)
        assert status == 6, (status, err)
        assert read_csv(first) == [HEADER, ["changed", "cn=p10," + PEOPLE, "mail",
                                            "p10@quorvel.test", "ten@q"]]

        # A changed filter is not compared; this run becomes the snapshot.
        sql(cat, "UPDATE profiles SET filter = '(objectClass=inetOrgPerson)' WHERE name = 'bydn'")
        status, err = changes(cat, "bydn", "csv", first)
        assert status == 0 and "have changed since its snapshot of" in err, (status, err)
        assert read_csv(first) == [HEADER]
        assert sql(history, "SELECT (SELECT filter FROM snapshots WHERE profile = 1), "
                   "(SELECT count(*) FROM snapshot_values_1)") == [
                       ("(objectClass=inetOrgPerson)", 21)]
        status, err = changes(cat, "bydn", "csv", first)
        assert status == 0 and "Since" in err, (status, err)
        print("change reports: by DN and by entryUUID, CSV and workbook read back")
    finally:
        subprocess.run(["bash", HARNESS, "stop", folder], timeout=60, capture_output=True)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
