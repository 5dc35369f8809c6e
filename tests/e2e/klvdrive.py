"""Drives the real klvcoin as a collector does: its own X server, its own
accessibility bus, mouse clicks at on-screen positions and typed keys (through
xdotool), and what the program shows read back through AT-SPI.

A scenario is a short script:

    with klvdrive.Session(seed_rows=COINS) as s:
        s.menu("Records", "Add")
        form = s.window("Edit")
        ...

Every wait polls with a timeout; nothing waits for a fixed time alone. On a
failure the session saves a screenshot and the tree of what is on screen
beside the test's temporary folder and says where.
"""

import csv
import io
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

KLVCOIN = os.environ.get("KLVCOIN_BIN", "klvcoin")
KLVDBF = os.environ.get("KLVDBF_BIN", "klvdbf")
DATA_DIR = os.environ.get("KLV_TEST_DATA_DIR", "")

# Long enough for a loaded 2-core machine running several scenarios at once.
TIMEOUT = float(os.environ.get("KLV_E2E_TIMEOUT", "20"))

pyatspi = None  # imported once the session's buses exist


class Failure(AssertionError):
    pass


def wait_for(what, probe, timeout=TIMEOUT, interval=0.05):
    """Polls probe() until it returns something true and returns that."""
    end = time.monotonic() + timeout
    last_error = None
    while True:
        try:
            value = probe()
            if value:
                return value
        except Exception as error:  # the tree changes under us while polling
            last_error = error
        if time.monotonic() > end:
            detail = f" (last error: {last_error!r})" if last_error else ""
            raise Failure(f"timed out after {timeout:.0f} s waiting for {what}{detail}")
        time.sleep(interval)
        interval = min(interval * 1.5, 0.3)


def check(condition, message):
    if not condition:
        raise Failure(message)


def check_equal(actual, expected, what):
    if actual != expected:
        raise Failure(f"{what}: expected {expected!r}, got {actual!r}")


# ---------------------------------------------------------------- tables


def read_table(path):
    """Rows of a dBase table (deleted rows left out) as dicts keyed by the
    upper-case field names, through our engine's klvdbf tool."""
    out = subprocess.run([KLVDBF, "dump", path], check=True, capture_output=True,
                         text=True, encoding="utf-8").stdout
    reader = csv.reader(io.StringIO(out))
    header = [h.upper() for h in next(reader)]
    return [dict(zip(header, row)) for row in reader]


def seed_table(path, rows=None, csv_file=None):
    """A new coin table holding the given rows (dicts of field name to value)
    or the rows of a CSV file."""
    subprocess.run([KLVDBF, "create", path, "--coin"], check=True, capture_output=True)
    if csv_file is None and rows:
        fields = sorted({k for row in rows for k in row})
        text = io.StringIO()
        writer = csv.writer(text, lineterminator="\n")
        writer.writerow(fields)
        for row in rows:
            writer.writerow([row.get(f, "") for f in fields])
        subprocess.run([KLVDBF, "append", path], input=text.getvalue(), check=True,
                       capture_output=True, text=True)
    elif csv_file:
        subprocess.run([KLVDBF, "append", path, csv_file], check=True, capture_output=True)


def read_ini(path):
    """A settings file as {section: {key: value}}, keys as written."""
    import configparser
    parser = configparser.ConfigParser(interpolation=None, strict=False)
    parser.optionxform = str
    with open(path, encoding="cp1252") as f:
        parser.read_file(f)
    return {name: dict(parser[name]) for name in parser.sections()}


def report_coins_csv():
    return os.path.join(DATA_DIR, "report-coins.csv")


# ---------------------------------------------------------------- session


