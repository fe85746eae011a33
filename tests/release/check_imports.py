#!/usr/bin/env python3
"""Checks a build of vatupdate.dll against what old shop computers run:

- every function it imports is on the allow-list (imports.allow), from the system DLL the list
  names it under, and no other DLL is imported;
- the PE header asks for no newer Windows than the subsystem and OS version 4.0;
- the code holds no SSE instructions (nor MMX ones).

This is an allow-list of what the file needs, not a proof that it runs on a given Windows.

  check_imports.py [--objdump PROGRAM] [--allow FILE] DLL
"""

import argparse
import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
MAX_VERSION = (4, 0)

# Registers and mnemonics that only SSE (or MMX) processors have. Prefetch hints and the
# fences are SSE too; "pause" is not (it is "rep nop" to older processors).
SSE_REGISTER = re.compile(r"%[xyz]mm[0-9]|%mm[0-7]|\bmxcsr\b")
SSE_MNEMONIC = re.compile(
    r"^(ldmxcsr|stmxcsr|[lsm]fence|movnti|movntq|movntps|maskmovq|prefetch(nta|t0|t1|t2)|"
    r"clflush|emms|fxsave|fxrstor)\b")


def read_allow_list(path):
    """{dll (upper case): {function: reason}}. Lines: DLL FUNCTION REASON...; # comments."""
    allowed = {}
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            parts = line.split(None, 2)
            if len(parts) < 3:
                raise SystemExit(f"{path}:{number}: needs a DLL, a function and why it is safe")
            allowed.setdefault(parts[0].upper(), {})[parts[1]] = parts[2]
    return allowed


def imports_and_header(objdump, dll):
    text = subprocess.run([objdump, "-p", dll], check=True, capture_output=True,
                          text=True).stdout
    header = {}
    for key in ("MajorOSystemVersion", "MinorOSystemVersion", "MajorSubsystemVersion",
                "MinorSubsystemVersion"):
        m = re.search(rf"^{key}\s+(\d+)", text, re.M)
        if not m:
            raise SystemExit(f"check_imports: {key} not in the PE header of {dll}")
        header[key] = int(m.group(1))
    imports = {}
    current = None
    for line in text.splitlines():
        m = re.match(r"\s*DLL Name: (\S+)", line)
        if m:
            current = m.group(1).upper()
            imports.setdefault(current, [])
            continue
        if current is None:
            continue
        if not line.strip():
            current = None
            continue
        # "	vma:  Hint/Ord Member-Name Bound-To" rows: address, hint, name.
        m = re.match(r"\s*[0-9a-f]+\s+([0-9]+)\s+(\S+)", line)
        if m:
            imports[current].append(m.group(2))
        elif re.match(r"\s*[0-9a-f]+\s+<none>\s+([0-9a-f]+)", line):
            imports[current].append("#" + line.split()[-1])
    return imports, header


def sse_lines(objdump, dll):
    out = subprocess.run([objdump, "-d", "--no-show-raw-insn", dll], check=True,
                         capture_output=True, text=True).stdout
    found = []
    for line in out.splitlines():
        # "  401000:	mnemonic operands"
        parts = line.split("\t", 1)
        if len(parts) != 2 or not re.match(r"\s*[0-9a-f]+:$", parts[0]):
            continue
        instruction = parts[1].strip()
        if SSE_REGISTER.search(instruction) or SSE_MNEMONIC.match(instruction):
            found.append(line.strip())
    return found


def main(argv):
    p = argparse.ArgumentParser()
    p.add_argument("--objdump", default="i686-w64-mingw32-objdump")
    p.add_argument("--allow", default=os.path.join(HERE, "imports.allow"))
    p.add_argument("dll")
    a = p.parse_args(argv)

    allowed = read_allow_list(a.allow)
    imports, header = imports_and_header(a.objdump, a.dll)
    problems = []
    if not imports:
        problems.append("no import table found (objdump output changed?)")
    for dll, functions in sorted(imports.items()):
        if dll not in allowed:
            problems.append(f"imports from {dll}, which the allow-list does not name")
            continue
        for function in functions:
            if function not in allowed[dll]:
                problems.append(f"imports {dll} {function}, which is not on the allow-list")
    for os_key, sub_key in (("MajorOSystemVersion", "MinorOSystemVersion"),
                            ("MajorSubsystemVersion", "MinorSubsystemVersion")):
        asked = (header[os_key], header[sub_key])
        if asked > MAX_VERSION:
            problems.append(f"the PE header asks for {os_key[5:]} {asked[0]}.{asked[1]}, "
                            f"newer than {MAX_VERSION[0]}.{MAX_VERSION[1]}")
    sse = sse_lines(a.objdump, a.dll)
    if sse:
        problems.append(f"{len(sse)} SSE or MMX instructions, the first: {sse[0]}")

    count = sum(len(f) for f in imports.values())
    if problems:
        for problem in problems:
            print(f"FAIL: {a.dll}: {problem}", file=sys.stderr)
        return 1
    print(f"{a.dll}: {count} imports from {', '.join(sorted(imports))}, all on the allow-list; "
          f"Windows {header['MajorSubsystemVersion']}.{header['MinorSubsystemVersion']} "
          f"subsystem; no SSE instructions")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
