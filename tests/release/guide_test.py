#!/usr/bin/env python3
"""Keeps the shop staff's guide and the package's texts true.

- Every message the guide quotes („...”, "..." inside standing for a part left out) is one the
  module shows in a run of the stand-in that reaches it: the runs below play the situations the
  guide explains and collect the windows the module shows (with the texts the module writes into
  zmianavat.txt). The stand-in's own windows (its menu, its choosers) do not count.
- Every screen in the guide (the lines after an "Ilustracja" line, up to an empty line) is, line
  for line, what the stand-in draws today in ASCII frames.
- What the guide says the module does to a shop's files, runs show: format 3 writes the CN code
  into the product at once (an empty one empties it, a rate becomes a CN code), every run deletes
  the previous report first (a cancelled run or a rate file that cannot be opened leaves none and
  shows nothing more), and after a failed table check the command refuses and touches nothing.
- The texts as shipped are Windows-1250 with CR LF line ends and at most 78 columns; the
  templates are clean (no heading, in-store barcodes, names no shop has, valid rates); the list
  of changes starts with the project's version.
- With --dll, every quoted message is also in that DLL (in the module's code page), so the guide
  matches the very file it ships with.

  guide_test.py --velkar PROGRAM --plugin MODULE --source DIR [--dll FILE] [--print-screens]
"""

import argparse
import csv
import io
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True

SCREEN_WIDTH = 70  # text width of the guide's screens: frames of at most 74 columns
MESSAGE_WIDTH = 250  # wide enough that no message wraps
STAND_IN_WINDOWS = {"Inne", "Wybierz plik", "Wybierz magazyn", "Błąd"}
STAND_IN_LINES = re.compile(r"^\[(Enter|Abort|F12)\b.*\]|^\[Abort\]")


class Failures:
    def __init__(self):
        self.items = []

    def __call__(self, text):
        self.items.append(text)


def mazovia_table(source_dir):
    """Unicode character -> Mazovia byte, read from the stand-in's code-page table."""
    with open(os.path.join(source_dir, "velkar", "shop", "codepage.cpp"), encoding="utf-8") as f:
        text = f.read()
    block = re.search(r"kMazoviaHigh = \{(.*?)\};", text, re.S).group(1)
    values = [int(v, 16) for v in re.findall(r"0x([0-9A-Fa-f]{4})", block)]
    assert len(values) == 128
    return {chr(v): 0x80 + i for i, v in enumerate(values)}


def to_mazovia(text, table):
    return bytes(ord(c) if ord(c) < 0x80 else table[c] for c in text)


# ---- runs of the stand-in ------------------------------------------------------------------

class StandIn:
    def __init__(self, velkar, plugin, source_dir, work):
        self.velkar, self.plugin, self.source_dir, self.work = velkar, plugin, source_dir, work
        self.count = 0

    def shop(self, rate_files):
        """A fresh shop of the guide's products with the given rate files (name -> bytes)."""
        self.count += 1
        shop = os.path.join(self.work, f"shop{self.count}")
        subprocess.run([self.velkar, "mkshop", "--dir", shop, "--products",
                        os.path.join(self.source_dir, "tests", "release", "guide_products.csv")],
                       check=True, capture_output=True)
        for name, data in rate_files.items():
            with open(os.path.join(shop, name), "wb") as f:
                f.write(data)
        return shop

    def run(self, shop, script, options, width, stdin=b""):
        answers = os.path.join(self.work, f"answers{self.count}")
        with open(answers, "w") as f:
            f.write("".join(line + "\n" for line in script))
        command = [self.velkar, "run", "--shop", shop, "--plugin", self.plugin, "--script",
                   answers, "--style", "plain", "--frames", "ascii", "--width", str(width)]
        result = subprocess.run(command + options, input=stdin, capture_output=True, timeout=120)
        return clean(result.stdout.decode("utf-8"))

    def products(self, shop, warehouse):
        """The warehouse's products as the stand-in exports them: number -> row."""
        result = subprocess.run([self.velkar, "export", "--shop", shop, "--warehouse",
                                 str(warehouse)], check=True, capture_output=True)
        rows = csv.DictReader(io.StringIO(result.stdout.decode("utf-8")))
        return {row["number"]: row for row in rows}


def clean(output):
    """The lines a console shows: escape sequences gone, a line rewritten after CR."""
    lines = []
    for line in output.split("\n"):
        line = re.sub(r"\x1b\[[0-9;?]*[A-Za-z]", "", line)
        lines.append(line.split("\r")[-1].rstrip())
    return lines


