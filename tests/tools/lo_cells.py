#!/usr/bin/python3
"""Cell text of workbooks as LibreOffice shows it, read by LibreOffice itself.

How to run:
    /usr/bin/python3 tests/tools/lo_cells.py [--json] [--recalc never|always]
                                             [--timeout SECONDS] FILE...
prints, for each file, every sheet and its non-empty cells as "A1<TAB>text"
(or one JSON object {file: {"sheets": {sheet: {"A1": text}}, "error": ...}}).
Exit 0 when every file loaded, 1 when LibreOffice could not load one, 2 on a
tool failure (soffice missing, timeout).

From Python:
    from lo_cells import lo_cells
    result = lo_cells(["a.xlsx", "b.xlsx"])   # one soffice start for all files
    result["a.xlsx"].sheets["Sheet1"][(0, 0)]  # text of A1 (row, column from 0)

How it works: one headless soffice start with a private profile converts every
file to CSV with the "Text - txt - csv (StarCalc)" filter; its 12th option (-1)
writes every sheet to its own "<name>-<sheet>.csv", and its 9th option (true)
writes cell text "as shown" (number formats, dates, percentages, currency,
booleans as TRUE/FALSE, errors as #DIV/0! ...). The profile pins the
recalculation of Excel files on load to "never" (LibreOffice's default), so a
formula shows its cached value: only volatile functions (NOW, RAND...) and
formulas written without a cached value are computed on load. With "auto",
files that ask to be calculated on opening (fullCalcOnLoad, which LibreOffice
itself does not honour) are loaded with "always" in a start of their own. The locale is
pinned to en-US, so dates read "1/2/2020" and numbers "1,234.50" whatever the
machine's LANG.
"""

import argparse
import csv
import io
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile

SOFFICE = "/usr/bin/soffice"
# field sep ',', text delimiter '"', UTF-8, from line 1, no column formats,
# language 0, quoted-as-text false, detect special numbers true,
# save cell contents as shown TRUE, export formulas false, remove spaces false,
# sheet -1 = every sheet into its own file.
CSV_FILTER = "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,true,false,false,-1"

_RECALC = {"always": 0, "never": 1, "ask": 2}
# "auto": as the spreadsheet application shows each file, recalculated when it asks for a full
# calculation on opening (fullCalcOnLoad), else as it stores its results.
RECALC_CHOICES = sorted(_RECALC) + ["auto"]
ARG_BUDGET = 6000  # bytes of file arguments per soffice start

_PROFILE_XCU = """<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
<item oor:path="/org.openoffice.Office.Calc/Formula/Load"><prop oor:name="OOXMLRecalcMode" oor:op="fuse"><value>{mode}</value></prop></item>
<item oor:path="/org.openoffice.Office.Calc/Formula/Load"><prop oor:name="ODFRecalcMode" oor:op="fuse"><value>{mode}</value></prop></item>
<item oor:path="/org.openoffice.Setup/L10N"><prop oor:name="ooSetupSystemLocale" oor:op="fuse"><value>en-US</value></prop></item>
<item oor:path="/org.openoffice.Setup/L10N"><prop oor:name="ooLocale" oor:op="fuse"><value>en-US</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="UseLocking" oor:op="fuse"><value>false</value></prop></item>
</oor:items>
"""


class LoError(Exception):
    """LibreOffice could not be run (missing, crashed, timed out)."""


class LoResult:
    """Sheets of one file in LibreOffice's order; `error` when it did not load."""

    def __init__(self):
        self.sheets = {}
        self.error = None

    def __repr__(self):
        return "LoResult(%s, error=%r)" % (list(self.sheets), self.error)


def col_letter(index):
    s = ""
    index += 1
    while index:
        index, rem = divmod(index - 1, 26)
        s = chr(65 + rem) + s
    return s


def cell_name(row, col):
    return "%s%d" % (col_letter(col), row + 1)


def parse_cell_name(name):
    """'B3' -> (2, 1)."""
    letters = "".join(ch for ch in name if ch.isalpha()).upper()
    digits = "".join(ch for ch in name if ch.isdigit())
    col = 0
    for ch in letters:
        col = col * 26 + (ord(ch) - 64)
    return int(digits) - 1, col - 1


