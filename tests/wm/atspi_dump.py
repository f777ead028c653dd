"""Prints what assistive technology sees of one running application: every
accessible object of its windows, one JSON object per line, read through the
AT-SPI registry of the session bus in DBUS_SESSION_BUS_ADDRESS.

    atspi_dump.py APPLICATION_NAME

Each line: {"path": [indexes from the application], "role": "push button",
"name": "...", "keys": "the Action interface's key binding", "states": [...],
"text": "the Text interface's content, for editable text"}.
The rows of lists, tables and trees are not walked beyond the first few (a
message pane may hold a million lines). Exit status 2 when the application is
not registered. Run with the system's Python, which has the AT-SPI bindings.
"""
import json
import sys

import pyatspi

ROW_LIMIT = 5
CONTAINERS = {"list", "list box", "table", "tree", "tree table"}


def keys_of(node):
    try:
        action = node.queryAction()
    except NotImplementedError:
        return ""
    try:
        return action.getKeyBinding(0) if action.nActions > 0 else ""
    except Exception:  # noqa: BLE001 - an object gone meanwhile has no keys
        return ""


def text_of(node, role):
    if role not in ("text", "password text"):
        return ""
    try:
        text = node.queryText()
        return text.getText(0, min(text.characterCount, 4096))
    except Exception:  # noqa: BLE001 - no Text interface, or gone meanwhile
        return ""


def walk(node, path, out, depth=0):
    if node is None or depth > 40:
        return
    try:
        role = node.getRoleName()
        states = [pyatspi.stateToString(s) for s in node.getState().getStates()]
        out.append({"path": path, "role": role, "name": node.name or "",
                    "keys": keys_of(node), "states": states, "text": text_of(node, role)})
        count = node.childCount
    except Exception:  # noqa: BLE001 - an object gone meanwhile ends its branch
        return
    if role in CONTAINERS:
        count = min(count, ROW_LIMIT)
    for i in range(count):
        try:
            child = node.getChildAtIndex(i)
        except Exception:  # noqa: BLE001
            continue
        walk(child, path + [i], out, depth + 1)


def main():
    wanted = sys.argv[1]
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.name == wanted:
            out = []
            walk(app, [], out)
            for row in out:
                print(json.dumps(row))
            return 0
    print("no application named %r among %r" % (
        wanted, [desktop.getChildAtIndex(i).name for i in range(desktop.childCount)]),
        file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main())
