#!/usr/bin/env python3
"""The shop package of vatupdate.dll: its texts as shipped and the reproducible zip.

The texts of the package are kept here in UTF-8 with LF line ends, to be read and changed like
any source; the package holds them in Windows-1250 with CR LF line ends, the way Notepad on an
old shop computer shows them.

  make_package.py stage --source DIR --dll FILE --out DIR   the package's files in a folder
  make_package.py zip --stage DIR --out FILE.zip            the zip of a staged folder
  make_package.py version --source DIR                      the project's version
"""

import argparse
import hashlib
import os
import re
import sys
import time
import zipfile

# The package's files in the order the zip holds them.
TEXTS = ["CZYTAJ.TXT", "ZMIANY.TXT", "PRZYKLAD_KODY.csv", "PRZYKLAD_NAZWY.csv", "PRZYKLAD_CN.csv"]
DLL = "vatupdate.dll"
SUMS = "SHA256SUMS"
ORDER = [DLL] + TEXTS + [SUMS]

SHIPPED_ENCODING = "cp1250"
MAX_COLUMNS = 78


def project_version(source_dir):
    with open(os.path.join(source_dir, "CMakeLists.txt"), encoding="utf-8") as f:
        m = re.search(r"project\([^)]*VERSION\s+([0-9]+\.[0-9]+\.[0-9]+)", f.read())
    if not m:
        raise SystemExit("make_package: no project version in CMakeLists.txt")
    return m.group(1)


def shipped_text(path):
    """The bytes of a package text: Windows-1250, CR LF. Fails on what the code page lacks and on
    a line wider than MAX_COLUMNS, which Notepad on a shop's screen would wrap or cut."""
    with open(path, encoding="utf-8") as f:
        text = f.read()
    if "\r" in text:
        raise ValueError(f"{path}: keep LF line ends in the source; CR LF is made when shipped")
    if not text.endswith("\n"):
        text += "\n"
    for number, line in enumerate(text.split("\n"), 1):
        if len(line) > MAX_COLUMNS:
            raise ValueError(f"{path}:{number}: {len(line)} columns, more than {MAX_COLUMNS}")
    try:
        return text.replace("\n", "\r\n").encode(SHIPPED_ENCODING)
    except UnicodeEncodeError as e:
        bad = text[e.start:e.end]
        line = text.count("\n", 0, e.start) + 1
        raise ValueError(f"{path}:{line}: {bad!r} has no Windows-1250 byte") from None


def stage(source_dir, dll, out_dir):
    os.makedirs(out_dir, exist_ok=True)
    with open(dll, "rb") as f:
        files = {DLL: f.read()}
    for name in TEXTS:
        files[name] = shipped_text(os.path.join(source_dir, "package", name))
    sums = "".join(f"{hashlib.sha256(files[n]).hexdigest()}  {n}\r\n" for n in [DLL] + TEXTS)
    files[SUMS] = sums.encode("ascii")
    for name, data in files.items():
        with open(os.path.join(out_dir, name), "wb") as f:
            f.write(data)


def write_zip(stage_dir, zip_path, epoch):
    # The zip's entries carry the time of the commit in UTC (a zip has no time zone), at least
    # 1980, the earliest a zip can hold; every entry is a plain file readable by everyone.
    stamp = time.gmtime(max(int(epoch), 315532800))[:6]
    with zipfile.ZipFile(zip_path + ".part", "w") as z:
        for name in ORDER:
            with open(os.path.join(stage_dir, name), "rb") as f:
                data = f.read()
            info = zipfile.ZipInfo(name, date_time=stamp)
            info.create_system = 3  # the attributes below are Unix ones
            info.external_attr = 0o100644 << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, data, compresslevel=9)
    os.replace(zip_path + ".part", zip_path)


def main(argv):
    p = argparse.ArgumentParser(description="The shop package of vatupdate.dll.")
    sub = p.add_subparsers(dest="command", required=True)
    s = sub.add_parser("stage")
    s.add_argument("--source", required=True)
    s.add_argument("--dll", required=True)
    s.add_argument("--out", required=True)
    z = sub.add_parser("zip")
    z.add_argument("--stage", required=True)
    z.add_argument("--out", required=True)
    z.add_argument("--epoch", type=int, default=int(os.environ.get("SOURCE_DATE_EPOCH", "0")))
    v = sub.add_parser("version")
    v.add_argument("--source", required=True)
    a = p.parse_args(argv)
    try:
        if a.command == "stage":
            stage(a.source, a.dll, a.out)
        elif a.command == "zip":
            write_zip(a.stage, a.out, a.epoch)
        else:
            print(project_version(a.source))
    except (OSError, ValueError) as e:
        print(f"make_package: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