def windows(lines):
    """The framed windows in the output: (title, [body lines])."""
    found = []
    i = 0
    while i < len(lines):
        top = re.match(r"^\+-*(?: (.*?) -*)?\+$", lines[i])
        if not top:
            i += 1
            continue
        title = (top.group(1) or "").strip()
        body = []
        i += 1
        while i < len(lines) and lines[i].startswith("|"):
            body.append(lines[i][1:-1].strip())
            i += 1
        found.append((re.sub(r" \(\d+/\d+\)$", "", title), body))
        i += 1
    return found


def module_texts(lines):
    """Each line of the module's windows, spaces collapsed; window titles too."""
    texts = set()
    for title, body in windows(lines):
        if title in STAND_IN_WINDOWS:
            continue
        if title:
            texts.add(title)
        for line in body:
            if line and not STAND_IN_LINES.search(line):
                texts.add(re.sub(r"\s+", " ", line))
    return texts


def runs(stand_in, package):
    """(screens: [lines], messages: set of texts) from the situations the guide explains."""
    templates = {n: package[n] for n in ("PRZYKLAD_KODY.csv", "PRZYKLAD_NAZWY.csv",
                                         "PRZYKLAD_CN.csv")}
    walk = ["message ok", "dialog keys=item1:F3 ok", "file PRZYKLAD_KODY.csv", "warehouse 1"]
    screens = []
    messages = set()

    # The command step by step, as the guide shows it: the first start (it adds the menu
    # option), then the same file once more with the warehouse typed on the keyboard.
    shop = stand_in.shop(templates)
    screens += stand_in.run(shop, walk, [], SCREEN_WIDTH) + [""]
    screens += stand_in.run(shop, ["message ok", "dialog file=PRZYKLAD_KODY.csv format=0 ok"],
                            ["--interactive", "--command", "1"], SCREEN_WIDTH,
                            stdin=b"\x7f1\r") + [""]
    messages |= module_texts(stand_in.run(stand_in.shop(templates), walk, [], MESSAGE_WIDTH))

    cases = [
        # The other formats.
        (["message ok", "dialog file=PRZYKLAD_NAZWY.csv format=1 ok", "warehouse 1"], []),
        (["message ok", "dialog file=PRZYKLAD_CN.csv format=2 ok", "warehouse 1"], []),
        # The explanation refused.
        (["message cancel"], []),
        # The host lacks a function the module needs; the user answers Retry, then Abort.
        ([], ["--command", "0", "--leave-out", "52028", "--message-box", "retry,abort"]),
        # The host's product records do not fit the module; a host that runs the command all
        # the same.
        ([], ["--command", "0", "--record-size", "49=1000"]),
        ([], ["--record-size", "49=1000", "--ignore-refusal"]),
        # The host reports a failed start that none of the module's checks explains.
        ([], ["--command", "0", "--refuse-start"]),
        # Esc at the warehouse question.
        (["message ok", "dialog file=PRZYKLAD_KODY.csv format=0 ok", "warehouse none"], []),
        # ... and it lacks a function that has a stand-in, which the user ignored.
        ([], ["--command", "0", "--record-size", "49=1000", "--leave-out", "52224",
              "--message-box", "ignore"]),
        # No memory for the rate list: the run ends before the warehouse is asked for.
        (walk + ["allow-unused"], ["--fault", "21286@1"]),
    ]
    for script, options in cases:
        lines = stand_in.run(stand_in.shop(templates), script, options, MESSAGE_WIDTH)
        screens += lines + [""]
        messages |= module_texts(lines)

    # A summary line counts rate-file lines by the last product each matched: a fragment that
    # changes three products, the last of which already held the rate.
    shop = stand_in.shop({"zolw.csv": "Wyrób wzorcowy Żółw,8\r\n".encode("cp1250"),
                          "wzor.csv": b"Wyr\xf3b wzorcowy,8\r\n"})
    for name in ("zolw.csv", "wzor.csv"):
        lines = stand_in.run(shop, ["message ok", f"dialog file={name} format=1 ok",
                                    "warehouse 1"], [], SCREEN_WIDTH)
        screens += lines + [""]
        messages |= module_texts(lines)

    # A name fragment that the host's comparison reduces to nothing, with a host that drops
    # blanks; a line with nothing before its comma is skipped, not reported.
    shop = stand_in.shop({"blanks.csv": b"   ,8\r\n,23\r\nBeta,8\r\n"})
    lines = stand_in.run(shop, ["message ok", "dialog file=blanks.csv format=1 ok", "warehouse 1"],
                         ["--variant", "normalise=lower-no-blanks"], MESSAGE_WIDTH)
    screens += lines + [""]
    messages |= module_texts(lines)

    # Rate files as a spreadsheet may save them (see the guide's list of what goes wrong).
    bad_files = {
        "semicolons.csv": "2000000100012;23\r\n2000000100029;8\r\n".encode("cp1250"),
        "bom.csv": b"\xef\xbb\xbf2000000100012,8\r\n2000000100029,8\r\n",
        "utf8.csv": "Wyrób wzorcowy Żółw,8\r\nBeta,23\r\n".encode("utf-8"),
        "spreadsheet.csv": b"2,00000E+12,23\r\n2000000100012,0,23\r\n2000000100029,8%\r\n"
                           b"2000000100036,7\r\n2000000100043,22\r\nKOD,STAWKA\r\n"
                           b"2000000100050,zw\r\n2000000100029,23\r\n",
        "symbols.csv": b"---,23\r\nBeta,8\r\n",
    }
    for name, data in bad_files.items():
        shop = stand_in.shop({name: data})
        fmt = "1" if name in ("utf8.csv", "symbols.csv") else "0"
        lines = stand_in.run(shop, ["message ok", f"dialog file={name} format={fmt} ok",
                                    "warehouse 1"], [], MESSAGE_WIDTH)
        messages |= module_texts(lines)
    return screens, messages


