#!/usr/bin/env bash
# Fails (exit 1) when a file of src/ includes a form header of another
# subsystem's folder, naming file and header. Subsystems meet through their
# logic; only the program (src/program/), which puts the forms together, may
# include any form header.
#
#   scripts/forms-stay-home.sh HEADER...
#
# HEADER: the form headers, as src/-relative paths ("app/MainWin.h").
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
exec /usr/bin/python3 - "$root/src" "$@" <<'PY'
import os, re, sys

src, forms = sys.argv[1], set(sys.argv[2:])
include = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
failures = []
for dirpath, _, files in os.walk(src):
    folder = os.path.relpath(dirpath, src)
    if folder == "program" or folder.startswith("program/"):
        continue
    for name in files:
        if not name.endswith((".h", ".cpp")):
            continue
        path = os.path.join(dirpath, name)
        with open(path, encoding="utf-8", errors="replace") as f:
            for line in f:
                m = include.match(line)
                if m and m.group(1) in forms and os.path.dirname(m.group(1)) != folder:
                    failures.append(f"{os.path.relpath(path, src)} includes {m.group(1)}")
for f in failures:
    print("another subsystem's form header: " + f, file=sys.stderr)
sys.exit(1 if failures else 0)
PY
