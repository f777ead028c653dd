#!/usr/bin/python3
"""The values that cells cannot hold, written by quorvel-report as LDIF (RFC
2849) and JSON Lines and read back by independent readers.

Usage: exact_values_test.py BUILD_DIR SOURCE_DIR

Two private directory servers with the same schema (scripts/slapd-harness.sh):
A holds entries with hostile values below ou=hostile, B only the containers.
The LDIF report of A is imported into B with ldapadd, and ldapsearch of both
must give the same entries, value for value, in order. The JSON Lines report of
A is read with Python's json and with jq, and must hold exactly ldapsearch's
values of A (text as strings, other values as Base64). Both servers are
stopped at the end, whatever happens.
"""
import base64
import json
import os
import shutil
import sqlite3
import subprocess
import sys
import tempfile

BUILD, SOURCE = sys.argv[1], sys.argv[2]
HARNESS = os.path.join(SOURCE, "scripts", "slapd-harness.sh")
REPORT = os.path.join(BUILD, "quorvel-report")
BASE = "dc=quorvel,dc=test"
OU = "ou=hostile," + BASE
ATTRS = ["objectClass", "cn", "sn", "description", "userParameters", "sIDHistory"]
TIMEOUT = 240


def b64(data):
    return base64.b64encode(data).decode("ascii")


def record(dn, attrs):
    """An LDIF record for slapadd, every value Base64 so that any byte goes."""
    lines = ["dn:: " + b64(dn.encode("utf-8"))]
    for name, values in attrs:
        for v in values:
            lines.append(name + ":: " + b64(v if isinstance(v, bytes) else v.encode("utf-8")))
    return "\n".join(lines) + "\n\n"


def person(cn, sn, description=(), extra=()):
    attrs = [("objectClass", ["inetOrgPerson", "quorvelDomainAccount"]), ("cn", [cn]),
             ("sn", [sn])]
    if description:
        attrs.append(("description", list(description)))
    attrs.extend(extra)
    return record("cn=" + cn + "," + OU, attrs)


def containers():
    return (record(BASE, [("objectClass", ["dcObject", "organization"]), ("dc", ["quorvel"]),
                          ("o", ["Quorvel"])]) +
            record(OU, [("objectClass", ["organizationalUnit"]), ("ou", ["hostile"])]))


def hostile():
    return "".join([
        person("edges", "Edges", [" leading blank", "trailing blank ", "  both  ", ":colon first",
                                  "<angle first", "a][b", "[x][y]", "cr\r\nlf", "lf\nonly"]),
        person("nul", "Nul", ["plain"], [("userParameters", [b"a\x00b"])]),
        person("latin1", "Latin", [], [("userParameters", [b"caf\xe9"])]),
        person("binary", "Binary", [], [("sIDHistory", [bytes(range(0, 28)),
                                                        b"\x01\x02 ][ \xff\xfe"])]),
        person("long", "Long", ["x" * 1000 + "é" * 500]),
        person("many", "Many", ["value %03d" % i for i in range(500)]),
        person("Jürgen Müller", "Müller", ["ünïcödé"]),
        person("日本 太郎", "日本", ["テスト"]),
        person("quotes", "Quotes", ['6" pipe', 'say "hi", then \\ leave']),
    ])


def is_text(raw):
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError:
        return False
    return all(c in "\t\r\n" or ord(c) >= 32 for c in text)


def run(args, **kw):
    return subprocess.run(args, timeout=TIMEOUT, capture_output=True, **kw)


def env_of(folder):
    env = {}
    with open(os.path.join(folder, "env")) as f:
        for line in f:
            if "=" in line:
                k, v = line.strip().split("=", 1)
                env[k] = v.strip("'\"")
    return env


def search(env):
    """dn -> [(attribute in lower case, [values as bytes])] as ldapsearch prints them."""
    out = run(["ldapsearch", "-x", "-LLL", "-o", "ldif-wrap=no", "-H",
               "ldap://127.0.0.1:" + env["QUORVEL_LDAP_PORT"], "-D", env["QUORVEL_LDAP_ADMIN_DN"],
               "-w", env["QUORVEL_LDAP_ADMIN_PW"], "-b", OU, "-s", "one", "(objectClass=*)"] +
              ATTRS)
    assert out.returncode == 0, out.stderr.decode(errors="replace")
    entries = {}
    for block in out.stdout.decode("ascii").split("\n\n"):
        lines = [l for l in block.split("\n") if l and not l.startswith("#")]
        if not lines:
            continue
        values = []
        for line in lines:
            name, _, rest = line.partition(":")
            value = base64.b64decode(rest[2:]) if rest.startswith(": ") else rest[1:].encode()
            values.append((name.lower(), value))
        dn = values[0][1].decode("utf-8")
        attrs = {}
        for name, value in values[1:]:
            attrs.setdefault(name, []).append(value)
        entries[dn.lower()] = (dn, attrs)
    return entries


