#!/usr/bin/python3
"""Reads a report back with an independent reader and compares it cell by cell
with the expected table.

usage: check_report.py FORMAT REPORT EXPECTED.json

EXPECTED.json holds {"header": [...], "rows": [[...], ...], "widths": [...]} and,
for xlsx, optionally "times": [[row, column], ...], the data cells (counted from
0 below the header) that must be date-time cells; their expected text is the
"YYYY-MM-DD hh:mm:ss" the cell shows.
Prints every difference and exits 1 when there is one.
"""
import base64
import csv
import datetime
import decimal
import html.parser
import json
import re
import subprocess
import sys


def norm_breaks(s):
    return s.replace("\r\n", "\n").replace("\r", "\n")


def one_line(s, tabs):
    """A value as the one-line formats write it: every line break (and, for
    plain text, every TAB) as one blank."""
    s = norm_breaks(s).replace("\n", " ")
    return s.replace("\t", " ") if tabs else s


def number_text(v):
    """The text of a number cell as the writer took it: a whole number without
    a point, any other in plain decimal notation."""
    if v == int(v):
        return str(int(v))
    return format(decimal.Decimal(repr(v)), "f")


def to_1252(s, limit=255):
    """What a label of the spreadsheet format can hold: Windows-1252 with "?"
    for the rest, cut to 255 bytes."""
    b = s.encode("cp1252", errors="replace")[:limit]
    return b.decode("cp1252")


class TableCells(html.parser.HTMLParser):
    """Collects the text of every table cell, row by row."""

    def __init__(self, rtf=False):
        super().__init__(convert_charrefs=True)
        self.rows, self.row, self.cell = [], None, None
        # unrtf's rendering: line breaks are <br> only (source newlines are
        # layout), and characters it writes from control words at the start of
        # a cell land just before that cell's <td>.
        self.rtf, self.pending = rtf, ""

    def handle_starttag(self, tag, attrs):
        if tag == "tr":
            self.row = []
        elif tag == "td" and self.row is not None:
            self.cell, self.pending = self.pending, ""
        elif tag == "br" and self.cell is not None:
            self.cell += "\n"

    def handle_endtag(self, tag):
        if tag == "td" and self.cell is not None:
            self.row.append(self.cell)
            self.cell = None
        elif tag == "tr" and self.row is not None:
            self.rows.append(self.row)
            self.row = None

    def handle_data(self, data):
        if self.rtf:
            data = re.sub("\xa0+\n?", "\t", data).replace("\n", "")
        if self.cell is not None:
            self.cell += data
        elif self.rtf and self.row is not None:
            self.pending += data


def read_csv(path, encoding="utf-8"):
    with open(path, newline="", encoding=encoding) as f:
        return [list(r) for r in csv.reader(f, strict=True)]


def read_ldif(path, header):
    with open(path, "rb") as f:
        data = f.read().decode("utf-8")
    lines = data.split("\r\n")
    assert lines[0] == "# Quorvel LDIF Output File", lines[0]
    assert lines[1].startswith("# Generated on "), lines[1]
    assert lines[2] == "version: 1" and lines[3] == "", lines[2:4]
    rows, i = [], 4
    while i < len(lines) and lines[i] != "":
        assert lines[i] == "# Result %d" % len(rows), lines[i]
        row = []
        for title in header:
            i += 1
            line = lines[i]
            if line.startswith(title + ":: "):
                row.append(base64.b64decode(line[len(title) + 3:]).decode("utf-8"))
            else:
                assert line.startswith(title + ": "), line
                row.append(line[len(title) + 2:])
        rows.append(row)
        i += 2  # the empty line after the entry
    assert lines[i:] in ([""], ["", ""]), lines[i:i + 3]
    return [header] + rows


def read_html(path):
    with open(path, "rb") as f:
        text = f.read().decode("utf-8")
    assert 'charset=UTF-8' in text
    p = TableCells()
    p.feed(text)
    return [[c.replace("\xa0", "") for c in r] for r in p.rows]


def read_rtf(path):
    out = subprocess.run(["unrtf", "--html", path], capture_output=True, check=True).stdout
    p = TableCells(rtf=True)
    p.feed(out.decode("utf-8", errors="replace"))
    return p.rows


def read_xls(path):
    import xlrd
    book = xlrd.open_workbook(path)
    sheet = book.sheet_by_index(0)
    rows = []
    for r in range(sheet.nrows):
        row = []
        for c in range(sheet.ncols):
            v = sheet.cell_value(r, c)
            row.append(v if isinstance(v, str) else number_text(v))
        rows.append(row)
    return rows


NUMBER = re.compile(r"-?(0|[1-9][0-9]*)(\.[0-9]*[1-9])?")


def is_number_text(s):
    """The texts a spreadsheet report stores as numbers: plain decimals that
    read back as the same text (no leading or trailing zeros, at most 15
    significant digits, no "-0")."""
    if not NUMBER.fullmatch(s) or s == "-0":
        return False
    return len(s.lstrip("-").replace(".", "").lstrip("0")) <= 15


CONTROL_ESCAPE = re.compile(r"_x(00[01][0-9A-Fa-f])_")


