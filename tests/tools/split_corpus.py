#!/usr/bin/python3
"""Splits every workbook of the shared real-world corpus with the real tabrendcli and
checks every output with the independent readers.

How to run:
    /usr/bin/python3 tests/tools/split_corpus.py --cli build/bin/tabrendcli --corpus ../shared/corpus/closedxml
        [--part K/N]  only every N-th file, starting at K (lets two runs share the work)
        [--keep DIR]

For every workbook: the run exits 0 with one output per worksheet (the files listed in
EXPECTED_FAILURES instead fail cleanly, with their description and nothing half-written);
every output passes check_package and schema_check (each part valid wherever its source's
is; a source's own fault may be carried, but never a fault of the content types, relationship
targets or counts the output writes anew) and loads in openpyxl; and LibreOffice shows the same
cells in the output as in its source sheet. Two kinds of sheet are compared by the values
stored in the files instead (openpyxl), because LibreOffice re-renders them on load in its
own words: sheets holding pivot tables, whose cells an output keeps as Excel last showed
them. Sources LibreOffice itself cannot open are not compared by it. It also counts the
"formula results lost": cells of formulas an output could not keep whose result was never
saved and could not be calculated either, as the runs' loss reports give them; any is a
failure. The last line reads "N passed, M failed".
"""

import argparse
import io
import os
import re
import shutil
import subprocess
import sys
import tempfile
import warnings

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
warnings.filterwarnings("ignore")

import check_package  # noqa: E402
import compare_cells  # noqa: E402
import list_run  # noqa: E402
import schema_check  # noqa: E402
import xlsx_pkg  # noqa: E402

import openpyxl  # noqa: E402
import openpyxl_merges  # noqa: E402,F401  (merged cells styled once per style, not per cell)

# Files that are not sound workbooks, and what the split must say about them.
EXPECTED_FAILURES = {
    "~$LoadPivotTables.xlsx": "is not a workbook",       # an Excel lock file, not a workbook
    "CVE-2016-0122-1.xlsm": "is not a workbook",        # random bytes
}


# Sheets whose LibreOffice view differs from the output's for reasons of the source itself:
# LibreOffice recalculates there what the output keeps as the value the file holds.
EXPECTED_LO_DIFFERENCES = {
    # Text formulas on other sheets: the file holds trimmed results, LibreOffice recomputes.
    ("tdf111974.xlsm", "OP PLAN"): "cached results differ from LibreOffice's recalculation",
    # AND() over another sheet: the file holds TRUE, LibreOffice recomputes FALSE.
    ("functions-excel-2010.xlsx", "Sheet1"): "cached results differ from LibreOffice's recalculation",
    # LibreOffice shows each scenario of the sheet as a sheet of its own.
    ("tdf97598_scenarios.xlsx", "Sheet1"): "scenarios become sheets in LibreOffice",
    # The file holds #VALUE!, LibreOffice recomputes #NAME?.
    ("TemplateWithTableSourcePivotTables.xlsx", "BondsOverview"): "cached results differ from LibreOffice's recalculation",
}


LOST_RESULTS = "had no stored value, so their cells are empty"


def results_lost(loss):
    """Formula results one loss of an output says it lost ("3 formulas ... had no stored value, ...")."""
    return int(loss.split(" ", 1)[0]) if LOST_RESULTS in loss else 0


def loads_in_openpyxl(path):
    try:
        openpyxl.load_workbook(path).close()
        return None
    except Exception as exc:
        return "%s: %s" % (type(exc).__name__, exc)


def stored_values(path, sheet):
    """The values a sheet's cells hold (a formula's cached result), by coordinate."""
    book = openpyxl.load_workbook(path, read_only=True, data_only=True)
    try:
        values = {}
        for row in book[sheet].iter_rows():
            for cell in row:
                if getattr(cell, "value", None) not in (None, ""):
                    values[cell.coordinate] = cell.value
        return values
    finally:
        book.close()


def stored_value_differences(source, sheet, output):
    a, b = stored_values(source, sheet), stored_values(output, sheet)
    return ["%s: source %r, output %r" % (key, a.get(key), b.get(key))
            for key in sorted(set(a) | set(b)) if a.get(key) != b.get(key)]


def worksheets(path):
    with xlsx_pkg.Package(path) as pkg:
        return [s for s in pkg.workbook()["sheets"] if s["kind"] == "worksheet"]


def has_pivot(path, sheet_name):
    with xlsx_pkg.Package(path) as pkg:
        for sheet in pkg.workbook()["sheets"]:
            if sheet["name"] == sheet_name and sheet["part"]:
                return any(rel.kind == "pivotTable" for rel in pkg.rels(sheet["part"]))
    return False


def output_sheet(path):
    with xlsx_pkg.Package(path) as pkg:
        names = [s["name"] for s in pkg.workbook()["sheets"]]
    return names[0] if len(names) == 1 else None


def corpus_files(corpus, part):
    """The corpus's workbooks of part K/N: every N-th in name order, from the K-th."""
    first, every = (int(x) for x in part.split("/"))
    files = []
    for folder, _, names in os.walk(corpus):
        for name in names:
            if name.lower().endswith((".xlsx", ".xlsm")):
                files.append(os.path.join(folder, name))
    return sorted(files)[first - 1::every]


def losses_of(report):
    """{output file: [what its copy could not keep]} from a verbose run's report."""
    losses = {}
    for line in report.splitlines():
        if line.startswith("  ") and ": " in line:
            file, loss = line.strip().split(": ", 1)
            losses.setdefault(file, []).append(loss)
    return losses


