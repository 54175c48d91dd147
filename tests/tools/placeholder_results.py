#!/usr/bin/python3
"""Workbooks that store placeholders for their formulas' results and ask to be calculated on
opening (XlsxWriter writes 0 for every result and sets fullCalcOnLoad): every value a split
takes from a result must be the one the spreadsheet shows, not the placeholder.

How to run:
    /usr/bin/python3 tests/tools/placeholder_results.py --cli build/bin/tabrendcli [--keep DIR]

Checked, against LibreOffice's own reading of the source recalculated on load:
- the workbook output: the formulas on another sheet become the calculated number, text,
  boolean, error, looked-up text and date, stored as such; the same-sheet chain stays a
  formula; the output keeps the request to calculate on opening;
- the CSV output shows every formula's calculated result, same-sheet ones included;
- the PDF output prints the calculated totals;
- without LibreOffice, the frozen cells keep the placeholder and the report says so, and why;
- the README's sample: its Summary holds each quarter's total.
The last line reads "N passed, M failed".
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import warnings
import zipfile

warnings.filterwarnings("ignore")

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import openpyxl  # noqa: E402
import xlsxwriter  # noqa: E402

import lo_cells  # noqa: E402

SAMPLE = os.path.join(HERE, "..", "..", "samples", "Quarterly Sales.xlsx")


def make_source(path):
    wb = xlsxwriter.Workbook(path)
    data, report = wb.add_worksheet("Data"), wb.add_worksheet("Report")
    for i in range(5):
        data.write_number(i, 0, i + 1)
        data.write_string(i, 1, ["one", "two", "three", "four", "five"][i])
    report.write_formula("B1", "=SUM(Data!A1:A5)")
    report.write_formula("B2", "=B1*2")
    report.write_formula("B3", '=Data!A1&"x"')
    report.write_formula("B4", "=Data!A2>1")
    report.write_formula("B5", "=Data!A1/0")
    report.write_formula("B6", "=VLOOKUP(2,Data!A1:B5,2,FALSE)")
    report.write_formula("B7", "=DATE(2020,1,1)+Data!A1", wb.add_format({"num_format": "yyyy-mm-dd"}))
    wb.close()


def split(cli, source, out, *switches, env=None):
    os.makedirs(out, exist_ok=True)
    done = subprocess.run([cli, source, out, "/verbose=1"] + list(switches), capture_output=True, text=True,
                          env=env, timeout=600)
    return done.returncode, done.stderr


def without_libreoffice():
    env = dict(os.environ)
    env["PATH"] = "/nonexistent"
    return env


def main(argv=None):
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", required=True)
    ap.add_argument("--keep", default=None)
    a = ap.parse_args(argv)
    work = a.keep or tempfile.mkdtemp(prefix="tabrend-placeholders-")
    os.makedirs(work, exist_ok=True)
    failures, passed = [], 0

    def check(label, ok, detail=""):
        nonlocal passed
        if ok:
            passed += 1
            print("ok   %s" % label)
        else:
            failures.append(label)
            print("FAIL %s %s" % (label, detail))

    try:
        source = os.path.join(work, "Book.xlsx")
        make_source(source)
        shown = lo_cells.lo_cells([source], recalc="always")[source].sheets["Report"]
        raw = lo_cells.lo_cells([source], recalc="always", raw=True)[source].sheets["Report"]
        check("LibreOffice calculates the source", shown.get((0, 1)) == "15", str(shown))

        code, said = split(a.cli, source, os.path.join(work, "xlsx"))
        output = os.path.join(work, "xlsx", "Report.xlsx")
        check("workbook split exits 0", code == 0, said)
        values = openpyxl.load_workbook(output, data_only=True)["Report"]
        stored = [values["B%d" % r].value for r in range(1, 8)]
        frozen = [stored[0]] + stored[2:]
        check("frozen cells hold the calculated results",
              frozen[:5] == [15, "1x", True, "#DIV/0!", "two"] and str(frozen[5]).startswith("2020-01-02"),
              repr(stored))
        formulas = openpyxl.load_workbook(output)["Report"]
        check("the same-sheet formula stays", formulas["B2"].value == "=B1*2", repr(formulas["B2"].value))
        with zipfile.ZipFile(output) as z:
            check("the output still asks to be calculated on opening",
                  b'fullCalcOnLoad="1"' in z.read("xl/workbook.xml"))
        opened = lo_cells.lo_cells([output], recalc="auto")[output].sheets
        check("the output shows what the source shows", opened.get("Report") == shown,
              "%s != %s" % (opened.get("Report"), shown))
        check("the report names the calculation", "values LibreOffice calculated" in said, said)

        code, said = split(a.cli, source, os.path.join(work, "csv"), "/format=csv")
        with open(os.path.join(work, "csv", "Report.csv"), "rb") as fh:
            text = fh.read()
        check("CSV shows every result as LibreOffice calculates it",
              code == 0 and text == raw.replace(b"\n", b"\r\n"), "%r != %r" % (text, raw))

        code, said = split(a.cli, source, os.path.join(work, "pdf"), "/format=pdf")
        printed = subprocess.run(["pdftotext", os.path.join(work, "pdf", "Report.pdf"), "-"],
                                 capture_output=True, text=True).stdout.split()
        check("PDF prints the calculated results", code == 0 and {"15", "30", "1x", "two"} <= set(printed),
              repr(printed))

        code, said = split(a.cli, source, os.path.join(work, "bare"), env=without_libreoffice())
        kept = openpyxl.load_workbook(os.path.join(work, "bare", "Report.xlsx"), data_only=True)["Report"]
        check("without LibreOffice the placeholder stays and the report says why",
              code == 0 and kept["B1"].value == 0 and "6 formulas" in said and "only placeholders" in said
              and "not installed" in said, said)
        code, said = split(a.cli, source, os.path.join(work, "barecsv"), "/format=csv", env=without_libreoffice())
        check("without LibreOffice the CSV says so too",
              code == 0 and "7 cells show the stored results" in said and "not installed" in said, said)

        code, said = split(a.cli, SAMPLE, os.path.join(work, "sample"))
        summary = os.path.join(work, "sample", "Summary.xlsx")
        totals = [openpyxl.load_workbook(summary, data_only=True)["Summary"]["B%d" % r].value for r in range(2, 6)]
        expected = lo_cells.lo_cells([SAMPLE], recalc="always")[SAMPLE].sheets["Summary"]
        check("the sample's Summary holds its quarters' totals",
              code == 0 and all(isinstance(t, (int, float)) and t > 0 for t in totals)
              and [expected.get((r, 1)) for r in range(1, 5)] == ["{:,.2f}".format(t) for t in totals],
              "%r against %r" % (totals, expected))
    finally:
        if not a.keep:
            shutil.rmtree(work, ignore_errors=True)
    print("%d passed, %d failed" % (passed, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