def read_xlsx(path, exp):
    """Every cell with its type: date-times exactly at the expected "times"
    (shown as yyyy-mm-dd hh:mm:ss), numbers exactly where the text is a number
    text, strings everywhere else; the header row bold on the grid's header
    colour, frozen, and an autofilter over the used range."""
    import openpyxl
    book = openpyxl.load_workbook(path)
    sheet = book.worksheets[0]
    header, rows = exp["header"], exp["rows"]
    times = {(r + 1, c) for r, c in exp.get("times", [])}
    cells_of = list(sheet.iter_rows())
    ncols = len(header)
    assert sheet.freeze_panes == "A2", sheet.freeze_panes
    last = openpyxl.utils.get_column_letter(ncols)
    assert sheet.auto_filter.ref == "A1:%s%d" % (last, len(rows) + 1), sheet.auto_filter.ref
    for c in sheet[1]:
        assert c.font.b, "header cell %s not bold" % c.coordinate
        assert c.fill.fgColor.rgb in ("FFC8C8C8", "00C8C8C8"), c.fill.fgColor.rgb
    table = []
    for r, row in enumerate(sheet.iter_rows(values_only=True)):
        cells = []
        for c, v in enumerate(row):
            if (r, c) in times:
                fmt = cells_of[r][c].number_format
                if not isinstance(v, datetime.datetime) or fmt != "yyyy-mm-dd hh:mm:ss":
                    print("row %d col %d: %r (format %r), expected a date-time" % (r, c, v, fmt))
                    sys.exit(1)
                cells.append(v.strftime("%Y-%m-%d %H:%M:%S"))
            elif v is None:
                cells.append("")
            elif isinstance(v, str):
                # XML cannot carry a CR or other control character as it is:
                # the format writes it as _xHHHH_, which Excel and LibreOffice
                # decode but openpyxl leaves as it is in inline strings.
                v = CONTROL_ESCAPE.sub(lambda m: chr(int(m.group(1), 16)), v)
                if r > 0 and is_number_text(v):
                    print("row %d col %d: %r is a string, expected a number" % (r, c, v))
                    sys.exit(1)
                cells.append(v)
            elif isinstance(v, (int, float)) and not isinstance(v, bool):
                text = number_text(v)
                if not is_number_text(text):
                    print("row %d col %d: number %r for a text" % (r, c, v))
                    sys.exit(1)
                cells.append(text)
            else:
                print("row %d col %d: unexpected %r" % (r, c, v))
                sys.exit(1)
        table.append(cells)
    return table


def main():
    fmt, report, expected_path = sys.argv[1:4]
    with open(expected_path, encoding="utf-8") as f:
        exp = json.load(f)
    header, rows = exp["header"], exp["rows"]
    expected = [header] + rows
    normalize = lambda s: s
    if fmt == "csv":
        actual = read_csv(report)
    elif fmt in ("tab", "lo-tab"):
        if fmt == "tab":
            with open(report, newline="", encoding="utf-8") as f:
                actual = [list(r) for r in csv.reader(f, dialect="excel-tab", strict=True)]
        else:
            actual = read_csv(report)
        # The last line is the export date (a spreadsheet pads it with empty cells).
        date = actual[-1]
        assert date[0].startswith("Created: ") and not any(date[1:]), actual[-1:]
        actual = actual[:-1]
        normalize = norm_breaks
    elif fmt == "txt":
        with open(report, "rb") as f:
            lines = f.read().decode("utf-8").split("\r\n")
        widths = exp["widths"]
        total = sum(widths) + len(widths) - 1
        assert lines[1] == "-" * total and lines[-3] == "-" * total, "separator lines"
        assert lines[-2].startswith("Created: ") and lines[-1] == ""
        pad = lambda t, w: t + " " * (w - len(t))
        layout = lambda r: " ".join(pad(one_line(v, True), w) for v, w in zip(r, widths))
        actual_lines = [lines[0]] + lines[2:-3]
        bad = 0
        want = [layout(header)] + [layout(r) for r in rows]
        if len(actual_lines) != len(want):
            print("txt: %d lines, expected %d" % (len(actual_lines), len(want)))
            sys.exit(1)
        for k, (a, w) in enumerate(zip(actual_lines, want)):
            if a != w:
                bad += 1
                print("txt line %d differs" % k)
        sys.exit(1 if bad else 0)
    elif fmt == "ldif":
        actual = read_ldif(report, header)
    elif fmt == "html":
        actual = read_html(report)
        normalize = norm_breaks
    elif fmt == "rtf":
        actual = read_rtf(report)
        # unrtf folds every run of blanks into one, in text and HTML output alike.
        normalize = lambda s: re.sub(" +", " ", norm_breaks(s))
    elif fmt in ("xls", "lo-xls", "gnumeric-xls"):
        actual = read_xls(report) if fmt == "xls" else read_csv(report)
        normalize = lambda s: norm_breaks(to_1252(s))
    elif fmt in ("lo", "lo-xlsx"):
        actual = read_csv(report)
        normalize = norm_breaks
    elif fmt == "xlsx":
        actual = read_xlsx(report, exp)
    elif fmt == "lo-dif":
        actual = read_csv(report)
        normalize = lambda s: one_line(s, False)
    else:
        print("unknown format", fmt)
        sys.exit(2)

    bad = 0
    if len(actual) != len(expected):
        print("%s: %d rows, expected %d" % (fmt, len(actual), len(expected)))
        bad += 1
    for r, (a_row, e_row) in enumerate(zip(actual, expected)):
        if len(a_row) != len(e_row):
            print("%s row %d: %d cells, expected %d: %r" % (fmt, r, len(a_row), len(e_row),
                                                          a_row[:4]))
            bad += 1
            continue
        for c, (a, e) in enumerate(zip(a_row, e_row)):
            if normalize(a) != normalize(e):
                print("%s row %d col %d: got %r, expected %r" % (fmt, r, c, a[:80],
                                                                 normalize(e)[:80]))
                bad += 1
        if bad > 20:
            break
    sys.exit(1 if bad else 0)


if __name__ == "__main__":
    main()