def check_effects(stand_in, package, fail):
    """What the guide says the module does to the shop's files, as runs of the stand-in show."""
    templates = {n: package[n] for n in ("PRZYKLAD_KODY.csv", "PRZYKLAD_CN.csv")}
    old_report = b"the previous run's report\r\n"

    def report(shop):
        path = os.path.join(shop, "zmianavat.txt")
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return f.read()

    # Format 3 writes the CN code into the product at once, and nothing else: an empty CN code
    # empties the product's, and a rate file read in format 3 leaves its rates as CN codes.
    shop = stand_in.shop(dict(templates, **{"mixed.csv": b"2000000100029,\r\n"
                                                        b"2000000100036,23\r\n"}))
    before = stand_in.products(shop, 1)
    for name in ("PRZYKLAD_CN.csv", "mixed.csv"):
        stand_in.run(shop, ["message ok", f"dialog file={name} format=2 ok", "warehouse 1"], [],
                     MESSAGE_WIDTH)
    after = stand_in.products(shop, 1)
    expected = {"1": "22021000", "2": "", "3": "23", "4": before["4"]["cn_code"]}
    for number, cn_code in expected.items():
        if after[number]["cn_code"] != cn_code:
            fail(f"format 3: product {number} holds the CN code {after[number]['cn_code']!r} "
                 f"after the runs, not {cn_code!r}")
        for field in ("vat_code", "new_vat_code"):
            if after[number][field] != before[number][field]:
                fail(f"format 3 changed the {field} of product {number}")

    # Every run deletes the previous report first; a run that ends before the summary (the
    # explanation refused, a rate file that cannot be opened) leaves none, and one that cannot
    # open its rate file shows nothing after the warehouse question.
    for script, what in ((["message cancel"], "the explanation refused"),
                         (["message ok", "dialog file=brak.csv format=0 ok", "warehouse 1"],
                          "a rate file that cannot be opened")):
        shop = stand_in.shop({"zmianavat.txt": old_report})
        lines = stand_in.run(shop, script, [], MESSAGE_WIDTH)
        if report(shop) is not None:
            fail(f"{what}: the previous report is still there")
        command = lines[next((i for i, line in enumerate(lines) if line.startswith("== ")), 0):]
        titles = [title for title, _ in windows(command)]
        if titles.count("uwaga") != 1 or any(line.startswith("Postęp") for line in command):
            fail(f"{what}: the module showed more than its explanation: {titles}")

    # After a failed table check the command stays in the menu; run all the same, it says
    # "Potrzebna nowsza wtyczka!" again and touches nothing, not even the previous report.
    shop = stand_in.shop(dict(templates, **{"Nowe_stawki_VAT.csv": package["PRZYKLAD_KODY.csv"],
                                            "zmianavat.txt": old_report}))
    files = {}
    for name in sorted(os.listdir(shop)):
        with open(os.path.join(shop, name), "rb") as f:
            files[name] = f.read()
    lines = stand_in.run(shop, ["message ok", "dialog ok", "warehouse 1", "allow-unused"],
                         ["--record-size", "49=1000", "--ignore-refusal"], MESSAGE_WIDTH)
    ran = [i for i, line in enumerate(lines) if line.startswith("== ")]
    after_run = windows(lines[ran[0]:]) if ran else []
    if [body for _, body in after_run] != [["Potrzebna nowsza wtyczka!"]]:
        fail(f"after a failed table check the command showed {after_run}, not its refusal")
    for name in sorted(set(files) | set(os.listdir(shop))):
        path = os.path.join(shop, name)
        if not os.path.exists(path):
            fail(f"after a failed table check the command deleted {name}")
            continue
        with open(path, "rb") as f:
            if f.read() != files.get(name):
                fail(f"after a failed table check the command changed {name}")


