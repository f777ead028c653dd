"""LDIF writing shared by the directory generators (gen-test-ldif.py,
gen-demo-ldif.py): one "attr: value" line per value, Base64 ("attr:: ...")
where LDIF needs it (bytes, non-ASCII or control characters, a leading blank,
colon or "<", a trailing blank)."""
import base64
import sys


def needs_base64(value):
    if isinstance(value, bytes):
        return True
    if value == "":
        return False
    if value[0] in " :<" or value[-1] == " ":
        return True
    return any(ord(c) > 126 or ord(c) < 32 for c in value)


def line(attr, value):
    if needs_base64(value):
        raw = value if isinstance(value, bytes) else value.encode("utf-8")
        return "%s:: %s" % (attr, base64.b64encode(raw).decode("ascii"))
    return "%s: %s" % (attr, value)


def entry(out, dn, attrs):
    """Appends the lines of one entry (and its closing empty line) to out;
    attrs is a list of (name, value or list of values)."""
    out.append(line("dn", dn))
    for attr, values in attrs:
        for v in values if isinstance(values, list) else [values]:
            out.append(line(attr, v))
    out.append("")


def write_ldif(out, path):
    """Writes the collected lines to path, or to standard output when path is None."""
    text = "\n".join(out) + "\n"
    if path:
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
    else:
        sys.stdout.write(text)