def run(cli, files, work, exported=None):
    """Splits files and checks every output; (passed, failed, outputs), outputs as
    [(source, output path, its sheet, what its copy could not keep)] for the other checks of
    the same split. exported: LibreOffice's cells of sources exported already (lo_cells)."""
    passed, failed = 0, []
    outputs_seen = []
    lost = {}  # source -> formula results lost
    schema = schema_check.checker_or_none()

    def check(label, problems):
        nonlocal passed
        if problems:
            failed.append(label)
            print("FAIL %s" % label)
            for line in problems[:10]:
                print("     %s" % line)
        else:
            passed += 1

    pairs, by_values = [], []
    # The sound workbooks in one run (one LibreOffice start for all that need calculating);
    # each expected failure on its own, as a user would meet it.
    splits = list_run.split_list(cli, [f for f in files if os.path.basename(f) not in EXPECTED_FAILURES],
                                 os.path.join(work, "out"), work)
    for number, source in enumerate(files, 1):
        name = os.path.basename(source)
        if name in EXPECTED_FAILURES:
            out = os.path.join(work, "failing", "%04d" % number)
            os.makedirs(out)
            done = subprocess.run([cli, source, out, "/verbose=1"], capture_output=True, text=True,
                                  timeout=600)
            problems = []
            if done.returncode != 1 or EXPECTED_FAILURES[name] not in done.stderr:
                problems.append("expected a clean failure saying %r, got %d: %s"
                                % (EXPECTED_FAILURES[name], done.returncode, done.stderr.strip()))
            if os.listdir(out):
                problems.append("files were written: %s" % os.listdir(out))
            check("expected failure %s" % source, problems)
            continue
        split = splits[os.path.abspath(source)]
        outputs = split.written()
        losses = split.losses()
        lost_here = sum(results_lost(loss) for sheet_losses in losses.values() for loss in sheet_losses)
        if lost_here:
            lost[source] = lost_here
        expected = len(worksheets(source))
        problems = ["failed: %s" % reason for reason in split.failures]
        if len(outputs) != expected:
            problems.append("%d outputs for %d worksheets" % (len(outputs), expected))
        check("split %s" % source, problems)
        # What the source itself gets wrong is carried faithfully, not counted against the split.
        source_problems = set(check_package.check(source, allow_macros=True)[0]) if outputs else set()
        # A styles entry the output does not use becomes a copy of its list's first, faults
        # and all: a fault of the same kind at another position is the source's too.
        source_kinds = {re.sub(r"\[\d+\]", "[]", p) for p in source_problems}
        source_unloadable = None  # asked only when an output cannot be loaded: a big source takes minutes
        for path in outputs:
            output = os.path.basename(path)
            label = "%s -> %s" % (source, output)
            found, _ = check_package.check(path, allow_macros=False)
            check("package %s" % label, [p for p in found if check_package.rewritten(p) or (
                p not in source_problems and re.sub(r"\[\d+\]", "[]", p) not in source_kinds)])
            if schema:
                check("schema %s" % label, schema.check(source, path))
            try:
                sheet = output_sheet(path)
            except Exception:  # its package check says what is wrong
                sheet = None
            outputs_seen.append((source, path, sheet, losses.get(output, [])))
            unloadable = loads_in_openpyxl(path)
            if unloadable and source_unloadable is None:
                source_unloadable = loads_in_openpyxl(source) or ""
            if unloadable and source_unloadable:
                continue  # openpyxl cannot read the source either
            check("openpyxl %s" % label, [unloadable] if unloadable else [])
            if unloadable:
                continue
            if has_pivot(source, sheet):
                by_values.append((source, sheet, path))
            else:
                pairs.append({"source": source, "sheet": sheet, "output": path})
    for source, sheet, path in by_values:
        try:
            check("stored values %s [%s]" % (source, sheet), stored_value_differences(source, sheet, path))
        except Exception as exc:
            check("stored values %s [%s]" % (source, sheet), ["%s: %s" % (type(exc).__name__, exc)])
    text = io.StringIO()
    compare_cells.compare(pairs, out=text, exported=exported)
    unopenable = 0
    for line in text.getvalue().splitlines():
        if line.startswith("OK"):
            passed += 1
        elif line.startswith("ERROR") and ": source: " in line:
            unopenable += 1  # LibreOffice cannot open the source itself
        elif line.startswith(("DIFF", "ERROR")):
            source_path, sheet = line.split(" ", 1)[1].split(" [", 1)
            key = (os.path.basename(source_path), sheet.split("]", 1)[0])
            if key in EXPECTED_LO_DIFFERENCES:
                print("known %s [%s]: %s" % (key[0], key[1], EXPECTED_LO_DIFFERENCES[key]))
                passed += 1
                continue
            failed.append(line)
            print(line)
        elif line.startswith("  "):
            print(line)
    print("LibreOffice: %d outputs compared, %d of them from sources LibreOffice cannot open"
          % (len(pairs), unopenable))
    print("formula results lost: %d" % sum(lost.values()))
    if schema:
        print(schema.tally.line())
    for source, count in sorted(lost.items()):
        failed.append("results lost %s" % source)
        print("FAIL results lost %s: %d" % (source, count))
    return passed, failed, outputs_seen


def main(argv=None):
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", required=True)
    ap.add_argument("--corpus", required=True)
    ap.add_argument("--part", default="1/1")
    ap.add_argument("--keep", default=None)
    a = ap.parse_args(argv)
    if not os.path.isdir(a.corpus):
        print("no corpus at %s: skipped" % a.corpus)
        return 77
    work = a.keep or tempfile.mkdtemp(prefix="tabrend-corpus-")
    try:
        passed, failed, _ = run(a.cli, corpus_files(a.corpus, a.part), work)
    finally:
        if not a.keep:
            shutil.rmtree(work, ignore_errors=True)
    print("%d passed, %d failed" % (passed, len(failed)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
