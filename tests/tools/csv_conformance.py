#!/usr/bin/python3
"""Splits workbooks to CSV with the real tabrendcli and compares every sheet's CSV with
LibreOffice's own CSV export of the same sheet.

How to run:
    /usr/bin/python3 tests/tools/csv_conformance.py --cli build/bin/tabrendcli
        (--fixtures | --corpus DIR [--part K/N]) [--keep DIR] [--show N]

How it works: `tabrendcli SOURCE OUT /format=csv /name=3` writes the k-th worksheet of each
source to k.csv. LibreOffice exports every sheet of the same source with the
"Text - txt - csv (StarCalc)" filter, "save cell contents as shown" and sheet -1 (each sheet
to its own file), in as few soffice starts as possible (lo_cells.py). LibreOffice ends each
row with LF where tabrendcli ends it with CR LF, as RFC 4180 has it; that is the one
difference the comparison takes away (line breaks inside a quoted field stay as they are).
Everything else must be the same bytes. Sheets holding pivot tables are not compared:
LibreOffice lays a pivot table out anew on load, in its own words ("- all -", "Data"), where
the CSV shows the cells the file holds.

LibreOffice loads with recalculation "never", showing the results the file holds, or "always"
for a workbook that asks to be calculated on opening (its results are placeholders), as a
spreadsheet application shows it. Some results it cannot show as the file holds them (an Excel
data table's, which it imports as MULTIPLE.OPERATIONS) and some workbooks it calculates anyway. The sources with a differing sheet are therefore exported a
second time with recalculation "always", and a sheet equal to either export is identical.

A sheet that differs from both fails unless KNOWN names it (its file's path in the fixtures or
the corpus, and the sheet) with the reason; a KNOWN sheet that is identical fails too, so that
the list stays true. The run fails when fewer than 99% of the sheets compared are identical or
listed. Sources LibreOffice cannot load are not compared. The last lines give "N of M sheets
identical as stored, K more identical as LibreOffice calculates them" and read "N passed, M
failed". Exit 0 when nothing failed, 77 when there is no corpus.
"""

import argparse
import os
import shutil
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import list_run  # noqa: E402
import lo_cells  # noqa: E402
import split_looks  # noqa: E402
import xlsx_pkg  # noqa: E402

REQUIRED_SHARE = 0.99

# Sheets whose CSV differs from LibreOffice's, by file (its path in the fixtures or the corpus)
# and sheet, with the reason. Each is LibreOffice's: it calculates anew what the file holds,
# knows no result for Excel's data tables, or words an error its own way.
RECALCULATED = "LibreOffice calculates the formulas anew; the CSV shows the results the file holds"
DATA_TABLE = ("cells of a data table ({=TABLE()}) whose input cell was deleted: the file holds #REF!, LibreOffice "
              "shows them empty, stored or calculated")
