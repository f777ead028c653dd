#!/usr/bin/env python3
"""The real program on a real desktop: Xvfb with the openbox window manager,
driven with real key presses and mouse clicks (xdotool) and observed the way a
user sees it (stacking order, mapped state, titles, geometry, pixels).

The offscreen GUI tests answer boxes through the test seam and have no window
manager; what they cannot see is checked here: a box opened under a window
that stays on top, a toolbar that does not follow a right click, a window
that stops painting while it waits on a server, a window bigger than the
screen, titles with something appended.

    wm_test.py BUILD_DIR [TEST_NAME ...]

Each check starts its own copy of the program in a private folder (a copy of
the executable, lib/ with the build's databases, data/) and ends it; the
display and the window manager are shared and stopped at the end. Servers are
scripted on 127.0.0.1 in this process: one that accepts and never answers (as
a server behind a stalled firewall or an overloaded one does), and one that
answers a bind and a search with a fixed entry.
"""
import csv
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from desktop import AccessibilityBus, Desktop  # noqa: E402

MAIN_TITLE = re.compile(r"^Quorvel by Ferrowin \(Version \d+\.\d+ Build \d+\)$")
TREE_GREEN = (0xE6, 0xF5, 0xE0)
CREAM = (0xFF, 0xFB, 0xF0)


# ---------------------------------------------------------------- servers

class SilentServer:
    """Accepts connections on 127.0.0.1 and never says a word."""

    def __init__(self):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(8)
        self.port = self.sock.getsockname()[1]
        self.conns = []
        self.stop = False
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        self.sock.settimeout(0.2)
        while not self.stop:
            try:
                c, _ = self.sock.accept()
                self.conns.append(c)
            except OSError:
                pass

    def close(self):
        self.stop = True
        self.thread.join(2)
        for c in self.conns:
            c.close()
        self.sock.close()


def ber(tag, body):
    n = len(body)
    if n < 128:
        return bytes([tag, n]) + body
    ln = n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([tag, 0x80 | len(ln)]) + ln + body


class AnsweringServer(SilentServer):
    """Answers every bind with success and every search with the given entries
    (DN, {attribute: [values]}), the way a directory server does."""

    def __init__(self, entries):
        self.entries = entries
        super().__init__()

    def _read_message(self, c):
        def exact(n):
            out = b""
            while len(out) < n:
                part = c.recv(n - len(out))
                if not part:
                    raise EOFError
                out += part
            return out
        head = exact(2)
        n = head[1]
        if n & 0x80:
            n = int.from_bytes(exact(n & 0x7F), "big")
        return exact(n)

    def _serve(self, c):
        c.settimeout(30)
        try:
            while True:
                body = self._read_message(c)
                msgid = ber(0x02, body[2:2 + body[1]])
                op = body[2 + body[1]]
                done = ber(0x0A, b"\x00") + ber(0x04, b"") + ber(0x04, b"")
                if op == 0x60:  # bind request
                    c.sendall(ber(0x30, msgid + ber(0x61, done)))
                elif op == 0x63:  # search request
                    for dn, attrs in self.entries:
                        al = b"".join(
                            ber(0x30, ber(0x04, a.encode()) +
                                ber(0x31, b"".join(ber(0x04, v.encode()) for v in vs)))
                            for a, vs in attrs.items())
                        c.sendall(ber(0x30, msgid + ber(0x64, ber(0x04, dn.encode()) +
                                                         ber(0x30, al))))
                    c.sendall(ber(0x30, msgid + ber(0x65, done)))
                else:  # unbind
                    return
        except (EOFError, OSError):
            pass
        finally:
            c.close()

    def _run(self):
        self.sock.settimeout(0.2)
        while not self.stop:
            try:
                c, _ = self.sock.accept()
            except OSError:
                continue
            threading.Thread(target=self._serve, args=(c,), daemon=True).start()


class StallingServer(AnsweringServer):
    """Answers a bind; answers a search with its entries and then goes silent,
    as a hung or overloaded directory does. Records the operation tag of every
    message it reads, in `ops`."""

    def __init__(self, entries):
        self.ops = []
        super().__init__(entries)

    def _serve(self, c):
        c.settimeout(30)
        try:
            while True:
                body = self._read_message(c)
                msgid = ber(0x02, body[2:2 + body[1]])
                op = body[2 + body[1]]
                self.ops.append(op)
                done = ber(0x0A, b"\x00") + ber(0x04, b"") + ber(0x04, b"")
                if op == 0x60:
                    c.sendall(ber(0x30, msgid + ber(0x61, done)))
                elif op == 0x63:
                    for dn, attrs in self.entries:
                        al = b"".join(
                            ber(0x30, ber(0x04, a.encode()) +
                                ber(0x31, b"".join(ber(0x04, v.encode()) for v in vs)))
                            for a, vs in attrs.items())
                        c.sendall(ber(0x30, msgid + ber(0x64, ber(0x04, dn.encode()) +
                                                         ber(0x30, al))))
                elif op == 0x42:
                    return
        except (EOFError, OSError):
            pass
        finally:
            c.close()