class Session:
    """One X server, one session bus with its accessibility bus, one klvcoin.

    seed_rows / seed_csv: MASTER.DBF is made before the start with these rows;
    otherwise the program creates it itself. close_tip: the tip of the day
    shown at the first activation is closed with its Close button.
    """

    def __init__(self, seed_rows=None, seed_csv=None, args=(), close_tip=True):
        self.tmp = tempfile.mkdtemp(prefix="klv-e2e-")
        self.home = os.path.join(self.tmp, "home")
        self.windir = os.path.join(self.tmp, "win")
        self.work = os.path.join(self.tmp, "work")
        for d in (self.home, self.windir, self.work):
            os.makedirs(d)
        self.seed_rows, self.seed_csv = seed_rows, seed_csv
        self.args = list(args)
        self.close_tip = close_tip
        self.procs = []  # (name, Popen) in start order
        self.dbus_pid = None
        self.env = None
        self.app_acc = None
        self.log = None

    # -- set-up and tear-down

    def __enter__(self):
        try:
            self.start()
        except BaseException:
            self.dump_state()
            self.stop()
            raise
        return self

    def __exit__(self, kind, value, tb):
        if kind is not None:
            self.dump_state()
        self.stop()
        if kind is None:
            shutil.rmtree(self.tmp, ignore_errors=True)
        else:
            print(f"e2e: failed; screenshot, tree and log kept in {self.tmp}", file=sys.stderr)
        return False

    def db(self, ext=".DBF"):
        return os.path.join(self.home, "MASTER" + ext)

    def start(self):
        if self.seed_rows is not None or self.seed_csv is not None:
            seed_table(self.db(), self.seed_rows, self.seed_csv)
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("DBUS_", "AT_SPI", "QT_", "XDG_", "DISPLAY", "WAYLAND"))}
        env["XDG_RUNTIME_DIR"] = os.path.join(self.tmp, "run")
        os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700)
        env["HOME"] = self.tmp
        self.env = env

        # X server on a display it chooses itself.
        rfd, wfd = os.pipe()
        xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(wfd), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
             "-noreset"], pass_fds=(wfd,), stdout=subprocess.DEVNULL,
            stderr=open(os.path.join(self.tmp, "xvfb.log"), "w"), env=env)
        self.procs.append(("Xvfb", xvfb))
        os.close(wfd)
        with os.fdopen(rfd) as r:
            number = r.readline().strip()
        check(number.isdigit(), "Xvfb did not report a display")
        env["DISPLAY"] = ":" + number

        # Session bus, then the accessibility bus beside it.
        out = subprocess.run(["dbus-launch", "--sh-syntax"], env=env, check=True,
                             capture_output=True, text=True).stdout
        address = re.search(r"DBUS_SESSION_BUS_ADDRESS='([^']*)'", out).group(1)
        self.dbus_pid = int(re.search(r"DBUS_SESSION_BUS_PID=(\d+)", out).group(1))
        env["DBUS_SESSION_BUS_ADDRESS"] = address
        launcher = subprocess.Popen(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"],
                                    env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.procs.append(("at-spi-bus-launcher", launcher))
        for k in ("DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR", "HOME"):
            os.environ[k] = env[k]
        os.environ.pop("AT_SPI_BUS_ADDRESS", None)
        wait_for("the accessibility bus",
                 lambda: subprocess.run(
                     ["dbus-send", "--session", "--dest=org.a11y.Bus", "--print-reply",
                      "/org/a11y/bus", "org.a11y.Bus.GetAddress"], env=env,
                     capture_output=True).returncode == 0)
        global pyatspi
        import pyatspi as module
        pyatspi = module

        self.start_app()

    def start_app(self):
        app_env = dict(self.env)
        app_env.update(KLVCOIN_HOME=self.home, KLVCOIN_WINDIR=self.windir,
                       QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb",
                       QT_ACCESSIBILITY="1", LC_ALL="C.UTF-8")
        self.log = open(os.path.join(self.tmp, "klvcoin.log"), "a")
        app = subprocess.Popen([KLVCOIN] + self.args, env=app_env, cwd=self.work,
                               stdout=self.log, stderr=subprocess.STDOUT)
        self.procs.append(("klvcoin", app))
        self.app = app
        self.app_acc = None
        main = self.main_window()
        self.focus(main, or_opens="Tip of the Day")
        if self.close_tip:
            tip = self.window("Tip of the Day")
            self.click(self.find(tip, "push button", "Close"))
            self.wait_gone("Tip of the Day")
        return main

    def quit_app(self, timeout=TIMEOUT):
        """Exit through the File menu and wait for the process to end."""
        self.menu("File", "Exit")
        try:
            self.app.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure("klvcoin did not end after File > Exit")
        check(self.app.returncode == 0, f"klvcoin ended with status {self.app.returncode}")
        self.procs = [(n, p) for n, p in self.procs if p is not self.app]

    def stop(self):
        for name, proc in reversed(self.procs):
            if proc.poll() is None:
                proc.terminate()
                try:
                    proc.wait(5)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait()
        self.procs = []
        if self.dbus_pid:
            try:
                os.kill(self.dbus_pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
            self.dbus_pid = None
        if self.log:
            self.log.close()

    def dump_state(self):
        if not self.env or "DISPLAY" not in self.env:
            return
        try:
            subprocess.run(["import", "-window", "root", os.path.join(self.tmp, "screen.png")],
                           env=self.env, timeout=20, capture_output=True)
        except Exception:
            pass
        try:
            with open(os.path.join(self.tmp, "tree.txt"), "w") as f:
                for w in self.top_windows():
                    self._dump(w, f, 0)
        except Exception as error:
            print(f"e2e: no tree ({error!r})", file=sys.stderr)

    def _dump(self, acc, f, depth):
        try:
            x, y, w, h = self.extents(acc)
        except Exception:
            x = y = w = h = -1
        f.write(f"{'  ' * depth}{acc.getRoleName()} {acc.name!r} {self.text(acc)!r} "
                f"({x},{y},{w},{h})\n")
        if depth < 14:
            for i, child in enumerate(acc):
                if i >= 80 and acc.getRoleName() in ("list", "table", "popup menu"):
                    f.write(f"{'  ' * (depth + 1)}... {acc.childCount} in all\n")
                    break
                if child is not None:
                    self._dump(child, f, depth + 1)

    # -- the accessibility tree

    def application(self):
        if self.app_acc is None:
            def probe():
                desktop = pyatspi.Registry.getDesktop(0)
                for a in desktop:
                    if a is not None and a.get_process_id() == self.app.pid:
                        return a
                return None
            self.app_acc = wait_for("klvcoin on the accessibility bus", probe)
        return self.app_acc

    def top_windows(self):
        return [w for w in self.application() if w is not None]

    def showing(self, acc):
        state = acc.getState()
        return state.contains(pyatspi.STATE_SHOWING) and state.contains(pyatspi.STATE_VISIBLE)

    def window(self, name, timeout=TIMEOUT):
        """A shown top-level window whose title is name or matches the
        compiled pattern name."""
        def probe():
            for w in self.top_windows():
                if _matches(w.name, name) and self.showing(w):
                    return w
            return None
        return wait_for(f"window {_show(name)}", probe, timeout)

    def window_names(self):
        return [w.name for w in self.top_windows() if self.showing(w)]

    def wait_gone(self, name, timeout=TIMEOUT):
        wait_for(f"window {_show(name)} to close",
                 lambda: not any(_matches(w.name, name) and self.showing(w)
                                 for w in self.top_windows()), timeout)

    def main_window(self):
        return self.window(re.compile(r"^Kolvane Coins 97( \(.*\))?$"))

    # Item containers (combo lists, grids, menus) are not searched unless
    # one of their items is asked for: they can hold hundreds of children.
    _ITEM_ROLES = {"list item", "table cell", "menu item", "table column header",
                   "table row header", "popup menu"}
    _CONTAINERS = {"list", "table", "popup menu", "tree table", "tree"}

    def find_all(self, parent, role=None, name=None, pred=None, shown=True):
        found = []
        into_items = role in self._ITEM_ROLES or pred is not None

        def walk(acc, depth):
            if not into_items and depth > 0 and acc.getRoleName() in self._CONTAINERS:
                return
            for child in acc:
                if child is None:
                    continue
                if shown and not self.showing(child):
                    continue
                if ((role is None or child.getRoleName() == role)
                        and (name is None or _matches(child.name, name))
                        and (pred is None or pred(child))):
                    found.append(child)
                if depth < 16:
                    walk(child, depth + 1)
        walk(parent, 0)
        return found

    def find(self, parent, role=None, name=None, pred=None, timeout=TIMEOUT, index=0):
        def probe():
            found = self.find_all(parent, role, name, pred)
            return found[index] if len(found) > index else None
        return wait_for(f"{role or 'widget'} {_show(name)} in {parent.name!r}", probe, timeout)

    def extents(self, acc):
        e = acc.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        return e.x, e.y, e.width, e.height

    def text(self, acc):
        try:
            t = acc.queryText()
            return t.getText(0, -1)
        except Exception:
            return None

    def checked(self, acc):
        return acc.getState().contains(pyatspi.STATE_CHECKED)

    def enabled(self, acc):
        return acc.getState().contains(pyatspi.STATE_ENABLED)

    def editable_right_of(self, window, label_name, role=None):
        """The control that a form places to the right of (or below) a label:
        the nearest one whose vertical middle lies within the label's row."""
        label = self.find(window, "label", label_name)
        lx, ly, lw, lh = self.extents(label)
        roles = (role,) if role else ("text", "combo box", "spin button", "check box",
                                      "password text", "list")

        def probe():
            best = None
            for acc in self.find_all(window, pred=lambda a: a.getRoleName() in roles):
                x, y, w, h = self.extents(acc)
                if w <= 0 or x < lx + lw - 4 or abs((y + h / 2) - (ly + lh / 2)) > max(h, lh) / 2:
                    continue
                if best is None or x < best[0]:
                    best = (x, acc)
            return best[1] if best else None
        return wait_for(f"control beside label {label_name!r}", probe)

    # -- the count and the grid of the main window

    def count(self):
        """The record count the main window shows (the label above "Coins")."""
        main = self.main_window()
        coins = self.find(main, "label", "Coins")
        cx, cy, _, _ = self.extents(coins)
        for label in self.find_all(main, "label"):
            x, y, w, h = self.extents(label)
            if abs(x - cx) < 3 and 0 < cy - y <= h + 4 and label.name.strip().isdigit():
                return int(label.name)
        raise Failure("no count label above \"Coins\"")

    def wait_count(self, expected):
        wait_for(f"the count to read {expected}", lambda: self.count() == expected)

    def grid(self):
        return self.find(self.main_window(), "table")

    def grid_headers(self, table=None):
        table = table or self.grid()
        t = table.queryTable()
        return [t.getColumnHeader(c).name for c in range(t.nColumns)]

    def grid_column(self, header, table=None):
        """The texts of one column of a table, top to bottom (all rows the
        view's model holds)."""
        table = table or self.grid()
        t = table.queryTable()
        col = None
        for c in range(t.nColumns):
            h = t.getColumnHeader(c)
            if h is not None and h.name == header:
                col = c
                break
        check(col is not None, f"no column {header!r} in {self.grid_headers(table)}")
        return [t.getAccessibleAt(r, col).name for r in range(t.nRows)]

    def grid_cell(self, row, header, table=None):
        table = table or self.grid()
        t = table.queryTable()
        for c in range(t.nColumns):
            h = t.getColumnHeader(c)
            if h is not None and h.name == header:
                return t.getAccessibleAt(row, c)
        raise Failure(f"no column {header!r}")

    def pixel(self, x, y):
        """The colour on screen at x, y as (red, green, blue)."""
        out = subprocess.run(["import", "-window", "root", "-crop", f"1x1+{int(x)}+{int(y)}",
                              "txt:-"], env=self.env, check=True, capture_output=True,
                             text=True).stdout
        m = re.search(r"enumeration: 1,1,(\d+),.*\n0,0: \((\d+),(\d+),(\d+)", out)
        check(m, f"no colour read at {x}, {y}: {out!r}")
        depth = int(m.group(1))
        return tuple(round(int(m.group(i)) * 255 / depth) for i in (2, 3, 4))

    # -- input

    def xdotool(self, *args):
        subprocess.run(["xdotool", *map(str, args)], env=self.env, check=True,
                       capture_output=True)

    def click_at(self, x, y, button=1, repeat=1):
        # No --sync: it waits for a motion that never comes when the pointer
        # is already there. The server takes the motion before the click.
        self.xdotool("mousemove", int(x), int(y), "click", "--repeat", repeat, "--delay", 80,
                     button)

    def click(self, acc, button=1, repeat=1):
        """A click in the middle of the widget."""
        x, y, w, h = wait_for(f"{acc.getRoleName()} {acc.name!r} to be on screen",
                              lambda: (lambda e: e if e[2] > 0 and e[3] > 0 else None)(
                                  self.extents(acc)))
        self.click_at(x + w // 2, y + h // 2, button, repeat)

    def scroll_to(self, view, acc):
        """Turns the mouse wheel over a list or grid until the item is wholly
        inside the view (as a user scrolls to a row below the fold)."""
        def inside():
            vx, vy, vw, vh = self.extents(view)
            x, y, w, h = self.extents(acc)
            if w > 0 and h > 0 and vy <= y and y + h <= vy + vh - 16:
                return True
            below = y <= 0 or y + h > vy + vh - 16
            self.click_at(vx + vw // 2, vy + vh // 2, button=5 if below else 4)
            return False
        wait_for(f"{acc.name!r} scrolled into view", inside)
        return acc

    def double_click(self, acc):
        self.click(acc, repeat=2)

    def key(self, *keys):
        self.xdotool("key", "--delay", 40, *keys)

    def type(self, text):
        self.xdotool("type", "--delay", 40, text)

    def focus(self, window, or_opens=None):
        """Gives a window the keyboard focus (there is no window manager).
        or_opens: the title of a modal window that the activation itself may
        open (and so take the focus at once)."""
        title = window.name

        def wid():
            out = subprocess.run(["xdotool", "search", "--onlyvisible", "--name",
                                  "^" + re.escape(title) + "$"], env=self.env,
                                 capture_output=True, text=True).stdout.split()
            return out[-1] if out else None
        w = wait_for(f"X window {title!r}", wid)

        # A window closing just now can still hand the focus back to the
        # root when it is unmapped: ask again until it holds.
        def active():
            self.xdotool("windowfocus", "--sync", w)
            try:
                return wait_for("", lambda: window.getState().contains(pyatspi.STATE_ACTIVE)
                                or (or_opens and or_opens in self.window_names()), timeout=1)
            except Failure:
                return False
        wait_for(f"window {title!r} to be active", active)

    def wait_focused(self, acc, what=None):
        wait_for(f"{what or acc.name!r} to have the focus",
                 lambda: acc.getState().contains(pyatspi.STATE_FOCUSED))

    def menu(self, *path, window=None):
        """Clicks through the menu bar of a window (the main window unless
        given): menu("Records", "Add")."""
        main = window or self.main_window()
        self.focus(main)
        bar = self.find(main, "menu bar")
        item = self.find(bar, "menu item", path[0])
        self.click(item)
        parent = item
        for name in path[1:]:
            popup = wait_for(f"menu {parent.name!r} to open",
                             lambda: next((c for c in parent
                                           if c is not None and c.getRoleName() == "popup menu"
                                           and self.showing(c)), None))
            entry = wait_for(f"menu item {name!r}", lambda: next(
                (c for c in popup if c is not None and c.name == name
                 and self.extents(c)[2] > 0 and self.extents(c)[0] + self.extents(c)[1] > 0),
                None))
            wait_for(f"menu item {name!r} enabled", lambda: self.enabled(entry))
            self.click(entry)
            parent = entry

    def choose(self, combo, item):
        """Opens a drop-down list with a click and clicks one of its entries
        (typing its name to scroll to it when it lies outside the list)."""
        self.click(combo)

        def open_list():
            for child in combo:
                if child is not None and child.getRoleName() == "list" and \
                        self.extents(child)[2] > 0:
                    return child
            return None
        popup = wait_for(f"the list of {combo.name!r} to open", open_list)
        px, py, pw, ph = self.extents(popup)
        entry = next((c for c in popup if c is not None and c.name == item), None)
        check(entry is not None, f"no entry {item!r} in the list")
        x, y, w, h = self.extents(entry)
        if py <= y and y + h <= py + ph:
            self.click_at(px + min(w, pw) // 2, y + h // 2)
        else:
            self.type(item)
            self.key("Return")
        wait_for(f"{item!r} chosen", lambda: combo.name == item)

    def file_dialog(self, title, path, button):
        """Types a full path into the file dialog titled title and presses
        its Save or Open button."""
        box = self.window(title)
        self.focus(box)
        self.set_line_edit(self.find(box, "text", "File name:"), path)
        press = self.find(box, "push button", button)

        # The first click may only close the name completer's popup.
        def pressed():
            self.click(press)
            try:
                self.wait_gone(title, timeout=3)
                return True
            except Failure:
                return False
        wait_for(f"the {button} button to close {title!r}", pressed)

    def grid_row_of(self, table, column, text):
        """The row of a table whose cell in the column reads text."""
        t = table.queryTable()
        for r in range(t.nRows):
            if t.getAccessibleAt(r, column).name == text:
                return r
        raise Failure(f"no row reading {text!r} in column {column}")

    def answer(self, caption, button, text=None):
        """Waits for a message box, optionally checks its text, presses a
        button; returns the text shown."""
        box = self.window(caption)
        shown = self.message_text(box)
        if text is not None:
            check_equal(shown, text, f"text of the {caption!r} message")
        self.click(self.find(box, "push button", button))
        return shown

    def message(self, text, button="OK"):
        """Waits for a message box showing text (whatever its caption) and
        presses its button."""
        def probe():
            for w in self.top_windows():
                if self.showing(w) and w.getRoleName() in ("dialog", "alert") and \
                        self.find_all(w, "label", text):
                    return w
            return None
        box = wait_for(f"a message {text!r}", probe)
        self.click(self.find(box, "push button", button))
        wait_for(f"the message {text!r} to close", lambda: not self.showing(box))
        return box

    def current_row(self, table=None):
        """The grid's current (selected) row."""
        rows = (table or self.grid()).queryTable().getSelectedRows()
        check(len(rows) == 1, f"one selected row expected, got {rows}")
        return rows[0]

    def message_text(self, box):
        labels = [lab.name for lab in self.find_all(box, "label") if lab.name]
        return max(labels, key=len) if labels else ""

    def set_line_edit(self, edit, text):
        """Clicks into an edit, selects what it holds and types the text.
        (End, Shift+Home selects: Ctrl+A is a command of some forms.)"""
        self.click(edit)
        self.wait_focused(edit, "the edit")
        self.key("End", "shift+Home")
        self.type(text)
        wait_for(f"the edit to read {text!r}", lambda: self.text(edit) == text, timeout=5)


def _matches(value, pattern):
    if value is None:
        return False
    if isinstance(pattern, re.Pattern):
        return pattern.search(value) is not None
    return value == pattern


def _show(pattern):
    return f"/{pattern.pattern}/" if isinstance(pattern, re.Pattern) else repr(pattern)


def scenario(fn):
    """Runs a scenario function as the test's main program."""
    try:
        fn()
    except Failure as error:
        import traceback
        here = [f for f in traceback.extract_tb(error.__traceback__)
                if not f.filename.endswith("klvdrive.py")]
        where = f" (at {os.path.basename(here[-1].filename)}:{here[-1].lineno})" if here else ""
        print(f"FAILED{where}: {error}", file=sys.stderr)
        sys.exit(1)
    print("passed")