def read_csv_cells(path):
    """{(row, col): text} of the non-empty cells of one exported sheet."""
    with open(path, newline="", encoding="utf-8") as fh:
        return _cells(fh)


def _cells(lines):
    cells = {}
    for r, row in enumerate(csv.reader(lines)):
        for c, text in enumerate(row):
            if text != "":
                cells[(r, c)] = text
    return cells


def as_cells(raw):
    """The LoResult of a raw export (lo_cells(..., raw=True)) with each sheet as its cells."""
    result = LoResult()
    result.error = raw.error
    result.sheets = {sheet: _cells(io.StringIO(data.decode("utf-8"), newline="")) for sheet, data in raw.sheets.items()}
    return result


def run_soffice(args, profile, timeout, cwd):
    """Run one soffice process group; kill the whole group on timeout.

    stderr is merged into stdout so that per-file messages keep their order.
    """
    cmd = [SOFFICE, "-env:UserInstallation=file://" + profile, "--headless", "--invisible",
           "--norestore", "--nologo", "--nodefault", "--nolockcheck"] + args
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    env["HOME"] = profile  # keeps soffice away from the real home's settings
    # LibreOffice fills blocks of 64 MB for every sheet it loads; on transparent huge pages
    # they fault in far fewer steps (a start took a quarter of the time on a virtual machine).
    env.setdefault("GLIBC_TUNABLES", "glibc.malloc.hugetlb=1")
    try:
        proc = subprocess.Popen(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                env=env, start_new_session=True)
    except OSError as exc:
        raise LoError("cannot start %s: %s" % (SOFFICE, exc))
    try:
        out, _ = proc.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        proc.communicate()
        raise LoError("soffice timed out after %ss" % timeout)
    return proc.returncode, out.decode("utf-8", "replace"), ""


def make_profile(root, recalc):
    profile = os.path.join(root, "profile")
    os.makedirs(os.path.join(profile, "user"))
    with open(os.path.join(profile, "user", "registrymodifications.xcu"), "w") as fh:
        fh.write(_PROFILE_XCU.format(mode=_RECALC[recalc]))
    return profile


def _convert_batch(links, outdir, profile, timeout, root):
    """One soffice start over `links`.

    Returns (events, crashed, exit code): events maps each link that soffice
    got to, in order, to a list of (sheet, csv path), or to None when it
    reported that the file could not be loaded. soffice announces a file
    ("convert <path> ...") only once it has loaded it and says "Error: source
    file could not be loaded" for one it could not, always in input order, so
    the first link without an event is the one it was working on when it died.
    """
    rc, out, _ = run_soffice(["--convert-to", CSV_FILTER, "--outdir", outdir] + links, profile, timeout, root)
    events = {}
    pos = 0
    current = None
    prefix = outdir + os.sep
    for line in out.splitlines():
        if line.startswith("convert "):
            for j in range(pos, len(links)):
                if line.startswith("convert " + links[j] + " "):
                    current = links[j]
                    events[current] = []
                    pos = j + 1
                    break
        elif line.startswith("Error: source file could not be loaded") and pos < len(links):
            events[links[pos]] = None
            current = None
            pos += 1
        elif line.startswith("Writing sheet ") and current is not None:
            # "Writing sheet <name> -> <outdir>/<stem>-<name>.csv", in sheet order.
            at = line.find(" -> " + prefix)
            if at >= 0:
                csv_path = line[at + 4:]
                stem = os.path.splitext(os.path.basename(current))[0]
                base = os.path.basename(csv_path)
                if base.startswith(stem + "-") and base.endswith(".csv"):
                    events[current].append((base[len(stem) + 1:-4], csv_path))
    return events, rc != 0, rc


