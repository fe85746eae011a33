#!/usr/bin/env python3
"""The module's folders, and the stand-in's, import downward only.

Every #include "folder/file.h" in plugin/ must name the including file's own folder or a folder of
a lower layer; and the folders' include graph must have no cycle. The same holds for the stand-in's
folders (#include "velkar/folder/file.h" in velkar/). Exit 1 with one line per offending include
(and per cycle) otherwise.

  check_layers.py PLUGIN_DIR                checks the module
  check_layers.py --stand-in VELKAR_DIR     checks the host stand-in
  check_layers.py --self-test               checks that an upward include and a cycle are caught
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

# The stand-in's folders, from the bottom. Its includes of the module's own headers (the host
# function list it shares with the module) are not part of its layers.
STAND_IN_LAYERS = [
    ["core"],
    ["shop", "loader"],
    ["console"],
    ["functions"],
    ["program"],
]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def includes(plugin, prefix=""):
    """(folder, file, included folder) for every quoted include of a file under plugin; with a
    prefix, only the includes that begin with it count, named without it."""
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
                    if prefix:
                        if not target.startswith(prefix):
                            continue
                        target = target[len(prefix):]
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


def check(plugin, layers=LAYERS, prefix=""):
    rank = {folder: n for n, folders in enumerate(layers) for folder in folders}
    problems = []
    edges = {}
    for folder, file, target in includes(plugin, prefix):
        if target == folder:
            continue
        edges.setdefault(folder, set()).add(target)
        if folder not in rank:
            problems.append(f"{file}: folder {folder}/ is in no layer")
        elif target not in rank:
            problems.append(f"{file}: includes {target}/, which is in no layer")
        elif rank[target] >= rank[folder]:
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
        write("v/core/s.h", '#include "velkar/console/u.h"\n#include "host/host_list.h"\n')
        write("v/console/u.h", '#include "velkar/core/s.h"\n')
        found = check(os.path.join(d, "v"), STAND_IN_LAYERS, "velkar/")
        assert any("core/ includes console/" in p for p in found), found
        assert len(found) == 2, found
    print("self-test: an upward include, a cycle and two folders of one layer are caught")
    return 0


def main(argv):
    if argv[1:] == ["--self-test"]:
        return self_test()
    if len(argv) == 3 and argv[1] == "--stand-in":
        whose, layers, problems = "the stand-in's", STAND_IN_LAYERS, check(argv[2], STAND_IN_LAYERS,
                                                                           "velkar/")
    elif len(argv) == 2:
        whose, layers, problems = "the module's", LAYERS, check(argv[1])
    else:
        print(__doc__, file=sys.stderr)
        return 2
    for p in problems:
        print(p)
    if not problems:
        print(whose + " includes run downward only: " + "; ".join(", ".join(l) for l in layers))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