def catalogue(folder, env):
    path = os.path.join(folder, "catalogue.db")
    db = sqlite3.connect(path)
    with open(os.path.join(SOURCE, "src", "store", "catalogue.sql")) as f:
        db.executescript(f.read())
    db.execute("INSERT INTO servers (name,server,port,ssl,uid,pwd,basedn) VALUES "
               "('A','127.0.0.1',?,'N',?,?,?)",
               (int(env["QUORVEL_LDAP_PORT"]), env["QUORVEL_LDAP_ADMIN_DN"],
                env["QUORVEL_LDAP_ADMIN_PW"], BASE))
    db.execute("INSERT INTO profiles (name,serverid,basedn,scope,att,filter,readable) VALUES "
               "('hostile',1,?,1,?,'(objectClass=*)',0)", (OU, ";".join(ATTRS)))
    db.commit()
    db.close()
    return path


def report(cat, fmt, output):
    out = run([REPORT, "--catalogue", cat, "--profile", "hostile", "--format", fmt,
               "--output", output])
    assert out.returncode == 0, (fmt, out.returncode, out.stderr.decode(errors="replace"))


def check_ldif(work, cat, a, b):
    path = os.path.join(work, "hostile.ldif")
    report(cat, "ldif2849", path)
    data = open(path, "rb").read()
    assert all(len(l) <= 76 for l in data.split(b"\n")), "a line longer than 76 bytes"
    assert all(c < 128 for c in data), "a byte above 127 outside Base64"
    out = run(["ldapadd", "-x", "-H", "ldap://127.0.0.1:" + b["QUORVEL_LDAP_PORT"], "-D",
               b["QUORVEL_LDAP_ADMIN_DN"], "-w", b["QUORVEL_LDAP_ADMIN_PW"], "-f", path])
    assert out.returncode == 0, out.stderr.decode(errors="replace")
    first, second = search(a), search(b)
    assert len(first) == 9, sorted(first)
    assert first == second, "the imported entries differ:\n%r\n%r" % (first, second)


def check_jsonl(work, cat, a):
    path = os.path.join(work, "hostile.jsonl")
    report(cat, "jsonl", path)
    data = open(path, "rb").read()
    assert not data.startswith(b"\xef\xbb\xbf"), "a byte order mark"
    expected = search(a)
    rows = [json.loads(line) for line in data.decode("utf-8").splitlines()]
    assert len(rows) == len(expected), len(rows)
    for row in rows:
        dn, attrs = expected[row["dn"].lower()]
        assert row["dn"] == dn, (row["dn"], dn)
        assert list(row) == ["dn"] + ATTRS, list(row)
        for name in ATTRS:
            got = [base64.b64decode(v["base64"]) if isinstance(v, dict) else v.encode("utf-8")
                   for v in row[name]]
            assert got == attrs.get(name.lower(), []), (dn, name, got, attrs.get(name.lower()))
            # Text stays a string; only what is not text is Base64.
            for v, raw in zip(row[name], got):
                assert isinstance(v, dict) != is_text(raw), (dn, name, raw)
    # jq reads every line as one object and finds the same DNs.
    out = run(["jq", "-r", ".dn", path])
    assert out.returncode == 0, out.stderr.decode(errors="replace")
    assert sorted(out.stdout.decode("utf-8").splitlines()) == sorted(r["dn"] for r in rows)
    out = run(["jq", "select(.cn == [\"many\"]) | .description | length == 500", path])
    assert out.returncode == 0 and out.stdout.strip() == b"true", out


def main():
    work = tempfile.mkdtemp(prefix="quorvel-exact.")
    started = []
    try:
        for name, ldif in (("a", containers() + hostile()), ("b", containers())):
            path = os.path.join(work, name + ".ldif")
            with open(path, "w", encoding="utf-8") as f:
                f.write(ldif)
            folder = os.path.join(work, name)
            started.append(folder)
            out = run(["bash", HARNESS, "start", folder, "--ldif", path])
            assert out.returncode == 0, out.stdout.decode(errors="replace") + out.stderr.decode(
                errors="replace")
        a, b = env_of(started[0]), env_of(started[1])
        cat = catalogue(work, a)
        check_ldif(work, cat, a, b)
        check_jsonl(work, cat, a)
        print("exact values: LDIF re-imported and JSON Lines read back")
    finally:
        for folder in started:
            subprocess.run(["bash", HARNESS, "stop", folder], timeout=60, capture_output=True)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
