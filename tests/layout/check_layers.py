#!/usr/bin/env python3
"""The module's folders import downward only.

Every #include "folder/file.h" in plugin/ must name the including file's own folder or a folder of
a lower layer; and the folders' include graph must have no cycle. Exit 1 with one line per
offending include (and per cycle) otherwise.

  check_layers.py PLUGIN_DIR     checks the module
  check_layers.py --self-test    checks that an upward include and a cycle are caught
"""
import os
import re
import sys
import tempfile

# From the bottom; folders on one line share a layer and may not include each other.
LAYERS = [
    ["common", "platform"],
    ["identity"],
    ["host"],
    ["startup", "lookup"],
    ["vatupdate"],
    ["entry"],
    ["internals"],  # native tests' table of the module's internals; nothing includes it
]
RANK = {folder: rank for rank, folders in enumerate(LAYERS) for folder in folders}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def includes(plugin):
    """(folder, file, included folder) for every quoted include of a module file."""
    for folder in sorted(os.listdir(plugin)):
        path = os.path.join(plugin, folder)
        if not os.path.isdir(path):
            continue
        for root, _, files in os.walk(path):
            for name in sorted(files):
                if not name.endswith((".h", ".cpp", ".in")):
                    continue
                file = os.path.join(root, name)
                with open(file, encoding="utf-8", errors="replace") as f:
                    text = f.read()
                for target in INCLUDE.findall(text):
                    head = target.split("/")[0] if "/" in target else folder
                    yield folder, os.path.relpath(file, plugin), head


def find_cycle(edges):
    """A list of folders forming a cycle in edges {folder: {folder}}, or None."""
    state = {}

    def visit(node, trail):
        state[node] = 1
        for nxt in sorted(edges.get(node, ())):
            if state.get(nxt) == 1:
                return trail[trail.index(nxt):] + [nxt]
            if nxt not in state:
                found = visit(nxt, trail + [nxt])
                if found:
                    return found
        state[node] = 2
        return None

    for node in sorted(edges):
        if node not in state:
            found = visit(node, [node])
            if found:
                return found
    return None


def check(plugin):
    problems = []
    edges = {}
    for folder, file, target in includes(plugin):
        if target == folder:
            continue
        edges.setdefault(folder, set()).add(target)
        if folder not in RANK:
            problems.append(f"{file}: folder {folder}/ is in no layer")
        elif target not in RANK:
            problems.append(f"{file}: includes {target}/, which is in no layer")
        elif RANK[target] >= RANK[folder]:
            problems.append(f"{file}: {folder}/ includes {target}/, a layer not below it")
    cycle = find_cycle(edges)
    if cycle:
        problems.append("folders include each other: " + " -> ".join(cycle))
    return problems


def self_test():
    with tempfile.TemporaryDirectory() as d:
        def write(name, text):
            os.makedirs(os.path.dirname(os.path.join(d, name)), exist_ok=True)
            with open(os.path.join(d, name), "w") as f:
                f.write(text)

        write("host/a.h", '#include "identity/b.h"\n#include "host/c.h"\n')
        write("identity/b.h", '#include "common/x.h"\n')
        write("common/x.h", "")
        assert check(d) == [], check(d)
        write("identity/b.h", '#include "host/a.h"\n')
        found = check(d)
        assert any("identity/ includes host/" in p for p in found), found
        assert any("include each other: host -> identity -> host" in p or
                   "include each other: identity -> host -> identity" in p for p in found), found
        write("identity/b.h", '#include "platform/p.h"\n')
        write("platform/p.h", '#include "common/x.h"\n')
        found = check(d)
        assert any("platform/ includes common/" in p for p in found), found
    print("self-test: an upward include, a cycle and two folders of one layer are caught")
    return 0


def main(argv):
    if argv[1:] == ["--self-test"]:
        return self_test()
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    problems = check(argv[1])
    for p in problems:
        print(p)
    if not problems:
        print("the module's includes run downward only: " +
              "; ".join(", ".join(l) for l in LAYERS))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
