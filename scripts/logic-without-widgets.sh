#!/usr/bin/env bash
# Fails (exit 1) when a file of a logic library includes a QtWidgets header,
# directly or through the program's own headers it includes, naming the
# chain of includes. Logic is what can be said without a window; its
# libraries link no widgets, and this keeps their sources honest too.
#
#   scripts/logic-without-widgets.sh QTWIDGETS_INCLUDE_DIR FILE...
#
# QTWIDGETS_INCLUDE_DIR is Qt's QtWidgets header directory: any <Name> found
# there is a widgets header. Program headers ("folder/Name.h") are looked up
# under src/.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
exec /usr/bin/python3 - "$root/src" "$@" <<'PY'
import os, re, sys

src, widgets_dir, files = sys.argv[1], sys.argv[2], sys.argv[3:]
quoted = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
angled = re.compile(r'^\s*#\s*include\s+<([^>]+)>')

def is_widgets(name):
    return name.startswith("QtWidgets") or os.path.isfile(os.path.join(widgets_dir, name))

def includes(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            m = quoted.match(line)
            if m:
                yield "quoted", m.group(1)
                continue
            m = angled.match(line)
            if m:
                yield "angled", m.group(1)

failures = []
for start in files:
    seen, stack = set(), [(start, [os.path.relpath(start, os.path.dirname(src))])]
    while stack:
        path, chain = stack.pop()
        if path in seen:
            continue
        seen.add(path)
        for kind, name in includes(path):
            if kind == "angled" and is_widgets(name):
                failures.append(" -> ".join(chain + [f"<{name}>"]))
            elif kind == "quoted":
                header = os.path.join(src, name)
                if os.path.isfile(header):
                    stack.append((header, chain + [name]))
for f in sorted(set(failures)):
    print("widgets header in logic: " + f, file=sys.stderr)
sys.exit(1 if failures else 0)
PY