RANDOM = "RANDBETWEEN() saved without results: each calculation, LibreOffice's for the CSV and its own, draws anew"
KNOWN = {
    ("formulas_cross_sheet.xlsx", "Calc"): "a dynamic-array SORT() LibreOffice 7.4 does not know: it shows #NAME?, "
                                           "the file holds 5",
    ("shared_formulas.xlsx", "Calc"): "a dynamic-array SORT() LibreOffice 7.4 does not know: it shows #NAME?, "
                                      "the file holds 5",
    ("tables.xlsx", "Sales"): "the totals row's SUBTOTAL(109,[Q1]) names its column without its table, as XlsxWriter "
                              "writes it: LibreOffice calculating the workbook shows #NAME?, the file holds 49",
    ("Other/Charts/PreserveCharts/outputfile.xlsx", "Sheet1"): RANDOM,
    ("Other/Charts/PreserveCharts/inputfile.xlsx", "Sheet1"): RANDOM,
    ("TryToLoad/LO/xlsx/named-ranges-global.xlsx", "Sheet2"): RECALCULATED + " (Global5: #NAME?, LibreOffice 5)",
    ("TryToLoad/TemplateWithTableSourcePivotTables.xlsx", "BondsOverview"): RECALCULATED + " (the add-in function "
                                                                             "_xll.DSSData(): #VALUE!, LibreOffice #NAME?)",
    ("Examples/Misc/CellValues.xlsx", "Errors"): RECALCULATED + " (\"TRUE\"*1: #VALUE!, LibreOffice 1)",
    ("TryToLoad/LO/xlsx/functions-excel-2010.xlsx", "Sheet1"): RECALCULATED,
    ("TryToLoad/LO/xlsx/functions-excel-2010.xlsx", "Sheet2"): RECALCULATED,
    ("Other/Cubes/CubeFromRange-Input.xlsx", "Cube"): "CUBEMEMBER() and CUBEVALUE(), which LibreOffice does not know: "
                                                      "it shows #NAME?",
    ("TryToLoad/LO/xlsx/bug-fixes.xlsx", "Sheet2"): "an error LibreOffice words its own way: Err:511 for #NAME?",
    ("TryToLoad/LO/xlsx/ceiling-floor.xlsx", "Sheet1"): ("an error LibreOffice words its own way: Err:502 for "
                                                         "#NUM! and #DIV/0!"),
    ("Other/Formulas/DataTableFormula-Excel-Input.xlsx", "1D Row - Deleted Input"): DATA_TABLE,
    ("Other/Formulas/DataTableFormula-Excel-Input.xlsx", "1D Column - Deleted Input"): DATA_TABLE,
    ("Other/Formulas/DataTableFormula-Excel-Input.xlsx", "2D - Input1 Deleted"): DATA_TABLE,
    ("Other/Formulas/DataTableFormula-Excel-Input.xlsx", "2D - Input2 Deleted"): DATA_TABLE,
    ("Other/Formulas/DataTableFormula-Excel-Input.xlsx", "2D - Input 1&2 Deleted"): DATA_TABLE,
}


def log(*args):
    print(*args, flush=True)


def crlf_rows(data):
    """LibreOffice's CSV with each row ended by CR LF instead of LF (not inside quotes)."""
    out = bytearray()
    quoted = False
    for byte in data:
        if byte == 0x22:
            quoted = not quoted
        if byte == 0x0A and not quoted:
            out += b"\r\n"
        else:
            out.append(byte)
    return bytes(out)


def worksheets(path):
    """[(name, holds a pivot table)] of the workbook's worksheets, in order."""
    with xlsx_pkg.Package(path) as pkg:
        return [(s["name"], bool(pkg.rels_of_kind(s["part"], "pivotTable")))
                for s in pkg.workbook()["sheets"] if s["kind"] == "worksheet"]


def first_difference(ours, theirs):
    a, b = ours.split(b"\r\n"), theirs.split(b"\r\n")
    for n, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return "row %d: %r, LibreOffice %r" % (n + 1, x[:160].decode("utf-8", "replace"), y[:160].decode("utf-8", "replace"))
    return "%d rows, LibreOffice %d" % (len(a) - 1, len(b) - 1)


