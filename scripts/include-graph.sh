#!/usr/bin/env bash
# Prints the folder-level include graph of src/: one line per pair of folders,
# "from -> to (N)", where N counts the #include lines in from's files that
# name a header of to. With --check it also fails (exit 1) when two folders
# include each other, directly or through others, naming the cycle.
#
#   scripts/include-graph.sh            # the graph
#   scripts/include-graph.sh --check    # the graph, and a failure on a cycle
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
check=0
[[ "${1:-}" == "--check" ]] && check=1

exec /usr/bin/python3 - "$root/src" "$check" <<'PY'
import os, re, sys
from collections import defaultdict

src, check = sys.argv[1], sys.argv[2] == "1"
include = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
edges = defaultdict(int)
for dirpath, _, files in os.walk(src):
    folder = os.path.relpath(dirpath, src)
    for name in files:
        if not name.endswith((".h", ".cpp")):
            continue
        with open(os.path.join(dirpath, name), encoding="utf-8", errors="replace") as f:
            for line in f:
                m = include.match(line)
                if not m or "/" not in m.group(1):
                    continue
                target = os.path.dirname(m.group(1))
                if target != folder and os.path.isdir(os.path.join(src, target)):
                    edges[(folder, target)] += 1

for (a, b), n in sorted(edges.items()):
    print(f"{a} -> {b} ({n})")

if not check:
    sys.exit(0)
graph = defaultdict(set)
for a, b in edges:
    graph[a].add(b)
state, stack, cycles = {}, [], []
def visit(node):
    state[node] = 1
    stack.append(node)
    for nxt in sorted(graph[node]):
        if state.get(nxt) == 1:
            cycles.append(stack[stack.index(nxt):] + [nxt])
        elif nxt not in state:
            visit(nxt)
    stack.pop()
    state[node] = 2
for node in sorted(graph):
    if node not in state:
        visit(node)
for c in cycles:
    print("include cycle: " + " -> ".join(c), file=sys.stderr)
sys.exit(1 if cycles else 0)
PY
