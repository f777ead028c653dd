"""A private X display with a real window manager, and the few X tools the
desktop tests drive it with.

Xvfb (1280x900, 24 bits) and openbox are started on a free display number and
stopped again by close(); every X call goes through the command-line tools
xdotool, xprop, xwininfo and xwd, so what is seen is what a user's window
manager sees: stacking order, mapped state, titles, window geometry, pixels.
"""
import itertools
import json
import os
import re
import shutil
import signal
import struct
import subprocess
import tempfile
import time


class Desktop:
    def __init__(self, width=1280, height=900):
        self.procs = []
        r, w = os.pipe()
        xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(w), "-screen", "0", "%dx%dx24" % (width, height),
             "-nolisten", "tcp", "-noreset"],
            pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(w)
        self.procs.append(xvfb)
        with os.fdopen(r) as f:
            number = f.readline().strip()
        if not number:
            self.close()
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number
        self.env = dict(os.environ, DISPLAY=self.display)
        for k in ("WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "QT_SCALE_FACTOR"):
            self.env.pop(k, None)
        self.env["QT_QPA_PLATFORM"] = "xcb"
        wm = subprocess.Popen(["openbox", "--sm-disable"], env=self.env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.procs.append(wm)
        if not self.wait(lambda: "_NET_SUPPORTING_WM_CHECK(WINDOW)" in self.xprop_root(
                "_NET_SUPPORTING_WM_CHECK"), 10):
            self.close()
            raise RuntimeError("openbox did not start")
        self.width, self.height = width, height

    def close(self):
        for p in reversed(self.procs):
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(5)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()
        self.procs = []

    # ---- running things on the display
    def run(self, *args, check=False):
        r = subprocess.run(list(args), env=self.env, stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, timeout=30)
        if check and r.returncode != 0:
            raise RuntimeError("%s failed: %s" % (args[0], r.stderr.decode(errors="replace")))
        return r.stdout.decode(errors="replace")

    @staticmethod
    def wait(pred, timeout, step=0.05):
        end = time.monotonic() + timeout
        while True:
            v = pred()
            if v:
                return v
            if time.monotonic() >= end:
                return v
            time.sleep(step)

    # ---- what the window manager knows
    def xprop_root(self, prop):
        return self.run("xprop", "-root", prop)

    def stacking(self):
        """Managed windows, bottom to top."""
        out = self.xprop_root("_NET_CLIENT_LIST_STACKING")
        return [int(x, 16) for x in re.findall(r"0x[0-9a-f]+", out)]

    def title(self, win):
        out = self.run("xprop", "-id", str(win), "_NET_WM_NAME", "WM_NAME")
        m = re.search(r'_NET_WM_NAME\(UTF8_STRING\) = "(.*)"$', out, re.M) or \
            re.search(r'WM_NAME\(\w+\) = "(.*)"$', out, re.M)
        if not m:
            return None
        raw = m.group(1).encode("utf-8")
        # In the C locale xprop writes bytes beyond ASCII as octal escapes.
        raw = re.sub(rb"\\([0-7]{3})", lambda e: bytes([int(e.group(1), 8)]), raw)
        raw = raw.replace(b'\\"', b'"').replace(b"\\\\", b"\\")
        return raw.decode("utf-8", errors="replace")

    def state(self, win):
        return self.run("xprop", "-id", str(win), "_NET_WM_STATE")

    def transient_for(self, win):
        m = re.search(r"window id # (0x[0-9a-f]+)",
                      self.run("xprop", "-id", str(win), "WM_TRANSIENT_FOR"))
        return int(m.group(1), 16) if m else None

    def frame_extents(self, win):
        m = re.search(r"= (\d+), (\d+), (\d+), (\d+)",
                      self.run("xprop", "-id", str(win), "_NET_FRAME_EXTENTS"))
        return tuple(int(x) for x in m.groups()) if m else (0, 0, 0, 0)

    def info(self, win):
        """xwininfo's facts: x, y (absolute, client area), width, height, map state."""
        out = self.run("xwininfo", "-id", str(win))
        def num(label):
            m = re.search(label + r":\s+(-?\d+)", out)
            return int(m.group(1)) if m else None
        m = re.search(r"Map State: (\w+)", out)
        return {"x": num("Absolute upper-left X"), "y": num("Absolute upper-left Y"),
                "width": num("Width"), "height": num("Height"),
                "map": m.group(1) if m else None}

    def windows(self):
        """(id, title) of every managed window, bottom to top."""
        return [(w, self.title(w)) for w in self.stacking()]

    def find(self, title, timeout=10):
        """The topmost managed window titled `title` (or None). A title with
        something appended after a dash is found too, so that a check about
        one thing does not fail for another; titles are checked on their own."""
        def look():
            for w, t in reversed(self.windows()):
                if t == title or (t or "").startswith(title + " \u2014 "):
                    return w
            return None
        return self.wait(look, timeout, 0.1)

    def find_prefix(self, prefix, timeout=10):
        def look():
            for w, t in reversed(self.windows()):
                if t is not None and t.startswith(prefix):
                    return w
            return None
        return self.wait(look, timeout, 0.1)

    # ---- input, as a user gives it
    def key(self, *keys, win=None):
        if win is not None:
            self.run("xdotool", "windowactivate", "--sync", str(win), check=False)
        self.run("xdotool", "key", "--delay", "60", *keys, check=True)
        time.sleep(0.2)

    def click(self, x, y, button=1):
        # (no --sync: it waits for ever when the pointer is already there)
        self.run("xdotool", "mousemove", str(x), str(y), check=True)
        time.sleep(0.1)
        self.run("xdotool", "click", str(button), check=True)
        time.sleep(0.3 if button == 1 else 0.6)  # a popup takes a moment to open

    # ---- pixels
    def grab(self, win):
        """The window's pixels as an Image (xwd, ZPixmap, 24/32 bits)."""
        data = subprocess.run(["xwd", "-silent", "-id", str(win)], env=self.env,
                              stdout=subprocess.PIPE, timeout=30, check=True).stdout
        return Image.from_xwd(data)


def spans(flags, first=0):
    """(start, end) of each run of true flags, counting positions from `first`."""
    out, pos = [], first
    for flag, run in itertools.groupby(flags):
        n = sum(1 for _ in run)
        if flag:
            out.append((pos, pos + n))
        pos += n
    return out


class Image:
    def __init__(self, width, height, rows):
        self.width, self.height, self.rows = width, height, rows

    @staticmethod
    def from_xwd(data):
        h = struct.unpack(">25I", data[:100])
        header_size, width, height = h[0], h[4], h[5]
        byte_order, bpp, bytes_per_line, ncolors = h[7], h[11], h[12], h[19]
        if bpp not in (24, 32):
            raise RuntimeError("xwd: %d bits per pixel not handled" % bpp)
        step = bpp // 8
        off = header_size + ncolors * 12
        rows = []
        for y in range(height):
            line = data[off + y * bytes_per_line: off + y * bytes_per_line + width * step]
            if byte_order == 0:  # LSBFirst: B G R (x)
                rows.append([(line[i + 2], line[i + 1], line[i])
                             for i in range(0, len(line), step)])
            else:  # MSBFirst: (x) R G B
                k = step - 3
                rows.append([(line[i + k], line[i + k + 1], line[i + k + 2])
                             for i in range(0, len(line), step)])
        return Image(width, height, rows)

    def pixel(self, x, y):
        return self.rows[y][x]

    def crop(self, x, y, w, h):
        return Image(w, h, [r[x:x + w] for r in self.rows[y:y + h]])

    def differs(self, other):
        """Count of pixels that differ (images of the same size)."""
        return sum(1 for a, b in zip(self.rows, other.rows) for p, q in zip(a, b) if p != q)

    def runs(self, x, colour, tolerance=6):
        """Vertical runs (top, bottom) of column x whose pixels are `colour`."""
        return spans(all(abs(a - b) <= tolerance for a, b in zip(self.rows[y][x], colour))
                     for y in range(self.height))

    def ink_bands(self, x0, y0, x1, y1, background, tolerance=40):
        """Horizontal bands of rows in the rectangle that hold anything darker
        than the background (lines of text); a list of (top, bottom)."""
        return spans((any(sum(background) - sum(p) > tolerance * 3 for p in self.rows[y][x0:x1])
                      for y in range(y0, y1)), y0)


class AccessibilityBus:
    """A private D-Bus session bus with the AT-SPI accessibility bus on it, as
    a desktop session has for screen readers. `env` runs programs on it with
    the toolkit's accessibility bridge on; dump() reads what assistive
    technology sees of an application (atspi_dump.py, through the system's
    Python, which has the AT-SPI bindings). close() stops the buses and
    everything they started (their own process group)."""

    PYTHON = "/usr/bin/python3"

    def __init__(self, env):
        self.runtime = tempfile.mkdtemp(prefix="quorvel-a11y-")
        self.env = dict(env, XDG_RUNTIME_DIR=self.runtime,
                        QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        self.env.pop("NO_AT_BRIDGE", None)
        self.bus = subprocess.Popen(
            ["dbus-daemon", "--session", "--nofork", "--print-address=1"], env=self.env,
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, start_new_session=True)
        address = self.bus.stdout.readline().decode().strip()
        if not address:
            self.close()
            raise RuntimeError("dbus-daemon did not start")
        self.env["DBUS_SESSION_BUS_ADDRESS"] = address
        # The accessibility bus is started on demand; a program started
        # before it is there would never join it.
        r = subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus",
                            "/org/a11y/bus", "org.a11y.Bus.GetAddress"], env=self.env,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=20)
        if r.returncode != 0:
            self.close()
            raise RuntimeError("no accessibility bus: " + r.stderr.decode(errors="replace"))

    def dump(self, app_name, timeout=15):
        """The application's accessible objects (dicts: path, role, name, keys,
        states), once it is registered and has a window; [] if it never is."""
        script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "atspi_dump.py")
        end = time.monotonic() + timeout
        while True:
            try:
                r = subprocess.run([self.PYTHON, script, app_name], env=self.env,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                   timeout=max(5, end - time.monotonic()))
                rows = [json.loads(line) for line in r.stdout.decode().splitlines() if line]
            except subprocess.TimeoutExpired:
                rows = []
            if any(row["role"] == "frame" for row in rows) or time.monotonic() >= end:
                return rows
            time.sleep(0.3)

    def close(self):
        if self.bus.poll() is None:
            try:
                os.killpg(self.bus.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
            try:
                self.bus.wait(5)
            except subprocess.TimeoutExpired:
                os.killpg(self.bus.pid, signal.SIGKILL)
                self.bus.wait()
        # What the bus started lives in its process group: stopped with it.
        try:
            os.killpg(self.bus.pid, signal.SIGKILL)
        except (ProcessLookupError, PermissionError):
            pass
        self.bus.stdout.close()
        shutil.rmtree(self.runtime, ignore_errors=True)
