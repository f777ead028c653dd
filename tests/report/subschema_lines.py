#!/usr/bin/env python3
"""Reads `ldapsearch -LLL -o ldif-wrap=no ... attributeTypes` output on stdin
and prints, for every attribute type, the line quorvel-report --schema should
print: name, other names, syntax (inherited through SUP), single or multi,
description, tab-separated, sorted by name without regard to case. Written
from the description grammar, independently of the program's parser."""
import base64
import re
import sys

TOKEN = re.compile(r"\s*(?:(\()|(\))|(\$)|'((?:[^'\\]|\\..)*)'|([^\s()$']+))")


def tokens(text):
    pos = 0
    out = []
    while pos < len(text):
        m = TOKEN.match(text, pos)
        if not m or m.end() == pos:
            break
        pos = m.end()
        if m.group(1):
            out.append(("(", None))
        elif m.group(2):
            out.append((")", None))
        elif m.group(3):
            out.append(("$", None))
        elif m.group(4) is not None:
            s = re.sub(r"\\27", "'", m.group(4))
            s = re.sub(r"\\5[cC]", lambda _: "\\", s)
            out.append(("w", s))
        elif m.group(5):
            out.append(("w", m.group(5)))
    return out


FLAGS = {"OBSOLETE", "SINGLE-VALUE", "COLLECTIVE", "NO-USER-MODIFICATION"}


def parse(text):
    toks = tokens(text)
    assert toks[0][0] == "(" and toks[-1][0] == ")", text
    oid = toks[1][1]
    fields = {}
    i = 2
    while i < len(toks) - 1:
        key = toks[i][1].upper()
        i += 1
        if key in FLAGS:
            fields[key] = []
            continue
        if toks[i][0] == "(":
            values = []
            i += 1
            while toks[i][0] != ")":
                if toks[i][0] == "w":
                    values.append(toks[i][1])
                i += 1
            i += 1
        else:
            values = [toks[i][1]]
            i += 1
        fields[key] = values
    return oid, fields


def main():
    types = []
    for line in sys.stdin.read().splitlines():
        if line.lower().startswith("attributetypes:: "):
            types.append(base64.b64decode(line.split(":: ", 1)[1]).decode("utf-8"))
        elif line.lower().startswith("attributetypes: "):
            types.append(line.split(": ", 1)[1])
    parsed = []
    by_name = {}
    for text in types:
        oid, f = parse(text)
        names = f.get("NAME", [])
        entry = {
            "oid": oid,
            "names": names,
            "desc": (f.get("DESC") or [""])[0],
            "sup": (f.get("SUP") or [""])[0],
            "syntax": (f.get("SYNTAX") or [""])[0].split("{")[0],
            "single": "SINGLE-VALUE" in f,
        }
        parsed.append(entry)
        for key in [oid] + names:
            by_name.setdefault(key.lower(), entry)

    def syntax(e, depth=0):
        while e and depth < 64:
            if e["syntax"]:
                return e["syntax"]
            e = by_name.get(e["sup"].lower()) if e["sup"] else None
            depth += 1
        return ""

    lines = []
    for e in parsed:
        name = e["names"][0] if e["names"] else e["oid"]
        lines.append((name.lower(), name, "\t".join([
            name, ",".join(e["names"][1:]), syntax(e),
            "single" if e["single"] else "multi", e["desc"]])))
    lines.sort(key=lambda x: (x[0], x[1]))
    for _, _, line in lines:
        print(line)


main()