# ---- the guide ---------------------------------------------------------------------------

def quotes(guide):
    return re.findall(r"„([^”\n]*)”", guide)


def screen_blocks(guide_lines):
    """[(line number, [lines])]: the lines after each "Ilustracja" line, up to an empty line."""
    blocks = []
    i = 0
    while i < len(guide_lines):
        if guide_lines[i].startswith("Ilustracja"):
            start = i + 1
            j = start
            while j < len(guide_lines) and guide_lines[j].strip():
                j += 1
            blocks.append((start + 1, guide_lines[start:j]))
            i = j
        else:
            i += 1
    return blocks


def contains_block(screens, block):
    n = len(block)
    return any(screens[k:k + n] == block for k in range(len(screens) - n + 1))


def pieces(quote):
    return [p.strip() for p in re.split(r"\.\.\.|…", quote) if p.strip()]


def check_quotes(guide, messages, fail):
    for number, line in enumerate(guide.split("\r\n"), 1):
        if re.sub(r"„[^”]*”", "", line).count("„") or re.sub(r"„[^”]*”", "", line).count("”"):
            fail(f"line {number} of the guide opens or closes a quotation on one line only")
    normal = [re.sub(r"\s+", " ", m) for m in messages]
    for quote in quotes(guide):
        for piece in pieces(re.sub(r"\s+", " ", quote)):
            if not any(piece in m for m in normal):
                fail(f"the guide quotes „{quote}”, which no run of the module shows "
                     f"(not found: {piece!r})")


def check_screens(guide_lines, screens, fail):
    blocks = screen_blocks(guide_lines)
    if not blocks:
        fail("the guide shows no screens")
    covered = set()
    for start, block in blocks:
        covered.update(range(start, start + len(block)))
        if not contains_block(screens, block):
            fail(f"the screen at line {start} of the guide is not what the stand-in draws:\n  " +
                 "\n  ".join(block))
    for number, line in enumerate(guide_lines, 1):
        if re.match(r"^[+|]", line) and number not in covered:
            fail(f"line {number} of the guide looks like a screen but follows no Ilustracja line")


def dll_texts(data):
    """The DLL's bytes with the host's markup taken out and each format directive (filled in at
    run time) turned into a break, so that texts as shown can be looked up."""
    data = re.sub(rb"\x01t[lpLP0-9]*\x01", b"", data)
    data = re.sub(rb"[\x01\x02\x05]", b"", data)
    return re.sub(rb"%[-0-9]*[sdxXcu]", b"\x00", data)


def check_dll(guide, dll, table, fail):
    with open(dll, "rb") as f:
        data = dll_texts(f.read())

    def held(text):
        return to_mazovia(text, table) in data

    for quote in quotes(guide):
        for piece in pieces(quote):
            # Numbers and the module's file name come at run time.
            for fragment in re.split(r"0x[0-9A-F]+|\d+|vatupdate\.(?:so|dll)|\s{2,}", piece):
                fragment = fragment.strip(" '\"")
                if len(fragment) < 3 or held(fragment):
                    continue
                # A text filled into another one (the title into a message) joins two texts.
                cuts = [m.start() for m in re.finditer(" ", fragment)]
                if not any(held(fragment[:c].strip()) and held(fragment[c:].strip())
                           for c in cuts):
                    fail(f"{dll} does not hold {fragment!r} (quoted in the guide)")


# ---- the texts as shipped ----------------------------------------------------------------