def conform(cli, sources, root, work, show=40, exported=None):
    """Splits sources to CSV in work and compares each sheet with LibreOffice's export;
    (passed, problems). root: the folder the sources' labels are relative to. exported:
    LibreOffice's raw export of the sources (lo_cells, recalc "auto") made already."""
    # Each source under a short name of its own, so that no sheet bears the workbook's name.
    inputs = os.path.join(work, "in")
    os.makedirs(inputs, exist_ok=True)
    copies = {}
    for i, source in enumerate(sources):
        copy = os.path.join(inputs, "w%05d%s" % (i, os.path.splitext(source)[1].lower()))
        shutil.copyfile(source, copy)
        copies[source] = copy
    if exported is None:
        lo = lo_cells.lo_cells(list(copies.values()), timeout=1500, recalc="auto", raw=True)
    else:  # the sources as another check had LibreOffice export them
        lo = {copies[source]: exported[source] for source in sources}

    # Every sheet compared with LibreOffice's export as stored; [label, sheet, ours, why] for each
    # that differs.
    identical, compared, differing, stale = 0, 0, {}, []
    skipped_sources = pivots = 0
    # Every source LibreOffice could open, in one run.
    splits = list_run.split_list(cli, [copies[s] for s in sources if not lo[copies[s]].error],
                                 os.path.join(work, "out"), work, "/format=csv", "/name=3")
    for source in sources:
        label = os.path.relpath(source, root)
        theirs = lo[copies[source]]
        if theirs.error:
            skipped_sources += 1
            continue
        split = splits[os.path.abspath(copies[source])]
        written = {line["index"]: line["output"] for line in split.sheets if line["status"] == "written"}
        try:
            sheets = worksheets(copies[source])
        except Exception as exc:  # a package the checker cannot read is LibreOffice's alone
            log("SKIP %s: %s" % (label, exc))
            skipped_sources += 1
            continue
        for k, (sheet, pivot) in enumerate(sheets, 1):
            if sheet not in theirs.sheets:
                continue  # LibreOffice did not export it (a sheet it dropped or renamed)
            if pivot:
                pivots += 1
                continue
            compared += 1
            if k not in written:
                ours, why = None, "no output: %s" % "; ".join(split.failures)[:200]
            else:
                with open(written[k], "rb") as fh:
                    ours = fh.read()
                reference = crlf_rows(theirs.sheets[sheet])
                if ours == reference:
                    identical += 1
                    if (label, sheet) in KNOWN:
                        stale.append("%s [%s]: listed in KNOWN but identical now" % (label, sheet))
                    continue
                why = first_difference(ours, reference)
            differing.setdefault(source, []).append([label, sheet, ours, why])

    # LibreOffice cannot show some results as the file holds them (a data table's, for one) and
    # shows them as it calculates them. A sheet equal to its export with recalculation on load
    # is taken as identical too; only the sources with a differing sheet are exported again.
    calculated = lo_cells.lo_cells([copies[s] for s in differing], timeout=900, recalc="always", raw=True)
    recalculated, listed = 0, []
    failed = stale
    for source, sheets in differing.items():
        theirs = calculated[copies[source]]
        for label, sheet, ours, why in sheets:
            key = (label, sheet)
            if ours is not None and sheet in theirs.sheets and ours == crlf_rows(theirs.sheets[sheet]):
                recalculated += 1
                if key in KNOWN:
                    stale.append("%s [%s]: listed in KNOWN but identical now" % key)
            elif key in KNOWN:
                listed.append("%s [%s]: %s (%s)" % (label, sheet, KNOWN[key], why))
            else:
                failed.append("%s [%s]: %s" % (label, sheet, why))
    for line in listed:
        log("KNOWN", line)
    for line in failed[:show]:
        log("DIFFERS", line)
    if len(failed) > show:
        log("... and %d more" % (len(failed) - show))
    same = identical + recalculated
    passed = same + len(listed)
    share = passed / compared if compared else 1.0
    log("%d sources, %d not loadable by LibreOffice; %d sheets holding pivot tables not compared"
        % (len(sources), skipped_sources, pivots))
    log("%d of %d sheets identical as stored, %d more identical as LibreOffice calculates them (%.2f%%); "
        "%d more differ for the reasons listed"
        % (identical, compared, recalculated, 100 * same / max(compared, 1), len(listed)))
    problems = len(failed) + (1 if share < REQUIRED_SHARE else 0)
    if share < REQUIRED_SHARE:
        log("FAIL fewer than %d%% of the sheets are identical or listed" % round(100 * REQUIRED_SHARE))
    return passed, problems


def main(argv=None):
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", required=True)
    ap.add_argument("--fixtures", action="store_true")
    ap.add_argument("--corpus")
    ap.add_argument("--part", default="1/1")
    ap.add_argument("--keep", default=None, help="work in this folder and keep it")
    ap.add_argument("--show", type=int, default=40, help="differences printed at most")
    a = ap.parse_args(argv)
    if a.corpus and not os.path.isdir(a.corpus):
        log("no corpus at %s" % a.corpus)
        return 77
    work = a.keep or tempfile.mkdtemp(prefix="tabrend-csv-")
    os.makedirs(work, exist_ok=True)
    try:
        sources = (split_looks.fixture_sources(work, libreoffice_written=False) if a.fixtures
                   else split_looks.corpus_sources(a.corpus, a.part))
        root = a.corpus if a.corpus else os.path.join(work, "fixtures")
        passed, problems = conform(a.cli, sources, root, work, a.show)
        log("%d passed, %d failed" % (passed, problems))
        return 1 if problems else 0
    finally:
        if not a.keep:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
