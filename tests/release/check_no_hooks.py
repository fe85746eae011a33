#!/usr/bin/env python3
"""Checks that a Windows build of the module holds none of the benchmark's hooks into the lookup
(plugin/lookup/hooks.h): they belong to native test and benchmark builds only.

The check reads the symbol table with nm, so it needs a file that still has one: the link output
of a build that is not stripped, or the debug file of a release build. A file without the
module's own names (a stripped DLL shows none) is an error, not a pass.

  check_no_hooks.py [--nm PROGRAM] FILE        no hook in FILE
  check_no_hooks.py --present [--nm NM] FILE   every hook in FILE (a native build: the names
                                               looked for are the hooks' real names)
  check_no_hooks.py --self-test --nm NM --cxx CXX
                                               objects made with CXX, with and without a hook,
                                               are told apart
"""

import argparse
import os
import subprocess
import sys
import tempfile

# The hooks, as their names stand in any mangling (C++ or C, with or without a leading
# underscore).
HOOKS = ("replayedMatch", "recordMatch", "vatMatchingControl")
# A name every build of the module holds: its absence means the symbol table is gone.
MODULE_NAME = "vatUpdateCommand"


def symbols(nm, path):
    run = subprocess.run([nm, path], capture_output=True, text=True)
    if run.returncode != 0 and "no symbols" not in run.stderr:
        raise SystemExit(f"check_no_hooks: {nm} {path} failed: {run.stderr.strip()}")
    names = []
    for line in run.stdout.splitlines():
        parts = line.split()
        if parts:
            names.append(parts[-1])
    return names


def problems(nm, path, present=False):
    names = symbols(nm, path)
    if not any(MODULE_NAME in n for n in names):
        return [f"{path}: no symbol {MODULE_NAME}: the file has no symbol table to check "
                "(a stripped DLL; check the link output or the debug file)"]
    found = {hook: sorted(n for n in names if hook in n) for hook in HOOKS}
    if present:
        return [f"{path}: no symbol {hook}" for hook, hits in found.items() if not hits]
    return [f"{path}: holds the benchmark hook {hook} ({', '.join(hits)})"
            for hook, hits in found.items() if hits]


def self_test(nm, cxx):
    sources = {
        "clean": 'extern "C" void vatUpdateCommand() {}\nint otherMatch(int a) { return a; }\n',
        "hooked": 'extern "C" void vatUpdateCommand() {}\n'
                  'struct RateList;\n'
                  'bool replayedMatch(const RateList&, int, void**) { return false; }\n'
                  'extern "C" {\nint vatMatchingControl[4] = {0, 0, 0, 0};\n}\n',
        "nameless": "int unrelated = 1;\n",
    }
    with tempfile.TemporaryDirectory() as d:
        objects = {}
        for name, text in sources.items():
            source = os.path.join(d, name + ".cpp")
            with open(source, "w") as f:
                f.write(text)
            objects[name] = os.path.join(d, name + ".o")
            subprocess.run([cxx, "-c", source, "-o", objects[name]], check=True)
        clean = problems(nm, objects["clean"])
        assert clean == [], clean
        hooked = problems(nm, objects["hooked"])
        assert any("replayedMatch" in p for p in hooked), hooked
        assert any("vatMatchingControl" in p for p in hooked), hooked
        assert not any("recordMatch" in p for p in hooked), hooked
        nameless = problems(nm, objects["nameless"])
        assert len(nameless) == 1 and "no symbol table" in nameless[0], nameless
    print("self-test: a hook function and the control variable are caught, a file without the "
          "module's names is refused")
    return 0


def main(argv):
    p = argparse.ArgumentParser()
    p.add_argument("--nm", default="i686-w64-mingw32-nm")
    p.add_argument("--cxx")
    p.add_argument("--self-test", action="store_true")
    p.add_argument("--present", action="store_true")
    p.add_argument("file", nargs="?")
    a = p.parse_args(argv)
    if a.self_test:
        if not a.cxx:
            p.error("--self-test needs --cxx")
        return self_test(a.nm, a.cxx)
    if not a.file:
        p.error("a file to check is needed")
    found = problems(a.nm, a.file, a.present)
    for problem in found:
        print(f"FAIL: {problem}", file=sys.stderr)
    if found:
        return 1
    if a.present:
        print(f"{a.file}: holds every hook ({', '.join(HOOKS)})")
    else:
        print(f"{a.file}: no benchmark hook ({', '.join(HOOKS)})")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