def check_shipped(name, data, fail):
    if b"\r\n" not in data or re.search(rb"\r(?!\n)|(?<!\r)\n", data):
        fail(f"{name}: not CR LF line ends throughout")
    text = data.decode("cp1250")
    if text.encode("cp1250") != data:
        fail(f"{name}: not a round trip through Windows-1250")
    for number, line in enumerate(text.split("\r\n"), 1):
        if len(line) > 78:
            fail(f"{name}:{number}: {len(line)} columns, more than 78")
        if "\t" in line:
            fail(f"{name}:{number}: a tab; the columns would depend on the viewer")
        if line != line.rstrip():
            fail(f"{name}:{number}: spaces at the end of the line")
    return text


def check_templates(package, source_dir, fail):
    with open(os.path.join(source_dir, "examples", "products.csv"), encoding="utf-8") as f:
        shop_names = [line.split(",")[2].lower() for line in f.read().splitlines()[1:]]
    for name, value_check in (("PRZYKLAD_KODY.csv", r"(0|5|8|23|zw)"),
                              ("PRZYKLAD_NAZWY.csv", r"(0|5|8|23|zw)"),
                              ("PRZYKLAD_CN.csv", r"\d{8}")):
        lines = package[name].decode("cp1250").split("\r\n")[:-1]
        if not 2 <= len(lines) <= 10:
            fail(f"{name}: {len(lines)} lines, not a handful")
        keys = []
        for number, line in enumerate(lines, 1):
            fields = line.split(",")
            if len(fields) != 2 or not re.fullmatch(value_check, fields[1]):
                fail(f"{name}:{number}: not a clean line: {line!r}")
                continue
            key = fields[0]
            keys.append(key.lower())
            if name == "PRZYKLAD_NAZWY.csv":
                if key[:1].isdigit() or any(key.lower() in n for n in shop_names):
                    fail(f"{name}:{number}: {key!r} is no invented product name")
            elif not re.fullmatch(r"2\d{12}", key):
                fail(f"{name}:{number}: {key!r} is no in-store barcode (13 digits from 2)")
        if len(set(keys)) != len(keys):
            fail(f"{name}: a key given twice")


def main(argv):
    p = argparse.ArgumentParser()
    p.add_argument("--velkar", required=True)
    p.add_argument("--plugin", required=True)
    p.add_argument("--source", required=True)
    p.add_argument("--dll")
    p.add_argument("--skip-without-stand-in", action="store_true",
                   help="exit 77 (skipped) when the stand-in or the module is not built")
    p.add_argument("--print-screens", action="store_true",
                   help="print what the stand-in draws in the guide's runs, to copy from")
    a = p.parse_args(argv)
    if a.skip_without_stand_in and not (os.path.isfile(a.velkar) and os.path.isfile(a.plugin)):
        print(f"no native stand-in at {a.velkar}: skipped")
        return 77
    sys.path.insert(0, os.path.join(a.source, "package"))
    import make_package

    fail = Failures()
    package = {}
    for name in make_package.TEXTS:
        try:
            package[name] = make_package.shipped_text(os.path.join(a.source, "package", name))
        except ValueError as e:
            fail(str(e))
    if fail.items:
        print("\n".join("FAIL: " + f for f in fail.items), file=sys.stderr)
        return 1
    guide = check_shipped("CZYTAJ.TXT", package["CZYTAJ.TXT"], fail)
    changes = check_shipped("ZMIANY.TXT", package["ZMIANY.TXT"], fail)
    check_templates(package, a.source, fail)
    version = make_package.project_version(a.source)
    first = re.search(r"^Wersja (\S+)", changes, re.M)
    if not first or first.group(1) != version:
        fail(f"ZMIANY.TXT does not begin with the project's version {version}")

    work = tempfile.mkdtemp(prefix="vatupdate-guide.")
    try:
        stand_in = StandIn(a.velkar, a.plugin, a.source, work)
        screens, messages = runs(stand_in, package)
        if not a.print_screens:
            check_effects(stand_in, package, fail)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    if a.print_screens:
        print("\n".join(screens))
        print("\n".join(sorted(messages)))
        return 0

    guide_lines = guide.split("\r\n")
    check_quotes(guide, messages, fail)
    check_screens(guide_lines, screens, fail)
    if a.dll:
        check_dll(guide, a.dll, mazovia_table(a.source), fail)

    if fail.items:
        print("\n".join("FAIL: " + f for f in fail.items), file=sys.stderr)
        return 1
    print(f"guide: {len(quotes(guide))} quoted messages and {len(screen_blocks(guide_lines))} "
          f"screens as the module and the stand-in show them" +
          (f"; the quoted texts are in {a.dll}" if a.dll else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