def lo_cells(paths, timeout=300, recalc="never", keep=False, raw=False):
    """{path: LoResult} for every path, converted in as few soffice starts as possible.
    With raw, each sheet is the bytes of its CSV file instead of its cells.

    Inputs are linked under short unique names inside a private temporary
    folder, so equal base names from different folders cannot collide and
    nothing is ever written next to a source. LibreOffice 7.4 aborts on some
    files (a sparkline range in one of the corpus files, for one): the batch
    then goes on in a new start after that file, which is reported as crashed.
    """
    import time
    paths = list(dict.fromkeys(paths))
    if recalc == "auto":
        from xlsx_pkg import asks_full_calc
        start = time.time()
        asking = [p for p in paths if asks_full_calc(p)]
        results = lo_cells([p for p in paths if p not in asking], timeout, "never", keep, raw)
        if asking:
            left = max(timeout - (time.time() - start), 1)
            results.update(lo_cells(asking, left, "always", keep, raw))
        return {p: results[p] for p in paths}
    results = {p: LoResult() for p in paths}
    if not paths:
        return results
    deadline = time.time() + timeout
    root = tempfile.mkdtemp(prefix="lo_cells_")
    try:
        profile = make_profile(root, recalc)
        indir = os.path.join(root, "in")
        outdir = os.path.join(root, "out")
        os.makedirs(indir)
        os.makedirs(outdir)
        owner = {}
        links = []
        for i, path in enumerate(paths):
            ext = os.path.splitext(path)[1].lower() or ".xlsx"
            link = os.path.join(indir, "f%04d%s" % (i, ext))
            os.symlink(os.path.abspath(path), link)
            owner[link] = path
            links.append(link)
        pending = links
        suspect = None
        while pending:
            left = deadline - time.time()
            if left <= 0:
                raise LoError("soffice timed out after %ss" % timeout)
            # soffice drops whatever lies beyond about 8 KB of file arguments (it stopped
            # after 242 files here, exit 0), so each start gets a share below that.
            batch, size = [], 0
            for link in pending:
                if batch and size + len(link) + 1 > ARG_BUDGET:
                    break
                batch.append(link)
                size += len(link) + 1
            events, crashed, rc = _convert_batch(batch, outdir, profile, left, root)
            done = 0
            for link in batch:
                if link not in events:
                    break
                done += 1
                res = results[owner[link]]
                if events[link] is None:
                    res.error = "LibreOffice could not load the file"
                else:
                    for sheet, csv_path in events[link]:
                        if raw:
                            with open(csv_path, "rb") as fh:
                                res.sheets[sheet] = fh.read()
                        else:
                            res.sheets[sheet] = read_csv_cells(csv_path)
            rest = pending[done:]
            if not rest:
                break
            if not crashed:
                if done:
                    pending = rest  # the share is done, or soffice stopped early: start again
                    continue
                for link in rest:
                    results[owner[link]].error = "LibreOffice ended (exit %d) before this file" % rc
                break
            # The first file without an event was being loaded, or the file before it was being
            # written, when soffice died. Try it once more on its own start before blaming it.
            if done == 0 or suspect == rest[0]:
                results[owner[rest[0]]].error = "LibreOffice crashed on this file (exit %d)" % rc
                rest = rest[1:]
                suspect = None
            else:
                suspect = rest[0]
            pending = rest
        return results
    finally:
        if keep:
            sys.stderr.write("kept %s\n" % root)
        else:
            shutil.rmtree(root, ignore_errors=True)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("files", nargs="+")
    ap.add_argument("--json", action="store_true", help="one JSON object on stdout")
    ap.add_argument("--recalc", choices=RECALC_CHOICES, default="never")
    ap.add_argument("--timeout", type=float, default=300)
    ap.add_argument("--keep", action="store_true", help="keep the temporary folder")
    args = ap.parse_args(argv)
    try:
        results = lo_cells(args.files, args.timeout, args.recalc, args.keep)
    except LoError as exc:
        print("lo_cells: %s" % exc, file=sys.stderr)
        return 2
    failed = False
    if args.json:
        obj = {}
        for path, res in results.items():
            obj[path] = {"error": res.error,
                         "sheets": {s: {cell_name(*k): v for k, v in sorted(cells.items())}
                                    for s, cells in res.sheets.items()}}
            failed |= res.error is not None
        json.dump(obj, sys.stdout, ensure_ascii=False, indent=1)
        print()
    else:
        for path, res in results.items():
            print("== %s" % path)
            if res.error:
                failed = True
                print("   ERROR: %s" % res.error)
            for sheet, cells in res.sheets.items():
                print("-- sheet %s (%d cells)" % (sheet, len(cells)))
                for key in sorted(cells):
                    print("%s\t%s" % (cell_name(*key), cells[key].replace("\n", "\\n")))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