# ---------------------------------------------------------------- the program

class Program:
    """One copy of the program in a private folder, on the test display."""

    def __init__(self, desk, build, servers=(), profiles=(), working_store=True, env=None):
        self.desk = desk
        self.dir = tempfile.mkdtemp(prefix="quorvel-wm-")
        os.makedirs(self.dir + "/lib")
        os.makedirs(self.dir + "/data")
        shutil.copy(os.path.join(build, "quorvel"), self.dir)
        shutil.copy(os.path.join(build, "lib/quorvel.db"), self.dir + "/lib")
        if working_store:
            shutil.copy(os.path.join(build, "lib/dump.db"), self.dir + "/lib")
        os.symlink(os.path.realpath(os.path.join(build, "lib/quorvel.so")),
                   self.dir + "/lib/quorvel.so")
        sql = []
        for name, port in servers:
            sql.append("INSERT INTO servers (name,server,port,ssl,uid,pwd,basedn) VALUES "
                       "('%s','127.0.0.1',%d,'N','','','o=x');" % (name, port))
        for server_id, name in profiles:
            sql.append("INSERT INTO profiles (serverid,name,basedn,scope,att,filter) VALUES "
                       "(%d,'%s','o=x',2,'cn','(cn=*)');" % (server_id, name))
        if sql:
            subprocess.run(["sqlite3", self.dir + "/lib/quorvel.db", "\n".join(sql)], check=True)
        e = dict(desk.env)
        e.update(env or {})
        self.log = open(self.dir + "/stderr.txt", "wb")
        self.proc = subprocess.Popen([self.dir + "/quorvel"], cwd=self.dir, env=e,
                                     stdout=subprocess.DEVNULL, stderr=self.log)
        self.main = None

    def wait_main(self, timeout=20):
        self.main = self.desk.wait(lambda: self._main(), timeout, 0.1)
        check(self.main, "the main window did not appear; windows: %s" % self.desk.windows())
        time.sleep(0.5)  # first paint
        # Where the tree's rows are, measured before any of them is selected
        # (a selected row is drawn across the whole width).
        self.rows = self.tree_rows(self.desk.grab(self.main))
        return self.main

    def _main(self):
        for w, t in self.desk.windows():
            if t and t.startswith("Quorvel by"):
                return w
        return None

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait()
        self.log.close()
        shutil.rmtree(self.dir, ignore_errors=True)

    # ---- places in the main window, found by their colours
    def origin(self):
        i = self.desk.info(self.main)
        return i["x"], i["y"]

    def tree_rows(self, img):
        """Centres (x, y) of the workspace tree's rows, in window coordinates."""
        top, bottom = max(img.runs(205, TREE_GREEN), key=lambda r: r[1] - r[0])
        return [(100, (a + b) // 2) for a, b in img.ink_bands(10, top, 200, bottom, TREE_GREEN)]

    def pane_box(self, img):
        """The message pane's text area (x0, y0, x1, y1): the lowest cream area."""
        top, bottom = img.runs(img.width * 2 // 3, CREAM)[-1]
        return (230, top, img.width - 20, bottom)

    def grid_box(self, img):
        top, bottom = img.runs(img.width * 2 // 3, CREAM)[0]
        return (240, top, img.width - 20, bottom)

    def click_row(self, row, button=1):
        x, y = self.rows[row]
        ox, oy = self.origin()
        self.desk.click(ox + x, oy + y, button)

    def run_profile(self, row=2):
        """Runs the profile on tree row `row` from its context menu, answers
        the confirmation and dismisses the box that says the run finished."""
        self.click_row(row)
        self.click_row(row, button=3)
        self.desk.key("Down", "Down", "Down", "Return")  # "Run"
        self.desk.key("y", win=self.desk.find("Confirm", 10))
        info = self.desk.find("Information", 10)
        check(info, "the run did not finish; windows: %s" % self.desk.windows())
        self.desk.key("Return", win=info)


# ---------------------------------------------------------------- checks

class CheckFailed(Exception):
    pass


class TimeUp(BaseException):
    """Ends the whole run (not caught as a check's failure)."""


def check(cond, message):
    if not cond:
        raise CheckFailed(message)


def above(desk, upper, lower):
    order = desk.stacking()
    return upper in order and lower in order and order.index(upper) > order.index(lower)


def test_startup_box_is_above_the_splash(desk, build):
    """A missing working store: the box shows above the splash, answerable,
    and the windows carry exactly their own titles."""
    p = Program(desk, build, working_store=False)
    try:
        box = desk.find_prefix("Error", 20)
        check(box, "no box appeared at start-up; windows: %s" % desk.windows())
        check(desk.info(box)["map"] == "IsViewable", "the box is not viewable")
        for w, t in desk.windows():
            check(w == box or above(desk, box, w), "the box is under %r" % t)
        check(desk.title(box) == "Error", "the box's title is %r" % desk.title(box))
        desk.key("Return", win=box)
        main = p.wait_main()
        title = desk.title(main)
        check(MAIN_TITLE.match(title or ""), "the main window's title is %r" % title)
    finally:
        p.close()


def test_profile_dialog_and_its_box(desk, build):
    """The profile dialog stays above the program only, and its validation
    box opens above it."""
    p = Program(desk, build, servers=[("srv", 389)])
    try:
        p.wait_main()
        p.click_row(1)
        p.click_row(1, button=3)
        desk.key("Down", "Down", "Down", "Return")  # "New Profile"
        dlg = desk.find("Profile Properties: New", 10)
        check(dlg, "the profile dialog did not open; windows: %s" % desk.windows())
        check("_NET_WM_STATE_ABOVE" not in desk.state(dlg),
              "the profile dialog is kept above every application's windows")
        check(desk.transient_for(dlg) == p.main, "the dialog does not belong to the main window")
        desk.key("Return", win=dlg)  # Save with an empty name
        box = desk.find("Error", 10)
        check(box, "no validation box; windows: %s" % desk.windows())
        check(desk.info(box)["map"] == "IsViewable", "the box is not viewable")
        check(above(desk, box, dlg), "the validation box opened beneath the dialog")
        desk.key("Return", win=box)
        check(desk.wait(lambda: desk.find("Error", 0) is None, 5), "the box did not close")
        desk.key("Escape", win=dlg)
    finally:
        p.close()


def test_toolbar_follows_right_click_and_arrow_keys(desk, build):
    p = Program(desk, build, servers=[("srv", 389)], profiles=[(1, "prof")])
    try:
        p.wait_main()
        strip = lambda: desk.grab(p.main).crop(0, 20, 300, 34)  # the toolbar  # noqa: E731
        p.click_row(2)
        on_profile = strip()
        p.click_row(1)
        on_server = strip()
        check(on_profile.differs(on_server), "the toolbar looks the same for both nodes")
        p.click_row(2)
        p.click_row(1, button=3)  # the popup takes the release
        desk.key("Escape")
        check(not strip().differs(on_server),
              "after a right click on the server the toolbar keeps the profile's state")
        desk.key("Down")  # back to the profile
        check(not strip().differs(on_profile),
              "after the arrow key the toolbar keeps the server's state")
    finally:
        p.close()


def test_window_keeps_painting_while_connecting(desk, build):
    """A server that accepts and never answers: the progress lines appear at
    once and a window moved across leaves no trace, while input is held."""
    srv = SilentServer()
    p = Program(desk, build, servers=[("srv", srv.port)], profiles=[(1, "prof")])
    try:
        p.wait_main()
        p.click_row(2)
        img = desk.grab(p.main)
        pane = p.pane_box(img)
        before = len(img.ink_bands(*pane, CREAM))
        grid = p.grid_box(img)
        p.click_row(2, button=3)
        desk.key("Down", "Down", "Down", "Return")  # "Run"
        ask = desk.find("Confirm", 10)
        check(ask, "no confirmation; windows: %s" % desk.windows())
        desk.key("y", win=ask)
        count = lambda: len(desk.grab(p.main).ink_bands(*pane, CREAM))  # noqa: E731
        lines = desk.wait(lambda: count() == before + 2 and before + 2, 3, 0.2) or count()
        check(lines == before + 2,
              "%d new pane lines within 3 s, expected 2 (\"Please wait\", \"Connecting to\")"
              % (lines - before))
        # Another window across the grid, then gone: the grid is painted again.
        ox, oy = p.origin()
        cover = subprocess.Popen(["xmessage", "-geometry", "300x120+%d+%d" % (ox + 300, oy + 150),
                                  "covering the grid"], env=desk.env,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            check(desk.find("xmessage", 10), "the covering window did not appear")
            time.sleep(0.5)
        finally:
            cover.kill()
            cover.wait()
        time.sleep(1.0)
        g = desk.grab(p.main)
        stale = sum(1 for y in range(grid[1], grid[3]) for x in range(grid[0], grid[2], 3)
                    if g.pixel(x, y) != CREAM)
        check(stale == 0, "%d pixels of the covering window stay burnt into the grid" % stale)
    finally:
        p.close()
        srv.close()


def test_esc_stops_a_run_that_waits_on_a_silent_server(desk, build):
    """A server that sends two entries and then nothing: Esc, pressed as the
    user does, ends the run at once; the server sees the search abandoned and
    the connection unbound, and the program goes on."""
    srv = StallingServer([("cn=a,o=x", {"cn": ["a"]}), ("cn=b,o=x", {"cn": ["b"]})])
    p = Program(desk, build, servers=[("srv", srv.port)], profiles=[(1, "prof")])
    try:
        p.wait_main()
        p.click_row(2)
        p.click_row(2, button=3)
        desk.key("Down", "Down", "Down", "Return")  # "Run"
        ask = desk.find("Confirm", 10)
        check(ask, "no confirmation; windows: %s" % desk.windows())
        desk.key("y", win=ask)
        check(desk.wait(lambda: 0x63 in srv.ops, 10), "the search never reached the server")
        time.sleep(0.5)
        desk.key("Escape", win=p.main)
        check(desk.wait(lambda: srv.ops[-2:] == [0x50, 0x42], 5),
              "after Esc the server read %s, expected the abandon (0x50) and the unbind (0x42)"
              % [hex(o) for o in srv.ops])
        check(p.proc.poll() is None, "the program ended")
        check(desk.find("Error", 1) is None, "an error box opened: %s" % desk.windows())
    finally:
        p.close()
        srv.close()


def test_server_test_shows_it_is_working(desk, build):
    srv = SilentServer()
    p = Program(desk, build, servers=[("srv", srv.port)])
    try:
        p.wait_main()
        p.click_row(1)
        p.click_row(1, button=3)
        desk.key("Down", "Return")  # "Edit Server"
        dlg = desk.find("Server Properties: srv", 10)
        check(dlg, "the server dialog did not open; windows: %s" % desk.windows())
        i = desk.info(dlg)
        buttons = lambda: desk.grab(dlg).crop(i["width"] - 262, i["height"] - 35, 160, 25)  # noqa
        idle = buttons()
        desk.click(i["x"] + i["width"] - 50, i["y"] + i["height"] - 22)  # "Test"
        check(desk.wait(lambda: buttons().differs(idle), 3, 0.2),
              "the dialog shows nothing while the test waits")
    finally:
        p.close()
        srv.close()


def test_column_widths_survive_minimise_and_restore(desk, build):
    srv = AnsweringServer([("cn=a,o=x", {"cn": ["a"]}), ("cn=b,o=x", {"cn": ["b"]})])
    p = Program(desk, build, servers=[("srv", srv.port)], profiles=[(1, "prof")])
    try:
        p.wait_main()
        p.run_profile()
        time.sleep(0.5)
        img = desk.grab(p.main)
        grid = p.grid_box(img)
        header = lambda im: im.crop(240, grid[1] - 30, 400, 30)  # noqa: E731
        before = header(img)
        desk.run("xdotool", "windowminimize", "--sync", str(p.main), check=True)
        time.sleep(0.5)
        desk.run("xdotool", "windowactivate", "--sync", str(p.main), check=True)
        time.sleep(0.8)
        check(not header(desk.grab(p.main)).differs(before),
              "minimising and restoring changed the column widths")
    finally:
        p.close()
        srv.close()


def test_view_only_without_a_viewer_says_so(desk, build):
    """"View only" on a desktop where nothing opens the written file: a box
    says so instead of nothing happening."""
    srv = AnsweringServer([("cn=a,o=x", {"cn": ["a"]})])
    # No program of the desktop's to open files with: nothing on the PATH.
    p = Program(desk, build, servers=[("srv", srv.port)], profiles=[(1, "prof")],
                env={"PATH": "/nonexistent"})
    try:
        p.wait_main()
        p.run_profile()
        ox, oy = p.origin()
        desk.click(ox + 186, oy + 37)  # the toolbar's "Save Report"
        sel = desk.find("Exporting DBGrid", 10)
        check(sel, "the format window did not open; windows: %s" % desk.windows())
        i = desk.info(sel)
        desk.click(i["x"] + 30, i["y"] + 76)  # "View only", in the group box at (8, 8)
        desk.key("Return", win=sel)  # "Export"
        box = desk.find("Error", 10)
        check(box, "nothing says the report could not be opened; windows: %s" % desk.windows())
        check(desk.info(box)["map"] == "IsViewable", "the box is not viewable")
    finally:
        p.close()
        srv.close()


def test_main_window_fits_a_scaled_screen(desk, build):
    p = Program(desk, build, env={"QT_SCALE_FACTOR": "2"})
    try:
        main = p.wait_main()
        i = desk.info(main)
        left, right, top, bottom = desk.frame_extents(main)
        check(i["x"] - left >= 0 and i["y"] - top >= 0,
              "the window's frame starts at (%d, %d), off screen" % (i["x"] - left, i["y"] - top))
        check(i["x"] + i["width"] + right <= desk.width and
              i["y"] + i["height"] + bottom <= desk.height,
              "the window ends at (%d, %d), beyond the %dx%d screen" %
              (i["x"] + i["width"] + right, i["y"] + i["height"] + bottom, desk.width,
               desk.height))
    finally:
        p.close()


# ---------------------------------------------------------------- assistive technology

APP_NAME = "Quorvel"  # the application's name on the accessibility bus
BUTTONS = {"push button", "toggle button", "radio button", "check box"}


def below(rows, path):
    """The objects inside the object at `path`."""
    return [r for r in rows if r["path"][:len(path)] == path and r["path"] != path]


def window(rows, role, name):
    """The path of the top-level window with this role and name, or None."""
    for r in rows:
        if len(r["path"]) == 1 and r["role"] == role and r["name"] == name:
            return r["path"]
    return None


def unnamed_controls(rows):
    """Buttons and fields a screen reader would announce without a name."""
    return ["%s at %s" % (r["role"], r["path"]) for r in rows
            if r["role"] in BUTTONS | {"text", "password text", "combo box"}
            and "showing" in r["states"] and not r["name"].strip()]


def test_screen_readers_find_every_control_named(desk, build):
    """With the accessibility bridge on, as a screen reader reads it: every
    button and menu entry is named, every menu entry has a key (its mnemonic
    or its shortcut; mnemonics unique within their menu), the trees, grid and
    pane are named, and the pane's lines and the status texts are there. The
    server dialog opened from the keyboard names its fields and buttons."""
    bus = AccessibilityBus(desk.env)
    p = None
    try:
        p = Program(desk, build, servers=[("srv", 389)], profiles=[(1, "prof")], env=bus.env)
        p.wait_main()
        rows = bus.dump(APP_NAME)
        main = window(rows, "frame", desk.title(p.main))
        check(main, "the main window is not on the accessibility bus: %s" % rows[:3])
        inside = below(rows, main)
        check(not unnamed_controls(inside), "unnamed: %s" % unnamed_controls(inside))
        tools = [r["name"] for r in inside if r["role"] == "push button" and
                 "showing" in r["states"]]
        check(tools[:3] == ["Add Server", "Add Profile", "Edit Selection"],
              "tool buttons read as %s" % tools)
        menus = [r for r in inside if r["role"] == "menu item"]
        # 5 menus, 10 entries, and Stop (hidden until a search runs).
        check(len(menus) == 16, "%d menu entries, expected 5 menus and 11 entries" % len(menus))
        by_menu = {}
        for r in menus:
            check(r["name"].strip(), "a menu entry without a name at %s" % r["path"])
            check(r["keys"], "the menu entry %r has no key" % r["name"])
            if r["keys"].startswith("Alt+"):
                parent = tuple(r["path"][:-1])
                check(r["keys"] not in by_menu.setdefault(parent, []),
                      "the mnemonic %s of %r is used twice in its menu" % (r["keys"], r["name"]))
                by_menu[parent].append(r["keys"])
        keys = {r["name"]: r["keys"] for r in menus}
        check("Stop" in keys, "no Stop entry among %s" % keys)
        check(keys.get("Run Report") == "F5" and keys.get("Exit") == "Ctrl+Q" and
              keys.get("Export Report") == "Ctrl+E" and keys.get("File") == "Alt+F",
              "menu keys read as %s" % keys)
        named = {(r["role"], r["name"]) for r in inside}
        for want in [("tree", "Workspace"), ("tree", "Browser"), ("table", "Results"),
                     ("table", "Messages"), ("table cell", " MSG: Application initialized..."),
                     ("label", "MSG: Application initialized...")]:
            check(want in named, "no %s named %r" % want)

        # The server dialog, from the keyboard: arrows to the server, F2.
        desk.key("Down", "Down", "F2", win=p.main)
        dlg = desk.find("Server Properties: srv", 10)
        check(dlg, "F2 opened no server dialog; windows: %s" % desk.windows())
        rows = bus.dump(APP_NAME)
        form = window(rows, "dialog", "Server Properties: srv")
        check(form, "the dialog is not on the accessibility bus")
        inside = below(rows, form)
        check(not unnamed_controls(inside), "unnamed in the dialog: %s" % unnamed_controls(inside))
        fields = [r["name"].strip() for r in inside if r["role"] in ("text", "password text")]
        check(fields[:2] == ["Name:", "Host IP:"], "the dialog's fields read as %s" % fields)
        focused = [r["name"].strip() for r in inside if "focused" in r["states"]]
        check(focused == ["Name:"], "the focus is on %s, not the name field" % focused)
        desk.key("Escape", win=dlg)
        check(desk.wait(lambda: desk.find("Server Properties: srv", 0) is None, 5),
              "Escape did not close the dialog")
    finally:
        if p:
            p.close()
        bus.close()


def test_keyboard_alone_runs_a_profile_and_writes_the_report(desk, build):
    """The whole job without the mouse: the workspace tree has the focus at
    start, the arrows reach the profile, F5 and Enter run it, Ctrl+E opens the
    export window, the arrows choose CSV, Enter exports, the path is typed
    into the save dialog and Enter writes it; Ctrl+Q and Enter exit."""
    entries = [("cn=%s,o=x" % n, {"cn": [n]}) for n in ("ann", "bob", "cid")]
    srv = AnsweringServer(entries)
    bus = AccessibilityBus(desk.env)
    p = None
    try:
        p = Program(desk, build, servers=[("srv", srv.port)], profiles=[(1, "prof")],
                    env=bus.env)
        p.wait_main()
        report = os.path.join(p.dir, "data", "people.csv")
        rows = bus.dump(APP_NAME)
        focused = [r for r in rows if "focused" in r["states"] and r["role"] == "tree"]
        check([r["name"] for r in focused] == ["Workspace"],
              "at start the focus is not in the workspace tree: %s" % focused)
        desk.key("Down", "Down", "Down", "F5", win=p.main)
        ask = desk.find("Confirm", 10)
        check(ask, "F5 asked nothing; windows: %s" % desk.windows())
        desk.key("Return", win=ask)
        info = desk.find("Information", 15)
        check(info, "the run did not finish; windows: %s" % desk.windows())
        desk.key("Return", win=info)
        check(desk.wait(lambda: desk.find("Information", 0) is None, 5), "the box stayed")

        desk.key("ctrl+e", win=p.main)
        sel = desk.find("Exporting DBGrid", 10)
        check(sel, "Ctrl+E opened no export window; windows: %s" % desk.windows())
        # From "Microsoft Excel" down to "Comma-Separated Text".
        desk.key("Down", "Down", "Down", "Down", win=sel)
        rows = bus.dump(APP_NAME)
        combo = [r["name"] for r in rows if r["role"] == "combo box" and "focused" in r["states"]]
        check(combo == ["Comma-Separated Text"], "the format list reads %s" % combo)
        desk.key("Return", win=sel)
        save = desk.find("Save document", 10)
        check(save, "no save dialog; windows: %s" % desk.windows())
        desk.run("xdotool", "windowactivate", "--sync", str(save), check=False)
        desk.run("xdotool", "type", "--delay", "20", report, check=True)
        time.sleep(0.3)
        desk.key("Return", win=save)
        check(desk.wait(lambda: os.path.exists(report), 10), "no report at %s" % report)
        with open(report, newline="", encoding="utf-8") as f:
            written = [row for row in csv.reader(f) if row]
        check(written == [["oid", "cn"]] + [[dn, a["cn"][0]] for dn, a in entries],
              "the report holds %s" % written)

        desk.key("ctrl+q", win=p.main)
        ask = desk.find("Confirm", 10)
        check(ask, "Ctrl+Q asked nothing; windows: %s" % desk.windows())
        desk.key("Return", win=ask)
        try:
            p.proc.wait(10)
        except subprocess.TimeoutExpired:
            raise CheckFailed("Ctrl+Q and Enter did not end the program")
        check(p.proc.returncode == 0, "the program ended with %d" % p.proc.returncode)
    finally:
        if p:
            p.close()
        bus.close()
        srv.close()


# A directory's schema as its subschema entry gives it: the answering server
# sends this entry for every search, the root DSE's included.
SCHEMA_ENTRY = ("cn=Subschema", {
    "subschemaSubentry": ["cn=Subschema"],
    "attributeTypes": [
        "( 2.5.4.41 NAME 'name' SYNTAX 1.3.6.1.4.1.1466.115.121.1.15{32768} )",
        "( 2.5.4.3 NAME ( 'cn' 'commonName' ) SUP name )",
        "( 2.5.4.4 NAME ( 'sn' 'surname' ) SUP name )",
        "( 0.9.2342.19200300.100.1.3 NAME ( 'mail' 'rfc822Mailbox' ) "
        "SYNTAX 1.3.6.1.4.1.1466.115.121.1.26{256} )",
        "( 0.9.2342.19200300.100.1.2 NAME 'textEncodedORAddress' SUP name )",
        "( 2.5.4.0 NAME 'objectClass' SYNTAX 1.3.6.1.4.1.1466.115.121.1.38 )"],
    "objectClasses": ["( 2.5.6.6 NAME 'person' SUP top STRUCTURAL MUST ( sn $ cn ) )"],
})


def shown(rows, role, name):
    return any(r["role"] == role and r["name"] == name and "showing" in r["states"]
               for r in rows)


def test_profile_dialog_with_the_schema_read_aloud(desk, build):
    """The profile dialog of a server that publishes its schema, as a screen
    reader reads it: typing in the attribute list pops up the names that begin
    with the typed text; a filter with an unescaped parenthesis says where
    under the field; Save names the unknown name with the nearest known one
    in its question, and No keeps the dialog open."""
    srv = AnsweringServer([SCHEMA_ENTRY])
    bus = AccessibilityBus(desk.env)
    p = None
    try:
        p = Program(desk, build, servers=[("Test directory", srv.port)], env=bus.env)
        p.wait_main()
        p.click_row(1)
        p.click_row(1, button=3)
        desk.key("Down", "Down", "Down", "Return")  # "New Profile"
        dlg = desk.find("Profile Properties: New", 10)
        check(dlg, "the profile dialog did not open; windows: %s" % desk.windows())
        desk.run("xdotool", "windowactivate", "--sync", str(dlg), check=False)
        desk.run("xdotool", "type", "--delay", "20", "people", check=True)
        desk.key("Tab", "Tab", "Tab", "ctrl+a", win=dlg)  # to the filter, all of it
        desk.run("xdotool", "type", "--delay", "20", "(cn=Smith (Admin))", check=True)
        problem = 'Position 11: unescaped "(" in a value; write \\28 for it'
        check(desk.wait(lambda: shown(bus.dump(APP_NAME), "label", problem), 10),
              "no %r under the filter: %s" % (problem, [
                  r["name"] for r in bus.dump(APP_NAME) if r["role"] == "label"]))

        desk.key("Tab", "ctrl+a", win=dlg)  # the attribute list, all of it
        # The popup of names is read by a screen reader as it gets the focus,
        # not from the tree of windows; what it put in the list is read here.
        desk.run("xdotool", "type", "--delay", "30", "cn;RFC", check=True)
        time.sleep(0.5)
        desk.key("Return", win=dlg)  # takes the highlighted name
        att = lambda: [r["text"] for r in bus.dump(APP_NAME)  # noqa: E731
                       if r["role"] == "text" and r["name"].startswith("Attribute")]
        check(desk.wait(lambda: att() == ["cn;rfc822Mailbox"], 10),
              "the list reads %s after cn;RFC and Enter" % att())
        desk.run("xdotool", "type", "--delay", "30", ";commonN", check=True)
        time.sleep(0.5)
        desk.key("Tab", win=dlg)
        check(desk.wait(lambda: att() == ["cn;rfc822Mailbox;commonName"], 10),
              "the list reads %s after ;commonN and Tab" % att())
        desk.run("xdotool", "type", "--delay", "30", ";mial", check=True)
        check(desk.wait(lambda: att() == ["cn;rfc822Mailbox;commonName;mial"], 10),
              "the list reads %s" % att())

        desk.key("alt+s", win=dlg)
        ask = desk.find("Confirm", 10)
        check(ask, "Save asked nothing; windows: %s" % desk.windows())
        question = [r["name"] for r in bus.dump(APP_NAME) if r["role"] == "label" and
                    "mial: not in the schema of Test directory; did you mean mail?" in r["name"]]
        check(question, "the question does not name mial and mail")
        desk.key("n", win=ask)
        check(desk.wait(lambda: desk.find("Confirm", 0) is None, 5), "the question stayed")
        check(desk.find("Profile Properties: New", 2), "No closed the dialog")
        desk.key("Escape", win=dlg)
        check(desk.wait(lambda: desk.find("Profile Properties: New", 0) is None, 5),
              "Escape did not close the dialog")
    finally:
        if p:
            p.close()
        bus.close()
        srv.close()


def test_header_click_filter_and_copy(desk, build):
    """A real click on a header sorts the grid, typing in the filter box keeps
    the rows holding the text, and Ctrl+C puts what is shown on the desktop's
    clipboard, read back by another program."""
    srv = AnsweringServer([("cn=a,o=x", {"cn": ["zed"]}), ("cn=b,o=x", {"cn": ["Adam"]}),
                           ("cn=c,o=x", {"cn": ["mike"]}), ("cn=d,o=x", {"cn": ["bob"]})])
    p = Program(desk, build, servers=[("srv", srv.port)], profiles=[(1, "prof")])

    def clipboard():
        return desk.run("xclip", "-o", "-selection", "clipboard")

    def order(text, names):
        at = [text.find(n) for n in names]
        return all(i >= 0 for i in at) and at == sorted(at)
    try:
        p.wait_main()
        p.run_profile()
        time.sleep(0.5)
        img = desk.grab(p.main)
        grid = p.grid_box(img)
        row = grid[1] + 4
        left = next(x for x in range(200, img.width)
                    if all(abs(a - b) <= 6 for a, b in zip(img.pixel(x, row), CREAM)))
        ox, oy = p.origin()
        # The "cn" header: the second column, 100 pixels wide.
        desk.click(ox + left + 150, oy + grid[1] - 8)
        time.sleep(0.5)
        desk.key("ctrl+c", win=p.main)
        text = clipboard()
        # The whole results were copied: the engine's box says so.
        info = desk.find("Exporting DBGrid", 5)
        if info:
            desk.key("Return", win=info)
        check(order(text, ["Adam", "bob", "mike", "zed"]),
              "after a click on the header the grid is not sorted by cn: %r" % text)
        desk.key("ctrl+f", win=p.main)
        desk.run("xdotool", "type", "--delay", "60", "B", check=True)
        time.sleep(0.5)
        desk.key("Tab", "Tab", "ctrl+c", win=p.main)
        text = clipboard()
        check("Adam" in text and "bob" in text and "zed" not in text and "mike" not in text,
              "the filter kept other rows: %r" % text)
        check(order(text, ["Adam", "bob"]), "the filtered rows lost the order: %r" % text)
    finally:
        p.close()
        srv.close()


TESTS = [v for k, v in list(globals().items()) if k.startswith("test_")]


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    build = os.path.abspath(sys.argv[1])
    wanted = sys.argv[2:]
    for tool in ("Xvfb", "openbox", "xdotool", "xclip", "xprop", "xwininfo", "xwd", "xmessage", "sqlite3",
                 "dbus-daemon", "dbus-send", AccessibilityBus.PYTHON):
        if not shutil.which(tool):
            print("wm_test: %s is missing (scripts/install-deps.sh installs it)" % tool)
            return 1
    # Bounded in time whatever happens: a stuck check ends the run, and the
    # display, the window manager and the program are stopped all the same.
    def give_up(signum, frame):
        raise TimeUp("time is up (signal %d)" % signum)
    signal.signal(signal.SIGALRM, give_up)
    signal.signal(signal.SIGTERM, give_up)
    signal.alarm(240)
    desk = Desktop()
    passed = failed = 0
    try:
        for t in TESTS:
            if wanted and t.__name__ not in wanted:
                continue
            start = time.monotonic()
            try:
                t(desk, build)
                passed += 1
                print("PASS %s (%.1f s)" % (t.__name__, time.monotonic() - start), flush=True)
            except CheckFailed as e:
                failed += 1
                print("FAIL %s: %s" % (t.__name__, e), flush=True)
            except Exception:  # a broken harness is a failure too, with its trace
                failed += 1
                print("FAIL %s:\n%s" % (t.__name__, traceback.format_exc()), flush=True)
    finally:
        desk.close()
    print("%d passed, %d failed" % (passed, failed))
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
